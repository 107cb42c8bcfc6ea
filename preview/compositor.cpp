#include "compositor.h"

#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "vec3.h"

namespace strata::preview {
namespace {

// The sheet's background, dark enough for white labels.
constexpr float kBackground = 0.14f;

// The preview's light: from the upper left, in front of the surface; the
// viewer looks down -z, and the highlight lies halfway between the two.
const strataMix_vector kLight = normalized({-0.45f, 0.55f, 0.7f});
const strataMix_vector kHalfway = normalized({kLight.x, kLight.y, kLight.z + 1.0f});
constexpr float kAmbient = 0.06f;
constexpr float kDiffuse = 0.80f;
constexpr float kSpecular = 0.30f;
constexpr float kShininess = 40.0f;

// Where a text drawn from x = 0 ends and how wide it is.
OIIO::ROI text_extent(const std::string& text, int size, const std::string& font) {
  const OIIO::ROI extent = OIIO::ImageBufAlgo::text_size(text, size, font);
  if (!extent.defined()) {
    throw std::runtime_error("cannot measure the label \"" + text + "\" with font '" + font + "'");
  }
  return extent;
}

int label_width(const std::string& text, const SheetLayout& layout) {
  return text_extent(text, layout.font_size, layout.font).width();
}

std::string without_trailing_spaces(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The title in lines no wider than `width`, at `size`: broken after a space,
// a slash or a hyphen (a title is often a path), and a piece wider than a
// whole line between two characters (never inside one of UTF-8's).
std::vector<std::string> title_lines(const std::string& title, int width, int size,
                                     const std::string& font) {
  const auto fits = [&](const std::string& text) {
    return text_extent(without_trailing_spaces(text), size, font).xend <= width;
  };
  std::vector<std::string> lines{""};
  for (std::size_t start = 0; start < title.size();) {
    const std::size_t at = title.find_first_of(" /-", start);
    const std::size_t end = at == std::string::npos ? title.size() : at + 1;
    const std::string piece = title.substr(start, end - start);
    start = end;
    if (fits(lines.back() + piece)) {
      lines.back() += piece;
      continue;
    }
    if (!lines.back().empty()) {
      lines.emplace_back();
    }
    for (std::size_t i = 0; i < piece.size();) {
      std::size_t next = i + 1;
      while (next < piece.size() && (static_cast<unsigned char>(piece[next]) & 0xc0) == 0x80) {
        ++next;
      }
      const std::string character = piece.substr(i, next - i);
      if (!lines.back().empty() && !fits(lines.back() + character)) {
        lines.emplace_back();
      }
      lines.back() += character;
      i = next;
    }
  }
  for (std::string& line : lines) {
    line = without_trailing_spaces(line);
  }
  return lines;
}

void fill(OIIO::ImageBuf* image, std::initializer_list<float> color) {
  OIIO::ImageBufAlgo::fill(
      *image,
      OIIO::cspan<float>(color.begin(), static_cast<OIIO::oiio_span_size_type>(color.size())));
}

// One panel of the frame at (x0, y0) into the display picture and, where
// given, the values: the result, or the lit combined normal. Off the surface
// the background shows through.
void place_panel(const Frame& f, bool lit_panel, int x0, int y0, OIIO::ImageBuf* values,
                 OIIO::ImageBuf* display) {
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
      if (values != nullptr) {
        values->setpixel(x0 + x, y0 + y, value, 4);
      }
      display->setpixel(x0 + x, y0 + y, shown, 3);
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

std::size_t SheetPicture::Grid::column(std::size_t i) const {
  return i % static_cast<std::size_t>(columns);
}

int SheetPicture::Grid::column_width(std::size_t i) const { return column_widths[column(i)]; }

int SheetPicture::Grid::column_x(std::size_t i) const {
  int x = margin;
  for (std::size_t c = 0; c < column(i); ++c) {
    x += column_widths[c] + margin;
  }
  return x;
}

int SheetPicture::Grid::cell_x(std::size_t i) const {
  return column_x(i) + (column_width(i) - cell_width) / 2;
}

int SheetPicture::Grid::cell_y(std::size_t i) const {
  return title_height + static_cast<int>(i / static_cast<std::size_t>(columns)) * row_height;
}

int SheetPicture::title_line_step() const { return title_size_ * 5 / 4; }

int SheetPicture::label_baseline() const { return layout_.cell + layout_.font_size * 5 / 4; }

std::vector<OIIO::ImageBuf> SheetPicture::cell_pictures() const {
  // The margins either side of the panels are equal only when the width
  // and the panels' width are both even or both odd.
  const Grid& g = grid_;
  int width = *std::max_element(g.column_widths.begin(), g.column_widths.end());
  width += (width - g.cell_width) % 2;
  std::vector<OIIO::ImageBuf> pictures;
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    OIIO::ImageBuf picture(OIIO::ImageSpec(width, g.row_height, 3, OIIO::TypeDesc::FLOAT));
    fill(&picture, {kBackground, kBackground, kBackground});
    const OIIO::ROI panels(g.cell_x(i), g.cell_x(i) + g.cell_width, g.cell_y(i),
                           g.cell_y(i) + layout_.cell);
    const OIIO::ImageBuf cut = OIIO::ImageBufAlgo::cut(images_.display, panels);
    if (cut.has_error() ||
        !OIIO::ImageBufAlgo::paste(picture, (width - g.cell_width) / 2, 0, 0, 0, cut)) {
      throw std::runtime_error("cannot copy cell " + std::to_string(i) + ": " + picture.geterror());
    }
    draw_text(&picture, width / 2, label_baseline(), labels_[i], layout_.font_size, layout_.font,
              OIIO::ImageBufAlgo::TextAlignX::Center);
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

SheetPicture::SheetPicture(std::string title, std::vector<std::string> labels, int columns,
                           int panels, const SheetLayout& layout)
    : labels_(std::move(labels)), layout_(layout), grid_{} {
  if (layout.font.empty()) {
    throw std::runtime_error(
        "no font for the labels: install Debian's fonts-dejavu-core "
        "(tools/install-deps.sh preview)");
  }
  Grid& g = grid_;
  g.panels = panels;
  g.panel_gap = panel_gap(layout.cell);
  g.margin = std::max(6, layout.cell / 8);
  g.row_height = layout.cell + layout.font_size * 2;
  g.cell_width = g.panels * layout.cell + (g.panels - 1) * g.panel_gap;
  const int n = static_cast<int>(labels_.size());
  g.columns = std::max(1, std::min(columns, n));
  g.rows = (n + g.columns - 1) / g.columns;
  g.column_widths.assign(static_cast<std::size_t>(g.columns), g.cell_width);
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    int& w = g.column_widths[g.column(i)];
    w = std::max(w, label_width(labels_[i], layout) + layout.font_size / 2);
  }
  g.width = g.column_x(static_cast<std::size_t>(g.columns - 1)) + g.column_widths.back() + g.margin;

  // The picture is as wide as its cells. A title wider than that is drawn
  // smaller, down to the labels' size, and then in as many lines as it needs.
  title = "strataMix " + title;
  const int title_width = g.width - 2 * g.margin;
  title_size_ = layout.font_size + 2;
  while (title_size_ > layout.font_size &&
         text_extent(title, title_size_, layout.font).xend > title_width) {
    --title_size_;
  }
  title_lines_ = title_lines(title, title_width, title_size_, layout.font);
  g.title_height = layout.font_size * 2 + g.margin / 2 +
                   static_cast<int>(title_lines_.size() - 1) * title_line_step();
  g.height = g.title_height + g.rows * g.row_height;

  images_.values.reset(OIIO::ImageSpec(g.width, g.height, 4, OIIO::TypeDesc::FLOAT));
  images_.display.reset(OIIO::ImageSpec(g.width, g.height, 3, OIIO::TypeDesc::FLOAT));
  fill(&images_.values, {kBackground, kBackground, kBackground, 1.0f});
  fill(&images_.display, {kBackground, kBackground, kBackground});
}

void SheetPicture::place(std::size_t cell, const Frame& frame) {
  place_panel(frame, false, grid_.cell_x(cell), grid_.cell_y(cell), &images_.values,
              &images_.display);
  if (frame.normal_stage && grid_.panels > 1) {
    place_panel(frame, true, grid_.cell_x(cell) + layout_.cell + grid_.panel_gap,
                grid_.cell_y(cell), &images_.values, &images_.display);
  }
}

int panel_gap(int cell) { return std::max(2, cell / 32); }

OIIO::ImageBuf frame_display(const Frame& frame) {
  const int panels = frame.normal_stage ? 2 : 1;
  OIIO::ImageBuf display(
      OIIO::ImageSpec(panels * frame.width + (panels - 1) * panel_gap(frame.width), frame.height, 3,
                      OIIO::TypeDesc::FLOAT));
  fill(&display, {kBackground, kBackground, kBackground});
  place_panel(frame, false, 0, 0, nullptr, &display);
  if (frame.normal_stage) {
    place_panel(frame, true, frame.width + panel_gap(frame.width), 0, nullptr, &display);
  }
  return display;
}

SheetImages SheetPicture::finish() {
  // Labels stand on a common baseline below their cells, whatever letters
  // they hold.
  using OIIO::ImageBufAlgo::TextAlignX;
  const Grid& g = grid_;
  for (OIIO::ImageBuf* image : {&images_.values, &images_.display}) {
    for (std::size_t line = 0; line < title_lines_.size(); ++line) {
      draw_text(image, g.margin,
                g.margin / 2 + layout_.font_size + 2 + static_cast<int>(line) * title_line_step(),
                title_lines_[line], title_size_, layout_.font, TextAlignX::Left);
    }
    for (std::size_t i = 0; i < labels_.size(); ++i) {
      draw_text(image, g.column_x(i) + g.column_width(i) / 2, g.cell_y(i) + label_baseline(),
                labels_[i], layout_.font_size, layout_.font, TextAlignX::Center);
    }
  }
  if (layout_.cell_pictures) {
    images_.cells = cell_pictures();
  }
  return std::move(images_);
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

float lit(strataMix_vector n) {
  const float length = std::sqrt(dot(n, n));
  if (std::isnan(length)) {
    return length;
  }
  if (!(length > 0.0f)) {
    return 0.0f;
  }
  // Too long to tell which way it faces: no direct light reaches it.
  if (std::isinf(length)) {
    return kAmbient;
  }
  const strataMix_vector unit = normalized(n);
  const float diffuse = std::max(0.0f, dot(unit, kLight));
  const float specular = std::pow(std::max(0.0f, dot(unit, kHalfway)), kShininess);
  return kAmbient + kDiffuse * diffuse + kSpecular * specular;
}

std::array<float, 3> display_color(ResultKind kind, const float* rgba) {
  std::array<float, 3> out{};
  for (std::size_t c = 0; c < 3; ++c) {
    if (!std::isfinite(rgba[c])) {
      return {1.0f, 0.0f, 1.0f};
    }
    const float v = kind == ResultKind::color ? rgba[c] : 0.5f * rgba[c] + 0.5f;
    out[c] = std::clamp(v, 0.0f, 1.0f);
  }
  return out;
}

}  // namespace strata::preview
