#include "render.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fields.h"
#include "pattern.h"

namespace strata::preview {
namespace {

constexpr float kPi = 3.14159265358979323846f;

// What one sample of the view sees: the surface or not, its normal there and
// the point the patterns read.
struct SurfaceHit {
  bool hit;
  strataMix_vector normal;
  SurfacePoint point;
};

// x and y in [0, 1] across the view, y downward as the image runs; step_x
// and step_y, the distance to the next sample in each direction.
SurfaceHit surface_at(Shape shape, float x, float y, float step_x, float step_y) {
  const float sx = 2.0f * x - 1.0f;
  const float sy = 1.0f - 2.0f * y;
  if (shape == Shape::swatch) {
    SurfacePoint p{x, 1.0f - y, step_x, 0.0f, 0.0f, -step_y, {sx, sy, 0.0f}};
    return {true, {0.0f, 0.0f, 1.0f}, p};
  }
  const float r2 = sx * sx + sy * sy;
  if (r2 > 1.0f) {
    return {false, {0.0f, 0.0f, 0.0f}, {}};
  }
  const float sz = std::sqrt(1.0f - r2);
  // The visible half of the sphere spans u and v over [0, 1].
  SurfacePoint p;
  p.u = 0.5f + std::atan2(sx, sz) / kPi;
  p.v = 0.5f + std::asin(std::clamp(sy, -1.0f, 1.0f)) / kPi;
  p.position = p.normal = {sx, sy, sz};
  // The footprint from the derivatives of u and v: du/dsx = 1 / (pi sz),
  // du/dsy = sx sy / (pi sz r^2), dv/dsy = 1 / (pi r), where r is the
  // distance from the axis; it grows without bound toward the rim.
  const float r = std::sqrt(sx * sx + sz * sz);
  p.dudx = 2.0f * step_x / (kPi * sz);
  p.dudy = -2.0f * step_y * sx * sy / (kPi * sz * r * r);
  p.dvdy = -2.0f * step_y / (kPi * r);
  // The tangent along the longitude (+u) and the bitangent along the
  // latitude (+v); at the poles the default frame stands in.
  if (r > 0.0f) {
    p.tangent = {sz / r, 0.0f, -sx / r};
    p.bitangent = {-sy * sx / r, r, -sy * sz / r};
  }
  return {true, {sx, sy, sz}, p};
}

// The four floats a pixel shows of one call's result.
std::array<float, 4> result_of(ResultKind kind, const strataMix_result& r) {
  if (kind == ResultKind::normal_vector) {
    return {r.outNormal.x, r.outNormal.y, r.outNormal.z, 1.0f};
  }
  return {r.outColor.r, r.outColor.g, r.outColor.b, r.outColor.a};
}

}  // namespace

bool shape_named(std::string_view name, Shape* shape) {
  const ShapeEntry* s = row_named(kShapes, name);
  if (s != nullptr) {
    *shape = s->shape;
  }
  return s != nullptr;
}

Exit probe_exit(const host::Host& host, host::ShaderFn shader, std::int32_t ray_type) {
  host::Host probe;
  probe.params() = host.params();
  probe.connect_all();
  std::vector<std::uint32_t> evaluated;
  host::Sample sample = probe.make_sample(ray_type, {0.0f, 0.0f, 1.0f}, &evaluated);
  // A signalling NaN: no arithmetic yields one, and the one copy of the
  // incoming normal a gate makes is (0, 0, 1).
  constexpr std::uint32_t kUnwritten = 0x7fa11a5e;
  const float unwritten = float_from_bits(kUnwritten);
  strataMix_result r{};
  r.outNormal = {unwritten, unwritten, unwritten};
  shader(&r, &sample.state, &probe.params());
  const auto ran = [&evaluated](FieldStage stage) {
    for (const std::uint32_t offset : evaluated) {
      if (parameter_at(offset)->field->stage == stage) {
        return true;
      }
    }
    return false;
  };
  const float* normal = &r.outNormal.x;
  const bool wrote_normal =
      std::any_of(normal, normal + 3, [](float c) { return float_bits(c) != kUnwritten; });
  Exit exit;
  exit.normal_stage = ran(FieldStage::normal);
  if (wrote_normal) {
    exit.kind = ResultKind::normal_vector;
  } else if (exit.normal_stage && !ran(FieldStage::layer)) {
    exit.kind = ResultKind::normal_color;
  }
  return exit;
}

Frame blank_frame(const host::Host& host, host::ShaderFn shader, const View& view) {
  Frame frame;
  frame.width = view.width;
  frame.height = view.height;
  const Exit exit = probe_exit(host, shader, view.ray_type);
  frame.kind = exit.kind;
  frame.normal_stage = exit.normal_stage;
  const auto pixels = static_cast<std::size_t>(view.width) * static_cast<std::size_t>(view.height);
  frame.result.assign(pixels * 4, 0.0f);
  frame.normal.assign(pixels * 3, 0.0f);
  frame.coverage.assign(pixels, 0.0f);
  return frame;
}

std::uint64_t render_row(host::Host& host, host::ShaderFn shader, const View& view, int y,
                         host::Sample* sample, Frame* frame) {
  const float inv = 1.0f / static_cast<float>(view.aa);
  const float per_pixel = static_cast<float>(view.aa * view.aa);
  const float step_x = inv / static_cast<float>(view.width);
  const float step_y = inv / static_cast<float>(view.height);
  std::uint64_t calls = 0;
  for (int x = 0; x < view.width; ++x) {
    std::array<float, 4> sum{};
    strataMix_vector normal_sum{0.0f, 0.0f, 0.0f};
    int hits = 0;
    for (int sy = 0; sy < view.aa; ++sy) {
      for (int sx = 0; sx < view.aa; ++sx) {
        const float fx = (static_cast<float>(x) + (static_cast<float>(sx) + 0.5f) * inv) /
                         static_cast<float>(view.width);
        const float fy = (static_cast<float>(y) + (static_cast<float>(sy) + 0.5f) * inv) /
                         static_cast<float>(view.height);
        const SurfaceHit p = surface_at(view.shape, fx, fy, step_x, step_y);
        if (!p.hit) {
          continue;
        }
        sample->state.normal = p.normal;
        // The point lives only as long as this call.
        sample->context = &p.point;
        strataMix_result r{};
        shader(&r, &sample->state, &host.params());
        sample->context = nullptr;
        const std::array<float, 4> value = result_of(frame->kind, r);
        for (std::size_t c = 0; c < 4; ++c) {
          sum[c] += value[c];
        }
        normal_sum.x += sample->state.normal.x;
        normal_sum.y += sample->state.normal.y;
        normal_sum.z += sample->state.normal.z;
        ++hits;
      }
    }
    const auto pixel = static_cast<std::size_t>(y) * static_cast<std::size_t>(view.width) +
                       static_cast<std::size_t>(x);
    frame->coverage[pixel] = static_cast<float>(hits) / per_pixel;
    calls += static_cast<std::uint64_t>(hits);
    if (hits == 0) {
      continue;
    }
    const float n = static_cast<float>(hits);
    for (std::size_t c = 0; c < 4; ++c) {
      frame->result[pixel * 4 + c] = sum[c] / n;
    }
    frame->normal[pixel * 3 + 0] = normal_sum.x / n;
    frame->normal[pixel * 3 + 1] = normal_sum.y / n;
    frame->normal[pixel * 3 + 2] = normal_sum.z / n;
  }
  return calls;
}

unsigned render_threads() { return std::max(1u, std::thread::hardware_concurrency()); }

Frame render_frame(host::Host& host, host::ShaderFn shader, const View& view, unsigned threads,
                   ProgressMeter* meter, const std::function<void()>& tick) {
  Frame frame = blank_frame(host, shader, view);
  const auto samples_per_row = static_cast<std::uint64_t>(view.width) *
                               static_cast<std::uint64_t>(view.aa) *
                               static_cast<std::uint64_t>(view.aa);

  std::atomic<int> next_row{0};
  std::atomic<std::uint64_t> calls{0};
  std::mutex mutex;
  std::condition_variable finished;
  unsigned running = std::max(1u, threads);

  // Each worker takes the next row until none is left; rows are written by
  // one thread each, so the frame needs no lock.
  auto work = [&] {
    host::Sample sample = host.make_sample(view.ray_type, {0.0f, 0.0f, 1.0f});
    std::uint64_t mine = 0;
    for (int y = next_row++; y < view.height; y = next_row++) {
      mine += render_row(host, shader, view, y, &sample, &frame);
      if (meter != nullptr) {
        meter->add(samples_per_row);
      }
    }
    calls += mine;
    const std::lock_guard<std::mutex> lock(mutex);
    --running;
    finished.notify_one();
  };

  std::vector<std::thread> workers;
  for (unsigned i = 0, n = running; i < n; ++i) {
    workers.emplace_back(work);
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(100), [&] { return running == 0; })) {
      if (tick) {
        lock.unlock();
        tick();
        lock.lock();
      }
    }
  }
  for (std::thread& t : workers) {
    t.join();
  }
  frame.samples = calls;
  return frame;
}

}  // namespace strata::preview
