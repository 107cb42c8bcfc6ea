// The normal stage through the plug-in: the worked examples, the switches
// that leave the average alone, and the bounds of the slot loop.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>

#include "harness.h"

namespace strata::test {
namespace {

constexpr strataMix_vector kUp{0.0f, 0.0f, 1.0f};
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A record on the normal path that returns the combined normal in outNormal,
// with every stage setting neutral and no slot visited.
strataMix_params neutral() {
  strataMix_params p{};
  p.normalEnable = 1;
  p.outputNormal = 1;
  p.normalMix = 1.0f;
  p.normalScale = 1.0f;
  return p;
}

void layer(strataMix_params& p, int slot, strataMix_vector n, float weight, float balance) {
  p.layerEnable[slot] = 1;
  p.layerNormal[slot] = n;
  p.layerWeight[slot] = weight;
  p.layerBalance[slot] = balance;
  if (p.layerCount < slot + 1) {
    p.layerCount = slot + 1;
  }
}

struct Case {
  const char* name;
  std::function<void(strataMix_params&)> setup;
  strataMix_vector incoming;
  strataMix_vector expected;
};

// Each row is one edge of the stage; expected values are exact float bits,
// the same in both float models.
TEST(NormalStage, CombinesLayersExactly) {
  const Case cases[] = {
      {"worked example 1: one layer, weight 1, balance 0.5",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalizeNormal = 1;
       },
       kUp,
       {0.70710677f, 0.0f, 0.70710677f}},
      {"worked example 2: a second layer at balance 0.25",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         layer(p, 1, {0, 1, 0}, 1.0f, 0.25f);
         p.normalizeNormal = 1;
       },
       kUp,
       {0.5883484f, 0.19611613f, 0.78446454f}},
      {"no slot: the incoming normal bit for bit",
       [](strataMix_params& p) { p.layerCount = 0, p.normalMix = 0.0f; },
       {0.3f, -0.2f, 0.9f},
       {0.3f, -0.2f, 0.9f}},
      {"negative count visits nothing",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.layerCount = INT_MIN;
       },
       {0.3f, -0.2f, 0.9f},
       {0.3f, -0.2f, 0.9f}},
      {"weight 0.5, balance 0.5 adds the half-way vector",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 0.5f, 0.5f);
       },
       kUp,
       {0.25f, 0.0f, 0.75f}},
      {"a disabled slot adds nothing",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         layer(p, 1, {0, 1, 0}, 1.0f, 0.25f);
         p.layerEnable[1] = 0;
       },
       kUp,
       {0.5f, 0.0f, 0.5f}},
      // Slot 2 blends with slot 0 as in worked example 2, unnormalised:
      // the skipped slot 1 between them leaves previousLayer alone.
      {"a disabled slot between two layers is passed over",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         layer(p, 1, {0, -1, 0}, 1.0f, 0.25f);
         layer(p, 2, {0, 1, 0}, 1.0f, 0.25f);
         p.layerEnable[1] = 0;
       },
       kUp,
       {0.375f, 0.125f, 0.5f}},
      {"a slot of weight 0 between two layers is passed over",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         layer(p, 1, {0, -1, 0}, 0.0f, 0.25f);
         layer(p, 2, {0, 1, 0}, 1.0f, 0.25f);
       },
       kUp,
       {0.375f, 0.125f, 0.5f}},
      {"a NaN weight does not switch the slot off",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, kNaN, 0.5f);
       },
       kUp,
       {kNaN, kNaN, kNaN}},
      {"weight -0.0 switches the slot off",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, -0.0f, 0.5f);
       },
       kUp, kUp},
      {"balance -0.0 switches the slot off",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, -0.0f);
       },
       kUp, kUp},
      // Every weight below 1 is taken from the incoming (0, 0, 1), not from
      // the layer before. Slot 0 adds (0.5, 0, 0.5). Slot 1, weighted to
      // (0, 0.25, 0.75), balanced to (0, 0.0625, 0.9375); Q = (0.375, 0,
      // 0.625), M = (0.75, 0.125, 2.125), sum (0.75, 0.125, 3.125). Slot 2,
      // weighted to (-0.75, 0, 0.25), balanced to (-0.5625, 0, 0.4375);
      // Q = (0, 0.015625, 0.984375), M = (-1.125, 0.03125, 1.84375), sum
      // (-0.375, 0.09375, 4.03125); count 6. (Anchored at the previous layer
      // the average would be (-0.033203125, 0.01953125, 0.638671875).)
      {"three partial weights, plain then blending balances: (-1/16, 1/64, 43/64)",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 0.5f, 0.5f);
         layer(p, 1, {0, 1, 0}, 0.25f, 0.25f);
         layer(p, 2, {-1, 0, 0}, 0.75f, 0.75f);
       },
       kUp,
       {-0.0625f, 0.015625f, 0.671875f}},
      // Slot 0, (0.5, 0, 0.5) balanced to (0.125, 0, 0.875): D = 0, M =
      // sum = (0.25, 0, 2.75). Slot 1 adds (0, 0.25, 0.75): sum (0.25, 0.25,
      // 3.5). Slot 2 blends with slot 1's weighted vector: Q = (0, 0.0625,
      // 0.9375), M = (-1.125, 0.125, 1.75), sum (-0.875, 0.125, 4.5); count
      // 6. Every step is exact; each quotient by 6 is rounded once, alike in
      // both models.
      {"three partial weights, a plain balance between blending ones",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 0.5f, 0.25f);
         layer(p, 1, {0, 1, 0}, 0.25f, 0.5f);
         layer(p, 2, {-1, 0, 0}, 0.75f, 0.75f);
       },
       kUp,
       {-7.0f / 48.0f, 1.0f / 48.0f, 0.75f}},
      {"a first blending layer counts twice: (M) / 3",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.25f);
       },
       kUp,
       {0.5f / 3.0f, 0.0f, 2.5f / 3.0f}},
      {"normalMix 0 is the plain average, as 1",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalMix = 0.0f;
       },
       kUp,
       {0.5f, 0.0f, 0.5f}},
      {"normalMix 0.5 is half way to the state's normal",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalMix = 0.5f;
       },
       kUp,
       {0.25f, 0.0f, 0.75f}},
      // Only exactly 0 and 1 skip the mix: avg m + (1 - m) N, with the
      // average (0.5, 0, 0.5) and N the incoming (0, 0, 1).
      {"normalMix 2 mixes past the average",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalMix = 2.0f;
       },
       kUp,
       {1.0f, 0.0f, 0.0f}},
      {"normalMix -0.5 mixes away from the average",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalMix = -0.5f;
       },
       kUp,
       {-0.25f, 0.0f, 1.25f}},
      {"a NaN normalMix mixes and spreads NaN",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalMix = kNaN;
       },
       kUp,
       {kNaN, kNaN, kNaN}},
      {"normalScale 0 leaves the normal unscaled",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalScale = 0.0f;
       },
       kUp,
       {0.5f, 0.0f, 0.5f}},
      {"normalScale -1 reverses, also when normalised",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalScale = -1.0f;
         p.normalizeNormal = 1;
       },
       kUp,
       {-0.70710677f, -0.0f, -0.70710677f}},
      {"normalScale 2 doubles",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, 0.5f);
         p.normalScale = 2.0f;
       },
       kUp,
       {1.0f, 0.0f, 1.0f}},
      {"a zero normal stays zero when normalised",
       [](strataMix_params& p) { p.normalizeNormal = 1; },
       {0, 0, 0},
       {0, 0, 0}},
      {"a NaN balance blends and spreads NaN",
       [](strataMix_params& p) {
         layer(p, 0, {1, 0, 0}, 1.0f, kNaN);
       },
       kUp,
       {kNaN, kNaN, kNaN}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::Host h;
    h.params() = neutral();
    c.setup(h.params());
    const Call call = shade(h, 0, c.incoming);
    if (std::isnan(c.expected.x)) {
      EXPECT_TRUE(std::isnan(call.normal.x) && std::isnan(call.normal.y) &&
                  std::isnan(call.normal.z))
          << hex(call.normal);
      continue;
    }
    EXPECT_EQ(hex(call.normal), hex(c.expected));
    EXPECT_EQ(hex(call.result.outNormal), hex(c.expected));
  }
}

