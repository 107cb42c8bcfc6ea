// The compositor: lays rendered cells out on a contact sheet under its title,
// each with its label, as one picture for people (display) and one with the
// float values (values).
#ifndef STRATAMIX_PREVIEW_COMPOSITOR_H
#define STRATAMIX_PREVIEW_COMPOSITOR_H

#include <OpenImageIO/imagebuf.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render.h"
#include "strataMix.h"

namespace strata::preview {

struct SheetLayout {
  int cell = 96;       // pixels per side of one panel
  int aa = 2;          // samples per pixel along each axis
  int font_size = 13;  // label height in pixels
  std::string font;    // path of a TrueType font for the labels
  // Also make each cell's picture on its own (SheetImages::cells).
  bool cell_pictures = false;
};

// The layout for cells of `cell` pixels, labels scaled to fit, with the
// font found on this machine (empty when none is).
SheetLayout layout_for(int cell);

// The font the labels use: DejaVu Sans from Debian's fonts-dejavu-core, or
// empty when it is not installed.
std::string label_font();

struct SheetImages {
  // RGBA floats: each cell's result as the shader gave it (a normal raw),
  // the lit normal beside it where the normal stage ran, the labels in white.
  OIIO::ImageBuf values;
  // RGB floats in [0, 1] for a PNG: results clamped, normals mapped to
  // colours, NaN and infinities magenta.
  OIIO::ImageBuf display;
  // With SheetLayout::cell_pictures, each cell on its own, in cell order, as
  // the display shows it: its panels and its label, centred in a picture of
  // one size for every cell of the sheet.
  std::vector<OIIO::ImageBuf> cells;
  std::uint64_t samples = 0;
};

// A sheet's two pictures, filled in one cell at a time, so that only one
// cell's frame need be kept.
class SheetPicture {
 public:
  // A grid of `labels.size()` cells in `columns` columns, each cell
  // `panels` panels wide (2: the result and the lit normal), as wide as the
  // cells and labels need; a title wider than that is fitted to it. Throws
  // std::runtime_error when there is no font or a text cannot be measured.
  SheetPicture(std::string title, std::vector<std::string> labels, int columns, int panels,
               const SheetLayout& layout);

  // The cell's frame in its place: the result, and the lit combined normal
  // beside it where the normal stage ran.
  void place(std::size_t cell, const Frame& frame);

  // Draws the title and the labels and hands the pictures over. Throws
  // std::runtime_error when a text cannot be drawn.
  SheetImages finish();

 private:
  // Where everything lies on the sheet. Each column is as wide as its panels
  // or its widest label, whichever is wider; panels and labels are centred
  // in it.
  struct Grid {
    int panels, panel_gap, margin, title_height, row_height, cell_width, columns, rows, width,
        height;
    std::vector<int> column_widths;
    std::size_t column(std::size_t i) const;
    int column_width(std::size_t i) const;
    int column_x(std::size_t i) const;
    int cell_x(std::size_t i) const;
    int cell_y(std::size_t i) const;
  };

  // Baseline to baseline, when the title takes more than one line.
  int title_line_step() const;

  // The label's baseline below the top of its cell's panels.
  int label_baseline() const;

  // Each cell's panels and label on a picture of their own, as wide as the
  // widest column of the sheet.
  std::vector<OIIO::ImageBuf> cell_pictures() const;

  std::vector<std::string> labels_;
  int title_size_ = 0;
  std::vector<std::string> title_lines_;
  SheetLayout layout_;
  Grid grid_;
  SheetImages images_;
};

// The gap between a cell's two panels, for cells of `cell` pixels.
int panel_gap(int cell);

// One frame's panels as a sheet shows them, without title or label: the
// result, and the lit combined normal beside it where the normal stage ran;
// RGB floats in [0, 1], the same pixels as the frame's cell on a sheet of
// its size.
OIIO::ImageBuf frame_display(const Frame& frame);

// The brightness of a surface with normal n under the preview's one light
// (from the upper left, in front), with a little ambient and a highlight.
// The normal is normalised first; a zero normal gives 0, a NaN gives NaN.
float lit(strataMix_vector n);

// The colour shown for a pixel's result on screen, in [0, 1]: a colour
// clamped, a normal mapped from [-1, 1]; NaN or infinity shows magenta.
std::array<float, 3> display_color(ResultKind kind, const float* rgba);

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_COMPOSITOR_H
