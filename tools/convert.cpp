#include "convert.h"

#include <algorithm>
#include <cstring>
#include <istream>
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
  for (const scene::Diagnostic& d : scene.diagnostics) {
    err << scene::format_diagnostic(d, scene.summary.files) << '\n';
  }
  if (scene.summary.unreadable) {
    return 2;
  }
  std::vector<const scene::Instance*> chosen;
  std::string names;
  for (const scene::Instance& in : scene.instances) {
    names += (names.empty() ? "" : ", ") + scene::quoted(in.name);
    if (options.shader.empty() || in.name == options.shader) {
      chosen.push_back(&in);
    }
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

// The text of a preset's line after its '=', up to a comment: the pattern
// as its author wrote it.
std::string assigned_text(const std::string& preset, int line) {
  host::TextView view(preset);
  std::istream in(&view);
  host::LineReader lines(in, preview::kMaxPresetBytes);
  host::TextLine l;
  while (lines.next(&l)) {
    if (l.number == line) {
      std::string_view text = l.text.substr(std::min(l.text.find('=') + 1, l.text.size()));
      text = text.substr(0, text.find('#'));
      const auto first = text.find_first_not_of(" \t");
      const auto last = text.find_last_not_of(" \t");
      return first == std::string_view::npos ? ""
                                             : std::string(text.substr(first, last - first + 1));
    }
  }
  return "";
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
  host::Host host;
  preview::set_preview_defaults(&host.params());
  preview::apply_preset(preset, &host);
  // A pattern exists only in the preview: the block gives its parameter the
  // preview's neutral value and says what to connect.
  strataMix_params record = host.params();
  strataMix_params neutral{};
  preview::set_preview_defaults(&neutral);
  std::vector<scene::BlockNote> notes;
  for (const preview::Assignment& a : preset.assignments) {
    if (!a.pattern) {
      continue;
    }
    for (std::uint32_t slot = a.slot.value_or(0); slot < (a.slot ? *a.slot + 1 : a.field->slots);
         ++slot) {
      const ParameterRef param{a.field, slot};
      std::memcpy(reinterpret_cast<unsigned char*>(&record) + param.offset(),
                  reinterpret_cast<const unsigned char*>(&neutral) + param.offset(),
                  slot_size(field_type(*a.field)));
      notes.push_back({param, "connected in the preview to " + assigned_text(text, a.line)});
    }
  }
  try {
    out << scene::shader_block(options.name, record, notes);
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
