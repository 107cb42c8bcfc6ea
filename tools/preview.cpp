#include "preview.h"

#include <OpenImageIO/imagebuf.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>

#include "catalogue.h"
#include "image_commands.h"
#include "long_run.h"
#include "preset.h"
#include "render.h"
#include "scene_preset.h"
#include "scene_reader.h"
#include "scene_writer.h"
#include "sheet.h"
#include "text_input.h"

namespace strata::tools {

namespace {

using preview::ProgressMeter;

struct Options {
  std::string out_dir = "out";
  std::vector<std::string> sheets;
  std::vector<std::string> presets;
  int cell = 0;  // 0: 96 for the sheets, 256 for a preset
  std::string shape = "sphere";
  int aa = 2;
  int threads = 0;  // 0: every core
  bool cells = false;
  std::string plugin;
  // Scenes: the instances to render (all when none is named), the include
  // folders, the patterns standing in for connected parameters
  // (PARAMETER=PATTERN), and whether an instance with errors is rendered as
  // read.
  std::vector<std::string> shaders;
  std::vector<std::string> include_dirs;
  std::vector<std::string> connect;
  bool force = false;
};

void write_image(const OIIO::ImageBuf& image, const std::string& path,
                 const OIIO::TypeDesc& format) {
  OIIO::ImageBuf copy = image;
  copy.set_write_format(format);
  if (format == OIIO::TypeDesc::FLOAT) {
    copy.specmod().attribute("compression", "zip");
  }
  if (!copy.write(path)) {
    throw std::runtime_error("cannot write " + path + ": " + copy.geterror());
  }
}

// The files a sheet's render writes: NAME.png, NAME.exr, and with --cells
// NAME-NN.png for each cell.
std::vector<std::string> output_files(const preview::Sheet& sheet, const Options& o) {
  const std::string stem = (std::filesystem::path(o.out_dir) / sheet.name).string();
  std::vector<std::string> files = {stem + ".png", stem + ".exr"};
  for (std::size_t i = 0; o.cells && i < sheet.cells.size(); ++i) {
    char number[32];
    std::snprintf(number, sizeof number, "-%02zu.png", i);
    files.push_back(stem + number);
  }
  return files;
}

// Inputs whose pictures would share a file, the later replacing the earlier:
// one message for each input that would write a file another one writes.
bool outputs_clash(const std::vector<preview::Sheet>& sheets,
                   const std::vector<std::string>& inputs, const Options& o, std::ostream& err) {
  std::map<std::string, std::size_t> written_by;
  bool clash = false;
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    for (const std::string& file : output_files(sheets[i], o)) {
      const auto [it, fresh] = written_by.emplace(file, i);
      if (!fresh) {
        err << "stratamix preview: " << inputs[it->second] << " and " << inputs[i]
            << " would both write " << file << '\n';
        clash = true;
        break;
      }
    }
  }
  return clash;
}

// Renders one sheet, writes its two images and reports the figures.
void render_and_write(const preview::Sheet& sheet, host::ShaderFn shader,
                      const preview::SheetLayout& layout, const Options& o, std::ostream& out,
                      std::ostream& err) {
  const unsigned threads =
      o.threads != 0 ? static_cast<unsigned>(o.threads) : preview::render_threads();
  ProgressMeter meter(preview::sheet_samples(sheet, layout));
  ProgressLine progress(sheet.name, err);
  const auto start = std::chrono::steady_clock::now();
  const preview::SheetImages images = preview::render_sheet(
      sheet, shader, layout, threads, &meter, [&] { progress.tick(meter.done(), meter.total()); });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  progress.finish();

  const std::vector<std::string> written = output_files(sheet, o);
  try {
    write_image(images.display, written[0], OIIO::TypeDesc::UINT8);
    write_image(images.values, written[1], OIIO::TypeDesc::FLOAT);
    for (std::size_t i = 0; i + 2 < written.size(); ++i) {
      write_image(images.cells[i], written[i + 2], OIIO::TypeDesc::UINT8);
    }
  } catch (const std::runtime_error&) {
    // All the pictures or none: a PNG without its EXR, or a file cut short,
    // would pass for a finished render.
    for (const std::string& path : written) {
      std::error_code ec;
      if (std::filesystem::is_regular_file(path, ec)) {
        std::filesystem::remove(path, ec);
      }
    }
    throw;
  }

  char figures[160];
  std::snprintf(figures, sizeof figures, "%.2f s, %.2f M samples/s on %u thread%s", seconds,
                static_cast<double>(images.samples) / seconds / 1e6, threads,
                threads == 1 ? "" : "s");
  out << written[0] << ", " << written[1] << ": " << sheet.cells.size()
      << (sheet.cells.size() == 1 ? " cell, " : " cells, ") << grouped(images.samples)
      << " samples in " << figures << '\n';
}

// A preset file as a one-cell sheet named after the file.
// A preset's sheet. Its textures are taken from its folder, and opened now:
// one that cannot be read is a PresetError on its line.
preview::Sheet preset_sheet(const std::string& path, preview::Preset preset, preview::Shape shape) {
  const std::string name = std::filesystem::path(path).stem().string();
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  for (preview::Assignment& a : preset.assignments) {
    if (a.texture && std::filesystem::path(a.texture->path).is_relative()) {
      a.texture->path = (folder / a.texture->path).string();
    }
  }
  preview::Sheet sheet{name, "preset " + path, shape, 1, {{"result", std::move(preset)}}};
  preview::open_textures(sheet);
  return sheet;
}

// The preset's one cell says what its two panels show, where the plug-in
// runs the normal stage for it; what follows "result" in its label stays.
void label_panels(preview::Sheet* sheet, host::ShaderFn shader) {
  if (preview::sheet_panels(*sheet, shader) == 2) {
    std::string& label = sheet->cells[0].label;
    label = "result, and the combined normal lit" + label.substr(std::string("result").size());
  }
}

// The strataMix instances of a scene as one-cell sheets, one each, named
// after the instance. False, with the problems on `err`, when the scene
// cannot be read, names no instance asked for, or an instance has errors
// (unless --force).
bool scene_sheets(const std::string& path, const Options& o,
                  const std::vector<preview::StandIn>& stand_ins, preview::Shape shape,
                  std::vector<preview::Sheet>* sheets, std::vector<std::string>* inputs,
                  std::ostream& err) {
  scene::DiskFiles disk;
  scene::ReadOptions read;
  read.include_dirs = o.include_dirs;
  const scene::Scene scene = scene::read_scene(path, disk, read);
  bool ok = true;
  std::vector<const scene::Instance*> chosen;
  std::vector<bool> wanted(scene.instances.size());
  for (std::size_t i = 0; i < scene.instances.size(); ++i) {
    const scene::Instance& in = scene.instances[i];
    if (o.shaders.empty() ||
        std::find(o.shaders.begin(), o.shaders.end(), in.name) != o.shaders.end()) {
      chosen.push_back(&in);
      wanted[i] = true;
    }
  }
  // The problems of the scene as a whole and of the instances rendered:
  // another instance's errors are `check`'s business, not this picture's.
  for (const scene::Diagnostic& d : scene.diagnostics) {
    if (d.instance < 0 || wanted[static_cast<std::size_t>(d.instance)]) {
      err << scene::format_diagnostic(d, scene.summary.files) << '\n';
    }
  }
  if (scene.summary.unreadable) {
    return false;
  }
  for (const std::string& name : o.shaders) {
    if (std::none_of(chosen.begin(), chosen.end(),
                     [&](const scene::Instance* in) { return in->name == name; })) {
      err << "stratamix preview: " << path << " holds no strataMix instance " << scene::quoted(name)
          << '\n';
      ok = false;
    }
  }
  if (o.shaders.empty() && chosen.empty()) {
    err << "stratamix preview: " << path << " holds no strataMix instance\n";
    return false;
  }
  std::vector<std::string> names;
  names.reserve(chosen.size());
  for (const scene::Instance* in : chosen) {
    names.push_back(in->name);
  }
  names = preview::picture_names(names);
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const scene::Instance& in = *chosen[i];
    const std::string origin = scene::place_text(in.where, scene.summary.files);
    if (in.errors > 0 && !o.force) {
      err << "stratamix preview: " << scene::quoted(in.name) << " (" << origin
          << ") has errors: not rendered (--force renders it as read)\n";
      ok = false;
      continue;
    }
    // What the picture cannot show as the scene has it: each connected
    // parameter, at its neutral value or with the pattern standing in.
    std::string note;
    for (const std::string& c : preview::connected_parameters(in)) {
      const std::string param = c.substr(0, c.find(' '));
      const bool stood_in =
          std::any_of(stand_ins.begin(), stand_ins.end(),
                      [&](const preview::StandIn& s) { return declared_name(s.param) == param; });
      note += (note.empty() ? "; " : ", ") + param + (stood_in ? " a pattern" : " neutral");
    }
    try {
      preview::Preset preset =
          preview::parse_preset(preview::instance_preset(in, origin, stand_ins));
      const std::string label = "result" + (note.empty() ? "" : note + " (connected in the scene)");
      sheets->push_back({names[i],
                         "instance " + scene::quoted(in.name) + ", " + origin,
                         shape,
                         1,
                         {{label, std::move(preset)}}});
      inputs->push_back(path + " " + scene::quoted(in.name));
    } catch (const preview::PresetError& e) {
      err << "stratamix preview: a pattern given with --connect is refused: " << e.what() << '\n';
      ok = false;
    }
  }
  return ok;
}