TEST(NormalStage, BalanceOfExactlyHalfAddsPlainly) {
  // 0.5 adds the layer once; the next float above takes the blending branch
  // and counts the layer twice, so the two averages differ.
  host::Host plain;
  plain.params() = neutral();
  layer(plain.params(), 0, {1, 0, 0}, 1.0f, 0.5f);
  host::Host blended;
  blended.params() = neutral();
  layer(blended.params(), 0, {1, 0, 0}, 1.0f, std::nextafter(0.5f, 1.0f));
  EXPECT_EQ(hex(shade(plain).normal), hex(strataMix_vector{0.5f, 0.0f, 0.5f}));
  const strataMix_vector n = shade(blended).normal;
  EXPECT_NEAR(n.x, 1.0f / 3.0f, 1e-6f);
  EXPECT_NEAR(n.z, 2.0f / 3.0f, 1e-6f);
}

TEST(NormalStage, SlotReadsAreBoundedAndLazy) {
  struct Row {
    const char* name;
    std::int32_t count;
    int visited;
  };
  const Row rows[] = {{"count 0", 0, 0}, {"count -1", -1, 0}, {"count 3", 3, 3},
                      {"count 8", 8, 8}, {"count 9", 9, 8},   {"INT_MAX", INT_MAX, 8}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    host::Host h;
    h.params() = neutral();
    for (int i = 0; i < 8; ++i) {
      layer(h.params(), i, {1, 0, 0}, 1.0f, 0.5f);
    }
    // Odd slots are off: their normals must not be read.
    for (int i = 1; i < 8; i += 2) {
      h.params().layerEnable[i] = 0;
    }
    h.params().layerCount = r.count;
    h.connect_all();
    const Call call = shade(h);
    std::string expected =
        "normalEnable outputNormal skipPhotons skipReflections normalMix normalScale "
        "normalAsColor normalizeNormal layerCount";
    for (int i = 0; i < r.visited; ++i) {
      const std::string slot = "[" + std::to_string(i) + "]";
      expected.append(" layerEnable").append(slot).append(" layerWeight").append(slot);
      expected.append(" layerBalance").append(slot);
      if (i % 2 == 0) {
        expected += " layerNormal" + slot;
      }
    }
    EXPECT_EQ(call.evaluated, split_names(expected));
  }
}

