// The colour layer stage: lays layerColor over the base colour with one of 23
// blend modes, then weights the result by the layer's alpha and the amount.
#ifndef STRATAMIX_SHADER_COLOR_LAYER_H
#define STRATAMIX_SHADER_COLOR_LAYER_H

#include <cstdint>

#include "renderer.h"
#include "strataMix.h"

namespace strata {

// The record's numbers; stored values never change meaning.
enum class BlendMode : std::uint32_t {
  over = 0,
  replace = 1,
  add = 2,
  add_clamped = 3,
  add_normalized = 4,
  multiply = 5,
  multiply_clamped = 6,
  linear_burn = 7,
  screen = 8,
  darken = 9,
  lighten = 10,
  difference = 11,
  average = 12,
  negation = 13,
  exclusion = 14,
  overlay = 15,
  hard_light = 16,
  soft_light = 17,
  color_dodge = 18,
  color_burn = 19,
  reflect = 20,
  glow = 21,
  linear_light = 22,
};

constexpr std::uint32_t kBlendModeCount = 23;

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
