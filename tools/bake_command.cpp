#include "bake_command.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "image_commands.h"
#include "job.h"
#include "long_run.h"
#include "mesh.h"
#include "preset.h"
#include "raster.h"
#include "render.h"
#include "scene_preset.h"
#include "scene_writer.h"
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

bool asks_for(const BakeOptions& o, bake::MapKind kind) {
  for (const bake::MapKind k : o.maps) {
    if (k == kind) {
      return true;
    }
  }
  return false;
}

// The look's record and connections in `host`, from the preset `text`; its
// textures are opened now, relative to the preset's or the scene's folder.
void read_look(const BakeOptions& o, const std::string& look, const std::string& text,
               host::ShaderFn shader, host::Host* host) {
  const preview::Preset preset = preview::parse_preset(text);
  preview::TextureFiles textures({std::filesystem::path(o.look).parent_path(), false});
  preview::set_preview_defaults(&host->params());
  preview::apply_preset(preset, host, &textures);
  // The plug-in itself says which result its calls write.
  if (asks_for(o, bake::MapKind::color) &&
      preview::probe_exit(*host, shader, kRayEye).kind == preview::ResultKind::normal_vector) {
    throw std::runtime_error(look +
                             ": its calls write only outNormal (outputNormal is on), so it has "
                             "no colour to bake; ask --maps for normal, object-normal or "
                             "coverage alone");
  }
}

// What the maps cannot hold as the scene has it: each connected parameter,
// which only the scene's renderer evaluates, baked at the preview's neutral
// value or with the pattern --connect stands in for it.
void warn_connected(const BakeOptions& o,
                    const std::pair<std::string, std::vector<std::string>>& connected,
                    std::ostream& err) {
  for (const std::string& c : connected.second) {
    const std::string param = c.substr(0, c.find(' '));
    bool stood_in = false;
    for (const std::string& given : o.scene.connect) {
      stood_in = stood_in || given.compare(0, given.find('='), param) == 0;
    }
    err << "stratamix bake: warning: " << scene::quoted(connected.first) << ": " << c
        << " in the scene; "
        << (stood_in ? "the pattern given with --connect stands in"
                     : "baked at the preview's neutral value")
        << '\n';
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
      throw std::invalid_argument("'" + std::string(word) + "' is not a map (" +
                                  names_of(bake::kMapKinds, ", ") + ")");
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

int run_bake(const BakeOptions& o, host::ShaderFn shader, std::ostream& out, std::ostream& err) {
  const std::string me = "stratamix bake: ";
  // Everything is read and checked before the first sample is shaded.
  host::Host host;
  std::string text;
  // A scene's instance names the maps, and is named beside the scene in
  // their metadata.
  std::string name = std::filesystem::path(o.look).stem().string();
  std::string look = o.look;
  if (preview::is_scene_path(o.look)) {
    SceneRefusal refusal = SceneRefusal::refused;
    std::pair<std::string, std::vector<std::string>> connected;
    std::optional<std::string> preset = scene_instance_preset(
        o.look, o.scene, {"stratamix bake", "baked", "bakes"}, err, &refusal, &connected);
    if (!preset) {
      return refusal == SceneRefusal::command_line ? 2 : 1;
    }
    text = std::move(*preset);
    warn_connected(o, connected, err);
    name = preview::picture_names({connected.first}).front();
    look = o.look + " " + scene::quoted(connected.first);
  }
  try {
    if (!preview::is_scene_path(o.look)) {
      text = host::read_text_file(o.look, preview::kMaxPresetBytes);
    }
    read_look(o, look, text, shader, &host);
  } catch (const preview::PresetError& e) {
    err << me << look << ": " << e.what() << '\n';
    return 1;
  } catch (const std::runtime_error& e) {
    err << me << e.what() << '\n';
    return 1;
  }
  bake::Mesh mesh;
  try {
    bake::MeshOptions options;
    options.uv_set = static_cast<unsigned>(o.uv_set);
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
  job.name = name;
  job.look = look;
  job.mesh = o.mesh;
  job.version = "stratamix " STRATAMIX_VERSION;
  job.out_dir = o.out_dir;
  job.settings.grid = o.grid;
  job.settings.maps = o.maps;
  job.settings.normal_y_down = o.normal_y_down;
  job.settings.threads =
      o.threads != 0 ? static_cast<unsigned>(o.threads) : preview::render_threads();
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

Command add_bake_command(CLI::App& root, std::ostream& out, std::ostream& err) {
  CLI::App* app = add_image_subcommand(root, ImageCommandId::bake);
  auto o = std::make_shared<BakeOptions>();
  auto maps = std::make_shared<std::string>("color,normal");
  auto normal_y = std::make_shared<std::string>("up");
  auto plugin = std::make_shared<std::string>();
  app->add_option("look", o->look, "the look: a preset file, or a scene (SCENE.mi) and --shader")
      ->type_name("LOOK")
      ->required();
  add_value(app, "--mesh", &o->mesh, "the mesh: OBJ, FBX, glTF or another format assimp reads")
      ->type_name("FILE")
      ->required();
  add_value(app, "--size", &o->grid.size, "texels a side of each map")
      ->type_name("N")
      ->check(whole_number(1, kMaxBakeSize))
      ->capture_default_str();
  add_value(app, "--aa", &o->grid.aa, "samples a side in each texel")
      ->type_name("N")
      ->check(whole_number(1, kMaxBakeAa))
      ->capture_default_str();
  add_value(app, "--padding", &o->padding, "texels the islands grow by")
      ->type_name("N")
      ->check(whole_number(0, kMaxPadding))
      ->capture_default_str();
  add_value(app, "--maps", maps.get(), "the maps, of " + names_of(bake::kMapKinds, ", "))
      ->type_name("LIST")
      ->check(CLI::Validator(
          [](std::string& text) {
            try {
              maps_named(text);
              return std::string();
            } catch (const std::invalid_argument& e) {
              return std::string(e.what());
            }
          },
          ""))
      ->capture_default_str();
  add_value(app, "--out", &o->out_dir, "the output folder")
      ->type_name("DIR")
      ->capture_default_str();
  app->add_flag("--tx", o->tx, "also a tiled, mip-mapped texture of each map (.tx)");
  add_value(app, "--normal-y", normal_y.get(),
            "the normal map's green along +v (up, as OpenGL tools read it) or -v (down, "
            "DirectX)")
      ->type_name("up|down")
      ->check(CLI::Validator(
          [](std::string& text) {
            return text == "up" || text == "down" ? std::string()
                                                  : "is up or down, not '" + text + "'";
          },
          ""))
      ->capture_default_str();
  add_value(app, "--uv-set", &o->uv_set, "the mesh's UV set baked over (0, the first)")
      ->type_name("N")
      ->check(whole_number(0, 7))
      ->capture_default_str();
  add_value(app, "--threads", &o->threads, "threads (default: every core)")
      ->type_name("N")
      ->check(whole_number(1, 1024));
  add_scene_options(app, &o->scene, "bake");
  add_plugin_option(app, plugin.get());
  return {app, [app, o, maps, normal_y, plugin, &out, &err] {
            o->maps = maps_named(*maps);
            o->normal_y_down = *normal_y == "down";
            return with_session(*app, *plugin, err, [&](const host::Session& session) {
              return run_bake(*o, session.shader(), out, err);
            });
          }};
}

}  // namespace strata::tools
