// stratamix preview: renders contact sheets and preset files through the
// plug-in and writes each as a PNG (to look at) and an OpenEXR file (the
// float values).
#ifndef STRATAMIX_TOOLS_PREVIEW_H
#define STRATAMIX_TOOLS_PREVIEW_H

#include <iosfwd>
#include <string>
#include <vector>

namespace strata::tools {

extern const char kPreviewUsage[];

// `args` are the words after "preview". Returns the exit status: 0, 1 when a
// preset is bad or an image cannot be written, 2 for a usage error.
int run_preview(const std::vector<std::string>& args, const std::string& default_plugin,
                std::ostream& out, std::ostream& err);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_PREVIEW_H
