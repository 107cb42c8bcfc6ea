// stratamix describe: the machine-readable description of the contract, as
// this build has it.
#ifndef STRATAMIX_TOOLS_DESCRIBE_H
#define STRATAMIX_TOOLS_DESCRIBE_H

#include <iosfwd>

#include "command.h"

namespace strata::tools {

// stratamix describe [--output FILE]
Command add_describe_command(CLI::App& root, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_DESCRIBE_H
