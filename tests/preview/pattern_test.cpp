// The preview's patterns: values hand-checked at chosen points, their ranges
// over a grid, and the guards for coordinates no texture should meet.
#include "pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "catalogue.h"
#include "description.h"
#include "render.h"
#include "vec3.h"

namespace strata::preview {
namespace {

SurfacePoint at_uv(float u, float v) {
  SurfacePoint at;
  at.u = u;
  at.v = v;
  return at;
}

TEST(Pattern, CheckerAlternatesBySquare) {
  struct Row {
    float frequency, u, v, expected;
    const char* edge;
  };
  const Row rows[] = {
      {2, 0.1f, 0.1f, 0, "first square"},
      {2, 0.6f, 0.1f, 1, "next square across"},
      {2, 0.1f, 0.6f, 1, "next square up"},
      {2, 0.6f, 0.6f, 0, "diagonal neighbour"},
      {2, 0.5f, 0.0f, 1, "a square's edge belongs to the square above it"},
      {2, -0.1f, 0.1f, 1, "left of the origin"},
      {8, 0.99f, 0.99f, 0, "last of 8 x 8"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    EXPECT_EQ(checker_at(r.frequency, r.u, r.v), r.expected);
  }
}

TEST(Pattern, CoordinatesBeyondTheLatticeAreGuarded) {
  // Converting these to a lattice index would be undefined; they map to 0.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(checker_at(4, nan, 0.1f), 0.0f);
  EXPECT_EQ(checker_at(4, inf, 0.1f), 0.0f);
  EXPECT_EQ(checker_at(4, 0.1f, 3e9f), 0.0f);
  const float n = noise_at(4, nan, -inf);
  EXPECT_GE(n, 0.0f);
  EXPECT_LE(n, 1.0f);
}

TEST(Pattern, RampRunsThroughEvenlySpacedStops) {
  Pattern p;
  p.kind = PatternKind::ramp;
  p.axis = 0;
  p.stops = {{0, 0, 0, 1}, {1, 0.5f, 0, 1}, {0, 0, 1, 1}};
  struct Row {
    float u;
    Value expected;
    const char* edge;
  };
  const Row rows[] = {
      {0.0f, {0, 0, 0, 1}, "first stop"},
      {0.25f, {0.5f, 0.25f, 0, 1}, "halfway to the middle stop"},
      {0.5f, {1, 0.5f, 0, 1}, "middle stop"},
      {0.75f, {0.5f, 0.25f, 0.5f, 1}, "halfway to the last stop"},
      {1.0f, {0, 0, 1, 1}, "last stop"},
      {-3.0f, {0, 0, 0, 1}, "before the start: the first stop"},
      {7.0f, {0, 0, 1, 1}, "past the end: the last stop"},
      {std::numeric_limits<float>::quiet_NaN(), {0, 0, 0, 1}, "NaN: the first stop"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    const Value v = pattern_value(p, at_uv(r.u, 0.9f), {0, 0, 1});
    for (std::size_t c = 0; c < 4; ++c) {
      EXPECT_EQ(v[c], r.expected[c]) << "channel " << c;
    }
  }
  p.axis = 1;
  EXPECT_EQ(pattern_value(p, at_uv(0.0f, 0.5f), {0, 0, 1})[0], 1.0f) << "a v ramp follows v, not u";
}

TEST(Pattern, NoiseStaysInItsRangeAndIsSmooth) {
  // Method: sample a fine grid; every value lies in [0, 1], and neighbours
  // one hundredth of a cell apart differ little.
  float low = 1, high = 0;
  for (int j = 0; j < 100; ++j) {
    for (int i = 0; i < 100; ++i) {
      const float u = static_cast<float>(i) / 100.0f;
      const float v = static_cast<float>(j) / 100.0f;
      const float n = noise_at(5, u, v);
      ASSERT_GE(n, 0.0f) << "at " << u << ", " << v;
      ASSERT_LE(n, 1.0f) << "at " << u << ", " << v;
      EXPECT_LT(std::fabs(noise_at(5, u + 0.002f, v) - n), 0.05f) << "at " << u << ", " << v;
      low = std::min(low, n);
      high = std::max(high, n);
    }
  }
  EXPECT_GT(high - low, 0.4f) << "the noise barely varies";
  EXPECT_EQ(noise_at(5, 0.3f, 0.7f), noise_at(5, 0.3f, 0.7f));
}

TEST(Pattern, BumpTiltsTheNormalByTheSlopeInTheSamplesFrame) {
  // With f = 2, h = 0.75: at u = 0, v = 1/(4f) the slope along u is the full
  // height and along v zero, so the normal n tilts to (n - h t) / 1.25; at
  // u = 1/(4f), v = 0 the slope runs along v, to (n - h b) / 1.25.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    strataMix_vector normal, tangent, bitangent;
    float u, v, height;
    strataMix_vector expected;
    const char* frame;
  };
  const Row rows[] = {
      {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, 0.0f, 0.125f, 0.75f, {-0.6f, 0, 0.8f}, "swatch, along u"},
      {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, 0.125f, 0.0f, 0.75f, {0, -0.6f, 0.8f}, "swatch, along v"},
      // A lid's pole facing +y, its UVs mirrored: n x t is -z, +v runs +z.
      {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}, 0.0f, 0.125f, 0.75f, {-0.6f, 0.8f, 0}, "pole, along u"},
      {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}, 0.125f, 0.0f, 0.75f, {0, 0.8f, -0.6f}, "pole, mirrored v"},
      {{0, 1, 0}, {1, 1, 0}, {0, 0, 1}, 0.0f, 0.125f, 0.75f, {-0.6f, 0.8f, 0}, "made square"},
      // No tangent: the frame from the normal alone, t = x cross n = +z.
      {{0, 1, 0}, {0, 0, 0}, {0, 0, 0}, 0.0f, 0.125f, 0.75f, {0, 0.8f, -0.6f}, "zero tangent"},
      {{0, 0, 1}, {0, 0, 2}, {0, 1, 0}, 0.0f, 0.125f, 0.75f, {-0.6f, 0, 0.8f}, "along n"},
      {{0, 0, 1}, {nan, nan, nan}, {0, 1, 0}, 0.0f, 0.125f, 0.75f, {-0.6f, 0, 0.8f}, "NaN"},
      {{0.6f, 0, 0.8f}, {1, 0, 0}, {0, 1, 0}, 0.3f, 0.2f, 0.0f, {0.6f, 0, 0.8f}, "flat"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.frame);
    const strataMix_vector n = bump_normal(2, r.height, r.u, r.v, r.normal,
                                           tangent_frame(r.normal, r.tangent, r.bitangent));
    EXPECT_NEAR(n.x, r.expected.x, 1e-6f);
    EXPECT_NEAR(n.y, r.expected.y, 1e-6f);
    EXPECT_NEAR(n.z, r.expected.z, 1e-6f);
  }
}

TEST(Pattern, BumpIsSmoothAcrossAPole) {
  // Two normals of a dome a hundredth apart, on either side of n.y = 0.999,
  // in the one frame the dome's UVs give: their bumped normals lie as close.
  // A frame built from each normal alone turns a quarter round between them
  // (a dot at the pole of a baked map).
  const strataMix_vector tangent{1, 0, 0};
  const strataMix_vector bitangent{0, 0, 1};
  const strataMix_vector inside = normalized({0.04f, 1.0f, 0.0f});   // y 0.9992
  const strataMix_vector outside = normalized({0.05f, 1.0f, 0.0f});  // y 0.9988
  const strataMix_vector a =
      bump_normal(2, 0.75f, 0.0f, 0.125f, inside, tangent_frame(inside, tangent, bitangent));
  const strataMix_vector b =
      bump_normal(2, 0.75f, 0.0f, 0.125f, outside, tangent_frame(outside, tangent, bitangent));
  const strataMix_vector d{a.x - b.x, a.y - b.y, a.z - b.z};
  EXPECT_LT(std::sqrt(dot(d, d)), 0.02f)
      << "(" << a.x << ", " << a.y << ", " << a.z << ") against (" << b.x << ", " << b.y << ", "
      << b.z << ")";
}

TEST(Pattern, BumpIsUnitLengthOverTheSphereAndAtThePoles) {
  for (int j = 0; j <= 20; ++j) {
    for (int i = 0; i <= 20; ++i) {
      const float theta = static_cast<float>(j) * 0.157079633f;  // 0 to pi
      const float phi = static_cast<float>(i) * 0.314159265f;    // 0 to 2 pi
      const strataMix_vector normal{std::sin(theta) * std::sin(phi), std::cos(theta),
                                    std::sin(theta) * std::cos(phi)};
      // The swatch's frame, which lies along the normal at some of these.
      const strataMix_vector b =
          bump_normal(5, 0.6f, static_cast<float>(i) / 20.0f, static_cast<float>(j) / 20.0f, normal,
                      tangent_frame(normal, {1, 0, 0}, {0, 1, 0}));
      const float length = std::sqrt(b.x * b.x + b.y * b.y + b.z * b.z);
      EXPECT_NEAR(length, 1.0f, 1e-5f) << "theta " << theta << ", phi " << phi;
    }
  }
}

TEST(Pattern, NamesRoundTrip) {
  const std::pair<const char*, PatternKind> rows[] = {
      {"checker", PatternKind::checker},
      {"ramp", PatternKind::ramp},
      {"noise", PatternKind::noise},
      {"bump", PatternKind::bump},
  };
  for (const auto& [name, kind] : rows) {
    PatternKind found = PatternKind::checker;
    ASSERT_TRUE(pattern_kind_named(name, &found)) << name;
    EXPECT_EQ(found, kind) << name;
    EXPECT_EQ(pattern_entry(kind).name, name);
  }
  PatternKind unused;
  EXPECT_FALSE(pattern_kind_named("marble", &unused));
}

// The description of a build with the preview lists every pattern, shape and
// sheet once, in the tables' order; what each pattern takes and connects to
// is worked by hand from the preset syntax.
TEST(Pattern, TheDescriptionListsEveryPatternShapeAndSheet) {
  const auto doc =
      nlohmann::json::parse(describe::description_json({describe::preview_lists(), std::nullopt}));
  EXPECT_EQ(doc.at("parts"), nlohmann::json({{"preview", true}, {"serve", false}}));
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> types;
  } patterns[] = {
      {"checker", {"frequency", "values"}, {"scalar", "color", "vector"}},
      {"ramp", {"axis", "values"}, {"scalar", "color", "vector"}},
      {"noise", {"frequency", "values"}, {"scalar", "color", "vector"}},
      {"bump", {"frequency", "height"}, {"vector"}},
  };
  ASSERT_EQ(doc.at("patterns").size(), std::size(patterns));
  for (std::size_t i = 0; i < std::size(patterns); ++i) {
    const auto& d = doc.at("patterns")[i];
    EXPECT_EQ(d.at("name"), patterns[i].name);
    EXPECT_EQ(d.at("name"), std::string(kPatterns[i].name));
    EXPECT_EQ(d.at("arguments"), nlohmann::json(patterns[i].arguments)) << patterns[i].name;
    EXPECT_EQ(d.at("types"), nlohmann::json(patterns[i].types)) << patterns[i].name;
  }
  const auto names = [](const nlohmann::json& list) {
    std::vector<std::string> out;
    for (const auto& entry : list) {
      out.push_back(entry.at("name"));
    }
    return out;
  };
  EXPECT_EQ(names(doc.at("shapes")), (std::vector<std::string>{"sphere", "swatch"}));
  EXPECT_EQ(names(doc.at("sheets")),
            (std::vector<std::string>{"blend-modes", "color-correct", "normals"}));
  ASSERT_EQ(doc.at("shapes").size(), kShapes.size());
  ASSERT_EQ(doc.at("sheets").size(), kSheets.size());
}

}  // namespace
}  // namespace strata::preview
