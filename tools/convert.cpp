#include "convert.h"

#include <memory>
#include <optional>
#include <ostream>

#include "preset.h"
#include "scene_preset.h"
#include "scene_reader.h"
#include "scene_writer.h"
#include "text_input.h"

namespace strata::tools {
namespace {

int scene_to_preset(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<preview::StandIn> stand_ins;
  for (const std::string& c : options.connect) {
    const std::optional<preview::StandIn> stand_in = preview::parse_stand_in(c);
    if (!stand_in) {
      err << "stratamix convert: --connect " << c
          << ": expected PARAMETER=PATTERN, the parameter by its declared name\n";
      return 2;
    }
    stand_ins.push_back(*stand_in);
  }
  scene::DiskFiles disk;
  scene::ReadOptions read;
  read.include_dirs = options.include_dirs;
  const scene::Scene scene = scene::read_scene(options.input, disk, read);
  std::vector<const scene::Instance*> chosen;
  std::int64_t chosen_number = -1;
  std::string names;
  for (std::size_t i = 0; i < scene.instances.size(); ++i) {
    const scene::Instance& in = scene.instances[i];
    names += (names.empty() ? "" : ", ") + scene::quoted(in.name);
    if (options.shader.empty() || in.name == options.shader) {
      chosen.push_back(&in);
      chosen_number = static_cast<std::int64_t>(i);
    }
  }
  // The problems of the scene as a whole and of the instance converted,
  // once there is one: another instance's errors are `check`'s business.
  for (const scene::Diagnostic& d : scene.diagnostics) {
    if (d.instance < 0 || (chosen.size() == 1 && d.instance == chosen_number)) {
      err << scene::format_diagnostic(d, scene.summary.files) << '\n';
    }
  }
  if (scene.summary.unreadable) {
    return 2;
  }
  if (chosen.size() != 1) {
    err << "stratamix convert: " << options.input
        << (chosen.empty() && !options.shader.empty()
                ? " holds no strataMix instance " + scene::quoted(options.shader)
                : " holds " + std::to_string(chosen.size()) + " strataMix instances")
        << (names.empty() ? "" : " (" + names + ")") << ": name one with --shader\n";
    return 1;
  }
  const scene::Instance& instance = *chosen.front();
  if (instance.errors > 0 && !options.force) {
    err << "stratamix convert: " << scene::quoted(instance.name)
        << " has errors: not converted (--force converts it as read)\n";
    return 1;
  }
  const std::string origin = scene::place_text(instance.where, scene.summary.files);
  const std::string text = preview::instance_preset(instance, origin, stand_ins);
  try {
    preview::parse_preset(text);
  } catch (const preview::PresetError& e) {
    err << "stratamix convert: a pattern given with --connect is refused: " << e.what() << '\n';
    return 2;
  }
  out << text;
  return 0;
}

int preset_to_block(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  std::string text;
  preview::Preset preset;
  try {
    text = host::read_text_file(options.input, preview::kMaxPresetBytes);
    preset = preview::parse_preset(text);
  } catch (const host::TextFileError& e) {
    err << "stratamix convert: " << e.what() << '\n';
    return 2;
  } catch (const preview::PresetError& e) {
    err << options.input << ": " << e.what() << '\n';
    return 1;
  }
  try {
    out << preview::preset_block(text, preset, options.name);
  } catch (const scene::BlockError& e) {
    err << "stratamix convert: " << options.input << ": " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace

int run_convert(const ConvertOptions& options, std::ostream& out, std::ostream& err) {
  return preview::is_scene_path(options.input) ? scene_to_preset(options, out, err)
                                               : preset_to_block(options, out, err);
}

Command add_convert_command(CLI::App& root, std::ostream& out, std::ostream& err) {
  CLI::App* app = root.add_subcommand(
      "convert",
      "Writes a scene's strataMix instance (SCENE.mi) as a preset, or a preset as a scene's "
      "shader block, every parameter written out, on standard output.");
  auto options = std::make_shared<ConvertOptions>();
  app->add_option("INPUT", options->input, "a scene (.mi) or a preset")->required();
  add_value(app, "--shader", &options->shader,
            "a scene: the instance to convert, when the scene holds several")
      ->type_name("NAME");
  add_value(app, "-I", &options->include_dirs,
            "a scene: a folder $include looks in (repeatable, in order)")
      ->type_name("DIR");
  add_value(app, "--connect", &options->connect,
            "a scene: a preset pattern in place of a connected parameter, "
            "layerColor=checker(6) (repeatable)")
      ->type_name("PARAM=PATTERN");
  app->add_flag("--force", options->force, "a scene: convert an instance with errors as read");
  add_value(app, "--name", &options->name, "a preset: the block's instance name (default look)")
      ->type_name("NAME");
  return {app, [options, &out, &err] { return run_convert(*options, out, err); }};
}

}  // namespace strata::tools
