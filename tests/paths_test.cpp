// The named paths that the benchmarks, the allocation test and the thread
// test run take the exits they are named for.
#include "paths.h"

#include <gtest/gtest.h>

#include <set>

#include "harness.h"

namespace strata::test {
namespace {

// What an exit writes and the last parameter it evaluates with every
// parameter connected; exit 8 ends on the correction switch or its last
// adjuster.
struct ExitSignature {
  bool writes_normal;
  std::set<std::string> last_evaluated;
};

const ExitSignature& signature(int exit) {
  static const ExitSignature kSignatures[] = {
      {true, {"skipPhotons"}},
      {false, {"baseColor"}},
      {true, {"skipReflections"}},
      {false, {"baseColor"}},
      {true, {"layerCount", "layerNormal[0]", "layerNormal[7]"}},
      {false, {"layerNormal[7]"}},
      {false, {"blendMode"}},
      {false, {"correctEnable", "contrast"}},
  };
  return kSignatures[exit - 1];
}

TEST(Paths, EachTakesTheExitItNames) {
  std::set<int> exits;
  for (const bench::ShaderPath& path : bench::shader_paths()) {
    SCOPED_TRACE(path.name);
    ASSERT_GE(path.exit, 1);
    ASSERT_LE(path.exit, 8);
    exits.insert(path.exit);
    host::Host h;
    h.params() = path.params;
    h.connect_all();
    const Call call = shade(h, path.ray_type, path.normal);
    const ExitSignature& s = signature(path.exit);
    EXPECT_EQ(normal_written(call), s.writes_normal);
    EXPECT_EQ(color_written(call), !s.writes_normal);
    ASSERT_FALSE(call.evaluated.empty());
    EXPECT_EQ(s.last_evaluated.count(call.evaluated.back()), 1u) << call.evaluated.back();
  }
  EXPECT_EQ(exits.size(), 8u) << "an exit has no path";
}

TEST(Paths, NormalPathsVisitTheirLayerCount) {
  for (int layers : {0, 1, 8}) {
    const auto path = bench::find_path("normal/layers-" + std::to_string(layers));
    ASSERT_TRUE(path.has_value()) << layers;
    host::Host h;
    h.params() = path->params;
    h.connect_all();
    const Call call = shade(h, path->ray_type, path->normal);
    int normals = 0;
    for (const std::string& name : call.evaluated) {
      normals += name.rfind("layerNormal[", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(normals, layers);
  }
}

}  // namespace
}  // namespace strata::test
