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
  SceneRefusal refusal = SceneRefusal::refused;
  const std::optional<std::string> text = scene_instance_preset(
      options.input, options.scene, {"stratamix convert", "converted", "converts"}, err, &refusal);
  if (!text) {
    return refusal == SceneRefusal::refused ? 1 : 2;
  }
  out << *text;
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

std::optional<std::string> scene_instance_preset(
    const std::string& path, const SceneChoice& choice, const SceneVerbs& verbs, std::ostream& err,
    SceneRefusal* refusal, std::pair<std::string, std::vector<std::string>>* connected) {
  std::vector<preview::StandIn> stand_ins;
  for (const std::string& c : choice.connect) {
    const std::optional<preview::StandIn> stand_in = preview::parse_stand_in(c);
    if (!stand_in) {
      err << verbs.tool << ": --connect " << c
          << ": expected PARAMETER=PATTERN, the parameter by its declared name\n";
      *refusal = SceneRefusal::command_line;
      return std::nullopt;
    }
    stand_ins.push_back(*stand_in);
  }
  scene::DiskFiles disk;
  scene::ReadOptions read;
  read.include_dirs = choice.include_dirs;
  const scene::Scene scene = scene::read_scene(path, disk, read);
  std::vector<const scene::Instance*> chosen;
  std::int64_t chosen_number = -1;
  std::string names;
  for (std::size_t i = 0; i < scene.instances.size(); ++i) {
    const scene::Instance& in = scene.instances[i];
    names += (names.empty() ? "" : ", ") + scene::quoted(in.name);
    if (choice.shader.empty() || in.name == choice.shader) {
      chosen.push_back(&in);
      chosen_number = static_cast<std::int64_t>(i);
    }
  }
  // The problems of the scene as a whole and of the instance taken, once
  // there is one: another instance's errors are `check`'s business.
  for (const scene::Diagnostic& d : scene.diagnostics) {
    if (d.instance < 0 || (chosen.size() == 1 && d.instance == chosen_number)) {
      err << scene::format_diagnostic(d, scene.summary.files) << '\n';
    }
  }
  if (scene.summary.unreadable) {
    *refusal = SceneRefusal::unreadable;
    return std::nullopt;
  }
  *refusal = SceneRefusal::refused;
  if (chosen.size() != 1) {
    err << verbs.tool << ": " << path
        << (chosen.empty() && !choice.shader.empty()
                ? " holds no strataMix instance " + scene::quoted(choice.shader)
                : " holds " + std::to_string(chosen.size()) + " strataMix instances")
        << (names.empty() ? "" : " (" + names + ")") << ": name one with --shader\n";
    return std::nullopt;
  }
  const scene::Instance& instance = *chosen.front();
  if (instance.errors > 0 && !choice.force) {
    err << verbs.tool << ": " << scene::quoted(instance.name) << " has errors: not " << verbs.done
        << " (--force " << verbs.does << " it as read)\n";
    return std::nullopt;
  }
  const std::string origin = scene::place_text(instance.where, scene.summary.files);
  std::string text = preview::instance_preset(instance, origin, stand_ins);
  try {
    preview::parse_preset(text);
  } catch (const preview::PresetError& e) {
    err << verbs.tool << ": a pattern given with --connect is refused: " << e.what() << '\n';
    *refusal = SceneRefusal::command_line;
    return std::nullopt;
  }
  if (connected != nullptr) {
    *connected = {instance.name, preview::connected_parameters(instance)};
  }
  return text;
}

void add_scene_options(CLI::App* app, SceneChoice* choice, const std::string& verb) {
  add_value(app, "--shader", &choice->shader,
            "a scene: the instance to " + verb + ", when the scene holds several")
      ->type_name("NAME");
  add_value(app, "-I", &choice->include_dirs,
            "a scene: a folder $include looks in (repeatable, in order)")
      ->type_name("DIR");
  add_value(app, "--connect", &choice->connect,
            "a scene: a preset pattern in place of a connected parameter, "
            "layerColor=checker(6) (repeatable)")
      ->type_name("PARAM=PATTERN");
  app->add_flag("--force", choice->force, "a scene: " + verb + " an instance with errors as read");
}

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
  add_scene_options(app, &options->scene, "convert");
  add_value(app, "--name", &options->name, "a preset: the block's instance name (default look)")
      ->type_name("NAME");
  return {app, [options, &out, &err] { return run_convert(*options, out, err); }};
}

}  // namespace strata::tools
