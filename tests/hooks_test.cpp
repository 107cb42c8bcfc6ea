// The hooks the renderer calls next to the shader: the interface version,
// the per-shader initialisation answer, and the exit that does nothing.
#include <gtest/gtest.h>

#include <cstdint>

#include "harness.h"

namespace strata::test {
namespace {

TEST(Hooks, AreExportedUnderPlainNames) {
  EXPECT_NE(plugin().version(), nullptr) << "strataMix_version";
  EXPECT_NE(plugin().init(), nullptr) << "strataMix_init";
  EXPECT_NE(plugin().exit(), nullptr) << "strataMix_exit";
}

TEST(Hooks, VersionIsOneOnEveryCall) {
  for (int call = 0; call < 3; ++call) {
    EXPECT_EQ(plugin().version()(), 1) << "call " << call;
  }
}

// Without a parameter record the renderer asks for the shader as a whole:
// the answer is 0 (no per-instance initialisation), whatever the flag held.
TEST(Hooks, InitWithoutParameterRecordStoresZero) {
  for (const std::int32_t before : {1, -1, 7, 0}) {
    std::int32_t init_req = before;
    plugin().init()(nullptr, nullptr, &init_req);
    EXPECT_EQ(init_req, 0) << "flag held " << before;
  }
}

// With a record the call is for one instance: nothing is stored.
TEST(Hooks, InitWithParameterRecordLeavesTheFlag) {
  host::Host h;
  for (const std::int32_t before : {1, -1, 7, 0}) {
    std::int32_t init_req = before;
    plugin().init()(nullptr, &h.params(), &init_req);
    EXPECT_EQ(init_req, before) << "flag held " << before;
  }
}

// A renderer that passes no flag gets no write through a null pointer.
TEST(Hooks, InitWithoutFlagWritesNothing) {
  plugin().init()(nullptr, nullptr, nullptr);
  std::int32_t init_req = 5;
  plugin().init()(nullptr, nullptr, &init_req);
  EXPECT_EQ(init_req, 0) << "the hook still answers after a call without a flag";
}

// The exit keeps no state to tear down: the shader answers the same before
// and after it, and the version is still 1.
TEST(Hooks, ExitChangesNothing) {
  host::Host h;
  h.params().baseColor = {0.25f, 0.5f, 0.75f, 1.0f};
  h.params().correctEnable = 1;
  h.params().gamma = 2.0f;
  const Call before = shade(h);
  plugin().exit()();
  const Call after = shade(h);
  EXPECT_EQ(hex(after.result.outColor), hex(before.result.outColor));
  EXPECT_EQ(plugin().version()(), 1);
}

}  // namespace
}  // namespace strata::test
