// The preview renderer: runs the plug-in over the pixels of a sphere or a
// flat swatch, row by row, on every core (or on a pool that shares its rows
// out, as stratamix serve does), one host Sample per thread and one shared
// Host record, and keeps the shader's results as it gave them.
#ifndef STRATAMIX_PREVIEW_RENDER_H
#define STRATAMIX_PREVIEW_RENDER_H

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "host.h"
#include "strataMix.h"

namespace strata::preview {

enum class Shape { swatch, sphere };

struct ShapeEntry {
  Shape shape;
  std::string_view name;
  std::string_view description;
};

// The order menus and messages list them in.
inline constexpr std::array kShapes = {
    ShapeEntry{Shape::sphere, "sphere",
               "a unit sphere seen from the front: u along longitude, v along latitude"},
    ShapeEntry{Shape::swatch, "swatch",
               "a flat square facing the viewer: u runs right, v up, normal (0, 0, 1)"},
};

bool shape_named(std::string_view name, Shape* shape);

// Samples per pixel along each axis a render takes at most.
inline constexpr int kMaxAa = 8;

// What the shader hands back.
enum class ResultKind {
  color,          // outColor holds a colour
  normal_vector,  // outNormal holds a normal
  normal_color,   // outColor holds the combined normal as (x, y, z, 1)
};

// The exit the plug-in's calls take for a record and a ray type: what they
// return, and whether the normal stage runs, so that `normal` holds the
// combined normal.
struct Exit {
  ResultKind kind = ResultKind::color;
  bool normal_stage = false;
};

// Asks the plug-in itself. The exit depends only on the record's integer
// fields and the ray type, which no pattern connects, so one call tells it:
// with every parameter connected to its own value, the parameters it
// evaluates say whether the normal stage and the colour path ran, and the
// result field it writes what it returns.
Exit probe_exit(const host::Host& host, host::ShaderFn shader, std::int32_t ray_type);

struct View {
  int width = 96;
  int height = 96;
  Shape shape = Shape::swatch;
  // Samples per pixel along each axis: aa * aa shader calls per pixel.
  int aa = 1;
  // The ray type every sample carries: an eye ray passes every gate; the
  // others show whether the gates stop them.
  std::int32_t ray_type = kRayEye;
};

// One rendered picture. Pixels off the surface have coverage 0 and hold 0.
struct Frame {
  int width = 0;
  int height = 0;
  // What the calls returned, and whether the normal stage ran (not when a
  // gate stopped the view's rays).
  ResultKind kind = ResultKind::color;
  bool normal_stage = false;
  // RGBA per pixel: the shader's result as it comes (a normal as x, y, z, 1),
  // averaged over the pixel's samples on the surface.
  std::vector<float> result;
  // xyz per pixel: the state's surface normal after each call, averaged.
  std::vector<float> normal;
  // Per pixel: the fraction of its samples that hit the surface.
  std::vector<float> coverage;
  std::uint64_t samples = 0;  // shader calls made
};

// Counts the samples done across threads, for a progress line.
class ProgressMeter {
 public:
  explicit ProgressMeter(std::uint64_t total) : total_(total) {}
  void add(std::uint64_t samples) { done_.fetch_add(samples, std::memory_order_relaxed); }
  std::uint64_t done() const { return done_.load(std::memory_order_relaxed); }
  std::uint64_t total() const { return total_; }

 private:
  std::uint64_t total_;
  std::atomic<std::uint64_t> done_{0};
};

// A frame of the view's size with every pixel 0, and the exit the plug-in
// takes for the host's record and the view's rays (probe_exit).
Frame blank_frame(const host::Host& host, host::ShaderFn shader, const View& view);

// Renders row y of `frame` (made by blank_frame for `view`) with the host's
// record and connections; returns the shader calls made. `sample` is the
// calling thread's own (host.make_sample). Rows may be rendered in any order
// and on any threads, each once: a row's pixels depend on nothing but the
// row, so the picture has the same bits however its rows are shared out.
std::uint64_t render_row(host::Host& host, host::ShaderFn shader, const View& view, int y,
                         host::Sample* sample, Frame* frame);

// Worker threads a render uses: every core the machine reports, at least 1.
unsigned render_threads();

// Renders `view` with the host's record and connections on `threads`
// threads. `tick`, if given, runs on the calling thread about every 100 ms
// while the workers run; `meter`, if given, counts the samples.
Frame render_frame(host::Host& host, host::ShaderFn shader, const View& view, unsigned threads,
                   ProgressMeter* meter = nullptr, const std::function<void()>& tick = {});

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_RENDER_H
