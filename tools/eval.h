// stratamix eval: shader cases as JSON Lines in, one JSON line per case out.
#ifndef STRATAMIX_TOOLS_EVAL_H
#define STRATAMIX_TOOLS_EVAL_H

#include <iosfwd>

#include "command.h"
#include "session.h"

namespace strata::tools {

// Evaluates every line of `in` through the session's plug-in; writes one
// answer per case to `out` and one message per malformed line to `err`.
// Returns the process exit status: 0, or 1 if any line failed.
int run_eval(const host::Session& session, std::istream& in, std::ostream& out, std::ostream& err);

// stratamix eval [--plugin PATH] < cases.jsonl
Command add_eval_command(CLI::App& root, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_EVAL_H
