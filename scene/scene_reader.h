// The scene reader: reads a scene in the renderer's scene language as far as
// shader instances go, as a stream, in bounded memory whatever its size.
//
//   - It finds every `shader "NAME" "strataMix" ( ... )` at any depth and
//     reads its parameters by their declared names and types; other shaders'
//     instances are read for their names alone, so that connections to them
//     resolve, also to instances defined later.
//   - Everything else is skipped without being understood, honouring
//     strings, `#` comments and brackets. `declare shader ... end declare`
//     is a declaration, not an instance; inside `declare phenomenon ... end
//     declare` a parameter may be connected to the phenomenon's interface.
//   - `$include "FILE"` is followed, looked for beside the including file,
//     then in the include folders in order; one not found is a warning (a
//     scene includes the declaration from the renderer's own path). Other
//     `$` directives are reported as not followed.
//   - It reads its files as the tools read every text (host/text_input.h):
//     regular files only, a byte-order mark skipped, CR, LF and CRLF line
//     ends, a NUL byte an error at its line and column. A scene is never
//     read whole and has no size bound; its lines have one, kMaxLineBytes:
//     a longer line is an error, and its text is skipped unread.
//   - What it keeps grows only with the instances: a hash of each
//     instance's name, the connections still waiting for their instance,
//     and whatever the sink keeps of the strataMix instances. Beside that it
//     holds about two batches of lines a file being read (a few hundred KiB;
//     two of the longest lines at most), for at most kMaxIncludeDepth files.
#ifndef STRATAMIX_SCENE_SCENE_READER_H
#define STRATAMIX_SCENE_SCENE_READER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scene.h"
#include "scene_files.h"

namespace strata::scene {

struct ReadOptions {
  std::vector<std::string> include_dirs;  // -I folders, in order
};

// Bounds the reader keeps to, whatever the scene.
constexpr int kMaxIncludeDepth = 16;
constexpr std::size_t kMaxBracketDepth = 256;
constexpr std::size_t kMaxDeclareDepth = 8;
constexpr std::size_t kMaxStringBytes = 4096;  // a name or path, as kept
constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

// Receives what a read finds, as it finds it.
class SceneSink {
 public:
  virtual ~SceneSink() = default;
  // A strataMix instance, once its parameter list is read and checked. A
  // connection to an instance the scene has not defined by then is
  // resolved at the end; if it never is, its error comes after.
  virtual void instance(const Instance& instance, const std::vector<std::string>& files) = 0;
  virtual void diagnostic(const Diagnostic& diagnostic, const std::vector<std::string>& files) = 0;
};

struct ReadSummary {
  std::vector<std::string> files;  // as Location::file indexes them
  std::size_t instances = 0;       // strataMix instances
  std::size_t errors = 0;
  std::size_t warnings = 0;
  // The scene itself could not be opened or read to its end.
  bool unreadable = false;
};

ReadSummary read_scene(const std::string& path, FileSystem& files, const ReadOptions& options,
                       SceneSink& sink);

// A whole read kept: every instance, and the first kMaxKeptDiagnostics
// diagnostics (the counts count them all).
constexpr std::size_t kMaxKeptDiagnostics = 10000;

struct Scene {
  ReadSummary summary;
  std::vector<Instance> instances;
  std::vector<Diagnostic> diagnostics;
};

Scene read_scene(const std::string& path, FileSystem& files, const ReadOptions& options);

}  // namespace strata::scene

#endif  // STRATAMIX_SCENE_SCENE_READER_H
