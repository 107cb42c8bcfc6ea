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
#include "long_run.h"
#include "plugin.h"
#include "preset.h"
#include "render.h"
#include "sheet.h"
#include "text_input.h"

namespace strata::tools {

const char kPreviewUsage[] =
    "usage: stratamix preview [options] [PRESET...]\n"
    "  Without presets, renders the contact sheets (every blend mode, colour\n"
    "  correction, normal layering); with presets, renders each preset file.\n"
    "  Writes NAME.png and NAME.exr (float values) into the output folder.\n"
    "  --out DIR      output folder (default: out)\n"
    "  --sheet NAME   render only this sheet: blend-modes, color-correct, normals\n"
    "  --cell N       pixels per side of a cell (default 96; 256 for a preset)\n"
    "  --shape S      sphere or swatch, for presets (default sphere)\n"
    "  --aa N         samples per pixel along each axis, 1 to 8 (default 2)\n"
    "  --cells        also write each cell of a sheet, with its label, as\n"
    "                 NAME-NN.png (NN the cell's number from 00)\n"
    "  --threads N    render threads (default: every core)\n"
    "  --plugin PATH  the plug-in to load\n";

namespace {

using preview::ProgressMeter;

struct Options {
  std::string out_dir = "out";
  std::vector<std::string> sheets;
  std::vector<std::string> presets;
  std::optional<int> cell;
  preview::Shape shape = preview::Shape::sphere;
  int aa = 2;
  unsigned threads = 0;
  bool cells = false;
  std::string plugin;
};

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int parse_count(const std::string& option, const std::string& text, int low, int high) {
  int n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || n < low || n > high) {
    throw UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + text + "'");
  }
  return n;
}

Options parse_options(const std::vector<std::string>& args, const std::string& default_plugin) {
  Options o;
  o.plugin = default_plugin;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--cells") {
      o.cells = true;
      continue;
    }
    static const char* const kWithValue[] = {"--out", "--sheet",   "--cell",  "--shape",
                                             "--aa",  "--threads", "--plugin"};
    const bool known =
        std::find(std::begin(kWithValue), std::end(kWithValue), a) != std::end(kWithValue);
    if (a.rfind("--", 0) == 0 && !known) {
      throw UsageError("unknown option " + a);
    }
    // An option's value never begins with "--": that is the next option.
    const bool has_value = i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0;
    if (known && !has_value) {
      throw UsageError(a + " needs a value");
    }
    if (a == "--out") {
      o.out_dir = args[++i];
    } else if (a == "--sheet") {
      o.sheets.push_back(args[++i]);
    } else if (a == "--cell") {
      o.cell = parse_count(a, args[++i], 8, 4096);
    } else if (a == "--shape") {
      if (!preview::shape_named(args[++i], &o.shape)) {
        throw UsageError("--shape is sphere or swatch, not '" + args[i] + "'");
      }
    } else if (a == "--aa") {
      o.aa = parse_count(a, args[++i], 1, 8);
    } else if (a == "--threads") {
      o.threads = static_cast<unsigned>(parse_count(a, args[++i], 1, 1024));
    } else if (a == "--plugin") {
      o.plugin = args[++i];
    } else {
      o.presets.push_back(a);
    }
  }
  if (!o.sheets.empty() && !o.presets.empty()) {
    throw UsageError("give sheets or presets, not both");
  }
  return o;
}

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
  const unsigned threads = o.threads != 0 ? o.threads : preview::render_threads();
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
preview::Sheet preset_sheet(const std::string& path, preview::Preset preset, preview::Shape shape) {
  const std::string name = std::filesystem::path(path).stem().string();
  // Its textures are taken from its folder, and opened now (sheet_panels
  // sets the cell up).
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  for (preview::Assignment& a : preset.assignments) {
    if (a.texture && std::filesystem::path(a.texture->path).is_relative()) {
      a.texture->path = (folder / a.texture->path).string();
    }
  }
  preview::Sheet sheet{name, "preset " + path, shape, 1, {{"result", std::move(preset)}}};
  if (preview::sheet_panels(sheet) == 2) {
    sheet.cells[0].label = "result, and the combined normal lit";
  }
  return sheet;
}

}  // namespace

int run_preview(const std::vector<std::string>& args, const std::string& default_plugin,
                std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = parse_options(args, default_plugin);
  } catch (const UsageError& e) {
    err << "stratamix preview: " << e.what() << '\n' << kPreviewUsage;
    return 2;
  }

  // Every sheet and preset is checked before anything is rendered: a bad
  // preset gets its message and no image.
  std::vector<preview::Sheet> sheets;
  std::vector<std::string> inputs;  // what asked for each sheet
  bool bad = false;
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
        err << "stratamix preview: no sheet named '" << name
            << "' (blend-modes, color-correct, normals)\n";
        bad = true;
      }
    }
  }
  for (const std::string& path : o.presets) {
    try {
      const std::string text = host::read_text_file(path, preview::kMaxPresetBytes);
      sheets.push_back(preset_sheet(path, preview::parse_preset(text), o.shape));
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

  try {
    const host::Plugin plugin(o.plugin);
    if (plugin.version() != nullptr && plugin.version()() != 1) {
      throw std::runtime_error(o.plugin + " follows interface version " +
                               std::to_string(plugin.version()()) + "; the preview knows 1");
    }
    make_output_folder(o.out_dir);
    // As a renderer does: the library's init before the first call, its exit
    // after the last.
    if (plugin.init() != nullptr) {
      std::int32_t init_request = 0;
      plugin.init()(nullptr, nullptr, &init_request);
    }
    preview::SheetLayout layout =
        preview::layout_for(o.cell.value_or(o.presets.empty() ? 96 : 256));
    layout.aa = o.aa;
    layout.cell_pictures = o.cells;
    for (const preview::Sheet& sheet : sheets) {
      render_and_write(sheet, plugin.shader(), layout, o, out, err);
    }
    if (plugin.exit() != nullptr) {
      plugin.exit()();
    }
  } catch (const std::runtime_error& e) {
    err << "stratamix preview: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

}  // namespace strata::tools
