// stratamix bake: a look baked into texture maps on a mesh's UVs, every
// texel the plug-in's own answers through the stand-in host.
#ifndef STRATAMIX_TOOLS_BAKE_COMMAND_H
#define STRATAMIX_TOOLS_BAKE_COMMAND_H

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "bake.h"
#include "command.h"
#include "convert.h"
#include "host.h"

namespace strata::tools {

// What a bake may ask: texels a side of a map, samples a side in a texel,
// and texels of padding.
inline constexpr int kMaxBakeSize = 16384;
inline constexpr int kMaxBakeAa = 8;
inline constexpr int kMaxPadding = 256;

struct BakeOptions {
  std::string look;  // a preset, or a scene (.mi) and the instance in it
  SceneChoice scene;
  std::string mesh;
  std::string out_dir = "out";
  bake::Grid grid{2048, 2};
  int padding = 8;
  std::vector<bake::MapKind> maps{bake::MapKind::color, bake::MapKind::normal};
  bool normal_y_down = false;
  int uv_set = 0;
  int threads = 0;  // 0: every core
  bool tx = false;
};

// "color,coverage" as the maps it names, each once; throws
// std::invalid_argument naming the first word that is none, or one given
// twice.
std::vector<bake::MapKind> maps_named(std::string_view list);

// Bakes with the plug-in's `shader`, which its session holds. Returns the
// exit status: 0; 1 when the look, the mesh or a texture is bad or a file
// cannot be written, each named with its reason on `err` before anything
// is shaded; 2 for a wrong --connect; 130 when interrupted (SIGINT or
// SIGTERM), no file then left under a final name.
int run_bake(const BakeOptions& options, host::ShaderFn shader, std::ostream& out,
             std::ostream& err);

// stratamix bake PRESET|SCENE.mi --mesh FILE [--shader NAME] [options];
// run_bake's exit status, or
// 2 for a wrong command line or a plug-in that cannot run.
Command add_bake_command(CLI::App& root, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_BAKE_COMMAND_H
