#include "describe.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>

#include "description.h"
#include "image_commands.h"
#if defined(STRATAMIX_WITH_SERVE)
#include "api.h"
#endif

namespace strata::tools {
namespace {

// The document of this build: with the server, the one GET /api/fields
// answers.
std::string this_build() {
#if defined(STRATAMIX_WITH_SERVE)
  return serve::fields_json();
#elif defined(STRATAMIX_WITH_PREVIEW)
  return describe::description_json({describe::preview_lists(), std::nullopt});
#else
  return describe::description_json({});
#endif
}

}  // namespace

Command add_describe_command(CLI::App& root, std::ostream& out, std::ostream& err) {
  CLI::App* app = add_image_subcommand(root, ImageCommandId::describe);
  auto output = std::make_shared<std::string>();
  add_value(app, "--output", output.get(), "write it to FILE instead of standard output")
      ->type_name("FILE");
  return {app, [app, output, &out, &err] {
            const std::string text = this_build();
            if (output->empty()) {
              out << text;
              return 0;
            }
            std::ofstream file(*output, std::ios::binary);
            file << text;
            file.close();
            if (!file) {
              err << tool_name(*app) << ": cannot write " << *output << ": " << std::strerror(errno)
                  << '\n';
              return 1;
            }
            return 0;
          }};
}

}  // namespace strata::tools
