// Contact sheets: a grid of labelled preview cells, each a preset rendered
// on a swatch or a sphere, composed into one picture for people (display)
// and one with the float values (values).
#ifndef STRATAMIX_PREVIEW_SHEET_H
#define STRATAMIX_PREVIEW_SHEET_H

#include <OpenImageIO/imagebuf.h>

#include <functional>
#include <string>
#include <vector>

#include "host.h"
#include "render.h"

namespace strata::preview {

struct Cell {
  std::string label;
  std::string preset;  // preset text, as a preset file holds it
};

struct Sheet {
  std::string name;   // file name stem: "blend-modes"
  std::string title;  // the line above the grid
  Shape shape = Shape::swatch;
  int columns = 6;
  std::vector<Cell> cells;
};

// The three default sheets: every blend mode, colour-correction settings,
// normal layering.
std::vector<Sheet> default_sheets();

struct SheetLayout {
  int cell = 96;       // pixels per side of one panel
  int aa = 2;          // samples per pixel along each axis
  int font_size = 13;  // label height in pixels
  std::string font;    // path of a TrueType font for the labels
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
  std::uint64_t samples = 0;
};

// Renders every cell of the sheet with the plug-in's shader. Throws
// std::runtime_error when a cell's preset is bad (naming the cell) or the
// labels cannot be drawn.
SheetImages render_sheet(const Sheet& sheet, host::ShaderFn shader, const SheetLayout& layout,
                         unsigned threads, ProgressMeter* meter = nullptr,
                         const std::function<void()>& tick = {});

// Shader calls the sheet takes at most (every sample on the surface).
std::uint64_t sheet_samples(const Sheet& sheet, const SheetLayout& layout);

// The panels one cell of the sheet shows: 2 when a cell runs the normal
// stage (result and lit normal), else 1.
int sheet_panels(const Sheet& sheet);

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_SHEET_H
