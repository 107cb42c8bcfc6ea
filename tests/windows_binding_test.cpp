// The Windows binding: how the plug-in finds the renderer's mi_phen_eval
// through the module handle it is handed, what it reports when it cannot,
// and that it looks again after a failure or a new handle.
//
// Each test loads the plug-in afresh, so that it starts with no handle and
// an empty table. This program does not export mi_phen_eval itself: a lookup
// through a null handle, which Wine resolves against the main program, fails
// here as it does on Windows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "renderer.h"
#include "strataMix.h"

namespace {

using ShaderFn = std::int32_t (*)(strataMix_result*, mi_state*, strataMix_params*);
using SetModuleFn = void (*)(void*);

constexpr strataMix_color kInPlace{0.25f, 0.5f, 0.75f, 1.0f};
// What the two provider modules answer (tests/CMakeLists.txt).
constexpr strataMix_color kRed{1.0f, 0.0f, 0.0f, 1.0f};
constexpr strataMix_color kGreen{0.0f, 1.0f, 0.0f, 1.0f};

std::string describe(strataMix_color c) {
  char text[64];
  std::snprintf(text, sizeof text, "(%g, %g, %g, %g)", c.r, c.g, c.b, c.a);
  return text;
}

bool same(strataMix_color a, strataMix_color b) {
  return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

// The text the library writes to standard error while the capture lives.
// The library shares the program's C runtime, so the runtime's descriptor 2
// is pointed at a temporary file and put back afterwards.
class StderrCapture {
 public:
  StderrCapture() {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "smx", 0, path_);
    std::fflush(stderr);
    file_ = _open(path_, _O_WRONLY | _O_TRUNC | _O_BINARY);
    saved_ = _dup(2);
    _dup2(file_, 2);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  ~StderrCapture() { finish(); }

  std::string finish() {
    if (saved_ < 0) {
      return text_;
    }
    std::fflush(stderr);
    _dup2(saved_, 2);
    _close(saved_);
    _close(file_);
    saved_ = -1;
    std::ifstream in(path_, std::ios::binary);
    text_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    in.close();
    DeleteFileA(path_);
    return text_;
  }

 private:
  char path_[MAX_PATH] = {};
  int file_ = -1;
  int saved_ = -1;
  std::string text_;
};

// A parameter record followed by its connection tags, as the renderer lays
// them out: a parameter's tag lies the record's size after it.
struct Scene {
  strataMix_params params;
  std::uint32_t tags[sizeof(strataMix_params) / 4];
};

// The colour path alone, with baseColor connected: one call evaluates one
// connected parameter, so it makes at most one lookup.
struct ConnectedBase {
  Scene scene{};
  mi_shader_record record{static_cast<std::int32_t>(offsetof(Scene, tags))};
  ConnectedBase() {
    scene.params.baseColor = kInPlace;
    scene.tags[offsetof(strataMix_params, baseColor) / 4] = 1;
  }
};

std::string lookup_failure(HMODULE module, DWORD error) {
  char text[96];
  std::snprintf(text, sizeof text, "dlsym failed on \"mi_phen_eval\" (handle: %08x error: %d)\n",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(module)),
                static_cast<int>(error));
  return text;
}

HMODULE kernel32() { return GetModuleHandleA("kernel32.dll"); }

class WindowsBinding : public testing::Test {
 protected:
  void SetUp() override {
    plugin_ = LoadLibraryA(STRATAMIX_PLUGIN_PATH);
    ASSERT_NE(plugin_, nullptr) << STRATAMIX_PLUGIN_PATH << ": error " << GetLastError();
    shader_ =
        reinterpret_cast<ShaderFn>(reinterpret_cast<void*>(GetProcAddress(plugin_, "strataMix")));
    set_module_ = reinterpret_cast<SetModuleFn>(
        reinterpret_cast<void*>(GetProcAddress(plugin_, "miSetModuleHandle")));
    ASSERT_NE(shader_, nullptr);
    ASSERT_NE(set_module_, nullptr);
  }
  void TearDown() override {
    // The last reference: the next test loads the plug-in with a fresh state.
    FreeLibrary(plugin_);
    for (HMODULE provider : providers_) {
      FreeLibrary(provider);
    }
  }

  HMODULE load_provider(const char* path) {
    HMODULE provider = LoadLibraryA(path);
    EXPECT_NE(provider, nullptr) << path << ": error " << GetLastError();
    providers_.push_back(provider);
    return provider;
  }

  strataMix_color shade(ConnectedBase& c, std::int32_t ray_type = 0) const {
    mi_state state{ray_type, {0.0f, 0.0f, 1.0f}, &c.record};
    strataMix_result result{};
    EXPECT_EQ(shader_(&result, &state, &c.scene.params), 1);
    return result.outColor;
  }

