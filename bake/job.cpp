#include "job.h"

#include <chrono>
#include <fstream>
#include <memory>

#include "maps.h"

namespace strata::bake {
namespace {

// A tile's maps beyond this are set aside on disk while another one is
// padded, so that the padding's own copies do not come on top of them all.
constexpr std::size_t kResidentMapBytes = std::size_t{256} << 20;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::size_t bytes_of(const Texels& v) { return v.size() * sizeof(float); }

// A map's texels kept in a file of the output folder until needed, under a
// name no bake's result has; the file goes when this does.
class SetAside {
 public:
  SetAside(MapKind kind, Texels* texels, std::string path)
      : kind_(kind), texels_(texels), path_(std::move(path)), count_(texels->size()) {
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(texels->data()),
              static_cast<std::streamsize>(bytes_of(*texels)));
    if (!out) {
      throw std::runtime_error("cannot set a map aside in " + path_);
    }
    Texels().swap(*texels);
  }
  SetAside(const SetAside&) = delete;
  SetAside& operator=(const SetAside&) = delete;
  ~SetAside() {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }

  MapKind kind() const { return kind_; }

  void bring_back() {
    texels_->resize(count_);
    std::ifstream in(path_, std::ios::binary);
    in.read(reinterpret_cast<char*>(texels_->data()),
            static_cast<std::streamsize>(bytes_of(*texels_)));
    if (!in) {
      throw std::runtime_error("cannot read back the map set aside in " + path_);
    }
  }

 private:
  MapKind kind_;
  Texels* texels_;
  std::string path_;
  std::size_t count_;
};

// Pads and writes one tile's maps, one map at a time.
void finish_tile(TileMaps& maps, const BakeJob& job, PendingFiles* files) {
  const int size = job.settings.grid.size;
  std::size_t resident = 0;
  for (const MapKind kind : job.settings.maps) {
    resident += bytes_of(maps[kind]);
  }
  // All but the first map set aside, when they are many.
  std::vector<std::unique_ptr<SetAside>> aside;
  if (resident > kResidentMapBytes) {
    bool first = true;
    for (const MapKind kind : job.settings.maps) {
      if (kind != MapKind::coverage && !first) {
        aside.push_back(std::make_unique<SetAside>(
            kind, &maps[kind], map_stem(job, kind, maps.udim) + ".aside.partial"));
      }
      first = first && kind == MapKind::coverage;
    }
  }
  const float* coverage = maps[MapKind::coverage].data();
  const std::vector<float> reach = padding_reach(coverage, size, job.padding);
  for (const MapKind kind : job.settings.maps) {
    for (const std::unique_ptr<SetAside>& set : aside) {
      if (set->kind() == kind) {
        set->bring_back();
      }
    }
    const MapView view{maps[kind].data(), size, map_entry(kind).channels};
    // The coverage is the coverage: it is not grown.
    if (kind != MapKind::coverage && job.padding > 0) {
      pad_map(view, coverage, reach);
    }
    const MapMetadata metadata{job.look, job.mesh, job.version, std::string(map_entry(kind).name),
                               maps.udim};
    const std::string stem = map_stem(job, kind, maps.udim);
    write_map_files(view, metadata, stem, files);
    if (job.tx) {
      write_map_texture(view, metadata, stem, files);
    }
    if (kind != MapKind::coverage) {
      Texels().swap(maps[kind]);
    }
  }
}

}  // namespace

std::string map_stem(const BakeJob& job, MapKind kind, int udim) {
  return (job.out_dir /
          (job.name + "_" + std::string(map_entry(kind).name) + "." + std::to_string(udim)))
      .string();
}

std::uint64_t bake_samples(const UvLayout& layout, const Grid& grid) {
  const std::uint64_t bands =
      (static_cast<std::uint64_t>(grid.size) + TileRaster::kBandRows - 1) / TileRaster::kBandRows;
  return layout.tiles.size() * bands * TileRaster::kBandRows *
         static_cast<std::uint64_t>(grid.samples()) * static_cast<std::uint64_t>(grid.aa);
}

BakeReport run_bake(host::Host& host, host::ShaderFn shader, const Mesh& mesh,
                    const UvLayout& layout, const BakeJob& job, BakeProgress* progress) {
  const Clock::time_point start = Clock::now();
  BakeReport report;
  report.skipped_triangles = layout.skipped;
  PendingFiles files;
  for (const Tile& tile : layout.tiles) {
    const Clock::time_point shading = Clock::now();
    TileMaps maps = bake_tile(host, shader, mesh, tile, job.settings, progress);
    report.shading_seconds += seconds_since(shading);
    if (progress != nullptr && progress->stop) {
      throw BakeInterrupted("interrupted");
    }
    report.samples += maps.samples;
    report.overlapped_texels += maps.overlapped_texels;
    // A tile the triangles only touch at an edge holds nothing.
    if (!maps.covered) {
      continue;
    }
    report.tiles.push_back(maps.udim);
    finish_tile(maps, job, &files);
  }
  if (progress != nullptr && progress->stop) {
    throw BakeInterrupted("interrupted");
  }
  report.files = files.commit();
  report.total_seconds = seconds_since(start);
  return report;
}

}  // namespace strata::bake
