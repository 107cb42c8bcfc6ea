// stratamix serve: the look-development page, served on this machine.
#ifndef STRATAMIX_TOOLS_SERVE_H
#define STRATAMIX_TOOLS_SERVE_H

#include <iosfwd>
#include <string>
#include <vector>

namespace strata::tools {

extern const char kServeUsage[];

// `args` are the words after "serve". Serves until SIGINT or SIGTERM and
// returns the exit status: 0 once stopped, 1 when the address cannot be
// listened on or the plug-in is unfit, 2 for a usage error.
int run_serve(const std::vector<std::string>& args, const std::string& default_plugin,
              std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_SERVE_H