  HMODULE plugin_ = nullptr;
  ShaderFn shader_ = nullptr;
  SetModuleFn set_module_ = nullptr;
  std::vector<HMODULE> providers_;
};

TEST_F(WindowsBinding, HandleOfAModuleWithTheFunctionIsUsedSilently) {
  set_module_(load_provider(PROVIDER_RED_PATH));
  ConnectedBase c;
  StderrCapture err;
  const strataMix_color first = shade(c);
  const strataMix_color second = shade(c);
  EXPECT_EQ(err.finish(), "");
  EXPECT_TRUE(same(first, kRed)) << describe(first);
  EXPECT_TRUE(same(second, kRed)) << describe(second);
}

// No handle: the null-handle line, then the lookup through handle 0, whose
// failure shows the handle as eight zeros. The parameter is read in place.
TEST_F(WindowsBinding, NoHandleReportsBothLinesAndReadsInPlace) {
  SetLastError(0);
  ASSERT_EQ(GetProcAddress(nullptr, "mi_phen_eval"), nullptr)
      << "this program must not export mi_phen_eval";
  const DWORD null_handle_error = GetLastError();

  ConnectedBase c;
  StderrCapture err;
  const strataMix_color color = shade(c);
  EXPECT_EQ(err.finish(),
            "DYNLOAD: dl_handle null\n"
            "dlsym failed on \"mi_phen_eval\" (handle: 00000000 error: " +
                std::to_string(static_cast<int>(null_handle_error)) + ")\n");
  EXPECT_TRUE(same(color, kInPlace)) << describe(color);
}

// A failed lookup leaves the slot empty: every later connected parameter
// looks again and reports again.
TEST_F(WindowsBinding, FailedLookupIsRetriedAndReportedEachTime) {
  set_module_(kernel32());
  const std::string line = lookup_failure(kernel32(), ERROR_PROC_NOT_FOUND);
  ConnectedBase c;
  for (int call = 0; call < 3; ++call) {
    StderrCapture err;
    const strataMix_color color = shade(c);
    EXPECT_EQ(err.finish(), line) << "call " << call;
    EXPECT_TRUE(same(color, kInPlace)) << "call " << call << ": " << describe(color);
  }
}

// Once the function is found through a new handle, the failures stop.
TEST_F(WindowsBinding, LookupSucceedsAfterAFailureOnceTheHandleHasIt) {
  set_module_(kernel32());
  ConnectedBase c;
  {
    StderrCapture err;
    shade(c);
    EXPECT_EQ(err.finish(), lookup_failure(kernel32(), ERROR_PROC_NOT_FOUND));
  }
  set_module_(load_provider(PROVIDER_GREEN_PATH));
  StderrCapture err;
  const strataMix_color color = shade(c);
  EXPECT_EQ(err.finish(), "");
  EXPECT_TRUE(same(color, kGreen)) << describe(color);
}

// A new handle forgets the function found through the old one.
TEST_F(WindowsBinding, NewHandleForgetsTheFoundFunction) {
  ConnectedBase c;
  set_module_(load_provider(PROVIDER_RED_PATH));
  const strataMix_color before = shade(c);
  set_module_(load_provider(PROVIDER_GREEN_PATH));
  const strataMix_color after = shade(c);
  EXPECT_TRUE(same(before, kRed)) << describe(before);
  EXPECT_TRUE(same(after, kGreen)) << describe(after);

  set_module_(kernel32());
  StderrCapture err;
  const strataMix_color failed = shade(c);
  EXPECT_EQ(err.finish(), lookup_failure(kernel32(), ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(same(failed, kInPlace)) << describe(failed);
}

// Without a connected parameter nothing is looked up: no handle was given,
// so any lookup would print the null-handle line.
TEST_F(WindowsBinding, NothingConnectedMeansNoLookupAndNoMessage) {
  ConnectedBase offset_zero;
  offset_zero.record.connection_offset = 0;
  ConnectedBase tags_zero;
  tags_zero.scene.tags[offsetof(strataMix_params, baseColor) / 4] = 0;
  for (const std::int32_t ray_type : {0, 2, 9}) {
    StderrCapture err;
    const strataMix_color a = shade(offset_zero, ray_type);
    const strataMix_color b = shade(tags_zero, ray_type);
    EXPECT_EQ(err.finish(), "") << "ray type " << ray_type;
    EXPECT_TRUE(same(a, kInPlace)) << describe(a);
    EXPECT_TRUE(same(b, kInPlace)) << describe(b);
  }
}

// Render threads that find the slot empty together each look the function up
// and store the same address; every call gets the renderer's answer.
TEST_F(WindowsBinding, ConcurrentFirstLookupsAllFindTheFunction) {
  set_module_(load_provider(PROVIDER_RED_PATH));
  constexpr int kThreads = 4;
  constexpr int kCalls = 200;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  StderrCapture err;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t, &wrong] {
      ConnectedBase c;
      for (int call = 0; call < kCalls; ++call) {
        wrong[t] += same(shade(c), kRed) ? 0 : 1;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(err.finish(), "");
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(wrong[t], 0) << "thread " << t;
  }
}

}  // namespace
