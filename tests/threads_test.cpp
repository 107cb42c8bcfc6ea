// Several threads run the shader at once over one shared parameter record,
// each with its own state, as render threads do. Each thread's results must
// equal a single-threaded run, bit for bit; under ThreadSanitizer (the tsan
// preset) the same test also finds any data race on the shared record, the
// host or the plug-in.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "harness.h"
#include "paths.h"

namespace strata::test {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 20;
constexpr int kSamples = 48;

// Connected shaders whose answers depend on the state they are given, so
// that a state shared by mistake between threads changes the results: the
// blend mode follows the normal's x, a weight its z, and the base colour's
// shader moves the normal as a connected shader may.
void connect_state_dependent(host::Host& h) {
  h.connect_all();
  h.connect(offsetof(strataMix_params, blendMode), [](mi_state& s, void* value) {
    const auto mode = static_cast<std::int32_t>(s.normal.x * 11.0f + 11.0f) % 23;
    std::memcpy(value, &mode, sizeof mode);
  });
  h.connect(offsetof(strataMix_params, layerWeight[3]), [](mi_state& s, void* value) {
    const float w = 0.5f + 0.25f * s.normal.z;
    std::memcpy(value, &w, sizeof w);
  });
  h.connect(offsetof(strataMix_params, baseColor), [](mi_state& s, void* value) {
    const strataMix_color c{s.normal.x, s.normal.y, 0.5f, 1.0f};
    s.normal = {s.normal.y, s.normal.z, s.normal.x};
    std::memcpy(value, &c, sizeof c);
  });
}

// Incoming normals on a spiral and every fourth sample a photon ray, which
// the gate ends at once.
strataMix_vector sample_normal(int i) {
  const float t = static_cast<float>(i) / kSamples;
  return {1.0f - 2.0f * t, 0.5f - t * t, 0.25f + t};
}
std::int32_t sample_ray(int i) { return i % 4 == 3 ? 9 : 0; }

// Bit for bit: NaN payloads and signed zeros count.
bool same(const Call& a, const Call& b) {
  return a.returned == b.returned && hex(a.result.outColor) == hex(b.result.outColor) &&
         hex(a.result.outNormal) == hex(b.result.outNormal) && hex(a.normal) == hex(b.normal) &&
         a.evaluated == b.evaluated;
}

TEST(Threads, ConcurrentCallsEqualASingleThreadedRun) {
  host::Host h;
  h.params() = bench::full_call(17);
  h.params().skipPhotons = 1;
  connect_state_dependent(h);

  std::vector<Call> expected;
  expected.reserve(kSamples);
  for (int i = 0; i < kSamples; ++i) {
    expected.push_back(shade(h, sample_ray(i), sample_normal(i)));
  }

  // Failures are counted in the threads and reported after the join.
  int mismatches[kThreads] = {};
  int first_bad[kThreads] = {};
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        // Each thread walks the samples from its own starting point.
        for (int k = 0; k < kSamples; ++k) {
          const int i = (k + t * kSamples / kThreads) % kSamples;
          if (!same(shade(h, sample_ray(i), sample_normal(i)), expected[i]) &&
              mismatches[t]++ == 0) {
            first_bad[t] = i;
          }
        }
      }
    });
  }
  for (std::thread& th : threads) {
    th.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(mismatches[t], 0) << "thread " << t << ", first at sample " << first_bad[t];
  }
}

}  // namespace
}  // namespace strata::test
