// The program that runs the image commands itself: stratamix-images where
// the preview is built, stratamix where it is not.
#include "image_commands.h"

#include <ostream>

#include "describe.h"
#if defined(STRATAMIX_WITH_PREVIEW)
#include "preview.h"
#endif
#if defined(STRATAMIX_WITH_SERVE)
#include "serve.h"
#endif
#if defined(STRATAMIX_WITH_BAKE)
#include "bake_command.h"
#endif

namespace strata::tools {

Command add_image_command(CLI::App& root, ImageCommandId id, char** /*argv*/, std::ostream& out,
                          std::ostream& err) {
  switch (id) {
    case ImageCommandId::describe:
      return add_describe_command(root, out, err);
    case ImageCommandId::preview:
#if defined(STRATAMIX_WITH_PREVIEW)
      return add_preview_command(root, out, err);
#else
      break;
#endif
    case ImageCommandId::bake:
#if defined(STRATAMIX_WITH_BAKE)
      return add_bake_command(root, out, err);
#else
      break;
#endif
    case ImageCommandId::serve:
#if defined(STRATAMIX_WITH_SERVE)
      return add_serve_command(root, out, err);
#else
      break;
#endif
  }
  return add_lacking_image_command(root, id, err);
}

}  // namespace strata::tools
