// stratamix convert: a scene's strataMix instance to a preview preset, and a
// preset to a scene's shader block, each on standard output.
#ifndef STRATAMIX_TOOLS_CONVERT_H
#define STRATAMIX_TOOLS_CONVERT_H

#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command.h"

namespace strata::tools {

// One strataMix instance of a scene, as convert and bake take it.
struct SceneChoice {
  // The instance, needed when the scene holds several.
  std::string shader;
  std::vector<std::string> include_dirs;
  std::vector<std::string> connect;  // PARAMETER=PATTERN
  bool force = false;                // take an instance with errors as read
};

struct ConvertOptions {
  std::string input;  // a scene (.mi) or a preset (anything else)
  SceneChoice scene;
  // A preset: the block's instance name.
  std::string name = "look";
};

// --shader, -I, --connect and --force into `choice`, their help in the
// words of what the tool does with the instance ("convert", "bake").
void add_scene_options(CLI::App* app, SceneChoice* choice, const std::string& verb);

// Why a scene's instance could not be taken: a wrong --connect, a scene
// that cannot be read, or a scene without that one instance or whose
// instance has errors.
enum class SceneRefusal { command_line, unreadable, refused };

// The words a tool's messages use of what it does with an instance.
struct SceneVerbs {
  std::string tool;  // "stratamix convert"
  std::string done;  // "converted"
  std::string does;  // "converts"
};

// The instance of `scene` that `choice` names (the scene's only one when it
// names none) as a preset, every parameter written out, a connected one at
// the preview's neutral value unless --connect stands a pattern in for it.
// The scene's problems and the instance's are written on `err`; without a
// preset, `*refusal` says why. `connected`, when given, receives the
// instance's name and its connected parameters (connected_parameters).
std::optional<std::string> scene_instance_preset(
    const std::string& scene, const SceneChoice& choice, const SceneVerbs& verbs, std::ostream& err,
    SceneRefusal* refusal, std::pair<std::string, std::vector<std::string>>* connected = nullptr);

// Returns 0, 1 when the input is wrong (its problems on `err`), 2 when it
// cannot be read or the command line is wrong.
int run_convert(const ConvertOptions& options, std::ostream& out, std::ostream& err);

// stratamix convert SCENE.mi [--shader NAME] [-I DIR]... [--connect P=PATTERN]... [--force]
// stratamix convert PRESET [--name NAME]
Command add_convert_command(CLI::App& root, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_CONVERT_H
