#include "raster.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace strata::bake {
namespace {

// Fixed-point steps per sample: vertices are placed to 1/256 of a sample,
// and every coverage decision is exact integer arithmetic on them.
constexpr std::int64_t kSub = 256;
constexpr std::int64_t kHalf = kSub / 2;

// A triangle's corners in the tile's fixed-point grid (x right, y down),
// ordered so that its doubled area is positive; corner[k] is the mesh
// corner (0, 1 or 2) at place k.
struct Snapped {
  std::int64_t x[3];
  std::int64_t y[3];
  std::int64_t area;  // 0 for a triangle that covers nothing
  int corner[3];
};

bool uv_in_range(const std::array<float, 2>& uv) {
  // A NaN fails both comparisons.
  return uv[0] >= 0.0f && uv[0] <= static_cast<float>(kTilesPerSide) && uv[1] >= 0.0f &&
         uv[1] <= static_cast<float>(kTilesPerSide);
}

Snapped snap(const Mesh& mesh, std::uint32_t triangle, const Tile& tile, const Grid& grid) {
  const double scale = static_cast<double>(grid.samples()) * static_cast<double>(kSub);
  Snapped s{};
  for (int k = 0; k < 3; ++k) {
    const std::array<float, 2>& uv = mesh.uvs[mesh.triangles[triangle][k]];
    // UVs lie in 0..10 (lay_out left out the others), so these fit easily.
    s.x[k] = std::llround((static_cast<double>(uv[0]) - tile.u) * scale);
    s.y[k] = std::llround((tile.v + 1.0 - static_cast<double>(uv[1])) * scale);
    s.corner[k] = k;
  }
  s.area = (s.x[1] - s.x[0]) * (s.y[2] - s.y[0]) - (s.x[2] - s.x[0]) * (s.y[1] - s.y[0]);
  if (s.area < 0) {
    std::swap(s.x[1], s.x[2]);
    std::swap(s.y[1], s.y[2]);
    std::swap(s.corner[1], s.corner[2]);
    s.area = -s.area;
  }
  return s;
}

// The edge function of edge a -> b at (px, py): positive inside.
std::int64_t edge(const Snapped& s, int a, int b, std::int64_t px, std::int64_t py) {
  return (s.x[b] - s.x[a]) * (py - s.y[a]) - (s.y[b] - s.y[a]) * (px - s.x[a]);
}

// The top-left rule: a sample exactly on an edge belongs to the triangle
// for which the edge is a top edge (level, the inside below it) or a left
// one (the inside to its right). Two triangles sharing an edge run it in
// opposite directions, so exactly one of them takes the sample.
std::int64_t edge_bias(const Snapped& s, int a, int b) {
  const std::int64_t dy = s.y[b] - s.y[a];
  const std::int64_t dx = s.x[b] - s.x[a];
  return dy < 0 || (dy == 0 && dx > 0) ? 0 : 1;
}

// Floor and ceiling of n / kSub for any sign.
std::int64_t floor_div(std::int64_t n) { return n >= 0 ? n / kSub : -((-n + kSub - 1) / kSub); }
std::int64_t ceil_div(std::int64_t n) { return -floor_div(-n); }

// The sample columns or rows whose centres (i * kSub + kHalf) lie in
// [low, high], cut to [0, count).
std::pair<std::int64_t, std::int64_t> centres_within(std::int64_t low, std::int64_t high,
                                                     std::int64_t count) {
  return {std::max<std::int64_t>(0, ceil_div(low - kHalf)),
          std::min<std::int64_t>(count - 1, floor_div(high - kHalf))};
}

struct Vec {
  double x, y, z;
};

Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(double k, Vec a) { return {k * a.x, k * a.y, k * a.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Vec vec(const strataMix_vector& v) { return {v.x, v.y, v.z}; }
strataMix_vector to_float(Vec v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
bool finite(Vec v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Unit length, or false when the vector has no direction. In double, so
// that a unit vector along an axis stays exactly that.
bool unit(Vec* v) {
  const double length = std::sqrt(dot(*v, *v));
  if (!(length > 1e-30) || !std::isfinite(length)) {
    return false;
  }
  *v = (1.0 / length) * *v;
  return true;
}

Vec interpolate(const std::vector<strataMix_vector>& values, const std::array<std::uint32_t, 3>& t,
                const double b[3]) {
  return b[0] * vec(values[t[0]]) + b[1] * vec(values[t[1]]) + b[2] * vec(values[t[2]]);
}

}  // namespace

UvLayout lay_out(const Mesh& mesh) {
  UvLayout layout;
  std::map<int, Tile> tiles;
  for (std::uint32_t t = 0; t < mesh.triangles.size(); ++t) {
    const std::array<std::uint32_t, 3>& corners = mesh.triangles[t];
    float low[2] = {static_cast<float>(kTilesPerSide), static_cast<float>(kTilesPerSide)};
    float high[2] = {0.0f, 0.0f};
    bool inside = true;
    for (const std::uint32_t c : corners) {
      const std::array<float, 2>& uv = mesh.uvs[c];
      inside = inside && uv_in_range(uv);
      for (int a = 0; a < 2; ++a) {
        low[a] = std::min(low[a], uv[a]);
        high[a] = std::max(high[a], uv[a]);
      }
    }
    if (!inside) {
      ++layout.skipped;
      continue;
    }
    // The tiles the triangle's box reaches into; a corner exactly on a
    // tile's edge does not reach into the next tile.
    const int u0 = std::min(static_cast<int>(std::floor(low[0])), kTilesPerSide - 1);
    const int v0 = std::min(static_cast<int>(std::floor(low[1])), kTilesPerSide - 1);
    const int u1 = static_cast<int>(std::ceil(high[0])) - 1;
    const int v1 = static_cast<int>(std::ceil(high[1])) - 1;
    for (int v = v0; v <= v1; ++v) {
      for (int u = u0; u <= u1; ++u) {
        Tile& tile = tiles[1001 + u + kTilesPerSide * v];
        tile.u = u;
        tile.v = v;
        tile.triangles.push_back(t);
      }
    }
  }
  for (auto& [number, tile] : tiles) {
    layout.tiles.push_back(std::move(tile));
  }
  return layout;
}

TileRaster::TileRaster(const Mesh& mesh, const Tile& tile, const Grid& grid)
    : mesh_(mesh), tile_(tile), grid_(grid) {
  const int rows = grid.size;
  bands_.resize(static_cast<std::size_t>((rows + kBandRows - 1) / kBandRows));
  const std::int64_t sample_rows = grid.samples();
  for (const std::uint32_t t : tile.triangles) {
    const Snapped s = snap(mesh, t, tile, grid);
    if (s.area == 0) {
      continue;  // no area, no sample
    }
    const auto [top, bottom] = centres_within(std::min({s.y[0], s.y[1], s.y[2]}),
                                              std::max({s.y[0], s.y[1], s.y[2]}), sample_rows);
    if (top > bottom) {
      continue;
    }
    const std::int64_t per_band = std::int64_t{kBandRows} * grid.aa;
    for (std::int64_t b = top / per_band; b <= bottom / per_band; ++b) {
      bands_[static_cast<std::size_t>(b)].push_back(t);
    }
  }
}

void TileRaster::rasterise(int index, Band* band) const {
  const int aa = grid_.aa;
  const std::int64_t columns = grid_.samples();
  band->first_row = index * kBandRows;
  band->rows = std::min(kBandRows, grid_.size - band->first_row);
  const std::int64_t row0 = std::int64_t{band->first_row} * aa;
  const std::int64_t row_end = row0 + std::int64_t{band->rows} * aa;
  band->owner.assign(static_cast<std::size_t>((row_end - row0) * columns), -1);
  band->overlapped.assign(static_cast<std::size_t>(band->rows) * grid_.size, 0);
  for (const std::uint32_t t : bands_[static_cast<std::size_t>(index)]) {
    const Snapped s = snap(mesh_, t, tile_, grid_);
    const std::int64_t bias[3] = {edge_bias(s, 1, 2), edge_bias(s, 2, 0), edge_bias(s, 0, 1)};
    auto [left, right] = centres_within(std::min({s.x[0], s.x[1], s.x[2]}),
                                        std::max({s.x[0], s.x[1], s.x[2]}), columns);
    auto [top, bottom] = centres_within(std::min({s.y[0], s.y[1], s.y[2]}),
                                        std::max({s.y[0], s.y[1], s.y[2]}), row_end);
    for (std::int64_t j = std::max(top, row0); j <= bottom; ++j) {
      const std::int64_t py = j * kSub + kHalf;
      for (std::int64_t i = left; i <= right; ++i) {
        const std::int64_t px = i * kSub + kHalf;
        if (edge(s, 1, 2, px, py) < bias[0] || edge(s, 2, 0, px, py) < bias[1] ||
            edge(s, 0, 1, px, py) < bias[2]) {
          continue;
        }
        std::int32_t& owner = band->owner[static_cast<std::size_t>((j - row0) * columns + i)];
        if (owner < 0) {
          owner = static_cast<std::int32_t>(t);
        } else {
          // Already taken by an earlier triangle: the UVs overlap here.
          band->overlapped[static_cast<std::size_t>((j - row0) / aa * grid_.size + i / aa)] = 1;
        }
      }
    }
  }
  band->overlapped_texels =
      static_cast<std::uint64_t>(std::count(band->overlapped.begin(), band->overlapped.end(), 1));
}

preview::SurfacePoint surface_at_sample(const Mesh& mesh, const Tile& tile, const Grid& grid,
                                        std::uint32_t triangle, int column, int row) {
  const Snapped s = snap(mesh, triangle, tile, grid);
  const std::int64_t px = std::int64_t{column} * kSub + kHalf;
  const std::int64_t py = std::int64_t{row} * kSub + kHalf;
  // Barycentric weights from the same exact edge functions that decided
  // coverage, put back in the mesh's corner order.
  const double area = static_cast<double>(s.area);
  const double at_place[3] = {static_cast<double>(edge(s, 1, 2, px, py)) / area,
                              static_cast<double>(edge(s, 2, 0, px, py)) / area,
                              static_cast<double>(edge(s, 0, 1, px, py)) / area};
  double b[3];
  for (int k = 0; k < 3; ++k) {
    b[s.corner[k]] = at_place[k];
  }
  const std::array<std::uint32_t, 3>& t = mesh.triangles[triangle];
  const double samples = grid.samples();

  preview::SurfacePoint p;
  // The sample's UV is its own place in the grid, not an interpolation.
  p.u = static_cast<float>(tile.u + (column + 0.5) / samples);
  p.v = static_cast<float>(tile.v + 1.0 - (row + 0.5) / samples);
  p.dudx = static_cast<float>(1.0 / samples);
  p.dvdy = static_cast<float>(-1.0 / samples);
  p.position = to_float(interpolate(mesh.positions, t, b));

  // The interpolated normal; where it has no direction, the triangle's own.
  Vec n = interpolate(mesh.normals, t, b);
  if (!finite(n) || !unit(&n)) {
    const Vec p0 = vec(mesh.positions[t[0]]);
    n = cross(vec(mesh.positions[t[1]]) - p0, vec(mesh.positions[t[2]]) - p0);
    if (!finite(n) || !unit(&n)) {
      n = {0.0, 0.0, 1.0};
    }
  }
  // The tangent made square to the normal, the bitangent on the side the
  // mesh's points to (mirrored UVs turn it over); where the UVs gave no
  // tangent, a frame from the normal alone.
  p.normal = to_float(n);
  const preview::TangentFrame frame =
      preview::tangent_frame(p.normal, to_float(interpolate(mesh.tangents, t, b)),
                             to_float(interpolate(mesh.bitangents, t, b)));
  p.tangent = frame.tangent;
  p.bitangent = frame.bitangent;
  return p;
}

}  // namespace strata::bake
