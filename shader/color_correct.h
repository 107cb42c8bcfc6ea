// The colour correction stage: hue, saturation and value through an RGB to
// HSV to RGB round trip, then gamma, offset and contrast.
#ifndef STRATAMIX_SHADER_COLOR_CORRECT_H
#define STRATAMIX_SHADER_COLOR_CORRECT_H

#include "strataMix.h"

namespace strata {

// Runs the stage: reads correctEnable and, when it is on, all six adjusters
// in their fixed order through `read` before anything is computed, then
// corrects *working. Instantiated for the evaluating and the in-place reader.
template <typename Read>
void run_color_correction_stage(const strataMix_params* params, Read read,
                                strataMix_color* working);

}  // namespace strata

#endif  // STRATAMIX_SHADER_COLOR_CORRECT_H
