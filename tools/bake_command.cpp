#include "bake_command.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "job.h"
#include "long_run.h"
#include "mesh.h"
#include "plugin.h"
#include "preset.h"
#include "raster.h"
#include "render.h"
#include "text_input.h"
#include "textures.h"

namespace strata::tools {
namespace {

// Where the signal handler asks the running bake to stop.
std::atomic<std::atomic<bool>*> stop_flag{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_bake_signal(int /*signal_number*/) {
  std::atomic<bool>* stop = stop_flag.load();
  if (stop != nullptr) {
    stop->store(true);
  }
}

// SIGINT and SIGTERM ask the bake to stop while this lives; the bake then
// removes what it wrote.
class StopOnSignal {
 public:
  explicit StopOnSignal(std::atomic<bool>* stop) {
    stop_flag = stop;
    old_int_ = std::signal(SIGINT, on_bake_signal);
    old_term_ = std::signal(SIGTERM, on_bake_signal);
  }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;
  ~StopOnSignal() {
    std::signal(SIGINT, old_int_);
    std::signal(SIGTERM, old_term_);
    stop_flag = nullptr;
  }

 private:
  void (*old_int_)(int);
  void (*old_term_)(int);
};

// Ticks the progress line every tenth of a second while the bake runs.
class ProgressWatch {
 public:
  ProgressWatch(const bake::BakeProgress& progress, std::uint64_t total, std::ostream& err)
      : line_("bake", err), thread_([this, &progress, total] {
          std::unique_lock<std::mutex> lock(mutex_);
          while (!done_) {
            line_.tick(progress.samples.load(std::memory_order_relaxed), total);
            changed_.wait_for(lock, std::chrono::milliseconds(100));
          }
          line_.finish();
        }) {}
  ProgressWatch(const ProgressWatch&) = delete;
  ProgressWatch& operator=(const ProgressWatch&) = delete;
  ~ProgressWatch() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

 private:
  ProgressLine line_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
  std::thread thread_;
};

std::string map_names() {
  std::string names;
  for (const bake::MapKindEntry& e : bake::kMapKinds) {
    names += (names.empty() ? "" : ", ") + std::string(e.name);
  }
  return names;
}

bool asks_for(const BakeOptions& o, bake::MapKind kind) {
  for (const bake::MapKind k : o.maps) {
    if (k == kind) {
      return true;
    }
  }
  return false;
}

// The look's record and connections in `host`; its textures are opened
// now, relative to the preset's folder.
void read_look(const BakeOptions& o, host::Host* host) {
  const std::string text = host::read_text_file(o.look, preview::kMaxPresetBytes);
  const preview::Preset preset = preview::parse_preset(text);
  preview::TextureFiles textures({std::filesystem::path(o.look).parent_path(), false});
  preview::set_preview_defaults(&host->params());
  preview::apply_preset(preset, host, &textures);
  if (asks_for(o, bake::MapKind::color) &&
      preview::result_kind(host->params(), kRayEye) == preview::ResultKind::normal_vector) {
    throw std::runtime_error(o.look +
                             ": its calls write only outNormal (outputNormal is on), so it has "
                             "no colour to bake; ask --maps for normal, object-normal or "
                             "coverage alone");
  }
}

}  // namespace

std::vector<bake::MapKind> maps_named(std::string_view list) {
  std::vector<bake::MapKind> maps;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string_view word = list.substr(start, comma - start);
    const std::optional<bake::MapKind> kind = bake::map_named(word);
    if (!kind) {
      throw std::invalid_argument("'" + std::string(word) + "' is not a map (" + map_names() + ")");
    }
    for (const bake::MapKind k : maps) {
      if (k == *kind) {
        throw std::invalid_argument("'" + std::string(word) + "' is given twice");
      }
    }
    maps.push_back(*kind);
    start = comma + 1;
  }
  return maps;
}

namespace {

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int parse_count(const std::string& option, const std::string& text, int low, int high) {
  int n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || n < low || n > high) {
    throw UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + text + "'");
  }
  return n;
}

