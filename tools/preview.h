// stratamix preview: renders contact sheets and preset files through the
// plug-in and writes each as a PNG (to look at) and an OpenEXR file (the
// float values).
#ifndef STRATAMIX_TOOLS_PREVIEW_H
#define STRATAMIX_TOOLS_PREVIEW_H

#include <iosfwd>

#include "command.h"

namespace strata::tools {

// stratamix preview [options] [PRESET...]. Its exit status: 0, 1 when a
// preset is bad or an image cannot be written, 2 for a wrong command line
// or a plug-in that cannot run.
Command add_preview_command(CLI::App& root, std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_PREVIEW_H
