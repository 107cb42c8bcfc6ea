#include "pow_count.h"

#if !defined(_WIN32)
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>

namespace {

// 32 bits: 32-bit PowerPC has no 64-bit atomics, and no test nears 2^32 calls.
std::atomic<std::uint32_t> calls{0};

template <typename Fn>
Fn library_function(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (found == nullptr) {
    std::abort();
  }
  return reinterpret_cast<Fn>(found);
}

}  // namespace

// This file is built with -fno-builtin, so that these are calls, not the
// compiler's own idea of pow.
extern "C" double pow(double x, double y) {
  static const auto real = library_function<double (*)(double, double)>("pow");
  calls.fetch_add(1, std::memory_order_relaxed);
  return real(x, y);
}

extern "C" float powf(float x, float y) {
  static const auto real = library_function<float (*)(float, float)>("powf");
  calls.fetch_add(1, std::memory_order_relaxed);
  return real(x, y);
}

std::uint64_t strata::test::pow_calls() { return calls.load(std::memory_order_relaxed); }

#else

std::uint64_t strata::test::pow_calls() { return 0; }

#endif