int run_preview(const CLI::App& app, const Options& o, std::ostream& out, std::ostream& err) {
  // Every sheet and preset is checked before anything is rendered: a bad
  // preset gets its message and no image.
  std::vector<preview::Sheet> sheets;
  std::vector<std::string> inputs;  // what asked for each sheet
  bool bad = false;
  preview::Shape shape = preview::Shape::sphere;
  preview::shape_named(o.shape, &shape);
  if (o.presets.empty()) {
    for (preview::Sheet& s : preview::default_sheets()) {
      bool wanted = o.sheets.empty();
      for (const std::string& name : o.sheets) {
        wanted = wanted || name == s.name;
      }
      if (wanted) {
        inputs.push_back("sheet " + s.name);
        sheets.push_back(std::move(s));
      }
    }
    for (const std::string& name : o.sheets) {
      bool known = false;
      for (const preview::Sheet& s : sheets) {
        known = known || s.name == name;
      }
      if (!known) {
        err << "stratamix preview: no sheet named '" << name << "' ("
            << names_of(preview::kSheets, ", ") << ")\n";
        bad = true;
      }
    }
  }
  std::vector<preview::StandIn> stand_ins;
  for (const std::string& c : o.connect) {
    const std::optional<preview::StandIn> stand_in = preview::parse_stand_in(c);
    if (!stand_in) {
      throw UsageError(
          "--connect takes PARAMETER=PATTERN, the parameter by its declared name, "
          "not '" +
          c + "'");
    }
    stand_ins.push_back(*stand_in);
  }
  for (const std::string& path : o.presets) {
    if (preview::is_scene_path(path)) {
      bad = !scene_sheets(path, o, stand_ins, shape, &sheets, &inputs, err) || bad;
      continue;
    }
    try {
      const std::string text = host::read_text_file(path, preview::kMaxPresetBytes);
      sheets.push_back(preset_sheet(path, preview::parse_preset(text), shape));
      inputs.push_back(path);
    } catch (const preview::PresetError& e) {
      err << "stratamix preview: " << path << ": " << e.what() << '\n';
      bad = true;
    } catch (const std::runtime_error& e) {
      err << "stratamix preview: " << e.what() << '\n';
      bad = true;
    }
  }
  const bool clash = outputs_clash(sheets, inputs, o, err);
  if (bad || clash) {
    return 1;
  }

  return with_session(app, o.plugin, err, [&](const host::Session& session) {
    try {
      make_output_folder(o.out_dir);
      preview::SheetLayout layout = preview::layout_for(o.cell != 0         ? o.cell
                                                        : o.presets.empty() ? 96
                                                                            : 256);
      layout.aa = o.aa;
      layout.cell_pictures = o.cells;
      for (preview::Sheet& sheet : sheets) {
        if (!o.presets.empty()) {
          label_panels(&sheet, session.shader());
        }
        render_and_write(sheet, session.shader(), layout, o, out, err);
      }
    } catch (const std::runtime_error& e) {
      err << "stratamix preview: " << e.what() << '\n';
      return 1;
    }
    return 0;
  });
}

}  // namespace

