// stratamix serve: the look-development page, served on this machine.
#ifndef STRATAMIX_TOOLS_SERVE_H
#define STRATAMIX_TOOLS_SERVE_H

#include <iosfwd>

#include "command.h"

namespace strata::tools {

// stratamix serve [--port N] [--bind ADDRESS] [--scenes DIR [-I DIR]...]
// [--plugin PATH]. Serves until
// SIGINT or SIGTERM; its exit status: 0 once stopped, 1 when the address
// cannot be listened on, 2 for a wrong command line or a plug-in that
// cannot run.
Command add_serve_command(CLI::App& root, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_SERVE_H
