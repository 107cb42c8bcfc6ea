// Rounding points inside a computation. The wide model evaluates each
// formula in double and rounds where the result is stored to a float; the
// next formula starts from that rounded float. A compiler that carries the
// unrounded double on instead (as GCC 12's vectoriser did on x86-64, folding
// double -> float -> double away) changes the bits, and the builds for two
// platforms no longer agree.
#include <gtest/gtest.h>

#include "harness.h"

namespace strata::test {
namespace {

// One layer through the blending branch (balance not 0.5): the layer is
// first interpolated by its balance and stored to float, then blended, and
// the sum of the three members is averaged. Expected bits: the stage's
// formulas worked step by step in IEEE double (wide) or float (single)
// arithmetic, rounding at each store. Carrying the interpolated layer
// unrounded into the blend gives x = 0xbff0a16f.
TEST(RoundingPoints, BalancedLayerIsRoundedBeforeTheBlend) {
  host::Host h;
  strataMix_params& p = h.params();
  p.normalEnable = 1;
  p.outputNormal = 1;
  p.layerCount = 1;
  p.layerEnable[0] = 1;
  p.layerWeight[0] = 1.0f;
  p.layerBalance[0] = from_bits(0xbf452037);  // -0.7700
  p.layerNormal[0] = {from_bits(0x3f5cadbb), from_bits(0x3f76371a), from_bits(0xbe8fd2b6)};
  p.normalMix = 1.0f;
  p.normalScale = 1.0f;
  const strataMix_vector incoming{from_bits(0xbf732751), from_bits(0x31a57c93),
                                  from_bits(0xbf2c9b65)};

  const Call c = shade(h, 0, incoming);
  // Both models agree here: every single-precision step happens to round to
  // the same float as the double formula.
  const float expected[3] = {from_bits(0xbff0a16d), from_bits(0xbefcc9d9), from_bits(0xbf604c84)};
  EXPECT_EQ(hex(c.result.outNormal), hex(expected, 3));
}

}  // namespace
}  // namespace strata::test
