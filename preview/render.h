// The preview renderer: runs the plug-in over the pixels of a sphere or a
// flat swatch, row by row, on every core (or on a pool that shares its rows
// out, as stratamix serve does), one host Sample per thread and one shared
// Host record, and keeps the shader's results as it gave them.
#ifndef STRATAMIX_PREVIEW_RENDER_H
#define STRATAMIX_PREVIEW_RENDER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "host.h"
#include "strataMix.h"

namespace strata::preview {

enum class Shape {
  swatch,  // a flat square facing the viewer: u runs right, v up, normal (0, 0, 1)
  sphere,  // a unit sphere seen from the front: u along longitude, v along latitude
};

bool shape_named(std::string_view name, Shape* shape);

// What the shader hands back, decided by the record's switches (when a gate
// stops the ray, the base colour comes back in outColor, whatever they say).
enum class ResultKind {
  color,          // outColor holds a colour
  normal_vector,  // outNormal holds the combined normal
  normal_color,   // outColor holds the combined normal as (x, y, z, 1)
};

ResultKind result_kind(const strataMix_params& params, std::int32_t ray_type = kRayEye);

// Whether one of the record's ray-type gates returns at once for a ray of
// this type, before the normal stage (the gates run only with normalEnable).
bool gate_stops(const strataMix_params& params, std::int32_t ray_type);

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
  ResultKind kind = ResultKind::color;
  // Whether the normal stage ran, so that `normal` holds the combined normal;
  // not when a gate stopped the view's rays.
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

// A frame of the view's size with every pixel 0 and the result kind that
// the record gives for the view's rays.
Frame blank_frame(const strataMix_params& params, const View& view);

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
