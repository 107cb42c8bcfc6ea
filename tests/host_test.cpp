// The stand-in host keeps the record and its tags where it is told: after
// the record, as a renderer usually does, or before it, which makes the
// connection offset negative.
#include <gtest/gtest.h>

#include "harness.h"
#include "paths.h"

namespace strata::test {
namespace {

TEST(HostPlacement, TagsBeforeTheRecordGiveTheSameCall) {
  host::Host own;
  alignas(16) unsigned char memory[sizeof(strataMix_params) + 4 * host::Host::kTagWords];
  host::Host placed({reinterpret_cast<strataMix_params*>(memory + 4 * host::Host::kTagWords),
                     reinterpret_cast<std::uint32_t*>(memory)});
  for (host::Host* h : {&own, &placed}) {
    h->params() = bench::full_call(17);
    h->connect_all();
  }
  const Call expected = shade(own);
  const Call call = shade(placed);
  EXPECT_EQ(call.evaluated, expected.evaluated);
  // 4 flow and gate switches, 5 stage settings, 4 per slot for 8 slots, 6
  // blend and 7 correction parameters.
  EXPECT_EQ(call.evaluated.size(), 4u + 5u + 8u * 4u + 6u + 7u);
  EXPECT_EQ(hex(call.result.outColor), hex(expected.result.outColor));
  EXPECT_EQ(hex(call.normal), hex(expected.normal));
}

}  // namespace
}  // namespace strata::test