// A connected parameter that moves the state's normal during the stage: the
// mix reads the moved normal, while every interpolation stays anchored at the
// normal captured before the first evaluation.
TEST(NormalStage, MixReadsTheStatesNormalAfterTheLastEvaluation) {
  host::Host h;
  h.params() = neutral();
  layer(h.params(), 0, {1, 0, 0}, 0.5f, 0.5f);
  h.params().normalMix = 0.5f;
  h.connect(offsetof(strataMix_params, layerNormal), [](mi_state& s, void* value) {
    s.normal = {0.0f, 1.0f, 0.0f};
    const strataMix_vector n{1.0f, 0.0f, 0.0f};
    std::memcpy(value, &n, sizeof n);
  });
  // Weighted layer (0.5, 0, 0.5) from the captured (0, 0, 1); average
  // (0.25, 0, 0.75); mixed half way with (0, 1, 0).
  EXPECT_EQ(hex(shade(h, 0, kUp).normal), hex(strataMix_vector{0.125f, 0.5f, 0.375f}));
}

// With the squared length held in a float, a normal shorter than about
// 2.6e-23 has length 0 and is left alone; the wide model normalises every
// non-zero length, down to subnormal components, whose squares are still
// normal doubles.
TEST(NormalStage, TinyNormalDependsOnTheFloatModel) {
  struct Row {
    const char* name;
    strataMix_vector in;
    strataMix_vector wide;
    strataMix_vector single;
  };
  const float r2 = 0.70710677f;  // 0x3f3504f3, 1/sqrt(2) rounded
  const float r3 = 0.57735026f;  // 0x3f13cd3a, 1/sqrt(3) rounded
  const float sub = 1e-40f;      // 0x000116c2, subnormal
  const Row rows[] = {
      {"1e-23 on x", {1e-23f, 0, 0}, {1, 0, 0}, {1e-23f, 0, 0}},
      {"1e-35 on x", {1e-35f, 0, 0}, {1, 0, 0}, {1e-35f, 0, 0}},
      {"1e-35 on every axis", {1e-35f, -1e-35f, 1e-35f}, {r3, -r3, r3}, {1e-35f, -1e-35f, 1e-35f}},
      {"subnormal 1e-40 on x", {sub, 0, 0}, {1, 0, 0}, {sub, 0, 0}},
      {"subnormal 1e-40 on y and z", {0, sub, -sub}, {0, r2, -r2}, {0, sub, -sub}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    host::Host h;
    h.params() = neutral();
    h.params().normalizeNormal = 1;
    const strataMix_vector expected = kSingleModel ? r.single : r.wide;
    EXPECT_EQ(hex(shade(h, 0, r.in).normal), hex(expected));
  }
}

TEST(NormalStage, NormalPersistsAfterAColourExit) {
  host::Host h;
  h.params() = neutral();
  h.params().outputNormal = 0;
  layer(h.params(), 0, {1, 0, 0}, 1.0f, 0.5f);
  h.params().baseColor = {0.1f, 0.2f, 0.3f, 0.4f};
  const Call call = shade(h, 0, kUp);
  EXPECT_EQ(hex(call.result.outColor), hex(strataMix_color{0.1f, 0.2f, 0.3f, 0.4f}));
  EXPECT_EQ(hex(call.normal), hex(strataMix_vector{0.5f, 0.0f, 0.5f}));
  EXPECT_FALSE(normal_written(call));
}

}  // namespace
}  // namespace strata::test
