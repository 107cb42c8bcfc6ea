// The UV rasteriser: which triangle owns each sample (worked by hand from
// the triangles' UVs), the top-left rule on shared edges, the first
// triangle in file order over a later one, the UDIM tiles a layout makes,
// what it leaves out, and the surface at a sample.
#include "raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support.h"

namespace strata::bake {
namespace {

using test::bits;

// A mesh of triangles given by their UVs alone, each corner its own vertex,
// facing +z.
Mesh uv_mesh(const std::vector<std::array<std::array<float, 2>, 3>>& triangles) {
  Mesh m;
  for (const auto& t : triangles) {
    const auto first = static_cast<std::uint32_t>(m.uvs.size());
    for (const auto& uv : t) {
      m.uvs.push_back(uv);
      m.positions.push_back({uv[0], uv[1], 0.0f});
      m.normals.push_back({0.0f, 0.0f, 1.0f});
      m.tangents.push_back({1.0f, 0.0f, 0.0f});
      m.bitangents.push_back({0.0f, 1.0f, 0.0f});
    }
    m.triangles.push_back({first, first + 1, first + 2});
  }
  return m;
}

// Every sample's owner over the whole tile, rows from the top.
std::vector<std::int32_t> owners(const Mesh& m, const Tile& tile, const Grid& grid,
                                 std::uint64_t* overlapped = nullptr) {
  const TileRaster raster(m, tile, grid);
  std::vector<std::int32_t> all;
  std::uint64_t count = 0;
  Band band;
  for (int b = 0; b < raster.bands(); ++b) {
    raster.rasterise(b, &band);
    all.insert(all.end(), band.owner.begin(), band.owner.end());
    count += band.overlapped_texels;
  }
  if (overlapped != nullptr) {
    *overlapped = count;
  }
  return all;
}

TEST(Raster, TwoTrianglesSharingAnEdgeOwnEachSampleOnce) {
  // The plane's two triangles on a 4 x 4 grid: texel (x, y) has its centre
  // at u = (x + 0.5) / 4, v = 1 - (y + 0.5) / 4. Triangle 0 holds u > v,
  // triangle 1 u < v; the four centres on the diagonal (x + y = 3) lie on
  // the shared edge, which is triangle 0's top-left edge (it rises from the
  // lower left to the upper right with triangle 0 below it).
  const Mesh m = uv_mesh({{{{0, 0}, {1, 0}, {1, 1}}}, {{{0, 0}, {1, 1}, {0, 1}}}});
  const UvLayout layout = lay_out(m);
  ASSERT_EQ(layout.tiles.size(), 1u);
  std::uint64_t overlapped = 99;
  const std::vector<std::int32_t> o = owners(m, layout.tiles[0], {4, 1}, &overlapped);
  const std::int32_t expected[4][4] = {
      {1, 1, 1, 0},  // y = 0, v = 0.875: only x = 3 has u >= v
      {1, 1, 0, 0},  // v = 0.625
      {1, 0, 0, 0},  // v = 0.375
      {0, 0, 0, 0},  // v = 0.125
  };
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      SCOPED_TRACE("texel " + std::to_string(x) + ", " + std::to_string(y));
      EXPECT_EQ(o[static_cast<std::size_t>(y * 4 + x)], expected[y][x]);
    }
  }
  EXPECT_EQ(overlapped, 0u) << "a shared edge is no overlap";
}

TEST(Raster, SamplesSitOnAnEvenGridInsideTheTexel) {
  // The left half of the tile, u < 0.5, on 2 texels a side with 2 x 2
  // samples each: sample columns at u = 0.125, 0.375, 0.625, 0.875, so
  // columns 0 and 1 are covered (the edge u = 0.5 falls between samples).
  const Mesh m = uv_mesh({{{{0, 0}, {0.5f, 0}, {0.5f, 1}}}, {{{0, 0}, {0.5f, 1}, {0, 1}}}});
  const std::vector<std::int32_t> o = owners(m, lay_out(m).tiles[0], {2, 2});
  ASSERT_EQ(o.size(), 16u);
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      SCOPED_TRACE("sample " + std::to_string(column) + ", " + std::to_string(row));
      EXPECT_EQ(o[static_cast<std::size_t>(row * 4 + column)] >= 0, column < 2);
    }
  }
}

