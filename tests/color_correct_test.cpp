// The colour correction stage through the plug-in: the HSV round trip and its
// sectors, gamma, offset and contrast, the places where the two float models
// part, hues the sector table cannot hold, and the reads.
//
// Expected values are exact bits. Where they depend on the float model both
// are given, worked out by hand and with tests/reference/colour_model.py.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "colour_bits.h"
#include "harness.h"
#include "pow_count.h"

namespace strata::test {
namespace {

const float N = kAnyNaN;
const float kInf = std::numeric_limits<float>::infinity();
const float k031 = from_bits(0x3e9eb852);  // the contrast pivot, 0.31f

// The six adjusters, in record order; neutral is {0, 0, 0, 1, 0, 1}.
struct Adjust {
  float hue;
  float saturation;
  float value;
  float gamma;
  float offset;
  float contrast;
};

constexpr Adjust hsv(float hue, float saturation, float value) {
  return {hue, saturation, value, 1, 0, 1};
}
constexpr Adjust gamma(float g) { return {0, 0, 0, g, 0, 1}; }
constexpr Adjust offset(float o) { return {0, 0, 0, 1, o, 1}; }
constexpr Adjust contrast(float c) { return {0, 0, 0, 1, 0, c}; }

void set_adjust(strataMix_params& p, const Adjust& a) {
  p.correctEnable = 1;
  p.hueAdjust = a.hue;
  p.saturationAdjust = a.saturation;
  p.valueAdjust = a.value;
  p.gamma = a.gamma;
  p.offset = a.offset;
  p.contrast = a.contrast;
}

Call correct(strataMix_color in, const Adjust& a) {
  host::Host h;
  colour_path(h.params(), in);
  set_adjust(h.params(), a);
  return shade(h);
}

struct Row {
  const char* edge;
  strataMix_color in;
  Adjust adjust;
  strataMix_color want;
};

void check(const Row& r) {
  SCOPED_TRACE(r.edge);
  const Call call = correct(r.in, r.adjust);
  EXPECT_EQ(call.returned, 1);
  EXPECT_TRUE(same_bits(call.result.outColor, r.want));
}

const strataMix_color kRed{1, 0, 0, 1};
const strataMix_color kBlueish{0.2f, 0.4f, 0.8f, 1};

// The values stated for the stage, and the sub-steps' own edges; the same
// bits in both float models.
TEST(ColorCorrection, StatedExamples) {
  const strataMix_color offset_01{from_bits(0x3e99999a), 0.5f, from_bits(0x3f666667),
                                  from_bits(0x3f8ccccd)};
  const strataMix_color contrast_2{from_bits(0x3e428f5c), from_bits(0x3f30a3d7),
                                   from_bits(0x3fd851ec), from_bits(0xbe9eb852)};
  // clang-format off
  const Row rows[] = {
      //  edge, colour in, adjusters, expected
      // The round trip alone would give (0x3e999999, 0.7f, 0x3dccccd1).
      {"all neutral: no round trip, the colour passes",
       {0.3f, 0.7f, 0.1f, 0.5f}, {0, 0, 0, 1, 0, 1}, {0.3f, 0.7f, 0.1f, 0.5f}},
      {"hue 0.5, saturation -0.5: the factors sum to 3, HSV skipped",
       kBlueish, hsv(0.5f, -0.5f, 0), kBlueish},
      {"(1, 0, 0) saturation -0.5: hue 1, sector 6",
       kRed, hsv(0, -0.5f, 0), {1, 0.5f, 0.5f, 1}},
      // h' = 1.1f; 6 h' is halfway between two floats and h6 rounds to even,
      // 6.6000004; q = 1 - 0.6000004, n = 1 - q = 0.6000004 (0.6f + 6 ulp).
      {"(1, 0, 0) hue 0.1: x = 6.6, sector 6",
       kRed, hsv(0.1f, 0, 0), {1, from_bits(0x3f1999a0), 0, 1}},
      {"(1, 0, 0) hue 0.2: x = 7.2, sector 7, unchanged",
       kRed, hsv(0.2f, 0, 0), kRed},
      {"hue factor -1: sector -6, unchanged",
       kRed, hsv(-2, 0.5f, 1), kRed},
      {"hue factor -0.1: x = -0.6 has floor -1, unchanged",
       kRed, hsv(-1.1f, 0, 0), kRed},
      {"hue factor -0.5 on a bluish colour: unchanged",
       kBlueish, hsv(-1.5f, -0.5f, 1), kBlueish},
      {"grey, value 1: (1, 1, 1)",
       {0.5f, 0.5f, 0.5f, 1}, hsv(0, 0, 1), {1, 1, 1, 1}},
      {"grey: only the value factor acts",
       {0.25f, 0.25f, 0.25f, 0.5f}, hsv(3, 2, 0.5f), {0.375f, 0.375f, 0.375f, 0.5f}},
      {"black stays black",
       {0, 0, 0, 0.5f}, hsv(0.3f, 1, 2), {0, 0, 0, 0.5f}},
      {"black with a negative value factor: 0 times -2 is -0",
       {0, 0, 0, 0.5f}, hsv(0, 0, -3), {-0.0f, -0.0f, -0.0f, 0.5f}},
      {"saturation -1: every channel the maximum",
       kBlueish, hsv(0, -1, 0), {0.8f, 0.8f, 0.8f, 1}},
      // Green is the minimum, so k = 5 and H = 1; factor 0.5 puts it in
      // sector 3. Had the hue been 0, it would stay in sector 0 unchanged.
      {"red maximum, green = blue: hue 1, not 0",
       {1, 0.5f, 0.5f, 1}, hsv(-0.5f, 0, 0), {0.5f, 1, 1, 1}},
      {"a NaN saturation runs the round trip: m and n are NaN",
       {1, 0.5f, 0, 1}, hsv(0, N, 0), {1, N, N, 1}},
      {"gamma 0.5 on (0.25, 0.5, 1, 1): squares",
       {0.25f, 0.5f, 1, 1}, gamma(0.5f), {0.0625f, 0.25f, 1, 1}},
      {"gamma 2: square roots, alpha included",
       {0.25f, 0.0625f, 1, 0.5625f}, gamma(2), {0.5f, 0.25f, 1, 0.75f}},
      {"gamma 0: an infinite exponent",
       {0.5f, 1, 2, 0.25f}, gamma(0), {0, 1, kInf, 0}},
      {"gamma 2 (exponent 0.5) on a negative channel is NaN",
       {-0.25f, -0.5f, 0, 1}, gamma(2), {N, N, 0, 1}},
      {"gamma 0.5 on a negative channel: an integral exponent",
       {-0.25f, -0.5f, 0, 1}, gamma(0.5f), {0.0625f, 0.25f, 0, 1}},
      {"a NaN gamma runs: NaN except 1 to any power",
       {0.5f, 1, 2, 1}, gamma(N), {N, 1, N, 1}},
      // 0.1f + 0.2f and 0.1f + 0.8f round up; alpha rises above 1.
      {"offset 0.1 on (0.2, 0.4, 0.8, 1)",
       kBlueish, offset(0.1f), offset_01},
      {"a NaN offset runs",
       kBlueish, offset(N), {N, N, N, N}},
      {"contrast 0: every channel 0.31",
       kBlueish, contrast(0), {k031, k031, k031, k031}},
      // 2c - 0.31 is exact but for c = 1, where it is a tie rounded to even.
      {"contrast 2: 2c - 0.31",
       {0.25f, 0.5f, 1, 0}, contrast(2), contrast_2},
      {"a NaN contrast runs",
       kBlueish, contrast(N), {N, N, N, N}},
      // 0.25 + 0.1f rounds to 0.35f; the other order would give 0.36.
      {"gamma before offset: 0.5 squared, plus 0.1",
       {0.5f, 0.5f, 0.5f, 0.5f}, {0, 0, 0, 0.5f, 0.1f, 1}, {0.35f, 0.35f, 0.35f, 0.35f}},
  };
  // clang-format on
  for (const Row& r : rows) {
    check(r);
  }
}

struct ModelRow {
  const char* edge;
  strataMix_color in;
  Adjust adjust;
  strataMix_color wide;
  strataMix_color single;
};

void check(const ModelRow& r) {
  check(Row{r.edge, r.in, r.adjust, kSingleModel ? r.single : r.wide});
}

// One colour in each sector 0 to 6, saturation halved, alpha 0.25 untouched;
// then the sector edges 1, 3 and 5, where one channel is the unique minimum
// and the other two tie at the maximum: the round trip must give the tied
// pair back equal, under a saturation and under a value change.
TEST(ColorCorrection, EverySectorOfTheRoundTrip) {
  const Adjust half = hsv(0, -0.5f, 0);
  // 0.2f and 0.6f: d = 0.4f (a tie rounded to even), S = 0x3f2aaaab.
  const float lo = 0.2f;
  const float hi = 0.6f;
  // s' = 0.7f: S2 = 0x3eeeeeef is below 0.5, so 1 - S2 is not exact in
  // float; wide m = V (1 - S2) rounded once, single rounds 1 - S2 first.
  const Adjust less_saturated = hsv(0, -0.3f, 0);
  const float m_wide = from_bits(0x3ea3d70b);
  const float m_single = from_bits(0x3ea3d70a);
  // v' = 1.5: V2 = 0.6f 1.5 = 0x3f666667 exactly; m = V2 (1 - S) =
  // 0.2999999940 rounds down to 0x3e999999, the same in both models.
  const Adjust brighter = hsv(0, 0, 0.5f);
  const float v2 = from_bits(0x3f666667);
  const float m_v = from_bits(0x3e999999);
  // clang-format off
  const ModelRow rows[] = {
      //  edge, colour in, adjusters, expected wide, expected single
      {"sector 0", {1, 0.5f, 0, 0.25f}, half, {1, 0.75f, 0.5f, 0.25f}, {1, 0.75f, 0.5f, 0.25f}},
      {"sector 1", {0.5f, 1, 0, 0.25f}, half, {0.75f, 1, 0.5f, 0.25f}, {0.75f, 1, 0.5f, 0.25f}},
      {"sector 2", {0, 1, 0.5f, 0.25f}, half, {0.5f, 1, 0.75f, 0.25f}, {0.5f, 1, 0.75f, 0.25f}},
      // wide: 3.5 times the float 1/6 (a little above 1/6) rounds up to
      // H2 = 0.58333337, so q = 0.50000024 and n = 0.75 - 2 ulp; single:
      // 3.5 / 6 rounds down and 6 H2 rounds back to 3.5 exactly.
      {"sector 3: the 1/6 constant against the division by 6",
       {0, 0.5f, 1, 0.25f}, half, {0.5f, from_bits(0x3f3ffffe), 1, 0.25f}, {0.5f, 0.75f, 1, 0.25f}},
      {"sector 4", {0.5f, 0, 1, 0.25f}, half, {0.75f, 0.5f, 1, 0.25f}, {0.75f, 0.5f, 1, 0.25f}},
      {"sector 5", {1, 0, 0.5f, 0.25f}, half, {1, 0.5f, 0.75f, 0.25f}, {1, 0.5f, 0.75f, 0.25f}},
      {"sector 6", {1, 0, 0, 0.25f}, half, {1, 0.5f, 0.5f, 0.25f}, {1, 0.5f, 0.5f, 0.25f}},
      // Red the minimum, k = 3, f = 0: H = 3 times the float 1/6, 0.5 + 2^-26
      // (wide), 0.5 (single); H2 = 0.5 in both, x = 3, q = 0, n = V.
      {"red unique minimum, green = blue, saturation: sector 3 edge",
       {lo, hi, hi, 0.25f}, less_saturated, {m_wide, hi, hi, 0.25f}, {m_single, hi, hi, 0.25f}},
      {"red unique minimum, green = blue, value: sector 3 edge",
       {lo, hi, hi, 0.25f}, brighter, {m_v, v2, v2, 0.25f}, {m_v, v2, v2, 0.25f}},
      // Green the minimum, k = 5, f = 0: wide H2 = 0x3f555556 and x = 5 +
      // 2^-22, a tie that h6 rounds to 5; single H2 = 0x3f555555 and h6 = 5.
      // Sector 5, q = 0, n = V.
      {"green unique minimum, red = blue, saturation: sector 5 edge",
       {hi, lo, hi, 0.25f}, less_saturated, {hi, m_wide, hi, 0.25f}, {hi, m_single, hi, 0.25f}},
      {"green unique minimum, red = blue, value: sector 5 edge",
       {hi, lo, hi, 0.25f}, brighter, {v2, m_v, v2, 0.25f}, {v2, m_v, v2, 0.25f}},
      // Blue the minimum, the last branch, k = 1, f = 0: H2 = the float 1/6,
      // x = 1 + 2^-25 (wide) or 1 (single); sector 1, q = 0, n = V.
      {"blue unique minimum, red = green, saturation: sector 1 edge",
       {hi, hi, lo, 0.25f}, less_saturated, {hi, hi, m_wide, 0.25f}, {hi, hi, m_single, 0.25f}},
      {"blue unique minimum, red = green, value: sector 1 edge",
       {hi, hi, lo, 0.25f}, brighter, {v2, v2, m_v, 0.25f}, {v2, v2, m_v, 0.25f}},
  };
  // clang-format on
  for (const ModelRow& r : rows) {
    check(r);
  }
}

// The rounding edges where the two float models may part, each model held
// to its own bits; rows with equal bits pin a fused step of the single model
// (the unfused result is in the comment).
TEST(ColorCorrection, EachFloatModelRoundsItsOwnWay) {
  // h' = 0x3f955555, the float just below 7/6: x = 6 h' = 7 - 2^-22 is a
  // tie between 7 - 2^-21 and 7 that rounds to 7. wide takes the sector from
  // the unrounded x: sector 6, q = h6 - 6 = 1 folds to 0, so n = V = 1;
  // single takes it from h6 = 7 and leaves the colour alone.
  const float below_seven_sixths = from_bits(0x3e2aaaa8);  // h' - 1, exact
  const strataMix_color guard_1{from_bits(0x3f7fffff), from_bits(0x357fffff), 0, 1};
  const strataMix_color guard_2{from_bits(0x3f800001), from_bits(0xb4000001), from_bits(0xb4000001),
                                1};
  const strataMix_color contrast_w{from_bits(0x3ebd70a4), k031, from_bits(0x3e9a1cac),
                                   from_bits(0x3f104189)};
  const strataMix_color contrast_s{from_bits(0x3ebd70a3), k031, from_bits(0x3e9a1cac),
                                   from_bits(0x3f104188)};
  const strataMix_color contrast_f{from_bits(0x3e26e979), from_bits(0x3ebef9db),
                                   from_bits(0x3ebef9db), from_bits(0x3e26e979)};
  // clang-format off
  const ModelRow rows[] = {
      {"hue just below 7/6: x within rounding distance below 7",
       kRed, hsv(below_seven_sixths, 0, 0), {1, 1, 0, 1}, kRed},
      // h' = 1 + 2^-23, v' = 1 - 2^-24: the exact sum is 3 + 2^-24 (wide runs
      // the round trip); single rounds h' + s' to 2 (a tie to even) and then
      // the sum to 3, and skips it. wide: H2 = h', h6 = 6 + 2^-20 (another
      // tie), q folds to 1 - 2^-20, n = V2 2^-20, V2 = 1 - 2^-24.
      {"HSV guard: a sum of 3 + 2^-24 that single rounds to 3",
       kRed, hsv(0x1p-23f, 0, -0x1p-24f), guard_1, kRed},
      // s' = v' = 1 + 2^-23: (h' + s') + v' rounds twice to 3 (ties to even),
      // (v' + s') + h' would be 3 + 2^-22 in float too. wide: V2 = 1 + 2^-23,
      // m = n = V2 (1 - S2) = -(2^-23 + 2^-46).
      {"HSV guard: the single model's order of the sum",
       kRed, hsv(0, 0x1p-23f, 0x1p-23f), guard_2, kRed},
      // 0.31f - 0.71f is exact; (0.31f - 0.71f)(1 - 0.15f) + 0.71f =
      // 0.3700000012 rounds to 0x3ebd70a4 (wide); single rounds t = 1 - 0.15f
      // first and its fused result, 0.3699999893, rounds to 0x3ebd70a3.
      // Alpha 2: 0x3f104189 wide, 0x3f104188 single, for the same reason.
      {"contrast 0.15: one double rounding against t rounded, then fused",
       {0.71f, k031, 0.25f, 2}, contrast(0.15f), contrast_w, contrast_s},
      // single: 0.31f - 2 = -1.68999999762 rounds (up in magnitude) to
      // -1.6900000572, and 2 plus that is 0.31f - 2 ulp; wide is exact.
      {"contrast 0 on a channel of 2: the difference rounded in single",
       {2, 0.5f, 0.2f, 1}, contrast(0), {k031, k031, k031, k031},
       {from_bits(0x3e9eb850), k031, k031, k031}},
      // Unfused in single: 0x3e26e97a in red and alpha.
      {"contrast 0.7, fused",
       {0.1f, 0.4f, 0.4f, 0.1f}, contrast(0.7f), contrast_f, contrast_f},
  };
  // clang-format on
  for (const ModelRow& r : rows) {
    check(r);
  }
}

// A hue whose x is NaN, infinite, negative or beyond the 32-bit range
// leaves red, green and blue as they were: not even the saturation and value
// factors act, and the sector is never converted out of range.
TEST(ColorCorrection, HuesOutsideTheSectorTableLeaveTheColour) {
  struct Hue {
    const char* name;
    float adjust;
  };
  const Hue hues[] = {
      {"NaN", N},
      {"+infinity", kInf},
      {"-infinity", -kInf},
      {"1e30", 1e30f},
      {"-1e30", -1e30f},
      {"2^29: x = 3 2^30 on red, above the 32-bit range", 0x1p29f},
      {"2^31: x = 3 2^32 on red, whose low 32 bits are 0", 0x1p31f},
      {"-2^31", -0x1p31f},
  };
  const strataMix_color colours[] = {kRed, kBlueish, {1, 0.5f, 0, 0.25f}};
  for (const Hue& h : hues) {
    for (const strataMix_color& c : colours) {
      SCOPED_TRACE(std::string("hueAdjust ") + h.name + " on " + hex(c));
      const Call call = correct(c, hsv(h.adjust, -0.5f, 1));
      EXPECT_TRUE(same_bits(call.result.outColor, c));
    }
  }
  // A grey has hue 0, and 0 times an infinite factor is NaN.
  SCOPED_TRACE("hueAdjust +infinity on grey");
  const strataMix_color grey{0.5f, 0.5f, 0.5f, 1};
  EXPECT_TRUE(same_bits(correct(grey, hsv(kInf, 0, 1)).result.outColor, grey));
}

// Off, the stage reads none of the six and the blended colour comes out bit
// for bit; on, it reads all six in order even when every one is neutral.
TEST(ColorCorrection, ReadsTheSixAdjustersOnlyWhenOn) {
  struct Switch {
    std::int32_t enable;
    const char* evaluated;
    strataMix_color want;
  };
  const strataMix_color blended{0.225f, 0.225f, 0.225f, 0.225f};  // mode 12, a 0.2, b 0.6
  const Switch switches[] = {
      {0,
       "normalEnable baseColor blendEnable blendAmount layerColor useLayerAlpha blendMode "
       "correctEnable",
       blended},
      {1,
       "normalEnable baseColor blendEnable blendAmount layerColor useLayerAlpha blendMode "
       "correctEnable hueAdjust saturationAdjust valueAdjust gamma offset contrast",
       blended},
      {-1,
       "normalEnable baseColor blendEnable blendAmount layerColor useLayerAlpha blendMode "
       "correctEnable hueAdjust saturationAdjust valueAdjust gamma offset contrast",
       blended},
  };
  for (const Switch& s : switches) {
    SCOPED_TRACE("correctEnable " + std::to_string(s.enable));
    host::Host h;
    colour_path(h.params(), {0.2f, 0.2f, 0.2f, 0.2f});
    blend_settings(h.params(), 12, {0.6f, 0.6f, 0.6f, 0.6f}, 0.5f, false);
    set_adjust(h.params(), {0, 0, 0, 1, 0, 1});
    h.params().correctEnable = s.enable;
    h.connect_all();
    const Call call = shade(h);
    EXPECT_EQ(call.evaluated, split_names(s.evaluated));
    EXPECT_TRUE(same_bits(call.result.outColor, s.want));
  }
}

// A connected adjuster takes the value its shader answers, not the record's.
TEST(ColorCorrection, ConnectedAdjusterUsesTheRenderersValue) {
  host::Host h;
  colour_path(h.params(), kBlueish);
  set_adjust(h.params(), {0, 0, 0, 1, 0, 1});
  h.connect(offsetof(strataMix_params, contrast), [](mi_state&, void* value) {
    const float zero = 0.0f;
    std::memcpy(value, &zero, sizeof zero);
  });
  const Call call = shade(h);
  EXPECT_EQ(call.evaluated, split_names("contrast"));
  EXPECT_EQ(hex(call.result.outColor), "0x3e9eb852 0x3e9eb852 0x3e9eb852 0x3e9eb852");
}

// Gamma takes every channel through the C library's pow, unless it is
// exactly the field's pow_unless value (1, which skips the step): four calls
// for gamma 2, none for gamma 1, counted from the plug-in's own calls. This
// is what the builds' comparison allows a one-ulp difference for.
TEST(ColorCorrection, GammaCallsPowForEveryChannelUnlessOne) {
  if (!kPowCounted) {
    GTEST_SKIP() << "a Windows plug-in imports pow from the C runtime, past the test program";
  }
  const Field* g = find_field("gamma");
  ASSERT_NE(g, nullptr);
  ASSERT_TRUE(g->pow_unless.has_value());
  EXPECT_EQ(*g->pow_unless, 1.0f);
  const struct {
    float gamma;
    std::uint64_t calls;
  } rows[] = {{2.0f, 4}, {0.5f, 4}, {1.0f, 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE("gamma " + std::to_string(r.gamma));
    const std::uint64_t before = pow_calls();
    correct(kBlueish, gamma(r.gamma));
    EXPECT_EQ(pow_calls() - before, r.calls);
  }
  for (const Field& f : kRecordFields) {
    EXPECT_EQ(f.pow_unless.has_value(), &f == g) << f.name << ": only gamma goes through pow";
  }
}

}  // namespace
}  // namespace strata::test
