#include "color_correct.h"

#include <cstdint>

#include "evaluate.h"
#include "float_model.h"

namespace strata {
namespace {

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

constexpr float kOneSixth = 0x1.555556p-3f;       // 0x3E2AAAAB, the float nearest 1/6
constexpr float kContrastPivot = 0x1.3d70a4p-2f;  // 0x3E9EB852, 0.31

float store(real v) { return static_cast<float>(v); }

// The HSV round trip runs unless the three factors sum to exactly 3. The sum
// is formed in a different order by each model, so that factors which round
// differently may disagree at the edge.
bool hsv_is_neutral(float h, float s, float v) {
  if constexpr (kSingleModel) {
    return (h + s) + v == 3.0f;
  } else {
    return (double(v) + double(s)) + double(h) == 3.0;
  }
}

Hsv rgb_to_hsv(float r, float g, float b);
void hsv_to_rgb(float hue, float saturation, float value, float* r, float* g, float* b);

STRATA_STAGE_INLINE strataMix_color apply_hsv(strataMix_color c, float hue_factor,
                                              float saturation_factor, float value_factor) {
  const Hsv hsv = rgb_to_hsv(c.r, c.g, c.b);
  const float h2 = store(real(hue_factor) * real(hsv.hue));
  const float s2 = store(real(hsv.saturation) * real(saturation_factor));
  const float v2 = store(real(hsv.value) * real(value_factor));
  hsv_to_rgb(h2, s2, v2, &c.r, &c.g, &c.b);
  return c;
}

float apply_gamma(float c, float exponent) { return store(power(c, exponent)); }

// (0.31 - c) t + c, one rounding; fused in the single model, where t and the
// difference are rounded first.
float apply_contrast(float c, real t) {
  return store(fused_madd(real(kContrastPivot) - real(c), t, c));
}

Hsv rgb_to_hsv(float r, float g, float b) {
  // Strict comparisons, in this order: ties keep the earlier channel.
  float lo = r;
  if (g < lo) {
    lo = g;
  }
  if (b < lo) {
    lo = b;
  }
  float hi = r;
  if (g > hi) {
    hi = g;
  }
  if (b > hi) {
    hi = b;
  }

  if (hi == lo) {
    return {0.0, 0.0f, hi};
  }
  real f;
  real sector_base;
  // A red maximum with equal green and blue takes the green branch and gets
  // hue 1, not 0.
  if (r == lo) {
    f = real(g) - real(b);
    sector_base = 3;
  } else if (g == lo) {
    f = real(b) - real(r);
    sector_base = 5;
  } else {
    f = real(r) - real(g);
    sector_base = 1;
  }
  const float d = store(real(hi) - real(lo));
  double hue;
  if constexpr (kSingleModel) {
    hue = (sector_base - f / real(d)) / real(6);
  } else {
    hue = (sector_base - f / real(d)) * real(kOneSixth);
  }
  return {hue, store(real(d) / real(hi)), hi};
}

// Back to r, g, b from an adjusted hue, saturation and value; a hue whose
// sector falls outside 0..6 (negative, 7 or more, NaN, out of integer range)
// leaves *r, *g, *b as they were.
void hsv_to_rgb(float hue, float saturation, float value, float* r, float* g, float* b) {
  // x stays unrounded in the wide model and the sector is taken from it; in
  // the single model x is the rounded h6. Within rounding distance below 7
  // the wide model therefore finds sector 6 where the single model finds 7.
  const real x = real(hue) * real(6);
  const float h6 = store(x);
  const double sector_floor = double_floor(x);
  // Only sectors 0..6 change the colour. Testing the floor before converting
  // keeps NaN and values outside the integer range out of the conversion,
  // which would be undefined; they leave the colour unchanged.
  if (!(sector_floor >= 0.0 && sector_floor <= 6.0)) {
    return;
  }
  const int sector = static_cast<int>(sector_floor);
  float q = store(real(h6) - real(sector));
  if (sector % 2 == 0) {
    q = store(real(1) - real(q));
  }
  const float m = store(real(value) * (real(1) - real(saturation)));
  const float n = store(real(value) * (real(1) - real(saturation) * real(q)));
  switch (sector) {
    // The hexcone closes on itself: hue 1 (h6 in [6, 7)) is red again, and
    // with the same even fold of q sector 6 gives sector 0's colours.
    case 0:
    case 6:
      *r = value, *g = n, *b = m;
      return;
    case 1:
      *r = n, *g = value, *b = m;
      return;
    case 2:
      *r = m, *g = value, *b = n;
      return;
    case 3:
      *r = m, *g = n, *b = value;
      return;
    case 4:
      *r = n, *g = m, *b = value;
      return;
    case 5:
      *r = value, *g = m, *b = n;
      return;
    default:
      return;
  }
}

// The four sub-steps in order, each skipped at its neutral value. No channel
// is clamped at any point.
STRATA_STAGE_INLINE strataMix_color correct_color(strataMix_color c, const Correction& adjust) {
  const float hue_factor = store(real(adjust.hue) + real(1));
  const float saturation_factor = store(real(adjust.saturation) + real(1));
  const float value_factor = store(real(adjust.value) + real(1));
  if (!hsv_is_neutral(hue_factor, saturation_factor, value_factor)) {
    c = apply_hsv(c, hue_factor, saturation_factor, value_factor);
  }
  if (adjust.gamma != 1.0f) {
    const float exponent = store(real(1) / real(adjust.gamma));
    c = {apply_gamma(c.r, exponent), apply_gamma(c.g, exponent), apply_gamma(c.b, exponent),
         apply_gamma(c.a, exponent)};
  }
  if (adjust.offset != 0.0f) {
    const real o = adjust.offset;
    c = {store(o + real(c.r)), store(o + real(c.g)), store(o + real(c.b)), store(o + real(c.a))};
  }
  if (adjust.contrast != 1.0f) {
    const real t = real(1) - real(adjust.contrast);
    c = {apply_contrast(c.r, t), apply_contrast(c.g, t), apply_contrast(c.b, t),
         apply_contrast(c.a, t)};
  }
  return c;
}

}  // namespace

template <typename Read>
void run_color_correction_stage(const strataMix_params* params, Read read,
                                strataMix_color* working) {
  if (read(&params->correctEnable) == 0) {
    return;
  }
  // All six are read before any is tested.
  Correction adjust;
  adjust.hue = read(&params->hueAdjust);
  adjust.saturation = read(&params->saturationAdjust);
  adjust.value = read(&params->valueAdjust);
  adjust.gamma = read(&params->gamma);
  adjust.offset = read(&params->offset);
  adjust.contrast = read(&params->contrast);
  *working = correct_color(*working, adjust);
}

template void run_color_correction_stage(const strataMix_params*, EvaluatingReader,
                                         strataMix_color*);
template void run_color_correction_stage(const strataMix_params*, InPlaceReader, strataMix_color*);

}  // namespace strata