BakeOptions parse_options(const std::vector<std::string>& args, std::string* plugin) {
  BakeOptions o;
  std::vector<std::string> looks;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--tx") {
      o.tx = true;
      continue;
    }
    static const char* const kWithValue[] = {"--mesh",    "--size",  "--aa",     "--padding",
                                             "--maps",    "--out",   "--uv-set", "--normal-y",
                                             "--threads", "--plugin"};
    const bool known =
        std::find(std::begin(kWithValue), std::end(kWithValue), a) != std::end(kWithValue);
    if (a.rfind("--", 0) == 0 && !known) {
      throw UsageError("unknown option " + a);
    }
    const bool has_value = i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0;
    if (known && !has_value) {
      throw UsageError(a + " needs a value");
    }
    if (a == "--mesh") {
      o.mesh = args[++i];
    } else if (a == "--size") {
      o.grid.size = parse_count(a, args[++i], 1, kMaxBakeSize);
    } else if (a == "--aa") {
      o.grid.aa = parse_count(a, args[++i], 1, kMaxBakeAa);
    } else if (a == "--padding") {
      o.padding = parse_count(a, args[++i], 0, kMaxPadding);
    } else if (a == "--maps") {
      try {
        o.maps = maps_named(args[++i]);
      } catch (const std::invalid_argument& e) {
        throw UsageError(std::string("--maps: ") + e.what());
      }
    } else if (a == "--out") {
      o.out_dir = args[++i];
    } else if (a == "--uv-set") {
      o.uv_set = static_cast<unsigned>(parse_count(a, args[++i], 0, 7));
    } else if (a == "--normal-y") {
      const std::string& y = args[++i];
      if (y != "up" && y != "down") {
        throw UsageError("--normal-y is up or down, not '" + y + "'");
      }
      o.normal_y_down = y == "down";
    } else if (a == "--threads") {
      o.threads = static_cast<unsigned>(parse_count(a, args[++i], 1, 1024));
    } else if (a == "--plugin") {
      *plugin = args[++i];
    } else {
      looks.push_back(a);
    }
  }
  if (looks.size() != 1) {
    throw UsageError(looks.empty() ? "give the look to bake, a preset"
                                   : "give one look, not " + std::to_string(looks.size()));
  }
  o.look = looks[0];
  if (o.mesh.empty()) {
    throw UsageError("give the mesh to bake on, --mesh FILE");
  }
  return o;
}

}  // namespace

const char kBakeUsage[] =
    "usage: stratamix bake PRESET --mesh FILE [options]\n"
    "  Bakes the look into texture maps on the mesh's UVs: LOOK_MAP.UDIM.exr\n"
    "  (float) and .png (8 bits, to look at) for each map and UDIM tile.\n"
    "  --mesh FILE      the mesh (OBJ, FBX, glTF and what else assimp reads)\n"
    "  --size N         texels a side of each map (default 2048)\n"
    "  --aa N           samples a side in each texel, 1 to 8 (default 2)\n"
    "  --padding N      texels the islands grow by (default 8)\n"
    "  --maps LIST      of color, normal, object-normal, coverage (default\n"
    "                   color,normal)\n"
    "  --out DIR        output folder (default: out)\n"
    "  --tx             also a tiled, mip-mapped texture of each map (.tx)\n"
    "  --normal-y D     the normal map's green along +v (up, default) or -v (down)\n"
    "  --uv-set N       the mesh's UV set to bake over (default 0, the first)\n"
    "  --threads N      threads (default: every core)\n"
    "  --plugin PATH    the plug-in to load\n";