Command add_preview_command(CLI::App& root, std::ostream& out, std::ostream& err) {
  CLI::App* app = add_image_subcommand(root, ImageCommandId::preview);
  auto o = std::make_shared<Options>();
  add_value(app, "--out", &o->out_dir, "the output folder")
      ->type_name("DIR")
      ->capture_default_str();
  add_value(app, "--sheet", &o->sheets,
            "render only this sheet: " + names_of(preview::kSheets, ", ") + " (again for more)")
      ->type_name("NAME")
      ->allow_extra_args(false);
  add_value(app, "--cell", &o->cell, "pixels per side of a cell (default 96; 256 for a preset)")
      ->type_name("N")
      ->check(whole_number(8, 4096));
  add_value(app, "--shape", &o->shape, "the shape a preset is rendered on")
      ->type_name("S")
      ->check(one_of(preview::kShapes))
      ->capture_default_str();
  add_value(app, "--aa", &o->aa, "samples per pixel along each axis")
      ->type_name("N")
      ->check(whole_number(1, preview::kMaxAa))
      ->capture_default_str();
  app->add_flag("--cells", o->cells,
                "also write each cell of a sheet, with its label, as NAME-NN.png (NN the cell's "
                "number from 00)");
  add_value(app, "--threads", &o->threads, "render threads (default: every core)")
      ->type_name("N")
      ->check(whole_number(1, 1024));
  add_plugin_option(app, &o->plugin);
  add_value(app, "--shader", &o->shaders,
            "a scene: render only this strataMix instance (again for more)")
      ->type_name("NAME")
      ->allow_extra_args(false);
  add_value(app, "-I", &o->include_dirs,
            "a scene: a folder $include looks in after the including file's (in order)")
      ->type_name("DIR")
      ->allow_extra_args(false);
  add_value(app, "--connect", &o->connect,
            "a scene: a preset pattern in place of a connected parameter, layerColor=checker(6)")
      ->type_name("PARAM=PATTERN")
      ->allow_extra_args(false);
  app->add_flag("--force", o->force, "a scene: render an instance with errors as read");
  app->add_option("presets", o->presets,
                  "preset files to render, or scenes (SCENE.mi): each strataMix instance in "
                  "them, a picture each")
      ->type_name("PRESET");
  return {app, [app, o, &out, &err] {
            if (!o->sheets.empty() && !o->presets.empty()) {
              throw UsageError("give sheets or presets, not both");
            }
            return run_preview(*app, *o, out, err);
          }};
}

}  // namespace strata::tools
