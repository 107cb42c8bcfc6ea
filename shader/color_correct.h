// The colour correction stage: hue, saturation and value through an RGB to
// HSV to RGB round trip, then gamma, offset and contrast.
#ifndef STRATAMIX_SHADER_COLOR_CORRECT_H
#define STRATAMIX_SHADER_COLOR_CORRECT_H

#include "renderer.h"
#include "strataMix.h"

namespace strata {

// The six adjusters as read from the record; the HSV ones hold a factor
// minus one. Neutral: 0, 0, 0, 1, 0, 1.
struct Correction {
  float hue;
  float saturation;
  float value;
  float gamma;
  float offset;
  float contrast;
};

// Hexcone hue, saturation and value of r, g, b (Smith 1978). Domain: any
// floats; for colours in [0, 1], hue is in [0, 1] and 0 for grey. The hue is
// kept unrounded in the wide model.
struct Hsv {
  double hue;
  float saturation;
  float value;
};
Hsv rgb_to_hsv(float r, float g, float b);

// Back to r, g, b from an adjusted hue, saturation and value; a hue whose
// sector falls outside 0..6 (negative, 7 or more, NaN, out of integer range)
// leaves *r, *g, *b as they were.
void hsv_to_rgb(float hue, float saturation, float value, float* r, float* g, float* b);

// The four sub-steps in order, each skipped at its neutral value. No channel
// is clamped at any point.
strataMix_color correct_color(strataMix_color c, const Correction& adjust);

// Runs the stage: reads correctEnable and, when it is on, all six adjusters
// in their fixed order before anything is computed.
void run_color_correction_stage(mi_state* state, const strataMix_params* params,
                                strataMix_color* working);

}  // namespace strata

#endif  // STRATAMIX_SHADER_COLOR_CORRECT_H
