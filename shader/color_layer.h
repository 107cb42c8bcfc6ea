// The colour layer stage: lays layerColor over the base colour with one of 23
// blend modes, then weights the result by the layer's alpha and the amount.
#ifndef STRATAMIX_SHADER_COLOR_LAYER_H
#define STRATAMIX_SHADER_COLOR_LAYER_H

#include <cstdint>

#include "blend_modes.h"
#include "renderer.h"
#include "strataMix.h"

namespace strata {

// The blended colour of mode over base, before the layer-alpha and amount
// mixes. Each channel is computed alike, alpha included; then the mode's own
// clamp, cap or normalisation.
strataMix_color blend_colors(BlendMode mode, strataMix_color base, strataMix_color layer,
                             float amount);

// The whole blend: the mode, then the layer-alpha mix (always for mode 0, at
// most once), then the amount mix unless the amount is exactly 1.
strataMix_color blend_layer(BlendMode mode, strataMix_color base, strataMix_color layer,
                            float amount, bool use_layer_alpha);

enum class LayerOutcome { proceed, mode_out_of_range };

// Runs the stage: reads baseColor into *working and, when blendEnable is on,
// the four blend parameters in their fixed order. On mode_out_of_range
// *working holds baseColor and the call must end without correction.
LayerOutcome run_color_layer_stage(mi_state* state, const strataMix_params* params,
                                   strataMix_color* working);

}  // namespace strata

#endif  // STRATAMIX_SHADER_COLOR_LAYER_H
