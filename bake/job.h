// One bake from start to finish: every tile of the mesh's UV layout baked,
// padded and written, the files named LOOK_MAP.UDIM.exr (and .png, .tx) in
// the output folder, all renamed to those names only once every one is
// written.
#ifndef STRATAMIX_BAKE_JOB_H
#define STRATAMIX_BAKE_JOB_H

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bake.h"
#include "host.h"
#include "mesh.h"

namespace strata::bake {

struct BakeJob {
  std::string name;     // the files' stem: the look's name
  std::string look;     // what the files' metadata names as the look
  std::string mesh;     // ... as the mesh
  std::string version;  // ... as the version
  std::filesystem::path out_dir;
  BakeSettings settings;
  int padding = 8;  // texels
  bool tx = false;  // also a tiled, mip-mapped texture of each map
};

struct BakeReport {
  std::vector<std::string> files;  // written, in order
  std::vector<int> tiles;          // the UDIM tiles baked
  std::size_t skipped_triangles = 0;
  std::uint64_t overlapped_texels = 0;
  std::uint64_t samples = 0;     // shader calls
  double shading_seconds = 0.0;  // rasterising and shading
  double total_seconds = 0.0;    // with padding and writing
};

// The bake was asked to stop (BakeProgress::stop); nothing was written.
struct BakeInterrupted : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The file a map of a tile goes to, without its extension:
// OUT/NAME_MAP.UDIM.
std::string map_stem(const BakeJob& job, MapKind kind, int udim);

// Samples the whole bake rasterises, on the mesh or off it; what
// BakeProgress::samples counts up to.
std::uint64_t bake_samples(const UvLayout& layout, const Grid& grid);

// Bakes the mesh with the host's record and connections. Throws
// std::runtime_error when a file cannot be written, BakeInterrupted when
// stopped; either way no file is left under a final name.
BakeReport run_bake(host::Host& host, host::ShaderFn shader, const Mesh& mesh,
                    const UvLayout& layout, const BakeJob& job, BakeProgress* progress = nullptr);

}  // namespace strata::bake

#endif  // STRATAMIX_BAKE_JOB_H
