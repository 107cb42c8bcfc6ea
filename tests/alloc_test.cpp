// The per-sample path allocates nothing: this executable replaces malloc and
// its relatives, and operator new, with counting versions, and runs every
// named path many times, unconnected and with every parameter connected,
// inside a counting window. The plug-in, loaded into this process, binds to
// the replacements like every other library does.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "harness.h"
#include "paths.h"

// glibc's own allocator under its internal names, which the replacements
// below call.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void note_allocation() {
  if (counting.load(std::memory_order_relaxed)) {
    allocations.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  note_allocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  note_allocation();
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
  note_allocation();
  return __libc_realloc(p, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  note_allocation();
  return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  note_allocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  note_allocation();
  *out = __libc_memalign(alignment, size);
  return *out == nullptr ? ENOMEM : 0;
}
void free(void* p) { __libc_free(p); }
}

// The other forms of new in the C++ runtime go through this one or through
// aligned_alloc.
void* operator new(std::size_t size) {
  note_allocation();
  void* p = __libc_malloc(size == 0 ? 1 : size);
  if (p == nullptr) {
    throw std::bad_alloc();
  }
  return p;
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete(void* p, std::size_t) noexcept { __libc_free(p); }

namespace strata::test {
namespace {

constexpr int kCallsPerPath = 20000;

// Counts the allocations that `body` makes.
template <typename Body>
long allocations_in(Body body) {
  allocations = 0;
  counting = true;
  body();
  counting = false;
  return allocations.load();
}

// Without this the test below could pass with replacements that nothing
// calls.
TEST(Allocation, TheCounterSeesAllocations) {
  // Called through volatile pointers so that the compiler cannot drop the
  // allocations.
  void* (*volatile allocate)(std::size_t) = &std::malloc;
  void* (*volatile make)(std::size_t) = static_cast<void* (*)(std::size_t)>(&::operator new);
  EXPECT_EQ(allocations_in([&] { std::free(allocate(16)); }), 1);
  EXPECT_EQ(allocations_in([&] { ::operator delete(make(16)); }), 1);
}

enum class Wiring { none, in_place, answered };

// Every parameter connected: the host answers with the record's own value,
// or a connected shader writes one and moves the state's normal.
void wire(host::Host& h, Wiring w) {
  if (w == Wiring::none) {
    return;
  }
  h.connect_all();
  if (w == Wiring::answered) {
    h.connect(offsetof(strataMix_params, normalMix), [](mi_state& s, void* value) {
      s.normal = {0.0f, 1.0f, 0.0f};
      const float mix = 0.25f;
      std::memcpy(value, &mix, sizeof mix);
    });
    h.connect(offsetof(strataMix_params, baseColor), [](mi_state& s, void* value) {
      const strataMix_color c{s.normal.x, s.normal.y, s.normal.z, 1.0f};
      std::memcpy(value, &c, sizeof c);
    });
  }
}

TEST(Allocation, NoPathAllocates) {
  const struct {
    const char* name;
    Wiring wiring;
  } wirings[] = {{"unconnected", Wiring::none},
                 {"all connected, answered in place", Wiring::in_place},
                 {"all connected, answered by shaders", Wiring::answered}};
  const host::ShaderFn shader = plugin().shader();
  for (const bench::ShaderPath& path : bench::shader_paths()) {
    for (const auto& w : wirings) {
      SCOPED_TRACE(path.name + ", " + w.name);
      host::Host h;
      h.params() = path.params;
      wire(h, w.wiring);
      strataMix_result result{};
      // No log: recording the evaluated names is the host's allocation, not
      // the shader's.
      host::Sample sample = h.make_sample(path.ray_type, path.normal);
      const long count = allocations_in([&] {
        for (int i = 0; i < kCallsPerPath; ++i) {
          sample.state.normal = path.normal;
          shader(&result, &sample.state, &h.params());
        }
      });
      EXPECT_EQ(count, 0);
    }
  }
}

}  // namespace
}  // namespace strata::test
