// Colour-path helpers shared by the colour layer and colour correction tests:
// a record that takes the colour path, and a bit-exact colour comparison.
#ifndef STRATAMIX_TESTS_COLOUR_BITS_H
#define STRATAMIX_TESTS_COLOUR_BITS_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "harness.h"

namespace strata::test {

// In an expected colour, this NaN (0x7fc00000) stands for any NaN: the sign
// and payload of a NaN that comes out of arithmetic are the processor's, not
// the shader's. Every other expected pattern, NaNs included, must match bit
// for bit (a NaN that passes through a comparison keeps its own bits).
inline const float kAnyNaN = std::numeric_limits<float>::quiet_NaN();

// NaNs with payloads the arithmetic never makes, to see them pass unchanged.
inline const float kNaNIn = from_bits(0x7fc0abcd);
inline const float kNegNaNIn = from_bits(0xffc0dcba);

inline ::testing::AssertionResult same_bits(const strataMix_color& got,
                                            const strataMix_color& want) {
  const float* g = &got.r;
  const float* w = &want.r;
  for (int i = 0; i < 4; ++i) {
    const bool match = bits(w[i]) == bits(kAnyNaN) ? std::isnan(g[i]) : bits(g[i]) == bits(w[i]);
    if (!match) {
      return ::testing::AssertionFailure()
             << "channel "
             << "rgba"[i] << ": got " << hex(got) << ", want " << hex(want);
    }
  }
  return ::testing::AssertionSuccess();
}

// A record on the colour path (normal stage off) with both stages off and
// the correction's settings neutral.
inline void colour_path(strataMix_params& p, strataMix_color base) {
  p.normalEnable = 0;
  p.baseColor = base;
  p.gamma = 1.0f;
  p.contrast = 1.0f;
}

inline void blend_settings(strataMix_params& p, std::int32_t mode, strataMix_color layer,
                           float amount, bool use_layer_alpha) {
  p.blendEnable = 1;
  p.blendMode = mode;
  p.layerColor = layer;
  p.blendAmount = amount;
  p.useLayerAlpha = use_layer_alpha ? 1 : 0;
}

}  // namespace strata::test

#endif  // STRATAMIX_TESTS_COLOUR_BITS_H
