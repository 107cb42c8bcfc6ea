// Baking: at the texel centres of a plane the maps hold exactly what the
// host answers for the same normal, UV and look; a look without normal
// layers bakes a flat normal map; one thread and two give the same bits.
#include "bake.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support.h"

namespace strata::bake {
namespace {

using test::bits;

// A layered look whose every stage reads the surface: a bumped layer
// normal, a ramp and a checker blended, a correction.
const char kLayered[] =
    "normalEnable = on\nnormalizeNormal = on\nlayerCount = 2\nlayerEnable = on\n"
    "layerNormal[0] = bump(3, 0.5)\nlayerNormal[1] = bump(7, 0.2)\nlayerBalance[1] = 0.3\n"
    "baseColor = ramp(u, 0.1 0.2 0.3 1, 0.9 0.5 0.1 1)\nlayerColor = checker(4)\n"
    "blendEnable = on\nblendMode = 15\nblendAmount = ramp(v, 0.2, 1)\n"
    "correctEnable = on\ngamma = 1.2\n";

TileMaps bake_one(const Mesh& mesh, const std::string& look, const BakeSettings& settings) {
  host::Host h;
  test::apply(&h, look);
  const UvLayout layout = lay_out(mesh);
  EXPECT_EQ(layout.tiles.size(), 1u);
  return bake_tile(h, test::plugin().shader(), mesh, layout.tiles.at(0), settings);
}

TEST(Bake, PlaneTexelCentresHoldTheHostsOwnAnswers) {
  const std::filesystem::path dir = test::scratch();
  const Mesh plane = read_mesh(test::write_file(dir / "plane.obj", test::kPlane));
  BakeSettings settings;
  settings.grid = {16, 1};
  settings.maps = {MapKind::color, MapKind::normal, MapKind::object_normal};
  settings.threads = 2;
  const TileMaps maps = bake_one(plane, kLayered, settings);

  // The same look on the host, called as a renderer would at the texel's
  // centre: normal +z, u = (x + 0.5) / 16, v = 1 - (y + 0.5) / 16.
  host::Host h;
  test::apply(&h, kLayered);
  for (const auto& [x, y] : {std::pair{0, 0},
                             {15, 0},
                             {0, 15},
                             {15, 15},
                             {5, 9},
                             {9, 5},
                             {7, 8},
                             {8, 7},
                             {3, 12},
                             {12, 3}}) {
    SCOPED_TRACE("texel " + std::to_string(x) + ", " + std::to_string(y));
    host::Sample s = h.make_sample(kRayEye, {0.0f, 0.0f, 1.0f});
    const preview::SurfacePoint at{(static_cast<float>(x) + 0.5f) / 16.0f,
                                   1.0f - (static_cast<float>(y) + 0.5f) / 16.0f};
    s.context = &at;
    strataMix_result r{};
    test::plugin().shader()(&r, &s.state, &h.params());
    const auto texel = static_cast<std::size_t>(y) * 16 + static_cast<std::size_t>(x);
    const float color[4] = {r.outColor.r, r.outColor.g, r.outColor.b, r.outColor.a};
    for (std::size_t c = 0; c < 4; ++c) {
      EXPECT_EQ(bits(maps[MapKind::color][texel * 4 + c]), bits(color[c])) << "channel " << c;
    }
    // On the plane the tangent frame is the axes: both normal maps hold
    // 0.5 + 0.5 n of the state's normal after the call.
    const float n[3] = {s.state.normal.x, s.state.normal.y, s.state.normal.z};
    for (std::size_t c = 0; c < 3; ++c) {
      EXPECT_EQ(bits(maps[MapKind::normal][texel * 3 + c]), bits(0.5f + 0.5f * n[c]))
          << "component " << c;
      EXPECT_EQ(bits(maps[MapKind::object_normal][texel * 3 + c]), bits(0.5f + 0.5f * n[c]));
    }
    EXPECT_EQ(maps[MapKind::coverage][texel], 1.0f);
  }
  EXPECT_EQ(maps.samples, 256u) << "one call per texel";
}

TEST(Bake, ALookWithoutNormalLayersBakesAFlatNormalMap) {
  // The example asset is curved everywhere, its tangent frames all
  // different: the state's normal comes back unchanged, which is (0, 0, 1)
  // in its own frame, (0.5, 0.5, 1) encoded, in every covered texel.
  const Mesh vase = read_mesh(STRATAMIX_EXAMPLE_MESH);
  BakeSettings settings;
  settings.grid = {64, 2};
  settings.maps = {MapKind::normal};
  settings.threads = 2;
  const TileMaps maps = bake_one(vase, "baseColor = checker(4)\n", settings);
  std::size_t covered = 0;
  for (std::size_t t = 0; t < std::size_t{64} * 64; ++t) {
    if (maps[MapKind::coverage][t] == 0.0f) {
      EXPECT_EQ(maps[MapKind::normal][t * 3 + 2], 0.0f) << "texel " << t << " is off the mesh";
      continue;
    }
    ++covered;
    ASSERT_EQ(maps[MapKind::normal][t * 3 + 0], 0.5f) << "texel " << t;
    ASSERT_EQ(maps[MapKind::normal][t * 3 + 1], 0.5f) << "texel " << t;
    ASSERT_EQ(maps[MapKind::normal][t * 3 + 2], 1.0f) << "texel " << t;
  }
  EXPECT_GT(covered, 64u * 64u / 2) << "the islands cover most of the tile";
}

TEST(Bake, OneThreadAndTwoGiveTheSameBits) {
  const Mesh vase = read_mesh(STRATAMIX_EXAMPLE_MESH);
  BakeSettings settings;
  settings.grid = {96, 2};
  settings.maps = {MapKind::color, MapKind::normal, MapKind::object_normal};
  settings.threads = 1;
  const TileMaps one = bake_one(vase, kLayered, settings);
  settings.threads = 2;
  const TileMaps two = bake_one(vase, kLayered, settings);
  for (const MapKindEntry& e : kMapKinds) {
    SCOPED_TRACE(std::string(e.name));
    ASSERT_EQ(one[e.kind].size(), two[e.kind].size());
    EXPECT_EQ(std::memcmp(one[e.kind].data(), two[e.kind].data(), one[e.kind].size() * 4), 0);
  }
  EXPECT_EQ(one.samples, two.samples);
  EXPECT_EQ(one.overlapped_texels, 0u) << "the example asset's islands do not overlap";
}

}  // namespace
}  // namespace strata::bake
