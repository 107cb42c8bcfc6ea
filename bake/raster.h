// The UV rasteriser: which triangle each sample of a texture map belongs
// to, and what the surface is there.
//
// A map of `size` texels a side covers one UDIM tile, u from tile.u to
// tile.u + 1 and v from tile.v to tile.v + 1; row 0 lies at the top, v =
// tile.v + 1, as renderers read textures. Each texel holds aa x aa samples
// at the centres of an even grid inside it (one sample: the texel's
// centre). A sample belongs to the first triangle, in the file's order,
// that covers it; a sample on an edge two triangles share belongs to one of
// them by the top-left rule. Coverage is decided in fixed point (1/256 of a
// sample) so that it is exact, and the same on any number of threads.
#ifndef STRATAMIX_BAKE_RASTER_H
#define STRATAMIX_BAKE_RASTER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mesh.h"
#include "pattern.h"

namespace strata::bake {

// UDIM tiles run 0 <= u, v < 10.
inline constexpr int kTilesPerSide = 10;

struct Tile {
  int u = 0;
  int v = 0;
  // The triangles whose UVs reach into the tile, in file order.
  std::vector<std::uint32_t> triangles;
};

// The usual UDIM number: 1001 + u + 10 v.
inline int udim(const Tile& tile) { return 1001 + tile.u + kTilesPerSide * tile.v; }

struct UvLayout {
  std::vector<Tile> tiles;  // in UDIM order
  // Triangles left out: a UV outside 0 to 10, or not a number.
  std::size_t skipped = 0;
};

UvLayout lay_out(const Mesh& mesh);

// A map's grid: texels a side, samples a side in each texel.
struct Grid {
  int size = 0;
  int aa = 1;
  int samples() const { return size * aa; }  // samples a side
};

// A run of texel rows, rasterised: for each sample (row by row, aa rows
// per texel row), the triangle it belongs to or -1.
struct Band {
  int first_row = 0;  // texel rows
  int rows = 0;
  std::vector<std::int32_t> owner;
  // Texels of the band in which some sample lies in more than one triangle
  // (overlapping UVs).
  std::uint64_t overlapped_texels = 0;
  std::vector<unsigned char> overlapped;  // per texel, for the count
};

// A tile's grid cut into bands of texel rows, each with the triangles that
// reach into it in file order; the bands can be rasterised on any thread.
class TileRaster {
 public:
  static constexpr int kBandRows = 8;

  TileRaster(const Mesh& mesh, const Tile& tile, const Grid& grid);
  int bands() const { return static_cast<int>(bands_.size()); }
  // Rasterises band `index` into `band`, reusing its storage.
  void rasterise(int index, Band* band) const;

 private:
  const Mesh& mesh_;
  const Tile& tile_;
  Grid grid_;
  std::vector<std::vector<std::uint32_t>> bands_;
};

// What the surface is at sample (column, row) of the tile's grid on the
// triangle that owns it: its UV (the sample's own place), position,
// interpolated and normalised normal, the tangent frame, and the footprint
// of one sample.
preview::SurfacePoint surface_at_sample(const Mesh& mesh, const Tile& tile, const Grid& grid,
                                        std::uint32_t triangle, int column, int row);

}  // namespace strata::bake

#endif  // STRATAMIX_BAKE_RASTER_H
