// The scenes the page may open: the scene files under one folder, each
// named by its path inside it. A name is resolved inside the folder after
// its links are followed, and refused when it would leave it; what a scene
// includes is followed as on the command line. A scene and its includes
// are read up to kMaxSceneBytes, so that no request holds the server's one
// thread for long.
#ifndef STRATAMIX_SCENE_FOLDER_H
#define STRATAMIX_SCENE_FOLDER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "api.h"

namespace strata::serve {

inline constexpr std::uint64_t kMaxSceneBytes = std::uint64_t{64} << 20;
inline constexpr std::size_t kMaxScenesListed = 1000;
inline constexpr int kMaxFolderDepth = 8;
inline constexpr std::size_t kMaxFolderEntries = 100000;  // looked at, to list them
inline constexpr std::size_t kMaxSceneName = 1024;
// The diagnostics a scene's answer names; the counts count them all.
inline constexpr std::size_t kMaxSceneDiagnostics = 200;

struct SceneFolder {
  std::string root;  // empty: the server opens no scenes
  std::vector<std::string> include_dirs;
};

// GET /api/scenes: {"scenes": ["looks.mi", "sub/panel.mi", ...]}, sorted,
// each scene once by its name after its links are followed.
Answer scenes_answer(const SceneFolder& folder, const Query& query);

// GET /api/scene?name=NAME: the scene's strataMix instances, {"scene",
// "instances": [{"name", "line", "errors", "warnings", "connected"}],
// "diagnostics", "errors", "warnings"}. With &shader=INSTANCE: that instance
// as a preset's assignments (as /api/parse gives them) with "connected",
// its parameters connected in the scene, at their neutral values; 400 when
// it has errors.
Answer scene_answer(const SceneFolder& folder, const Query& query);

}  // namespace strata::serve

#endif  // STRATAMIX_SCENE_FOLDER_H
