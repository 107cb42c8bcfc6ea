// The contact sheets the preview renders when it is given no preset: every
// blend mode, colour-correction settings, normal layering.
#ifndef STRATAMIX_PREVIEW_CATALOGUE_H
#define STRATAMIX_PREVIEW_CATALOGUE_H

#include <array>
#include <string_view>
#include <vector>

#include "sheet.h"

namespace strata::preview {

Sheet blend_mode_sheet();
Sheet color_correct_sheet();
Sheet normal_sheet();

struct SheetEntry {
  std::string_view name;  // the file name's stem, as --sheet names it
  std::string_view description;
  Sheet (*make)();
};

inline constexpr std::array kSheets = {
    SheetEntry{"blend-modes", "every blend mode, a base ramp across and a layer ramp upward",
               blend_mode_sheet},
    SheetEntry{"color-correct", "colour-correction settings over hues and values",
               color_correct_sheet},
    SheetEntry{"normals", "layered normals on spheres, as a colour and lit", normal_sheet},
};

// The sheet of one entry, named after it.
Sheet make_sheet(const SheetEntry& entry);

// Every sheet of kSheets, in its order.
std::vector<Sheet> default_sheets();

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_CATALOGUE_H
