#include "sheet.h"

#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "blend_modes.h"
#include "preset.h"

namespace strata::preview {
namespace {

// The sheet's background, dark enough for white labels.
constexpr float kBackground = 0.14f;

// Blend cells: the base runs dark to light across (u), the layer dark to
// light upward (v), each through a colour, so that every cell shows the mode
// over the whole range of base and layer values in each channel. The layer's
// alpha of 0.75 tells "over" (always weighted by it) from "replace".
constexpr const char* kBlendBase =
    "blendEnable = on\n"
    "baseColor = ramp(u, 0 0 0 1, 0.2 0.45 0.9 1, 1 1 1 1)\n"
    "layerColor = ramp(v, 0 0 0 0.75, 1 0.45 0.1 0.75, 1 1 1 0.75)\n";

// Correction cells: hues across, darkened downward by a multiply blend, so
// that a setting shows on every hue and value.
constexpr const char* kCorrectBase =
    "baseColor = ramp(u, 0.9 0.2 0.2 1, 0.9 0.9 0.2 1, 0.2 0.9 0.2 1, 0.2 0.9 0.9 1, "
    "0.2 0.2 0.9 1, 0.9 0.2 0.9 1, 0.9 0.2 0.2 1)\n"
    "blendEnable = on\n"
    "blendMode = 5\n"
    "layerColor = ramp(v, 0.15 0.15 0.15 1, 1 1 1 1)\n"
    "correctEnable = on\n";

// Normal cells: the combined normal returned as a vector and lit beside it.
constexpr const char* kNormalBase =
    "normalEnable = on\n"
    "outputNormal = on\n";

constexpr const char* kOneBump =
    "layerCount = 1\n"
    "layerEnable[0] = on\n"
    "layerNormal[0] = bump(5, 0.6)\n";

constexpr const char* kTwoBumps =
    "layerCount = 2\n"
    "layerEnable[0] = on\n"
    "layerNormal[0] = bump(3, 0.5)\n"
    "layerEnable[1] = on\n"
    "layerNormal[1] = bump(11, 0.35)\n";

Sheet blend_mode_sheet() {
  Sheet s{"blend-modes",
          "blend modes: base ramp across, layer ramp upward (alpha 0.75), amount 1",
          Shape::swatch,
          6,
          {}};
  for (const BlendModeEntry& m : kBlendModes) {
    const std::string number = std::to_string(static_cast<std::uint32_t>(m.mode));
    s.cells.push_back({number + " " + std::string(m.name),
                       std::string(kBlendBase) + "blendMode = " + number + "\n"});
  }
  return s;
}

Sheet color_correct_sheet() {
  Sheet s{"color-correct", "colour correction: hues across, value downward", Shape::swatch, 6, {}};
  const std::pair<const char*, const char*> settings[] = {
      {"neutral", ""},
      {"hue -0.5", "hueAdjust = -0.5"},
      {"hue +0.1", "hueAdjust = 0.1"},
      {"hue by noise", "hueAdjust = noise(4, -0.2, 0.2)"},
      {"saturation -0.5", "saturationAdjust = -0.5"},
      {"saturation -1", "saturationAdjust = -1"},
      {"saturation +0.5", "saturationAdjust = 0.5"},
      {"value -0.5", "valueAdjust = -0.5"},
      {"value +0.5", "valueAdjust = 0.5"},
      {"gamma 0.5", "gamma = 0.5"},
      {"gamma 2.2", "gamma = 2.2"},
      {"gamma ramp 0.4-2.5", "gamma = ramp(u, 0.4, 2.5)"},
      {"offset +0.1", "offset = 0.1"},
      {"offset -0.2", "offset = -0.2"},
      {"contrast 0", "contrast = 0"},
      {"contrast 0.5", "contrast = 0.5"},
      {"contrast 1.5", "contrast = 1.5"},
      {"sat +0.2, gamma 1.4, contrast 1.2", "saturationAdjust = 0.2\ngamma = 1.4\ncontrast = 1.2"},
  };
  for (const auto& [label, lines] : settings) {
    s.cells.push_back({label, std::string(kCorrectBase) + lines + "\n"});
  }
  return s;
}

Cell normal_cell(const char* label, const std::string& lines, bool normalize = true) {
  return {label, kNormalBase + lines + (normalize ? "normalizeNormal = on\n" : "")};
}

Sheet normal_sheet() {
  Sheet s{"normals", "normal layering: combined normal as colour, and lit", Shape::sphere, 4, {}};
  const std::string one = kOneBump;
  const std::string two = kTwoBumps;
  s.cells = {
      normal_cell("incoming normal", "layerCount = 0\n"),
      normal_cell("bump", one),
      normal_cell("bump, weight 0.5", one + "layerWeight[0] = 0.5\n"),
      normal_cell("bump, mix 0.5", one + "normalMix = 0.5\n"),
      normal_cell("two bumps added", two),
      normal_cell("second at balance 0.25", two + "layerBalance[1] = 0.25\n"),
      normal_cell("second at balance 0.75", two + "layerBalance[1] = 0.75\n"),
      normal_cell("bump, scale -1", one + "normalScale = -1\n"),
      normal_cell("tilted toward +x",
                  "layerCount = 1\nlayerEnable[0] = on\nlayerNormal[0] = 1 0 0\n"),
      normal_cell("noise normals",
                  "layerCount = 1\nlayerEnable[0] = on\n"
                  "layerNormal[0] = noise(6, -0.7 -0.7 1, 0.7 0.7 1)\n"),
      normal_cell("bump, not normalised", one, false),
      {"bump as colour", "normalEnable = on\nnormalAsColor = on\nnormalizeNormal = on\n" + one},
  };
  return s;
}

// A cell's host: the preview's defaults, then the cell's preset.
void set_up_cell(const Sheet& sheet, const Cell& cell, host::Host* host) {
  set_preview_defaults(&host->params());
  try {
    apply_preset(parse_preset(cell.preset), host);
  } catch (const PresetError& e) {
    throw std::runtime_error("sheet " + sheet.name + ", cell \"" + cell.label + "\": " + e.what());
  }
}

// Where everything lies on the sheet. Each column is as wide as its panels
// or its widest label, whichever is wider; panels and labels are centred in
// it.
struct Grid {
  int panels, panel_gap, margin, title_height, row_height, cell_width, columns, rows, width, height;
  std::vector<int> column_widths;
  std::size_t column(std::size_t i) const { return i % static_cast<std::size_t>(columns); }
  int column_width(std::size_t i) const { return column_widths[column(i)]; }
  int column_x(std::size_t i) const {
    int x = margin;
    for (std::size_t c = 0; c < column(i); ++c) {
      x += column_widths[c] + margin;
    }
    return x;
  }
  int cell_x(std::size_t i) const { return column_x(i) + (column_width(i) - cell_width) / 2; }
  int cell_y(std::size_t i) const {
    return title_height + static_cast<int>(i / static_cast<std::size_t>(columns)) * row_height;
  }
};

int label_width(const std::string& text, const SheetLayout& layout) {
  const OIIO::ROI size = OIIO::ImageBufAlgo::text_size(text, layout.font_size, layout.font);
  if (!size.defined()) {
    throw std::runtime_error("cannot measure the label \"" + text + "\" with font '" + layout.font +
                             "'");
  }
  return size.width();
}

Grid grid_for(const Sheet& sheet, const SheetLayout& layout) {
  Grid g{};
  g.panels = sheet_panels(sheet);
  g.panel_gap = std::max(2, layout.cell / 32);
  g.margin = std::max(6, layout.cell / 8);
  g.title_height = layout.font_size * 2 + g.margin / 2;
  g.row_height = layout.cell + layout.font_size * 2;
  g.cell_width = g.panels * layout.cell + (g.panels - 1) * g.panel_gap;
  const int n = static_cast<int>(sheet.cells.size());
  g.columns = std::max(1, std::min(sheet.columns, n));
  g.rows = (n + g.columns - 1) / g.columns;
  g.column_widths.assign(static_cast<std::size_t>(g.columns), g.cell_width);
  for (std::size_t i = 0; i < sheet.cells.size(); ++i) {
    int& w = g.column_widths[g.column(i)];
    w = std::max(w, label_width(sheet.cells[i].label, layout) + layout.font_size / 2);
  }
  const int title_width = label_width("strataMix " + sheet.title, layout) + layout.font_size;
  g.width = std::max(
      g.column_x(static_cast<std::size_t>(g.columns - 1)) + g.column_widths.back() + g.margin,
      2 * g.margin + title_width);
  g.height = g.title_height + g.rows * g.row_height;
  return g;
}

void fill(OIIO::ImageBuf* image, std::initializer_list<float> color) {
  OIIO::ImageBufAlgo::fill(
      *image,
      OIIO::cspan<float>(color.begin(), static_cast<OIIO::oiio_span_size_type>(color.size())));
}

// One panel of the frame into both images at (x0, y0): the result, or the
// lit combined normal. Off the surface the background shows through.
void place_panel(const Frame& f, bool lit_panel, int x0, int y0, SheetImages* out) {
  for (int y = 0; y < f.height; ++y) {
    for (int x = 0; x < f.width; ++x) {
      const auto p = static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width) +
                     static_cast<std::size_t>(x);
      const float cover = f.coverage[p];
      float value[4];
      float shown[3];
      if (lit_panel) {
        const float l = lit({f.normal[p * 3], f.normal[p * 3 + 1], f.normal[p * 3 + 2]});
        value[0] = value[1] = value[2] = l;
        value[3] = 1.0f;
        const std::array<float, 3> d = display_color(ResultKind::color, value);
        std::copy(d.begin(), d.end(), shown);
      } else {
        std::copy(&f.result[p * 4], &f.result[p * 4] + 4, value);
        const std::array<float, 3> d = display_color(f.kind, value);
        std::copy(d.begin(), d.end(), shown);
      }
      // A pixel wholly on the surface keeps its values bit for bit.
      if (cover < 1.0f) {
        for (float& c : value) {
          c = cover * c + (1.0f - cover) * kBackground;
        }
        value[3] = cover * value[3] + (1.0f - cover);
        for (float& c : shown) {
          c = cover * c + (1.0f - cover) * kBackground;
        }
      }
      out->values.setpixel(x0 + x, y0 + y, value, 4);
      out->display.setpixel(x0 + x, y0 + y, shown, 3);
    }
  }
}

void draw_text(OIIO::ImageBuf* image, int x, int y, const std::string& text, int size,
               const std::string& font, OIIO::ImageBufAlgo::TextAlignX align) {
  const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  if (!OIIO::ImageBufAlgo::render_text(*image, x, y, text, size, font,
                                       OIIO::cspan<float>(white, image->nchannels()), align,
                                       OIIO::ImageBufAlgo::TextAlignY::Baseline)) {
    throw std::runtime_error("cannot draw the label \"" + text + "\" with font '" + font +
                             "': " + image->geterror());
  }
}

}  // namespace