int run_bake_command(const std::vector<std::string>& args, const std::string& default_plugin,
                     std::ostream& out, std::ostream& err) {
  std::string plugin = default_plugin;
  BakeOptions o;
  try {
    o = parse_options(args, &plugin);
  } catch (const UsageError& e) {
    err << "stratamix bake: " << e.what() << '\n' << kBakeUsage;
    return 2;
  }
  try {
    const host::Plugin loaded(plugin);
    if (loaded.version() != nullptr && loaded.version()() != 1) {
      throw std::runtime_error(plugin + " follows interface version " +
                               std::to_string(loaded.version()()) + "; the bake knows 1");
    }
    if (loaded.init() != nullptr) {
      std::int32_t init_request = 0;
      loaded.init()(nullptr, nullptr, &init_request);
    }
    const int status = run_bake(o, loaded.shader(), out, err);
    if (loaded.exit() != nullptr) {
      loaded.exit()();
    }
    return status;
  } catch (const std::runtime_error& e) {
    err << "stratamix bake: " << e.what() << '\n';
    return 2;
  }
}

int run_bake(const BakeOptions& o, host::ShaderFn shader, std::ostream& out, std::ostream& err) {
  const std::string me = "stratamix bake: ";
  // Everything is read and checked before the first sample is shaded.
  host::Host host;
  try {
    read_look(o, &host);
  } catch (const preview::PresetError& e) {
    err << me << o.look << ": " << e.what() << '\n';
    return 1;
  } catch (const std::runtime_error& e) {
    err << me << e.what() << '\n';
    return 1;
  }
  bake::Mesh mesh;
  try {
    bake::MeshOptions options;
    options.uv_set = o.uv_set;
    mesh = bake::read_mesh(o.mesh, options);
  } catch (const std::runtime_error& e) {
    err << me << e.what() << '\n';
    return 1;
  }
  const bake::UvLayout layout = bake::lay_out(mesh);
  if (layout.skipped != 0) {
    err << me << "warning: " << o.mesh << ": " << grouped(layout.skipped)
        << (layout.skipped == 1 ? " triangle" : " triangles")
        << " with UVs outside 0 to 10, or not numbers, left out\n";
  }
  if (layout.tiles.empty()) {
    err << me << o.mesh << ": no triangle has its UVs in the tiles 0 to 10\n";
    return 1;
  }

  bake::BakeJob job;
  job.name = std::filesystem::path(o.look).stem().string();
  job.look = o.look;
  job.mesh = o.mesh;
  job.version = "stratamix " STRATAMIX_VERSION;
  job.out_dir = o.out_dir;
  job.settings.grid = o.grid;
  job.settings.maps = o.maps;
  job.settings.normal_y_down = o.normal_y_down;
  job.settings.threads = o.threads != 0 ? o.threads : preview::render_threads();
  job.padding = o.padding;
  job.tx = o.tx;

  bake::BakeProgress progress;
  bake::BakeReport report;
  try {
    make_output_folder(o.out_dir);
    // The maps are written on the bake's threads; OpenImageIO starts none
    // of its own beside them.
    OIIO::attribute("threads", static_cast<int>(job.settings.threads));
    const StopOnSignal signals(&progress.stop);
    const ProgressWatch watch(progress, bake::bake_samples(layout, job.settings.grid), err);
    report = bake::run_bake(host, shader, mesh, layout, job, &progress);
  } catch (const bake::BakeInterrupted&) {
    err << me << "interrupted; no map written\n";
    return 130;
  } catch (const std::runtime_error& e) {
    err << me << e.what() << '\n';
    return 1;
  }
  if (report.overlapped_texels != 0) {
    err << me << "warning: " << o.mesh << ": the UVs overlap: " << grouped(report.overlapped_texels)
        << " texels covered twice\n";
  }
  for (const std::string& file : report.files) {
    out << file << '\n';
  }
  const unsigned threads = job.settings.threads;
  char figures[160];
  std::snprintf(figures, sizeof figures,
                " samples in %.2f s (shading %.2f s), %.2f M samples/s shading on %u thread%s",
                report.total_seconds, report.shading_seconds,
                static_cast<double>(report.samples) / report.shading_seconds / 1e6, threads,
                threads == 1 ? "" : "s");
  out << job.name << " on " << o.mesh << ": " << report.tiles.size()
      << (report.tiles.size() == 1 ? " tile, " : " tiles, ") << grouped(report.samples) << figures
      << '\n';
  return 0;
}

}  // namespace strata::tools
