// The shader's flow: the gates, the exits, what each writes, and the exact
// order in which each evaluates its parameters.
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <functional>
#include <set>

#include "fields.h"
#include "harness.h"

namespace strata::test {
namespace {

constexpr strataMix_color kBase{0.25f, 0.5f, 0.75f, 0.125f};
constexpr strataMix_vector kIncoming{0.0f, 0.0f, 1.0f};

// One enabled layer as in the first worked example, and a second slot that
// is switched off, so that both kinds of visited slot appear in the log.
void normal_path(strataMix_params& p) {
  p.baseColor = kBase;
  p.normalEnable = 1;
  p.layerCount = 2;
  p.layerEnable[0] = 1;
  p.layerWeight[0] = 1.0f;
  p.layerBalance[0] = 0.5f;
  p.layerNormal[0] = {1.0f, 0.0f, 0.0f};
  p.layerEnable[1] = 0;
  p.layerWeight[1] = 1.0f;
  p.layerBalance[1] = 0.5f;
  p.normalMix = 1.0f;
  p.normalScale = 1.0f;
  p.normalizeNormal = 1;
}

const char kGateReads[] = "normalEnable outputNormal skipPhotons";
const char kNormalReads[] =
    "normalEnable outputNormal skipPhotons skipReflections normalMix normalScale normalAsColor "
    "normalizeNormal layerCount layerEnable[0] layerWeight[0] layerBalance[0] layerNormal[0] "
    "layerEnable[1] layerWeight[1] layerBalance[1]";
const char kBlendReads[] = "baseColor blendEnable blendAmount layerColor useLayerAlpha blendMode";

enum class Writes { color, normal };

struct ExitCase {
  const char* name;
  std::function<void(strataMix_params&)> setup;
  std::int32_t ray_type;
  Writes writes;
  bool normal_stage_runs;
  std::string evaluated;
};

const strataMix_vector kCombined{0x1.6a09e6p-1f, 0.0f, 0x1.6a09e6p-1f};  // worked example 1

TEST(Exits, EachWritesOneFieldAndEvaluatesInOrder) {
  const std::string gate = kGateReads;
  const std::string normal = kNormalReads;
  const std::string blend = kBlendReads;
  const ExitCase cases[] = {
      {"1 photon gate, normal out",
       [](strataMix_params& p) { normal_path(p), p.outputNormal = 1, p.skipPhotons = 1; }, 9,
       Writes::normal, false, gate},
      {"2 photon gate, colour out",
       [](strataMix_params& p) { normal_path(p), p.skipPhotons = 1, p.blendEnable = 1; }, 20,
       Writes::color, false, gate + " baseColor"},
      {"3 reflection gate, normal out",
       [](strataMix_params& p) { normal_path(p), p.outputNormal = 1, p.skipReflections = 1; }, 2,
       Writes::normal, false, gate + " skipReflections"},
      {"4 refraction gate, colour out",
       [](strataMix_params& p) { normal_path(p), p.skipReflections = 1, p.correctEnable = 1; }, 3,
       Writes::color, false, gate + " skipReflections baseColor"},
      {"5 normal path, normal out",
       [](strataMix_params& p) { normal_path(p), p.outputNormal = 1, p.normalAsColor = 1; }, 0,
       Writes::normal, true, normal},
      {"6 normal path, normal as colour",
       [](strataMix_params& p) { normal_path(p), p.normalAsColor = 1; }, 0, Writes::color, true,
       normal},
      {"7 mode out of range after the normal stage",
       [](strataMix_params& p) {
         normal_path(p), p.blendEnable = 1, p.blendMode = 23, p.correctEnable = 1;
       },
       0, Writes::color, true, normal + " " + blend},
      {"7 mode out of range, normal stage off",
       [](strataMix_params& p) {
         p.baseColor = kBase, p.outputNormal = 1, p.blendEnable = 1, p.blendMode = -1;
         p.correctEnable = 1;
       },
       0, Writes::color, false, "normalEnable " + blend},
      {"8 colour path after the normal stage, blend and correction on",
       [](strataMix_params& p) {
         normal_path(p), p.blendEnable = 1, p.blendMode = 2, p.blendAmount = 1.0f;
         p.correctEnable = 1, p.gamma = 1.0f, p.contrast = 1.0f;
       },
       0, Writes::color, true,
       normal + " " + blend +
           " correctEnable hueAdjust saturationAdjust valueAdjust gamma offset contrast"},
      {"8 colour path, both stages off",
       [](strataMix_params& p) { p.baseColor = kBase, p.blendMode = 99; }, 0, Writes::color, false,
       "normalEnable baseColor blendEnable correctEnable"},
  };
  for (const ExitCase& c : cases) {
    SCOPED_TRACE(c.name);
    host::Host h;
    c.setup(h.params());
    const strataMix_params before = h.params();
    h.connect_all();
    const Call call = shade(h, c.ray_type, kIncoming);
    EXPECT_EQ(call.returned, 1);
    EXPECT_EQ(call.evaluated, split_names(c.evaluated));
    EXPECT_EQ(color_written(call), c.writes == Writes::color);
    EXPECT_EQ(normal_written(call), c.writes == Writes::normal);
    const strataMix_vector expected_state = c.normal_stage_runs ? kCombined : kIncoming;
    EXPECT_EQ(hex(call.normal), hex(expected_state));
    // The record has no padding, and its bits are what the shader must leave.
    // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
    EXPECT_EQ(std::memcmp(&before, &h.params(), sizeof before), 0) << "record was written";
  }
}

TEST(Exits, GateAndOutOfRangeExitsReturnBaseColorUnchanged) {
  struct Row {
    const char* name;
    std::int32_t ray_type;
    std::function<void(strataMix_params&)> setup;
  };
  const Row rows[] = {
      {"photon gate", 12, [](strataMix_params& p) { p.skipPhotons = 1; }},
      {"reflection gate", 2, [](strataMix_params& p) { p.skipReflections = 1; }},
      {"mode 23", 0, [](strataMix_params& p) { p.normalEnable = 0, p.blendMode = 23; }},
      {"mode -1", 0, [](strataMix_params& p) { p.normalEnable = 0, p.blendMode = -1; }},
      {"mode INT_MIN", 0, [](strataMix_params& p) { p.normalEnable = 0, p.blendMode = INT_MIN; }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    host::Host h;
    strataMix_params& p = h.params();
    p.normalEnable = 1;
    p.baseColor = {from_bits(0xffc00001), -0.0f, 1e30f, from_bits(0x00000001)};
    p.blendEnable = 1, p.blendMode = 5, p.blendAmount = 0.5f, p.layerColor = kBase;
    p.correctEnable = 1, p.gamma = 0.5f, p.contrast = 0.0f;
    r.setup(p);
    const Call call = shade(h, r.ray_type);
    EXPECT_EQ(hex(call.result.outColor), hex(p.baseColor));
    EXPECT_FALSE(normal_written(call));
  }
}

TEST(Exits, NormalAsColorKeepsSignsAndSetsAlphaOne) {
  host::Host h;
  strataMix_params& p = h.params();
  p.normalEnable = 1, p.normalAsColor = 1, p.normalMix = 1.0f, p.normalScale = 1.0f;
  const Call call = shade(h, 0, {0.0f, -1.0f, 0.0f});
  EXPECT_EQ(hex(call.result.outColor), "0x00000000 0xbf800000 0x00000000 0x3f800000");
  EXPECT_FALSE(normal_written(call));
}

TEST(Exits, OutputNormalIsNotReadWhenTheNormalStageIsOff) {
  host::Host h;
  h.params().outputNormal = 1;
  h.params().baseColor = kBase;
  h.connect_all();
  const Call call = shade(h, 9, {0.5f, 0.5f, 0.5f});
  EXPECT_EQ(call.evaluated, split_names("normalEnable baseColor blendEnable correctEnable"));
  EXPECT_EQ(hex(call.result.outColor), hex(kBase));
  EXPECT_FALSE(normal_written(call));
  EXPECT_EQ(hex(call.normal), hex(strataMix_vector{0.5f, 0.5f, 0.5f}));
}

// Every ray type 0..25 against both gates: only the listed types fire, and
// only a gate value of exactly 1 arms a gate.
TEST(Gates, FireOnExactlyTheirRayTypes) {
  const std::set<int> photon_types = {8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 20, 23, 24};
  const std::set<int> reflection_types = {2, 3};
  struct Gate {
    const char* name;
    std::int32_t strataMix_params::*field;
    std::int32_t value;
    const std::set<int>* fires_on;
  };
  const std::set<int> none;
  const Gate gates[] = {
      {"skipPhotons 1", &strataMix_params::skipPhotons, 1, &photon_types},
      {"skipPhotons 2", &strataMix_params::skipPhotons, 2, &none},
      {"skipPhotons -1", &strataMix_params::skipPhotons, -1, &none},
      {"skipReflections 1", &strataMix_params::skipReflections, 1, &reflection_types},
      {"skipReflections 2", &strataMix_params::skipReflections, 2, &none},
  };
  for (const Gate& g : gates) {
    for (int type = 0; type <= 25; ++type) {
      SCOPED_TRACE(std::string(g.name) + ", ray type " + std::to_string(type));
      host::Host h;
      normal_path(h.params());
      h.params().outputNormal = 1;
      h.params().*g.field = g.value;
      const Call call = shade(h, type, kIncoming);
      const bool fired = g.fires_on->count(type) != 0;
      EXPECT_EQ(hex(call.result.outNormal), hex(fired ? kIncoming : kCombined));
      EXPECT_EQ(hex(call.normal), hex(fired ? kIncoming : kCombined));
    }
  }
}

TEST(Gates, PhotonGateSkipsTheReflectionSwitch) {
  host::Host h;
  h.params().normalEnable = 1, h.params().skipPhotons = 1, h.params().skipReflections = 1;
  h.connect_all();
  const Call call = shade(h, 20);
  EXPECT_EQ(call.evaluated, split_names("normalEnable outputNormal skipPhotons baseColor"));
}

TEST(Evaluation, ZeroTagIsReadInPlaceUnderANonZeroOffset) {
  host::Host h;
  h.params().baseColor = kBase;
  h.connect(offsetof(strataMix_params, correctEnable), [](mi_state&, void* value) {
    const std::int32_t off = 0;
    std::memcpy(value, &off, sizeof off);
  });
  h.params().correctEnable = 1;  // the connection answers 0 instead
  h.params().gamma = 0.5f;
  const Call call = shade(h);
  EXPECT_EQ(call.evaluated, split_names("correctEnable"));
  EXPECT_EQ(hex(call.result.outColor), hex(kBase));
}

// Any non-zero tag word connects, whatever its sign; a zero word is read in
// place although the parameter has a connection.
TEST(Evaluation, ConnectedValuesReplaceTheRecordsOwn) {
  constexpr strataMix_color kConnected{1.0f, 2.0f, 3.0f, 4.0f};
  struct Row {
    const char* name;
    std::uint32_t tag;
    bool connected;
  };
  const Row rows[] = {{"tag 1", 1, true},
                      {"tag -1", 0xffffffff, true},
                      {"tag INT_MIN", 0x80000000, true},
                      {"tag INT_MAX", 0x7fffffff, true},
                      {"tag 0", 0, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    host::Host h;
    h.params().normalEnable = 0;
    h.params().baseColor = kBase;
    h.connect(offsetof(strataMix_params, baseColor),
              [&](mi_state&, void* value) { std::memcpy(value, &kConnected, sizeof kConnected); });
    h.set_tag(offsetof(strataMix_params, baseColor), r.tag);
    const Call call = shade(h);
    EXPECT_EQ(call.evaluated, split_names(r.connected ? "baseColor" : ""));
    EXPECT_EQ(hex(call.result.outColor), hex(r.connected ? kConnected : kBase));
  }
}

// A connected colour-path parameter is evaluated with the combined normal
// already in the state; the gates and the normal stage see the incoming one.
TEST(Evaluation, ColourPathSeesTheCombinedNormal) {
  host::Host h;
  normal_path(h.params());
  strataMix_vector seen_by_mix{};
  strataMix_vector seen_by_base{};
  h.connect(offsetof(strataMix_params, normalMix), [&](mi_state& s, void* value) {
    seen_by_mix = s.normal;
    const float one = 1.0f;
    std::memcpy(value, &one, sizeof one);
  });
  h.connect(offsetof(strataMix_params, baseColor), [&](mi_state& s, void* value) {
    seen_by_base = s.normal;
    std::memcpy(value, &kBase, sizeof kBase);
  });
  const Call call = shade(h, 0, kIncoming);
  EXPECT_EQ(hex(seen_by_mix), hex(kIncoming));
  EXPECT_EQ(hex(seen_by_base), hex(kCombined));
  EXPECT_EQ(hex(call.normal), hex(kCombined));
  EXPECT_EQ(hex(call.result.outColor), hex(kBase));
}

}  // namespace
}  // namespace strata::test
