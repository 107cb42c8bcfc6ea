// The contact sheets the preview renders when it is given no preset: every
// blend mode, colour-correction settings, normal layering.
#ifndef STRATAMIX_PREVIEW_CATALOGUE_H
#define STRATAMIX_PREVIEW_CATALOGUE_H

#include <vector>

#include "sheet.h"

namespace strata::preview {

std::vector<Sheet> default_sheets();

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_CATALOGUE_H
