// stratamix where the preview is built: the image commands are handed over
// to the program beside it that has them, STRATAMIX_IMAGES, which is given
// the very same command line and takes the process over (execv), so that
// its help, its messages, its exit status and the signals it gets are its
// own.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ostream>
#include <string>

#include "image_commands.h"
#include "plugin.h"

namespace strata::tools {
namespace {

// The program beside this one is built with the preview, so it has describe
// and the preview; the bake and serve as the build has them.
#if defined(STRATAMIX_WITH_BAKE)
constexpr bool kWithBake = true;
#else
constexpr bool kWithBake = false;
#endif
#if defined(STRATAMIX_WITH_SERVE)
constexpr bool kWithServe = true;
#else
constexpr bool kWithServe = false;
#endif

bool in_this_build(ImageCommandId id) {
  switch (id) {
    case ImageCommandId::describe:
    case ImageCommandId::preview:
      return true;
    case ImageCommandId::bake:
      return kWithBake;
    case ImageCommandId::serve:
      return kWithServe;
  }
  return false;
}

// Returns only when the program cannot be run.
int run_images(const CLI::App& command, char** argv, std::ostream& out, std::ostream& err) {
  const std::string path = host::beside_executable(STRATAMIX_IMAGES);
  out.flush();
  err.flush();
  execv(path.c_str(), argv);
  const int error = errno;
  err << tool_name(command) << ": cannot run " << path << ": " << std::strerror(error) << '\n';
  return kUsageStatus;
}

}  // namespace

Command add_image_command(CLI::App& root, ImageCommandId id, char** argv, std::ostream& out,
                          std::ostream& err) {
  if (!in_this_build(id)) {
    return add_lacking_image_command(root, id, err);
  }
  CLI::App* app = add_image_subcommand(root, id);
  // Every word after the command, --help among them, is the other
  // program's to read.
  app->set_help_flag();
  app->prefix_command();
  return {app, [app, argv, &out, &err] { return run_images(*app, argv, out, err); }, true};
}

}  // namespace strata::tools
