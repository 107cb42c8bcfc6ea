// Contact sheets: a grid of labelled preview cells, each a preset rendered
// on a swatch or a sphere by the renderer, one cell after another, and laid
// out by the compositor.
#ifndef STRATAMIX_PREVIEW_SHEET_H
#define STRATAMIX_PREVIEW_SHEET_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compositor.h"
#include "host.h"
#include "preset.h"
#include "render.h"

namespace strata::preview {

struct Cell {
  std::string label;
  Preset preset;
};

struct Sheet {
  std::string name;   // file name stem: "blend-modes"
  std::string title;  // above the grid, after "strataMix"
  Shape shape = Shape::swatch;
  int columns = 6;
  std::vector<Cell> cells;
};

// Renders every cell of the sheet with the plug-in's shader. Throws
// std::runtime_error when the labels cannot be measured or drawn.
SheetImages render_sheet(const Sheet& sheet, host::ShaderFn shader, const SheetLayout& layout,
                         unsigned threads, ProgressMeter* meter = nullptr,
                         const std::function<void()>& tick = {});

// Shader calls the sheet takes at most (every sample on the surface).
std::uint64_t sheet_samples(const Sheet& sheet, const SheetLayout& layout);

// The panels one cell of the sheet shows: 2 when the plug-in runs the normal
// stage for a cell (result and lit normal), else 1.
int sheet_panels(const Sheet& sheet, host::ShaderFn shader);

// Sets every cell up once, opening the textures its preset names by the
// paths it holds. Throws PresetError for one that cannot be read.
void open_textures(const Sheet& sheet);

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_SHEET_H
