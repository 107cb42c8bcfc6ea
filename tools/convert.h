// stratamix convert: a scene's strataMix instance to a preview preset, and a
// preset to a scene's shader block, each on standard output.
#ifndef STRATAMIX_TOOLS_CONVERT_H
#define STRATAMIX_TOOLS_CONVERT_H

#include <iosfwd>
#include <string>
#include <vector>

#include "command.h"

namespace strata::tools {

struct ConvertOptions {
  std::string input;  // a scene (.mi) or a preset (anything else)
  // A scene: the instance to convert, needed when the scene holds several.
  std::string shader;
  std::vector<std::string> include_dirs;
  std::vector<std::string> connect;  // PARAMETER=PATTERN
  bool force = false;                // convert an instance with errors
  // A preset: the block's instance name.
  std::string name = "look";
};

// Returns 0, 1 when the input is wrong (its problems on `err`), 2 when it
// cannot be read or the command line is wrong.
int run_convert(const ConvertOptions& options, std::ostream& out, std::ostream& err);

// stratamix convert SCENE.mi [--shader NAME] [-I DIR]... [--connect P=PATTERN]... [--force]
// stratamix convert PRESET [--name NAME]
Command add_convert_command(CLI::App& root, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_CONVERT_H
