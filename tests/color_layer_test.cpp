// The colour layer stage through the plug-in: every blend mode against values
// worked out by hand, the two mixes, the properties every mode shares, the
// reads and the out-of-range exit.
//
// Expected values are exact bits. Most rows use dyadic inputs, where both
// float models are exact and agree; rows whose bits depend on the model give
// both, worked out with tests/reference/colour_model.py.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "blend_modes.h"
#include "colour_bits.h"
#include "harness.h"
#include "pow_count.h"

namespace strata::test {
namespace {

constexpr auto kModeCount = static_cast<int>(kBlendModeCount);

std::string mode_name(std::int32_t mode) {
  const std::string_view name = blend_mode_name(mode);
  return "mode " + std::to_string(mode) + (name.empty() ? "" : " " + std::string(name));
}

const float N = kAnyNaN;

Call blend(std::int32_t mode, strataMix_color base, strataMix_color layer, float amount,
           bool use_layer_alpha) {
  host::Host h;
  colour_path(h.params(), base);
  blend_settings(h.params(), mode, layer, amount, use_layer_alpha);
  return shade(h);
}

struct Row {
  const char* edge;
  std::int32_t mode;
  strataMix_color base;
  strataMix_color layer;
  float amount;
  bool use_layer_alpha;
  strataMix_color want;
};

void check(const Row& r) {
  SCOPED_TRACE(mode_name(r.mode) + ": " + r.edge);
  const Call call = blend(r.mode, r.base, r.layer, r.amount, r.use_layer_alpha);
  EXPECT_EQ(call.returned, 1);
  EXPECT_TRUE(same_bits(call.result.outColor, r.want));
}

// Channels are (r, g, b, a); each row names the edges its channels cover.
// Amount 1 skips the amount mix unless a row says otherwise.
TEST(ColorLayer, EveryModeMatchesHandWorkedValues) {
  // clang-format off
  const Row rows[] = {
      //  edge, mode, base, layer, amount, useLayerAlpha, expected
      {"mixed by the layer alpha even with useLayerAlpha off",
       0, {0.25f, 0.5f, 0.75f, 1}, {1, 0, 0.5f, 0.5f}, 1, false, {0.625f, 0.25f, 0.625f, 0.75f}},
      {"a NaN on either side stays NaN; layer alpha 1 gives the layer",
       0, {0.25f, kNaNIn, 0.5f, 1}, {kNaNIn, 0.5f, 0.75f, 1}, 1, false, {N, N, 0.75f, 1}},

      {"the layer whatever its alpha; a NaN layer value passes bit for bit",
       1, {0.25f, 0.5f, 0.75f, 1}, {1, 0, kNaNIn, 0}, 1, false, {1, 0, kNaNIn, 0}},
      {"mixed by the layer alpha when useLayerAlpha is on",
       1, {0.25f, 0.5f, 0.75f, 1}, {1, 0, 0.5f, 0.5f}, 1, true, {0.625f, 0.25f, 0.625f, 0.75f}},

      {"no clamp above 1 or below 0",
       2, {0.25f, 0.75f, -0.5f, 1}, {0.5f, 0.75f, 0.25f, 0.5f}, 1, false,
       {0.75f, 1.5f, -0.25f, 1.5f}},
      {"NaN on either side",
       2, {kNaNIn, 1, 0.25f, 0}, {0.5f, kNaNIn, 0.25f, 0}, 1, false, {N, N, 0.5f, 0}},
      // Alpha mix by the layer's own 0.5 (the blended alpha is 1.5), then
      // amount 0.5: (1, 0.5, 1, 1.5) -> (0.75, 0.375, 0.5, 1.25) -> below.
      {"both mixes, the alpha mix by the layer's alpha as read",
       2, {0.5f, 0.25f, 0, 1}, {0.5f, 0.25f, 1, 0.5f}, 0.5f, true,
       {0.625f, 0.3125f, 0.25f, 1.125f}},

      {"clamped to unit range, alpha too; exactly 1 stays",
       3, {0.25f, 0.75f, -0.5f, 0.75f}, {0.5f, 0.75f, 0.25f, 0.25f}, 1, false, {0.75f, 1, 0, 1}},
      {"NaN passes the clamp",
       3, {kNaNIn, 0.5f, -1, 1}, {0, 0.5f, 0.5f, 1}, 1, false, {N, 1, 0, 1}},

      {"red largest: divided by it; alpha keeps its sum",
       4, {0.5f, 0.25f, 0.25f, 0.75f}, {1.5f, 0.25f, 0.75f, 0.75f}, 1, false,
       {1, 0.25f, 0.5f, 1.5f}},
      {"blue largest, red above green",
       4, {0.5f, 0.25f, 1, 0.25f}, {0.5f, 0.25f, 1, 0.25f}, 1, false, {0.5f, 0.25f, 1, 0.5f}},
      {"green largest, red above blue; alpha is neither tested nor scaled",
       4, {0.5f, 2, 0.25f, 4}, {0.5f, 2, 0.25f, 4}, 1, false, {0.25f, 1, 0.125f, 8}},
      {"no colour sum above 1: plain sums, alpha above 1 included",
       4, {0.5f, 0.25f, 0.25f, 1.5f}, {0.5f, 0.25f, 0.5f, 1.5f}, 1, false, {1, 0.5f, 0.75f, 3}},
      {"a NaN red fails every test; green 2 is the largest",
       4, {kNaNIn, 1, 0.25f, 0}, {0, 1, 0.25f, 0}, 1, false, {N, 1, 0.25f, 0}},
      {"a NaN blue fails every test; red above green still chooses blue",
       4, {1, 0.5f, kNaNIn, 0.25f}, {1, 0.5f, 0, 0.25f}, 1, false, {N, N, N, 0.5f}},
      {"blue largest, green above red",
       4, {0.25f, 0.5f, 1, 0}, {0, 0, 1, 0}, 1, false, {0.125f, 0.25f, 1, 0}},
      {"red = green above blue",
       4, {1, 1, 0.5f, 1}, {1, 1, 0.5f, 1}, 1, false, {1, 1, 0.5f, 2}},
      {"red = blue above green",
       4, {1, 0.5f, 1, 0}, {1, 0.5f, 1, 0}, 1, false, {1, 0.5f, 1, 0}},
      {"green = blue above red",
       4, {0.5f, 1, 1, 0.25f}, {0.5f, 1, 1, 0.25f}, 1, false, {0.5f, 1, 1, 0.5f}},

      {"no clamp",
       5, {0.5f, -2, 4, kNaNIn}, {0.5f, 0.75f, 0.5f, 1}, 1, false, {0.25f, -1.5f, 2, N}},
      {"clamped; NaN passes",
       6, {0.5f, -2, 4, kNaNIn}, {0.5f, 0.75f, 0.5f, 1}, 1, false, {0.25f, 0, 1, N}},

      // (0, -0.5, 0.5, 0) from the formula, then the amount mix.
      {"amount inside the formula and again in the mix; no clamp",
       7, {0.75f, 0.25f, 1, 1}, {0.5f, 0.5f, 1, 0}, 0.5f, false, {0.375f, -0.125f, 0.75f, 0.5f}},
      {"amount 1; below 0 and above 1 stand",
       7, {0.75f, 0.25f, kNaNIn, 2}, {0.5f, 0.5f, 0, 0.5f}, 1, false, {0.25f, -0.25f, N, 1.5f}},

      {"amount 1; a base above 1 gives below 0",
       8, {0.5f, 0, 1, 2}, {0.5f, 0.25f, 0.25f, 2}, 1, false, {0.75f, 0.25f, 1, 0}},
      // (0.375, 0.25, 0.5, NaN) from the formula, then the amount mix.
      {"the amount scales the whole screen value",
       8, {0.5f, 0, 1, kNaNIn}, {0.5f, 0.5f, 0, 0}, 0.5f, false, {0.4375f, 0.125f, 0.75f, N}},

      {"the smaller; a NaN on either side gives the layer's value",
       9, {0.25f, 0.75f, kNaNIn, 0.5f}, {0.5f, 0.5f, 0.25f, kNegNaNIn}, 1, false,
       {0.25f, 0.5f, 0.25f, kNegNaNIn}},
      {"signed zeros compare equal: the layer's zero",
       9, {-0.0f, 0, 1, 1}, {0, -0.0f, 1, 0.5f}, 1, false, {0, -0.0f, 1, 0.5f}},
      {"the larger; a NaN on either side gives the layer's value",
       10, {0.25f, 0.75f, kNaNIn, 0.5f}, {0.5f, 0.5f, 0.25f, kNegNaNIn}, 1, false,
       {0.5f, 0.75f, 0.25f, kNegNaNIn}},
      {"signed zeros compare equal: the layer's zero",
       10, {-0.0f, 0, 1, 1}, {0, -0.0f, 1, 0.5f}, 1, false, {0, -0.0f, 1, 1}},

      // (0.25, 0.5, 0.5, 1.5) from the formula, then the amount mix.
      {"amount inside the formula and in the mix",
       11, {0.25f, 0.75f, 0, 1}, {1, 0.5f, 1, -1}, 0.5f, false, {0.25f, 0.625f, 0.25f, 1.25f}},
      {"amount 1",
       11, {0.25f, 0.75f, kNaNIn, 0}, {1, 0.25f, 0, 0}, 1, false, {0.75f, 0.5f, N, 0}},

      {"amount 1; no clamp",
       12, {0.25f, 1, -1, kNaNIn}, {0.75f, 1, 0.5f, 0}, 1, false, {0.5f, 1, -0.25f, N}},
      // (0.5, 0.25, 0.5, 0.125) from the formula, then the amount mix.
      {"amount inside the formula and in the mix",
       12, {0.5f, 0, 1, 0}, {1, 1, 0, 0.5f}, 0.5f, false, {0.5f, 0.125f, 0.75f, 0.0625f}},

      {"amount 1",
       13, {0.25f, 0.75f, 1, 0}, {0.5f, 0.5f, 1, 2}, 1, false, {0.75f, 0.75f, 0, 0}},
      // (1, 0.5, 0.75, NaN) from the formula, then the amount mix.
      {"amount inside the formula and in the mix",
       13, {0.5f, 0, 1, kNaNIn}, {1, 1, 0.5f, 0.5f}, 0.5f, false, {0.75f, 0.25f, 0.875f, N}},

      {"amount 1",
       14, {0.5f, 0.25f, 1, 0}, {0.5f, 0.5f, 1, 1}, 1, false, {0.5f, 0.5f, 0, 1}},
      // (0.5, 0.5, 0.25, NaN) from the formula, then the amount mix.
      {"amount inside the formula and in the mix",
       14, {0.5f, 1, 0, kNaNIn}, {1, 1, 0.5f, 0}, 0.5f, false, {0.5f, 0.75f, 0.125f, N}},

      {"the base chooses; a base of 2 gives 2",
       15, {0.75f, 0.25f, 2, 0}, {0.25f, 0.75f, 0.5f, 1}, 1, false, {0.625f, 0.375f, 2, 0}},
      {"NaN in the choosing or the other value",
       15, {kNaNIn, 0.25f, 0.5f, 0.5f}, {0.5f, kNaNIn, 0.5f, 0.5f}, 1, false, {N, N, 0.5f, 0.5f}},
      {"the layer chooses: same inputs as overlay",
       16, {0.75f, 0.25f, 2, 0}, {0.25f, 0.75f, 0.5f, 1}, 1, false, {0.375f, 0.625f, 2, 1}},
      {"NaN in the choosing or the other value",
       16, {kNaNIn, 0.25f, 0.5f, 0.5f}, {0.5f, kNaNIn, 0.5f, 0.5f}, 1, false, {N, N, 0.5f, 0.5f}},

      {"both branches; a negative base under the root is NaN",
       17, {0.25f, 0.25f, -0.25f, 0.25f}, {0.25f, 0.75f, 0.75f, kNaNIn}, 1, false,
       {0.15625f, 0.375f, N, N}},
      // At a layer of exactly 0.5 both branches give a, but the root branch
      // gives NaN for a negative base.
      {"a negative base squared; a layer of 0.5 takes the root branch",
       17, {-0.25f, 1, -0.25f, 0.5625f}, {0.25f, 0.5f, 0.5f, 1}, 1, false,
       {-0.09375f, 1, N, 0.75f}},

      {"capped at 1; no lower bound; a layer of exactly 1 gives 1",
       18, {0.75f, 0.5f, 0.25f, 0.5f}, {0.5f, 1.5f, 1, 0.75f}, 1, false, {1, -1, 1, 1}},
      {"NaN passes the cap",
       18, {0.25f, kNaNIn, 2, 0}, {0.5f, 0.5f, 0.75f, kNaNIn}, 1, false, {0.5f, N, 1, N}},

      {"a layer of 0 gives 0; below 0 is raised to 0",
       19, {0.25f, 0.75f, 0.5f, 0.25f}, {0, 0.5f, 0.25f, 2}, 1, false, {0, 0.5f, 0, 0.625f}},
      {"no upper bound; NaN passes; a layer of -0 counts as 0",
       19, {2, kNaNIn, 1, 0.5f}, {0.5f, 0.5f, kNaNIn, -0.0f}, 1, false, {3, N, N, 0}},

      {"capped at 1; no lower bound; a layer of exactly 1 gives 1",
       20, {0.5f, 0.75f, 0.5f, 0.5f}, {0.5f, 1, 2, 0.875f}, 1, false, {0.5f, 1, -0.25f, 1}},
      {"NaN passes the cap",
       20, {kNaNIn, 0.5f, 0.25f, 1}, {0.5f, kNaNIn, 0.75f, 0.5f}, 1, false, {N, N, 0.25f, 1}},

      {"the base guards; capped at 1; no lower bound",
       21, {0.5f, 1, 2, 0.75f}, {0.5f, 8, 0.5f, 0.75f}, 1, false, {0.5f, 1, -0.25f, 1}},
      {"NaN passes; a base of 1 gives 1 even for a NaN layer",
       21, {kNaNIn, 0.5f, -1, 1}, {0.5f, kNaNIn, 1, kNaNIn}, 1, false, {N, N, 0.5f, 1}},

      {"clamped to unit range, alpha too",
       22, {0.25f, 0.5f, 1, 0.75f}, {0.5f, 0, 0.75f, 0.75f}, 1, false, {0.25f, 0, 1, 1}},
      {"NaN passes the clamp",
       22, {kNaNIn, 0.25f, 0, 0}, {0.5f, 0.625f, 0.5f, kNaNIn}, 1, false, {N, 0.5f, 0, N}},
  };
  // clang-format on
  bool covered[kModeCount] = {};
  for (const Row& r : rows) {
    check(r);
    covered[r.mode] = true;
  }
  for (int mode = 0; mode < kModeCount; ++mode) {
    EXPECT_TRUE(covered[mode]) << mode_name(mode) << " has no row";
  }
}

// The values stated for the stage, in both float models.
TEST(ColorLayer, StatedExamples) {
  const strataMix_color base{0.3f, 0.6f, 0.9f, 0.4f};
  const strataMix_color huge{0x1p60f, 0x1p60f, 0x1p60f, 0x1p60f};
  const strataMix_color sums_base{0.8f, 0.6f, 0.2f, 0.7f};
  const strataMix_color sums_layer{0.4f, 0.2f, 0.1f, 0.6f};
  // 1.2, 0.8, 0.3 and 1.3 are the floats nearest the sums of the inputs'
  // floats; 0x3f2aaaaa is 0.8f / 1.2f rounded (below 2/3).
  const float s12 = from_bits(0x3f99999a);
  const float s08 = from_bits(0x3f4ccccd);
  const float s03 = from_bits(0x3e99999a);
  const float s13 = from_bits(0x3fa66666);
  const float h064 = from_bits(0x3f23d70b);
  // clang-format off
  const Row rows[] = {
      {"layer alpha 0 gives the base, useLayerAlpha off",
       0, base, {1, 0, 0.5f, 0}, 1, false, base},
      {"layer alpha 0 gives the base, useLayerAlpha on",
       0, base, {1, 0, 0.5f, 0}, 1, true, base},
      {"useLayerAlpha off gives the layer whatever its alpha",
       1, base, {0.7f, 0.1f, 0.2f, 0}, 1, false, {0.7f, 0.1f, 0.2f, 0}},
      {"layer (1, 0, 0, 0.5) over (0, 0, 1, 1): the alpha mix once",
       0, {0, 0, 1, 1}, {1, 0, 0, 0.5f}, 1, true, {0.5f, 0, 0.5f, 0.75f}},
      {"sums (1.2, 0.8, 0.3, 1.3) normalised by red",
       4, sums_base, sums_layer, 1, false, {1, from_bits(0x3f2aaaaa), 0.25f, s13}},
      {"the same sums clamped",
       3, sums_base, sums_layer, 1, false, {1, s08, s03, 1}},
      {"the same sums unbounded",
       2, sums_base, sums_layer, 1, false, {s12, s08, s03, s13}},
      {"no colour sum above 1: the plain sums",
       4, {0.5f, 0.25f, 0.2f, 0.7f}, {0.5f, 0.5f, 0.1f, 0.6f}, 1, false, {1, 0.75f, s03, s13}},
      // Formula 0.25; mix (0.25 - 0.2f) 0.5 + 0.2f lies halfway between two
      // floats and rounds to the even one, 0x3e666666 (0.225f).
      {"a = 0.2, b = 0.6, amount 0.5: 0.25, then 0.225",
       12, {0.2f, 0.2f, 0.2f, 0.2f}, {0.6f, 0.6f, 0.6f, 0.6f}, 0.5f, false,
       {0.225f, 0.225f, 0.225f, 0.225f}},
      // A mix with amount 1 would give (1 - 2^60) + 2^60 = 0.
      {"amount exactly 1 skips the mix",
       1, huge, {1, 0.5f, 0.25f, 2}, 1, false, {1, 0.5f, 0.25f, 2}},
      {"amount just below 1 mixes: 2^60 - 2^60 (1 - 2^-24)",
       1, huge, {1, 0.5f, 0.25f, 2}, from_bits(0x3f7fffff), false,
       {0x1p36f, 0x1p36f, 0x1p36f, 0x1p36f}},
      // 1 - 2 (0.2f)(0.6f) rounds to 0.76f; 2 (0.8f)(0.4f) lies above 0.64f
      // and rounds to the float after it.
      {"a = 0.8, b = 0.4: overlay 0.76",
       15, {0.8f, 0.8f, 0.8f, 0.8f}, {0.4f, 0.4f, 0.4f, 0.4f}, 1, false,
       {0.76f, 0.76f, 0.76f, 0.76f}},
      {"a = 0.8, b = 0.4: hard light 0.64",
       16, {0.8f, 0.8f, 0.8f, 0.8f}, {0.4f, 0.4f, 0.4f, 0.4f}, 1, false,
       {h064, h064, h064, h064}},
      {"a = 0.25: b = 0.25 gives 0.15625, b = 0.75 gives 0.375",
       17, {0.25f, 0.25f, 0.25f, 0.25f}, {0.25f, 0.75f, 0.25f, 0.75f}, 1, false,
       {0.15625f, 0.375f, 0.15625f, 0.375f}},
      {"b = 1 gives 1; 0.8 / 0.5 capped; 0.5 / (1 - 1.5) = -1 stands",
       18, {0.3f, 0.8f, 0.5f, 0.5f}, {1, 0.5f, 1.5f, 0.5f}, 1, false, {1, 1, -1, 1}},
      {"b = 0 gives 0; a = 0.2, b = 0.5 gives -0.6, raised to 0",
       19, {0.3f, 0.2f, 0.5f, 1}, {0, 0.5f, 0.5f, 0.5f}, 1, false, {0, 0, 0, 1}},
      {"a = 1 gives 1 whatever b",
       21, {1, 1, 1, 1}, {0.3f, -7, 100, kNaNIn}, 1, false, {1, 1, 1, 1}},
      {"alpha 0.9 over 0.8 gives 1.5, clamped to 1",
       22, {0.25f, 0.5f, 0.5f, 0.9f}, {0.5f, 0.25f, 0.5f, 0.8f}, 1, false, {0.25f, 0, 0.5f, 1}},
      {"a NaN base: darken gives the layer's value",
       9, {kNaNIn, kNaNIn, 0.5f, 0.5f}, {0.3f, 0.7f, kNegNaNIn, 0.25f}, 1, false,
       {0.3f, 0.7f, kNegNaNIn, 0.25f}},
      {"a NaN base: lighten gives the layer's value",
       10, {kNaNIn, kNaNIn, 0.5f, 0.5f}, {0.3f, 0.7f, kNegNaNIn, 0.75f}, 1, false,
       {0.3f, 0.7f, kNegNaNIn, 0.75f}},
  };
  // clang-format on
  for (const Row& r : rows) {
    check(r);
  }
}

struct ModelRow {
  const char* edge;
  std::int32_t mode;
  strataMix_color base;
  strataMix_color layer;
  float amount;
  bool use_layer_alpha;
  strataMix_color wide;
  strataMix_color single;
};

strataMix_color all(std::uint32_t pattern) {
  const float v = from_bits(pattern);
  return {v, v, v, v};
}

// Where the two float models round differently each model is held to its own
// bits; the rows with equal bits pin the fused steps of the single model,
// which rounding each operation on its own would miss (the unfused result
// is in the comment).
TEST(ColorLayer, EachFloatModelRoundsItsOwnWay) {
  const strataMix_color a01 = {0.1f, 0.1f, 0.1f, 0.1f};
  const strataMix_color alpha_fused{from_bits(0x3ca3d70a), from_bits(0x3ca3d70a),
                                    from_bits(0x3ca3d70a), from_bits(0x3f28f5c3)};
  const strataMix_color alpha_mixed{from_bits(0x3d75c28f), from_bits(0x3d75c28f),
                                    from_bits(0x3d75c28f), from_bits(0x3e6147ae)};
  // clang-format off
  const ModelRow rows[] = {
      // wide: 0.3f + 0.1f - 1 once, -0.59999998..; single: 0.3f + 0.1f
      // rounds to 0.4f, and 0.4f - 1 is a tie that rounds to even.
      {"(b t + a) - 1 rounded once or twice",
       7, a01, all(0x3e99999a), 1, false, all(0xbf199999), all(0xbf19999a)},
      // Unfused in single: 0xbe3a5e37.
      {"(b t + a) - 1 with b t fused into the sum",
       7, a01, all(0x3e4ccccd), 0.3f, false, all(0xbe3a5e35), all(0xbe3a5e36)},
      // Unfused in single: 0x3dc08312.
      {"(b t + a) 0.5 with b t fused into the sum",
       12, a01, all(0x3e4ccccd), 0.3f, false, all(0x3dc08313), all(0x3dc08313)},
      // wide: 0.30000000447 - 0.04000000119 = 0.26000000328 -> 0x3e851eb8;
      // single: the sum rounds up to 0.3f first, and the result with it.
      {"(b t + a) - 2abt: the sum rounded before the difference",
       14, a01, all(0x3e4ccccd), 1, false, all(0x3e851eb8), all(0x3e851eb9)},
      // Unfused in single: 0x3e36ae7e.
      {"(b t + a) - 2abt with b t fused into the sum",
       14, a01, all(0x3e4ccccd), 0.7f, false, all(0x3e36ae7d), all(0x3e36ae7d)},
      // a = 3/32, whose square is exact; unfused in single: 0x3d283d70.
      {"first branch: a^2 (1 - 2b) fused with 2ab",
       17, all(0x3dc00000), all(0x3e428f5c), 1, false, all(0x3d283d71), all(0x3d283d71)},
      {"root branch: sqrt(a)(2b - 1) fused with 2a(1 - b)",
       17, all(0x3f000000), all(0x3f99999a), 1, false, all(0x3f4a3a22), all(0x3f4a3a21)},
      // Unfused in single: 0x3f5f6f4e.
      {"root branch, b = 1.4",
       17, all(0x3f000000), all(0x3fb33333), 1, false, all(0x3f5f6f4f), all(0x3f5f6f4f)},
      // Alpha: (0.4f - 0.1f) 0.4f + 0.1f; single rounds the difference first.
      {"layer-alpha mix: the difference rounded before the fused step",
       1, a01, {0, 0, 0, 0.4f}, 1, true,
       alpha_mixed, {alpha_mixed.r, alpha_mixed.g, alpha_mixed.b, from_bits(0x3e6147af)}},
      // single: 0.3f - 0.1f is a tie rounded to even (up), and the fused sum
      // is another tie; wide: 0.2000000067 rounds down to 0.2f.
      {"amount mix: the difference rounded before the fused step",
       1, a01, all(0x3e99999a), 0.5f, false, all(0x3e4ccccd), all(0x3e4cccce)},
      // (0 - 0.1f) 0.8f + 0.1f; unfused in single: 0x3ca3d708.
      {"amount mix, fused",
       1, a01, all(0), 0.8f, false, all(0x3ca3d70a), all(0x3ca3d70a)},
      // Same in red, green and blue; unfused in single: 0x3ca3d708 there.
      {"layer-alpha mix, fused",
       1, a01, {0, 0, 0, 0.8f}, 1, true, alpha_fused, alpha_fused},
  };
  // clang-format on
  for (const ModelRow& r : rows) {
    check(Row{r.edge, r.mode, r.base, r.layer, r.amount, r.use_layer_alpha,
              kSingleModel ? r.single : r.wide});
  }
}

// Amount 0 gives back the base in every mode whose result is finite, with
// and without the layer-alpha mix: (o - a) 0 + a = a.
TEST(ColorLayer, AmountZeroGivesTheBaseInEveryMode) {
  const strataMix_color base{0.3f, 0.6f, 0.2f, 0.9f};
  const strataMix_color layer{0.7f, 0.4f, 0.5f, 0.6f};
  for (std::int32_t mode = 0; mode < kModeCount; ++mode) {
    for (bool use_layer_alpha : {false, true}) {
      SCOPED_TRACE(mode_name(mode) + (use_layer_alpha ? ", useLayerAlpha on" : ""));
      const Call call = blend(mode, base, layer, 0.0f, use_layer_alpha);
      EXPECT_TRUE(same_bits(call.result.outColor, base));
    }
  }
}

// Which modes take a channel through the C library's pow (whose last bit each
// platform rounds its own way) is what the mode table's calls_pow says, and
// what the builds' comparison allows a one-ulp difference for: the plug-in's
// own calls, counted, hold the table to it. The squares of soft light,
// reflect and glow are written as powers of 2, which the compiler makes the
// exact product, so by hand no mode calls pow. The inputs reach every
// branch's square or root: layer 0.25 and 0.75 on either side of soft
// light's 0.5, neither value 0 or 1.
TEST(ColorLayer, TheModesThatCallPowAreTheTablesOnes) {
  if (!kPowCounted) {
    GTEST_SKIP() << "a Windows plug-in imports pow from the C runtime, past the test program";
  }
  const strataMix_color base{0.25f, 0.25f, 0.25f, 0.25f};
  for (const BlendModeEntry& m : kBlendModes) {
    EXPECT_FALSE(m.calls_pow) << m.name << ": by hand, no mode calls pow";
    for (const float b : {0.25f, 0.75f}) {
      SCOPED_TRACE(mode_name(static_cast<std::int32_t>(m.mode)) + ", layer " + std::to_string(b));
      const std::uint64_t before = pow_calls();
      blend(static_cast<std::int32_t>(m.mode), base, {b, b, b, b}, 0.5f, false);
      EXPECT_EQ(pow_calls() != before, m.calls_pow) << pow_calls() - before << " pow calls";
    }
  }
}

// A layer alpha of 0 with the layer-alpha mix gives the base in every mode.
TEST(ColorLayer, LayerAlphaZeroGivesTheBaseInEveryMode) {
  const strataMix_color base{0.3f, 0.6f, 0.2f, 0.9f};
  const strataMix_color layer{0.7f, 0.4f, 0.5f, 0.0f};
  for (std::int32_t mode = 0; mode < kModeCount; ++mode) {
    SCOPED_TRACE(mode_name(mode));
    const Call call = blend(mode, base, layer, 1.0f, true);
    EXPECT_TRUE(same_bits(call.result.outColor, base));
  }
}

// The alpha channel goes through the same formula as a colour channel: with
// equal inputs in red and alpha, red and alpha come out equal in every mode
// (mode 4 included, as no colour sum exceeds 1 here).
TEST(ColorLayer, AlphaIsBlendedLikeRedInEveryMode) {
  const strataMix_color base{0.3f, 0.6f, 0.2f, 0.3f};
  const strataMix_color layer{0.55f, 0.25f, 0.7f, 0.55f};
  for (std::int32_t mode = 0; mode < kModeCount; ++mode) {
    for (float amount : {1.0f, 0.75f}) {
      SCOPED_TRACE(mode_name(mode) + ", amount " + std::to_string(amount));
      const Call call = blend(mode, base, layer, amount, false);
      EXPECT_EQ(bits(call.result.outColor.r), bits(call.result.outColor.a))
          << hex(call.result.outColor);
    }
  }
}

const char kBlendOffReads[] = "normalEnable baseColor blendEnable correctEnable";
const char kBlendReads[] =
    "normalEnable baseColor blendEnable blendAmount layerColor useLayerAlpha blendMode "
    "correctEnable";

// The mode is read only when blending is on, and then after the amount, the
// layer and useLayerAlpha, whatever the mode.
TEST(ColorLayer, EveryModeIsReadOnlyWhenBlendingIsOn) {
  const strataMix_color base{0.3f, 0.6f, 0.2f, 0.9f};
  for (std::int32_t mode = 0; mode < kModeCount; ++mode) {
    for (std::int32_t enable : {0, 1, -7}) {
      SCOPED_TRACE(mode_name(mode) + ", blendEnable " + std::to_string(enable));
      host::Host h;
      colour_path(h.params(), base);
      blend_settings(h.params(), mode, {1, 1, 1, 1}, 0.0f, true);
      h.params().blendEnable = enable;
      h.connect_all();
      const Call call = shade(h);
      EXPECT_EQ(call.evaluated, split_names(enable != 0 ? kBlendReads : kBlendOffReads));
      // Amount 0 and blending off both leave the base.
      EXPECT_TRUE(same_bits(call.result.outColor, base));
    }
  }
}

// A mode outside 0..22, negative ones included, ends the call with the base
// colour: neither mix nor the correction runs, and correctEnable is not read.
TEST(ColorLayer, OutOfRangeModesEndTheCallWithTheBaseColor) {
  const strataMix_color base{from_bits(0xffc00001), -0.0f, 1e30f, 0.4f};
  for (std::int32_t mode : {23, 24, 99, INT_MAX, -1, -23, INT_MIN}) {
    SCOPED_TRACE(mode_name(mode));
    host::Host h;
    colour_path(h.params(), base);
    blend_settings(h.params(), mode, {0.5f, 0.5f, 0.5f, 0.5f}, 0.5f, true);
    h.params().correctEnable = 1;
    h.params().contrast = 0.0f;
    h.connect_all();
    const Call call = shade(h);
    EXPECT_EQ(call.returned, 1);
    EXPECT_EQ(hex(call.result.outColor), hex(base));
    EXPECT_FALSE(normal_written(call));
    EXPECT_EQ(call.evaluated,
              split_names("normalEnable baseColor blendEnable blendAmount layerColor "
                          "useLayerAlpha blendMode"));
  }
}

// With blending off an out-of-range mode is never read and the correction
// runs: contrast 0 sets every channel to 0.31.
TEST(ColorLayer, BlendingOffIgnoresAnOutOfRangeMode) {
  host::Host h;
  colour_path(h.params(), {0.25f, 0.5f, 0.75f, 1});
  h.params().blendMode = 99;
  h.params().correctEnable = 1;
  h.params().contrast = 0.0f;
  h.connect_all();
  const Call call = shade(h);
  EXPECT_EQ(call.evaluated,
            split_names("normalEnable baseColor blendEnable correctEnable hueAdjust "
                        "saturationAdjust valueAdjust gamma offset contrast"));
  EXPECT_EQ(hex(call.result.outColor), "0x3e9eb852 0x3e9eb852 0x3e9eb852 0x3e9eb852");
}

// Exits 7 and 8 read their parameters in this order, after the normal stage
// when it runs.
TEST(ColorLayer, ExitsSevenAndEightReadInOrder) {
  const std::string normal_stage =
      "normalEnable outputNormal skipPhotons skipReflections normalMix normalScale "
      "normalAsColor normalizeNormal layerCount ";
  const std::string blend_reads =
      "baseColor blendEnable blendAmount layerColor useLayerAlpha blendMode";
  const std::string correct_reads =
      " correctEnable hueAdjust saturationAdjust valueAdjust gamma offset contrast";
  struct Order {
    const char* name;
    bool normal_stage;
    std::int32_t blend_enable;
    std::int32_t mode;
    std::int32_t correct_enable;
    std::string evaluated;
  };
  const Order orders[] = {
      {"exit 7, normal stage off", false, 1, 23, 1, "normalEnable " + blend_reads},
      {"exit 7 after the normal stage", true, 1, -1, 1, normal_stage + blend_reads},
      {"exit 8, blend and correction", false, 1, 5, 1,
       "normalEnable " + blend_reads + correct_reads},
      {"exit 8 after the normal stage, blend and correction", true, 1, 22, 1,
       normal_stage + blend_reads + correct_reads},
      {"exit 8, blend only", false, 1, 0, 0, "normalEnable " + blend_reads + " correctEnable"},
      {"exit 8, correction only", false, 0, 23, 1,
       "normalEnable baseColor blendEnable" + correct_reads},
      {"exit 8 after the normal stage, both off", true, 0, 23, 0,
       normal_stage + "baseColor blendEnable correctEnable"},
  };
  for (const Order& o : orders) {
    SCOPED_TRACE(o.name);
    host::Host h;
    strataMix_params& p = h.params();
    colour_path(p, {0.25f, 0.5f, 0.75f, 1});
    blend_settings(p, o.mode, {0.5f, 0.5f, 0.5f, 0.5f}, 0.5f, false);
    p.blendEnable = o.blend_enable;
    p.correctEnable = o.correct_enable;
    if (o.normal_stage) {
      p.normalEnable = 1, p.normalMix = 1.0f, p.normalScale = 1.0f;
    }
    h.connect_all();
    const Call call = shade(h);
    EXPECT_EQ(call.returned, 1);
    EXPECT_EQ(call.evaluated, split_names(o.evaluated));
    EXPECT_TRUE(color_written(call));
    EXPECT_FALSE(normal_written(call));
  }
}

}  // namespace
}  // namespace strata::test
