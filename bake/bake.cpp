#include "bake.h"

#include <algorithm>
#include <thread>

#include "fields.h"

namespace strata::bake {
namespace {

// What one texel gathers from its samples.
struct TexelSums {
  float color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  float normal[3] = {0.0f, 0.0f, 0.0f};
  float object_normal[3] = {0.0f, 0.0f, 0.0f};
  int hits = 0;
};

float encode(float n) { return 0.5f + 0.5f * n; }

float dot(const strataMix_vector& a, const strataMix_vector& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

bool same_bits(const strataMix_vector& a, const strataMix_vector& b) {
  return float_bits(a.x) == float_bits(b.x) && float_bits(a.y) == float_bits(b.y) &&
         float_bits(a.z) == float_bits(b.z);
}

// The normal n in the sample's tangent frame. The surface normal itself,
// which the call hands back wherever no normal stage changed it, is (0, 0,
// 1) exactly: rounding in the products must not tilt a flat map.
strataMix_vector in_tangent_frame(const strataMix_vector& n, const preview::SurfacePoint& at) {
  if (same_bits(n, at.normal)) {
    return {0.0f, 0.0f, 1.0f};
  }
  return {dot(n, at.tangent), dot(n, at.bitangent), dot(n, at.normal)};
}

struct Worker {
  host::Host& host;
  host::ShaderFn shader;
  const Mesh& mesh;
  const Tile& tile;
  const BakeSettings& settings;
  const TileRaster& raster;
  TileMaps& out;

  bool wants(MapKind kind) const { return !out[kind].empty(); }

  void shade_texel(const Band& band, host::Sample* sample, int x, int y, TexelSums* sums) const {
    const int aa = settings.grid.aa;
    const std::size_t columns = static_cast<std::size_t>(settings.grid.samples());
    for (int sy = 0; sy < aa; ++sy) {
      const int row = y * aa + sy;
      for (int sx = 0; sx < aa; ++sx) {
        const int column = x * aa + sx;
        const std::int32_t owner =
            band.owner[static_cast<std::size_t>(row - band.first_row * aa) * columns +
                       static_cast<std::size_t>(column)];
        if (owner < 0) {
          continue;
        }
        const preview::SurfacePoint at = surface_at_sample(
            mesh, tile, settings.grid, static_cast<std::uint32_t>(owner), column, row);
        sample->state.normal = at.normal;
        // The point lives only as long as this call.
        sample->context = &at;
        strataMix_result r{};
        shader(&r, &sample->state, &host.params());
        sample->context = nullptr;
        const strataMix_vector n = sample->state.normal;
        const float color[4] = {r.outColor.r, r.outColor.g, r.outColor.b, r.outColor.a};
        for (int c = 0; c < 4; ++c) {
          sums->color[c] += color[c];
        }
        strataMix_vector t = in_tangent_frame(n, at);
        if (settings.normal_y_down) {
          t.y = -t.y;
        }
        sums->normal[0] += encode(t.x);
        sums->normal[1] += encode(t.y);
        sums->normal[2] += encode(t.z);
        sums->object_normal[0] += encode(n.x);
        sums->object_normal[1] += encode(n.y);
        sums->object_normal[2] += encode(n.z);
        ++sums->hits;
      }
    }
  }

  // The texel's averages into the maps asked for; a texel no sample
  // covers holds 0 in each.
  void store(const TexelSums& sums, std::size_t texel) const {
    const float per_texel = static_cast<float>(settings.grid.aa * settings.grid.aa);
    out[MapKind::coverage][texel] = static_cast<float>(sums.hits) / per_texel;
    const float n = static_cast<float>(std::max(sums.hits, 1));
    if (wants(MapKind::color)) {
      for (std::size_t c = 0; c < 4; ++c) {
        out[MapKind::color][texel * 4 + c] = sums.color[c] / n;
      }
    }
    for (std::size_t c = 0; c < 3; ++c) {
      if (wants(MapKind::normal)) {
        out[MapKind::normal][texel * 3 + c] = sums.normal[c] / n;
      }
      if (wants(MapKind::object_normal)) {
        out[MapKind::object_normal][texel * 3 + c] = sums.object_normal[c] / n;
      }
    }
  }

  // Rasterises and shades one band; returns the shader calls made.
  std::uint64_t band(int index, Band* band, host::Sample* sample) const {
    raster.rasterise(index, band);
    std::uint64_t calls = 0;
    const int size = settings.grid.size;
    for (int y = band->first_row; y < band->first_row + band->rows; ++y) {
      for (int x = 0; x < size; ++x) {
        TexelSums sums;
        shade_texel(*band, sample, x, y, &sums);
        store(sums, static_cast<std::size_t>(y) * static_cast<std::size_t>(size) +
                        static_cast<std::size_t>(x));
        calls += static_cast<std::uint64_t>(sums.hits);
      }
    }
    return calls;
  }
};

}  // namespace

const MapKindEntry& map_entry(MapKind kind) {
  for (const MapKindEntry& e : kMapKinds) {
    if (e.kind == kind) {
      return e;
    }
  }
  return kMapKinds[0];
}

std::optional<MapKind> map_named(std::string_view name) {
  for (const MapKindEntry& e : kMapKinds) {
    if (e.name == name) {
      return e.kind;
    }
  }
  return std::nullopt;
}

TileMaps bake_tile(host::Host& host, host::ShaderFn shader, const Mesh& mesh, const Tile& tile,
                   const BakeSettings& settings, BakeProgress* progress) {
  TileMaps out;
  out.udim = udim(tile);
  const auto texels =
      static_cast<std::size_t>(settings.grid.size) * static_cast<std::size_t>(settings.grid.size);
  for (const MapKindEntry& e : kMapKinds) {
    const bool wanted =
        e.kind == MapKind::coverage ||
        std::find(settings.maps.begin(), settings.maps.end(), e.kind) != settings.maps.end();
    // Written by the bands' threads, every texel once.
    if (wanted) {
      out[e.kind].resize(texels * static_cast<std::size_t>(e.channels));
    }
  }
  const TileRaster raster(mesh, tile, settings.grid);
  const Worker worker{host, shader, mesh, tile, settings, raster, out};
  const auto samples_per_band = static_cast<std::uint64_t>(settings.grid.samples()) *
                                static_cast<std::uint64_t>(settings.grid.aa) *
                                TileRaster::kBandRows;

  // Each thread takes the next band until none is left; a band's texels are
  // written by its thread alone, so the maps need no lock, and what a texel
  // holds does not depend on which thread shaded it.
  std::atomic<int> next{0};
  std::atomic<std::uint64_t> calls{0};
  std::atomic<std::uint64_t> overlapped{0};
  auto work = [&] {
    host::Sample sample = host.make_sample(kRayEye, {0.0f, 0.0f, 1.0f});
    Band band;
    std::uint64_t mine = 0;
    std::uint64_t mine_overlapped = 0;
    for (int b = next++; b < raster.bands(); b = next++) {
      if (progress != nullptr && progress->stop.load(std::memory_order_relaxed)) {
        break;
      }
      mine += worker.band(b, &band, &sample);
      mine_overlapped += band.overlapped_texels;
      if (progress != nullptr) {
        progress->samples.fetch_add(samples_per_band, std::memory_order_relaxed);
      }
    }
    calls += mine;
    overlapped += mine_overlapped;
  };
  std::vector<std::thread> threads;
  for (unsigned i = 1; i < std::max(1u, settings.threads); ++i) {
    threads.emplace_back(work);
  }
  work();
  for (std::thread& t : threads) {
    t.join();
  }
  out.samples = calls;
  out.overlapped_texels = overlapped;
  out.covered = out.samples > 0;
  return out;
}

}  // namespace strata::bake
