// stratamix: the command-line tools of the stand-in renderer. Where the
// preview is built this is also stratamix-images, the program that runs the
// image commands for stratamix (image_commands.h).
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "check.h"
#include "command.h"
#include "convert.h"
#include "eval.h"
#include "image_commands.h"
#include "plugin.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using strata::tools::Command;

// The interface version is asked of the plug-in itself: the one found beside
// the tool may be of another release than the tool. Nothing else of it is
// called, so a plug-in of another interface version is told too.
int print_version(const CLI::App& root, const std::string& plugin) {
  try {
    const strata::host::Plugin loaded(plugin);
    const std::int32_t interface = loaded.interface_version();
    std::cout << "stratamix " STRATAMIX_VERSION " (plug-in interface " << interface << ")\n";
    return 0;
  } catch (const strata::host::PluginError& e) {
    std::cerr << strata::tools::tool_name(root) << ": " << e.what() << '\n';
    return strata::tools::kUsageStatus;
  }
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // Lines end in "\n" on every platform, so that the answers of two builds
  // compare byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // Input is read as bytes: the readers end lines at CR, LF or CRLF
  // themselves, and a Ctrl-Z byte is a byte, not the end of the input.
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  // The tools write through the streams alone; unsynchronised, standard
  // input is read a buffer at a time rather than a byte at a time.
  std::ios::sync_with_stdio(false);
  // Whatever escapes the commands (the parser's own set-up, memory running
  // out) still ends in one line and exit status 2, never an abort.
  try {
    CLI::App root("The strataMix plug-in's tools, on the stand-in renderer.", "stratamix");
    bool version = false;
    std::string plugin;
    CLI::Option* version_flag = root.add_flag(
        "--version", version, "the release, and the interface version of the plug-in it loads");
    strata::tools::add_plugin_option(&root, &plugin)->needs(version_flag);

    using strata::tools::add_image_command;
    using strata::tools::ImageCommandId;
    std::vector<Command> commands = {
        strata::tools::add_eval_command(root, std::cin, std::cout, std::cerr),
        add_image_command(root, ImageCommandId::describe, argv, std::cout, std::cerr),
        strata::tools::add_check_command(root, std::cout, std::cerr),
        strata::tools::add_convert_command(root, std::cout, std::cerr),
        add_image_command(root, ImageCommandId::preview, argv, std::cout, std::cerr),
        add_image_command(root, ImageCommandId::bake, argv, std::cout, std::cerr),
        add_image_command(root, ImageCommandId::serve, argv, std::cout, std::cerr),
    };
    const auto no_command = [&] {
      if (!version) {
        std::string names;
        for (std::size_t i = 0; i < commands.size(); ++i) {
          names += (i == 0                     ? ""
                    : i + 1 == commands.size() ? " or "
                                               : ", ") +
                   commands[i].app->get_name();
        }
        throw strata::tools::UsageError("give a command, " + names);
      }
      return print_version(root, plugin);
    };
    return strata::tools::run_command_line(root, commands, no_command, argc, argv, std::cout,
                                           std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "stratamix: " << e.what() << '\n';
    return strata::tools::kUsageStatus;
  }
}
