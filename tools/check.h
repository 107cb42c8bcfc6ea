// stratamix check: reads scenes and reports every strataMix instance in
// them, with what it sets and connects, and every problem as a compiler
// does (FILE:LINE:COLUMN: error|warning: message), as it reads: a scene of
// any size is checked in bounded memory.
#ifndef STRATAMIX_TOOLS_CHECK_H
#define STRATAMIX_TOOLS_CHECK_H

#include <iosfwd>
#include <string>
#include <vector>

#include "command.h"

namespace strata::tools {

struct CheckOptions {
  std::vector<std::string> scenes;
  std::vector<std::string> include_dirs;  // -I, in order
  bool json = false;                      // one JSON object a line
  bool werror = false;                    // warnings count as errors
};

// The instances go to `out`, the diagnostics and the closing count to
// `err` (with --json, everything to `out`). Returns 0 when no scene has an
// error (nor, with werror, a warning), 1 when one has, 2 when a scene
// could not be read at all; every scene named is read.
int run_check(const CheckOptions& options, std::ostream& out, std::ostream& err);

// stratamix check SCENE... [-I DIR]... [--json] [--werror]
Command add_check_command(CLI::App& root, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_CHECK_H