std::vector<Sheet> default_sheets() {
  return {blend_mode_sheet(), color_correct_sheet(), normal_sheet()};
}

std::string label_font() {
  const char* candidates[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                              "/usr/share/fonts/TTF/DejaVuSans.ttf"};
  for (const char* path : candidates) {
    if (std::filesystem::exists(path)) {
      return path;
    }
  }
  return {};
}

SheetLayout layout_for(int cell) {
  SheetLayout layout;
  layout.cell = cell;
  // Labels stay readable on small cells and do not crowd large ones.
  layout.font_size = std::clamp(cell / 7, 9, 16);
  layout.font = label_font();
  return layout;
}

int sheet_panels(const Sheet& sheet) {
  for (const Cell& cell : sheet.cells) {
    host::Host h;
    set_up_cell(sheet, cell, &h);
    if (h.params().normalEnable != 0) {
      return 2;
    }
  }
  return 1;
}

std::uint64_t sheet_samples(const Sheet& sheet, const SheetLayout& layout) {
  return static_cast<std::uint64_t>(sheet.cells.size()) * static_cast<std::uint64_t>(layout.cell) *
         static_cast<std::uint64_t>(layout.cell) * static_cast<std::uint64_t>(layout.aa) *
         static_cast<std::uint64_t>(layout.aa);
}

