// A baked tile's maps made ready to use: islands grown by the padding so
// that mip-maps do not bleed, and written as files under temporary names
// that become their final names only when the whole bake is done.
#ifndef STRATAMIX_BAKE_MAPS_H
#define STRATAMIX_BAKE_MAPS_H

#include <string>
#include <utility>
#include <vector>

namespace strata::bake {

// One map of a tile in memory: size x size texels, row 0 at the top,
// `channels` floats each.
struct MapView {
  float* texels;
  int size;
  int channels;
};

// Where the padding reaches: the coverage dilated by `padding` texels in
// each direction (a square around every covered texel); non-zero inside.
std::vector<float> padding_reach(const float* coverage, int size, int padding);

// Grows the map's islands into the reach. A texel the mesh covers keeps its
// values as the shader gave them (a NaN too); a hole within the reach gets a
// fill pushed and pulled from the covered texels, each weighted by its
// coverage (not by the shader's alpha, which is often 0); every other texel
// is 0. Throws std::runtime_error with OpenImageIO's reason when it fails.
void pad_map(const MapView& map, const float* coverage, const std::vector<float>& reach);

// What the files say about where they came from.
struct MapMetadata {
  std::string look;     // the preset (or scene and shader) baked
  std::string mesh;     // the mesh's path
  std::string version;  // "stratamix 1.0.0 (plug-in interface 1)"
  std::string map;      // "color"
  int udim = 1001;
};

// Files written under temporary names beside their final ones. commit()
// renames them all; whatever is not committed is removed, so that a failed
// or interrupted bake leaves no partial file under a final name.
class PendingFiles {
 public:
  PendingFiles() = default;
  PendingFiles(const PendingFiles&) = delete;
  PendingFiles& operator=(const PendingFiles&) = delete;
  ~PendingFiles();

  // The temporary name for `final_path`, remembered for commit().
  std::string add(const std::string& final_path);
  // Renames every file to its final name; returns the final names.
  std::vector<std::string> commit();
  // Removes every temporary file.
  void discard();

 private:
  std::vector<std::pair<std::string, std::string>> files_;  // temporary, final
};

// The float OpenEXR file with the metadata, and the 8-bit PNG beside it (a
// colour map's alpha left out, since the shader's alpha is often 0). The
// values are written as they are, with no transfer curve. Throws
// std::runtime_error naming the file and OpenImageIO's reason.
void write_map_files(const MapView& map, const MapMetadata& metadata, const std::string& stem,
                     PendingFiles* files);

// A tiled, mip-mapped texture made by OpenImageIO (STEM.tx).
void write_map_texture(const MapView& map, const MapMetadata& metadata, const std::string& stem,
                       PendingFiles* files);

}  // namespace strata::bake

#endif  // STRATAMIX_BAKE_MAPS_H
