// Baking a look into texture maps on a mesh's UVs: every covered sample of
// a tile is one call of the plug-in through the stand-in host, with the
// interpolated surface normal in the state and the sample's surface point
// (UV, position, footprint, frame) as its context for patterns and
// textures.
#ifndef STRATAMIX_BAKE_BAKE_H
#define STRATAMIX_BAKE_BAKE_H

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "host.h"
#include "mesh.h"
#include "raster.h"

namespace strata::bake {

enum class MapKind {
  color,          // the call's colour result, RGBA
  normal,         // the state's normal after the call in the tangent frame, 0.5 + 0.5 n
  object_normal,  // the same in the mesh's object space, 0.5 + 0.5 n
  coverage,       // the fraction of the texel's samples on the mesh
};

struct MapKindEntry {
  MapKind kind;
  std::string_view name;  // as --maps and the file names spell it
  int channels;
};

inline constexpr std::array kMapKinds = {
    MapKindEntry{MapKind::color, "color", 4},
    MapKindEntry{MapKind::normal, "normal", 3},
    MapKindEntry{MapKind::object_normal, "object-normal", 3},
    MapKindEntry{MapKind::coverage, "coverage", 1},
};

const MapKindEntry& map_entry(MapKind kind);
std::optional<MapKind> map_named(std::string_view name);

struct BakeSettings {
  Grid grid{2048, 2};
  std::vector<MapKind> maps{MapKind::color, MapKind::normal};
  // The normal map's green along -v (DirectX tools) instead of +v.
  bool normal_y_down = false;
  unsigned threads = 1;
};

// An allocator that leaves what it makes unwritten, for the maps' texels:
// each band's thread writes its own first, so that their pages are made
// where they are used, on every thread at once, rather than all zeroed on
// one thread before the shading begins.
template <class T>
struct UntouchedAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UntouchedAllocator<U>;
  };
  UntouchedAllocator() = default;
  template <class U>
  explicit UntouchedAllocator(const UntouchedAllocator<U>& /*other*/) noexcept {}
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using Texels = std::vector<float, UntouchedAllocator<float>>;

// One tile's maps as the shader gave them, before padding: texels row by
// row from the top, each map with its channels interleaved. A map not asked
// for is empty; the coverage is always made, for the padding.
struct TileMaps {
  int udim = 1001;
  std::array<Texels, kMapKinds.size()> maps;
  std::uint64_t samples = 0;            // shader calls made
  std::uint64_t overlapped_texels = 0;  // texels where the UVs overlap
  bool covered = false;                 // any sample on the mesh at all

  Texels& operator[](MapKind kind) { return maps[static_cast<std::size_t>(kind)]; }
  const Texels& operator[](MapKind kind) const { return maps[static_cast<std::size_t>(kind)]; }
};

// What a running bake shares with whoever watches it.
struct BakeProgress {
  std::atomic<std::uint64_t> samples{0};  // samples rasterised so far, on or off the mesh
  std::atomic<bool> stop{false};          // set to end the bake early
};

// Bakes one tile with the host's record and connections on
// settings.threads threads. The bits are the same on any number of threads.
// When `progress` is asked to stop, returns early with the maps unfinished
// (texels not yet shaded hold no defined value).
TileMaps bake_tile(host::Host& host, host::ShaderFn shader, const Mesh& mesh, const Tile& tile,
                   const BakeSettings& settings, BakeProgress* progress = nullptr);

}  // namespace strata::bake

#endif  // STRATAMIX_BAKE_BAKE_H
