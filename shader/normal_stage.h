// The normal stage: combines up to eight layer normals with the incoming
// surface normal and leaves the combined normal in the state.
#ifndef STRATAMIX_SHADER_NORMAL_STAGE_H
#define STRATAMIX_SHADER_NORMAL_STAGE_H

#include "renderer.h"
#include "strataMix.h"

namespace strata {

// What the call does after the stage: the colour path, or return the
// combined normal as a colour (normalAsColor on).
enum class NormalOutcome { color_path, normal_as_color };

// Runs the stage: reads its parameters in their fixed order through `read`,
// and writes the combined normal into the state. Instantiated for the
// evaluating and the in-place reader.
template <typename Read>
NormalOutcome run_normal_stage(mi_state* state, const strataMix_params* params, Read read);

}  // namespace strata

#endif  // STRATAMIX_SHADER_NORMAL_STAGE_H