SheetImages render_sheet(const Sheet& sheet, host::ShaderFn shader, const SheetLayout& layout,
                         unsigned threads, ProgressMeter* meter,
                         const std::function<void()>& tick) {
  if (layout.font.empty()) {
    throw std::runtime_error(
        "no font for the labels: install Debian's fonts-dejavu-core "
        "(tools/install-deps.sh preview)");
  }
  const Grid g = grid_for(sheet, layout);
  SheetImages out;
  out.values.reset(OIIO::ImageSpec(g.width, g.height, 4, OIIO::TypeDesc::FLOAT));
  out.display.reset(OIIO::ImageSpec(g.width, g.height, 3, OIIO::TypeDesc::FLOAT));
  fill(&out.values, {kBackground, kBackground, kBackground, 1.0f});
  fill(&out.display, {kBackground, kBackground, kBackground});

  const View view{layout.cell, layout.cell, sheet.shape, layout.aa};
  for (std::size_t i = 0; i < sheet.cells.size(); ++i) {
    host::Host h;
    set_up_cell(sheet, sheet.cells[i], &h);
    const Frame frame = render_frame(h, shader, view, threads, meter, tick);
    out.samples += frame.samples;
    place_panel(frame, false, g.cell_x(i), g.cell_y(i), &out);
    if (frame.normal_stage && g.panels > 1) {
      place_panel(frame, true, g.cell_x(i) + layout.cell + g.panel_gap, g.cell_y(i), &out);
    }
  }

  // Labels stand on a common baseline below their cells, whatever letters
  // they hold.
  using OIIO::ImageBufAlgo::TextAlignX;
  for (OIIO::ImageBuf* image : {&out.values, &out.display}) {
    draw_text(image, g.margin, g.margin / 2 + layout.font_size + 2, "strataMix " + sheet.title,
              layout.font_size + 2, layout.font, TextAlignX::Left);
    for (std::size_t i = 0; i < sheet.cells.size(); ++i) {
      draw_text(image, g.column_x(i) + g.column_width(i) / 2,
                g.cell_y(i) + layout.cell + layout.font_size * 5 / 4, sheet.cells[i].label,
                layout.font_size, layout.font, TextAlignX::Center);
    }
  }
  return out;
}

}  // namespace strata::preview
