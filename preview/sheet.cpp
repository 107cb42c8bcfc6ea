#include "sheet.h"

#include <utility>

#include "textures.h"

namespace strata::preview {
namespace {

// A cell's host: the preview's defaults, then the cell's preset, its
// textures opened by the paths it holds (a preset file's are made relative
// to its folder as it is read).
void set_up_cell(const Cell& cell, host::Host* host) {
  set_preview_defaults(&host->params());
  TextureFiles textures({{}, false});
  apply_preset(cell.preset, host, &textures);
}

}  // namespace

int sheet_panels(const Sheet& sheet, host::ShaderFn shader) {
  for (const Cell& cell : sheet.cells) {
    host::Host h;
    set_up_cell(cell, &h);
    if (probe_exit(h, shader, kRayEye).normal_stage) {
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

void open_textures(const Sheet& sheet) {
  for (const Cell& cell : sheet.cells) {
    host::Host h;
    set_up_cell(cell, &h);
  }
}

SheetImages render_sheet(const Sheet& sheet, host::ShaderFn shader, const SheetLayout& layout,
                         unsigned threads, ProgressMeter* meter,
                         const std::function<void()>& tick) {
  std::vector<std::string> labels;
  for (const Cell& cell : sheet.cells) {
    labels.push_back(cell.label);
  }
  SheetPicture picture(sheet.title, std::move(labels), sheet.columns, sheet_panels(sheet, shader),
                       layout);
  const View view{layout.cell, layout.cell, sheet.shape, layout.aa};
  std::uint64_t samples = 0;
  for (std::size_t i = 0; i < sheet.cells.size(); ++i) {
    host::Host h;
    set_up_cell(sheet.cells[i], &h);
    const Frame frame = render_frame(h, shader, view, threads, meter, tick);
    samples += frame.samples;
    picture.place(i, frame);
  }
  SheetImages images = picture.finish();
  images.samples = samples;
  return images;
}

}  // namespace strata::preview
