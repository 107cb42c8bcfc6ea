// Cost of one shader call per path, through the host as a renderer calls
// it, unconnected and with every parameter connected; the arithmetic floor
// of the same work; and the full call on one thread against two.
//
//   shader/<path>/unconnected   the plug-in, every parameter read in place
//   shader/<path>/connected     the plug-in, every parameter through
//                               mi_phen_eval, answered with its own value
//   floor/<path>                the stage functions called on the values
//   threads/<path>              the plug-in over one shared record
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "floor.h"
#include "host.h"
#include "paths.h"
#include "plugin.h"

namespace strata::bench {
namespace {

const host::Plugin& plugin() {
  static const host::Plugin loaded(host::plugin_beside_executable());
  return loaded;
}

struct Outcome {
  strataMix_result result;
  strataMix_vector normal;
};

Outcome shader_outcome(const host::Host& h, const bench::ShaderPath& path) {
  Outcome o{};
  host::Sample sample = h.make_sample(path.ray_type, path.normal);
  plugin().shader()(&o.result, &sample.state, const_cast<strataMix_params*>(&h.params()));
  o.normal = sample.state.normal;
  return o;
}

Outcome floor_outcome(const bench::ShaderPath& path) {
  Outcome o{};
  o.normal = path.normal;
  floor_call(path.params, path.ray_type, &o.normal, &o.result);
  return o;
}

// Runs the plug-in on `h` until the benchmark has its measure. The normal
// is reset before each call, because the normal stage leaves its result in
// the state.
void run_shader(benchmark::State& state, const host::Host& h, const bench::ShaderPath& path) {
  const host::ShaderFn shader = plugin().shader();
  auto* params = const_cast<strataMix_params*>(&h.params());
  host::Sample sample = h.make_sample(path.ray_type, path.normal);
  strataMix_result result{};
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
    sample.state.normal = path.normal;
    shader(&result, &sample.state, params);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(sample.state.normal);
  }
  state.SetItemsProcessed(state.iterations());
}

void shader_path(benchmark::State& state, const bench::ShaderPath& path, bool connected) {
  host::Host h;
  h.params() = path.params;
  if (connected) {
    h.connect_all();
  }
  run_shader(state, h, path);
}

void floor_path(benchmark::State& state, const bench::ShaderPath& path) {
  strataMix_params params = path.params;
  strataMix_result result{};
  strataMix_vector normal{};
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom
    // The record is read afresh on every call, as the shader reads it.
    benchmark::DoNotOptimize(params);
    normal = path.normal;
    floor_call(params, path.ray_type, &normal, &result);
    benchmark::DoNotOptimize(result);
    benchmark::DoNotOptimize(normal);
  }
  state.SetItemsProcessed(state.iterations());
}

bool same_bits(const float* a, const float* b, int count) {
  for (int i = 0; i < count; ++i) {
    std::uint32_t x;
    std::uint32_t y;
    std::memcpy(&x, &a[i], sizeof x);
    std::memcpy(&y, &b[i], sizeof y);
    if (x != y) {
      return false;
    }
  }
  return true;
}

// Fails the run when the floor does other work than the shader: the ratio
// between them would mean nothing.
bool floor_matches_shader(const bench::ShaderPath& path) {
  host::Host h;
  h.params() = path.params;
  const Outcome s = shader_outcome(h, path);
  const Outcome f = floor_outcome(path);
  return same_bits(&s.result.outColor.r, &f.result.outColor.r, 4) &&
         same_bits(&s.result.outNormal.x, &f.result.outNormal.x, 3) &&
         same_bits(&s.normal.x, &f.normal.x, 3);
}

void register_all() {
  static const auto paths = bench::shader_paths();
  for (const bench::ShaderPath& path : paths) {
    if (!floor_matches_shader(path)) {
      benchmark::RegisterBenchmark(("floor/" + path.name).c_str(), [](benchmark::State& s) {
        s.SkipWithError("the floor's result differs from the shader's");
      });
      continue;
    }
    benchmark::RegisterBenchmark(("shader/" + path.name + "/unconnected").c_str(), shader_path,
                                 path, false);
    benchmark::RegisterBenchmark(("shader/" + path.name + "/connected").c_str(), shader_path, path,
                                 true);
    benchmark::RegisterBenchmark(("floor/" + path.name).c_str(), floor_path, path);
  }

  // Render threads share one record; each has its own state and result.
  static const bench::ShaderPath& full = paths.back();
  static const auto shared = [] {
    auto h = std::make_unique<host::Host>();
    h->params() = full.params;
    return h;
  }();
  benchmark::RegisterBenchmark(("threads/" + full.name).c_str(),
                               [](benchmark::State& s) { run_shader(s, *shared, full); })
      ->Threads(1)
      ->Threads(2)
      ->UseRealTime();
}

}  // namespace
}  // namespace strata::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  strata::bench::register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
