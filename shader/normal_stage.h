// The normal stage: combines up to eight layer normals with the incoming
// surface normal and leaves the combined normal in the state.
#ifndef STRATAMIX_SHADER_NORMAL_STAGE_H
#define STRATAMIX_SHADER_NORMAL_STAGE_H

#include <cstdint>

#include "renderer.h"
#include "strataMix.h"

namespace strata {

// The running average of the stage. The incoming normal is its first member,
// and stands in as the previous layer until a layer contributes.
struct NormalAccumulator {
  strataMix_vector incoming;
  strataMix_vector sum;
  std::int32_t count;
  strataMix_vector previous;
};

NormalAccumulator start_accumulator(strataMix_vector incoming);

// Adds one contributing slot (enabled, weight and balance both non-zero).
void accumulate_layer(NormalAccumulator& acc, strataMix_vector layer, float weight, float balance);

// The average of the members, mixed toward `current` (the state's normal at
// the mix step) unless mix is exactly 0 or 1.
strataMix_vector average_and_mix(const NormalAccumulator& acc, float mix, strataMix_vector current);

// Multiplies by s unless s is exactly 0 or 1.
strataMix_vector scale_normal(strataMix_vector n, float s);

// Unit length; a zero-length normal is returned unchanged.
strataMix_vector normalize_normal(strataMix_vector n);

// Runs the stage: reads its parameters in their fixed order, writes the
// combined normal into the state, and returns the value of normalAsColor.
std::int32_t run_normal_stage(mi_state* state, const strataMix_params* params);

}  // namespace strata

#endif  // STRATAMIX_SHADER_NORMAL_STAGE_H
