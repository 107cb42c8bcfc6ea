// The compositor: how a cell's result and its lit normal are shown.
#include "compositor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace strata::preview {
namespace {

TEST(Compositor, LightingIsOneLightWithAmbient) {
  // Facing away from the light and the viewer: only the ambient term.
  EXPECT_FLOAT_EQ(lit({0.4508f, -0.5510f, -0.7022f}), 0.06f);
  EXPECT_EQ(lit({0, 0, 0}), 0.0f) << "a zero normal is black";
  EXPECT_EQ(lit({std::numeric_limits<float>::infinity(), 0, 1}), 0.06f) << "no direction: ambient";
  EXPECT_EQ(lit({3e19f, 3e19f, 0}), 0.06f) << "a length past the floats: ambient";
  EXPECT_TRUE(std::isnan(lit({std::numeric_limits<float>::quiet_NaN(), 0, 1})));
  EXPECT_EQ(lit({0, 0, 2}), lit({0, 0, 1})) << "lit by direction, not length";
  EXPECT_GT(lit({-0.45f, 0.55f, 0.7f}), lit({0.45f, -0.55f, 0.7f})) << "lit from the upper left";
}

TEST(Compositor, DisplayClampsColoursAndMapsNormals) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Row {
    ResultKind kind;
    float in[4];
    std::array<float, 3> out;
    const char* edge;
  };
  const Row rows[] = {
      {ResultKind::color, {0.25f, 1.5f, -0.5f, 1}, {0.25f, 1, 0}, "clamped to [0, 1]"},
      {ResultKind::normal_vector, {-1, 0, 1, 1}, {0, 0.5f, 1}, "[-1, 1] onto [0, 1]"},
      {ResultKind::normal_color, {0.5f, -0.5f, 0, 1}, {0.75f, 0.25f, 0.5f}, "the same"},
      {ResultKind::color, {0.5f, nan, 0.5f, 1}, {1, 0, 1}, "NaN shows magenta"},
      {ResultKind::color, {inf, 0, 0, 1}, {1, 0, 1}, "infinity shows magenta"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    EXPECT_EQ(display_color(r.kind, r.in), r.out);
  }
}

}  // namespace
}  // namespace strata::preview
