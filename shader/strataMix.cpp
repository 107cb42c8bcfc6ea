// The shader entry: the two ray-type gates, the order of the stages, and
// every exit with what it writes.
#include "strataMix.h"

#include "color_correct.h"
#include "color_layer.h"
#include "evaluate.h"
#include "normal_stage.h"
#include "renderer.h"

namespace strata {
namespace {

// The gates are on only when exactly 1, not merely non-zero.
bool gate_taken(mi_state* state, const strataMix_params* params) {
  const std::int32_t type = state_ray_type(state);
  if (evaluate(state, &params->skipPhotons) == 1 && is_photon_or_final_gather_ray(type)) {
    return true;
  }
  // Read only when the photon gate did not fire.
  return evaluate(state, &params->skipReflections) == 1 && is_reflection_or_refraction_ray(type);
}

strataMix_color normal_as_color(strataMix_vector n) { return {n.x, n.y, n.z, 1.0f}; }

}  // namespace
}  // namespace strata

extern "C" STRATAMIX_API int32_t strataMix(strataMix_result* result, mi_state* state,
                                           strataMix_params* params) {
  using namespace strata;
  if (evaluate(state, &params->normalEnable) != 0) {
    const std::int32_t output_normal = evaluate(state, &params->outputNormal);
    if (gate_taken(state, params)) {
      // The state is left as the renderer passed it in.
      if (output_normal != 0) {
        result->outNormal = state_normal(state);
      } else {
        result->outColor = evaluate(state, &params->baseColor);
      }
      return 1;
    }
    // The combined normal stays in the state whatever the exit, so that
    // connected colour-path parameters are evaluated with it.
    const std::int32_t as_color = run_normal_stage(state, params);
    if (output_normal != 0) {
      result->outNormal = state_normal(state);
      return 1;
    }
    if (as_color != 0) {
      result->outColor = normal_as_color(state_normal(state));
      return 1;
    }
  }

  strataMix_color working;
  if (run_color_layer_stage(state, params, &working) == LayerOutcome::mode_out_of_range) {
    // working still holds baseColor; the correction is not evaluated.
    result->outColor = working;
    return 1;
  }
  run_color_correction_stage(state, params, &working);
  result->outColor = working;
  return 1;
}
