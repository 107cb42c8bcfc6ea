// The shader's flow: the two ray-type gates, the order of the stages, and
// every exit with what it writes. One body, instantiated by the plug-in's
// entry for both of its readers and by the benchmarks' arithmetic floor.
#ifndef STRATAMIX_SHADER_FLOW_H
#define STRATAMIX_SHADER_FLOW_H

#include <cstdint>

#include "color_correct.h"
#include "color_layer.h"
#include "evaluate.h"
#include "normal_stage.h"
#include "renderer.h"
#include "strataMix.h"

namespace strata {

// The gates are on only when exactly 1, not merely non-zero.
template <typename Read>
bool gate_taken(const mi_state* state, const strataMix_params* params, Read read) {
  const std::int32_t type = state_ray_type(state);
  if (read(&params->skipPhotons) == 1 && is_photon_or_final_gather_ray(type)) {
    return true;
  }
  // Read only when the photon gate did not fire.
  return read(&params->skipReflections) == 1 && is_reflection_or_refraction_ray(type);
}

inline strataMix_color normal_as_color(strataMix_vector n) { return {n.x, n.y, n.z, 1.0f}; }

// One call of the shader; returns 1 on every path.
template <typename Read>
std::int32_t shade(strataMix_result* result, mi_state* state, const strataMix_params* params,
                   Read read) {
  if (read(&params->normalEnable) != 0) {
    const std::int32_t output_normal = read(&params->outputNormal);
    if (gate_taken(state, params, read)) {
      // The state is left as the renderer passed it in.
      if (output_normal != 0) {
        result->outNormal = state_normal(state);
      } else {
        result->outColor = read(&params->baseColor);
      }
      return 1;
    }
    // The combined normal stays in the state whatever the exit, so that
    // connected colour-path parameters are evaluated with it.
    const NormalOutcome normal = run_normal_stage(state, params, read);
    if (output_normal != 0) {
      result->outNormal = state_normal(state);
      return 1;
    }
    if (normal == NormalOutcome::normal_as_color) {
      result->outColor = normal_as_color(state_normal(state));
      return 1;
    }
  }

  strataMix_color working;
  if (run_color_layer_stage(params, read, &working) == LayerOutcome::mode_out_of_range) {
    // working still holds baseColor; the correction is not evaluated.
    result->outColor = working;
    return 1;
  }
  run_color_correction_stage(params, read, &working);
  result->outColor = working;
  return 1;
}

}  // namespace strata

#endif  // STRATAMIX_SHADER_FLOW_H
