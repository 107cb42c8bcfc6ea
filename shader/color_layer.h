// The colour layer stage: lays layerColor over the base colour with one of 23
// blend modes, then weights the result by the layer's alpha and the amount.
#ifndef STRATAMIX_SHADER_COLOR_LAYER_H
#define STRATAMIX_SHADER_COLOR_LAYER_H

#include <cstdint>

#include "blend_modes.h"
#include "strataMix.h"

namespace strata {

enum class LayerOutcome { proceed, mode_out_of_range };

// Runs the stage: reads baseColor into *working and, when blendEnable is on,
// the four blend parameters in their fixed order, through `read`. On
// mode_out_of_range *working holds baseColor and the call must end without
// correction. Instantiated for the evaluating and the in-place reader.
template <typename Read>
LayerOutcome run_color_layer_stage(const strataMix_params* params, Read read,
                                   strataMix_color* working);

}  // namespace strata

#endif  // STRATAMIX_SHADER_COLOR_LAYER_H