TEST(Raster, TheFirstTriangleInFileOrderWinsAndOverlapsAreCounted) {
  // Triangle 0, (0,0) (0.5,0) (0,0.5), comes first; triangles 1 and 2, the
  // plane, cover the whole tile after it. On 4 x 4 texels only the centre
  // of texel (0, 3) (u 0.125, v 0.125) lies inside u + v < 0.5; that of
  // texel (1, 3) (u 0.375) lies on the hypotenuse, a lower-right edge, which
  // leaves it to the plane.
  const Mesh m = uv_mesh(
      {{{{0, 0}, {0.5f, 0}, {0, 0.5f}}}, {{{0, 0}, {1, 0}, {1, 1}}}, {{{0, 0}, {1, 1}, {0, 1}}}});
  std::uint64_t overlapped = 0;
  const std::vector<std::int32_t> o = owners(m, lay_out(m).tiles[0], {4, 1}, &overlapped);
  EXPECT_EQ(o[12], 0) << "texel (0, 3) is triangle 0's, though triangle 1 covers it too";
  EXPECT_EQ(o[13], 1) << "texel (1, 3) lies on triangle 0's lower-right edge";
  EXPECT_EQ(overlapped, 1u) << "one texel covered twice";
}

TEST(Raster, ZeroAreaAndSliverTrianglesCoverNothing) {
  struct Row {
    std::array<std::array<float, 2>, 3> uv;
    const char* edge;
  };
  const Row rows[] = {
      {{{{0.1f, 0.1f}, {0.9f, 0.9f}, {0.5f, 0.5f}}}, "three corners on one line"},
      {{{{0.3f, 0.3f}, {0.3f, 0.3f}, {0.3f, 0.3f}}}, "one point"},
      {{{{0.0f, 0.2f}, {1.0f, 0.2f}, {0.0f, 0.2001f}}}, "a sliver between two rows of centres"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    const Mesh m = uv_mesh({r.uv});
    const UvLayout layout = lay_out(m);
    for (const Tile& tile : layout.tiles) {
      for (const std::int32_t owner : owners(m, tile, {16, 2})) {
        EXPECT_EQ(owner, -1);
      }
    }
  }
}

TEST(Raster, UvsBeyondTheFirstTileGoToUdimTiles) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Row {
    std::array<std::array<float, 2>, 3> uv;
    std::vector<int> udims;
    std::size_t skipped;
    const char* edge;
  };
  const Row rows[] = {
      {{{{0.1f, 0.1f}, {0.9f, 0.1f}, {0.5f, 0.9f}}}, {1001}, 0, "the first tile"},
      {{{{1.1f, 0.1f}, {1.9f, 0.1f}, {1.5f, 0.9f}}}, {1002}, 0, "one tile to the right"},
      {{{{3.1f, 2.1f}, {3.9f, 2.1f}, {3.5f, 2.9f}}}, {1024}, 0, "1001 + 3 + 10 * 2"},
      {{{{9.1f, 9.1f}, {10.0f, 9.1f}, {9.5f, 10.0f}}}, {1100}, 0, "the last tile, to its edges"},
      {{{{0.5f, 0.1f}, {1.5f, 0.1f}, {1.0f, 0.9f}}}, {1001, 1002}, 0, "across two tiles"},
      {{{{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}}}, {1001}, 0, "an edge on u = 1 is tile 1001's"},
      {{{{10.1f, 0.1f}, {10.9f, 0.1f}, {10.5f, 0.9f}}}, {}, 1, "u beyond 10"},
      {{{{-0.5f, 0.1f}, {0.5f, 0.1f}, {0.0f, 0.9f}}}, {}, 1, "a corner left of 0"},
      {{{{nan, 0.1f}, {0.5f, 0.1f}, {0.0f, 0.9f}}}, {}, 1, "a NaN"},
      {{{{3e38f, 0.1f}, {0.5f, 0.1f}, {0.0f, 0.9f}}}, {}, 1, "a huge u"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    const UvLayout layout = lay_out(uv_mesh({r.uv}));
    std::vector<int> udims;
    for (const Tile& t : layout.tiles) {
      udims.push_back(udim(t));
    }
    EXPECT_EQ(udims, r.udims);
    EXPECT_EQ(layout.skipped, r.skipped);
  }
}

TEST(Raster, TheSurfaceAtASampleIsItsPlaceOnThePlane) {
  // On the plane every sample's UV is its place in the grid, exactly; the
  // normal, tangent and bitangent are the axes, exactly; the footprint one
  // sample.
  const Mesh m = uv_mesh({{{{0, 0}, {1, 0}, {1, 1}}}, {{{0, 0}, {1, 1}, {0, 1}}}});
  const UvLayout layout = lay_out(m);
  const Grid grid{8, 2};
  const std::vector<std::int32_t> o = owners(m, layout.tiles[0], grid);
  for (const auto& [column, row] : {std::pair{0, 0}, {15, 0}, {3, 11}, {15, 15}, {7, 8}}) {
    SCOPED_TRACE("sample " + std::to_string(column) + ", " + std::to_string(row));
    const auto owner = o[static_cast<std::size_t>(row) * 16 + static_cast<std::size_t>(column)];
    ASSERT_GE(owner, 0);
    const preview::SurfacePoint p =
        surface_at_sample(m, layout.tiles[0], grid, static_cast<std::uint32_t>(owner), column, row);
    EXPECT_EQ(p.u, (static_cast<float>(column) + 0.5f) / 16.0f);
    EXPECT_EQ(p.v, 1.0f - (static_cast<float>(row) + 0.5f) / 16.0f);
    EXPECT_EQ(bits(p.normal.x), 0u);
    EXPECT_EQ(bits(p.normal.y), 0u);
    EXPECT_EQ(p.normal.z, 1.0f);
    EXPECT_EQ(p.tangent.x, 1.0f);
    EXPECT_EQ(p.tangent.y, 0.0f);
    EXPECT_EQ(p.bitangent.y, 1.0f);
    EXPECT_EQ(p.bitangent.x, 0.0f);
    EXPECT_EQ(p.dudx, 1.0f / 16.0f);
    EXPECT_EQ(p.dvdy, -1.0f / 16.0f);
    EXPECT_NEAR(p.position.x, p.u, 1e-6f) << "the plane's position is its UV";
    EXPECT_NEAR(p.position.y, p.v, 1e-6f);
  }
}

TEST(Raster, AFrameIsMadeWhereTheUvsGiveNone) {
  // A tangent of NaN (assimp's answer where the UVs have no area) and a
  // normal of zero length: the triangle's own normal stands in, and a
  // tangent square to it.
  Mesh m = uv_mesh({{{{0, 0}, {1, 0}, {0, 1}}}});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (std::size_t i = 0; i < 3; ++i) {
    m.tangents[i] = {nan, nan, nan};
    m.normals[i] = {0.0f, 0.0f, 0.0f};
  }
  const preview::SurfacePoint p = surface_at_sample(m, lay_out(m).tiles[0], {4, 1}, 0, 0, 3);
  EXPECT_EQ(p.normal.z, 1.0f) << "the triangle (0,0,0) (1,0,0) (0,1,0) faces +z";
  EXPECT_NEAR(p.tangent.x * p.normal.x + p.tangent.y * p.normal.y + p.tangent.z * p.normal.z, 0.0f,
              1e-7f);
  EXPECT_NEAR(std::hypot(p.tangent.x, p.tangent.y, p.tangent.z), 1.0f, 1e-6f);
}

}  // namespace
}  // namespace strata::bake
