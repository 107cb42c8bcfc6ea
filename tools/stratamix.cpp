// stratamix: the command-line tools of the stand-in renderer.
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "eval.h"
#include "plugin.h"
#if defined(STRATAMIX_WITH_PREVIEW)
#include "preview.h"
#endif
#if defined(STRATAMIX_WITH_SERVE)
#include "serve.h"
#endif
#if defined(STRATAMIX_WITH_BAKE)
#include "bake_command.h"
#endif

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kUsage[] =
    "usage: stratamix eval [--plugin PATH] < cases.jsonl\n"
    "  Reads one case per line (JSON) and writes one answer per line.\n"
    "  --plugin PATH  the plug-in to load (default: the one beside stratamix, or\n"
    "                 in an installed tree ../lib/strataMix/ from stratamix)\n"
    "usage: stratamix --version [--plugin PATH]\n"
    "  The release, and the interface version of the plug-in it loads.\n";

// One line naming the problem, then how the tool is used.
int usage_error(const std::string& problem) {
  std::cerr << problem << '\n' << kUsage;
#if defined(STRATAMIX_WITH_PREVIEW)
  std::cerr << strata::tools::kPreviewUsage;
#endif
#if defined(STRATAMIX_WITH_SERVE)
  std::cerr << strata::tools::kServeUsage;
#endif
#if defined(STRATAMIX_WITH_BAKE)
  std::cerr << strata::tools::kBakeUsage;
#endif
  return 2;
}

// The plug-in beside stratamix in a build tree; in an installed tree the
// plug-in lies in lib/strataMix beside bin.
std::string default_plugin() {
  const std::filesystem::path beside = strata::host::plugin_beside_executable();
  if (std::filesystem::exists(beside)) {
    return beside.string();
  }
  const std::filesystem::path installed =
      beside.parent_path().parent_path() / "lib" / "strataMix" / strata::host::plugin_file_name();
  return std::filesystem::exists(installed) ? installed.string() : beside.string();
}

// The words after the command may only name the plug-in. Returns the exit
// status of a usage error, or 0.
int read_plugin_option(int argc, char** argv, const char* command, std::string& plugin) {
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg != "--plugin") {
      const char* what = arg.rfind("--", 0) == 0 ? "unknown option" : "unexpected argument";
      return usage_error(std::string(command) + ": " + what + " '" + arg + "'");
    }
    if (i + 1 == argc || std::strncmp(argv[i + 1], "--", 2) == 0) {
      return usage_error(std::string(command) + ": --plugin needs a value");
    }
    plugin = argv[++i];
  }
  return 0;
}

int eval_command(int argc, char** argv) {
  std::string plugin = default_plugin();
  if (const int status = read_plugin_option(argc, argv, "stratamix eval", plugin)) {
    return status;
  }
  try {
    return strata::tools::run_eval(plugin, std::cin, std::cout, std::cerr);
  } catch (const std::runtime_error& e) {
    // The plug-in could not be loaded: no case can be answered.
    std::cerr << "stratamix eval: " << e.what() << '\n';
    return 2;
  }
}

// The interface version is asked of the plug-in itself: the one found beside
// the tool may be of another release than the tool.
int version_command(int argc, char** argv) {
  std::string plugin = default_plugin();
  if (const int status = read_plugin_option(argc, argv, "stratamix --version", plugin)) {
    return status;
  }
  const strata::host::Plugin loaded(plugin);
  if (loaded.version() == nullptr) {
    std::cerr << "stratamix: plug-in " << plugin << " has no strataMix_version\n";
    return 2;
  }
  std::cout << "stratamix " STRATAMIX_VERSION " (plug-in interface " << loaded.version()() << ")\n";
  return 0;
}

int preview_command(int argc, char** argv) {
#if defined(STRATAMIX_WITH_PREVIEW)
  const std::vector<std::string> args(argv + 2, argv + argc);
  return strata::tools::run_preview(args, default_plugin(), std::cout, std::cerr);
#else
  (void)argc;
  (void)argv;
  std::cerr << "stratamix: built without the preview (it needs OpenImageIO: "
               "tools/install-deps.sh preview, then configure again)\n";
  return 2;
#endif
}

int bake_command(int argc, char** argv) {
#if defined(STRATAMIX_WITH_BAKE)
  const std::vector<std::string> args(argv + 2, argv + argc);
  return strata::tools::run_bake_command(args, default_plugin(), std::cout, std::cerr);
#else
  (void)argc;
  (void)argv;
  std::cerr << "stratamix: built without the bake (it needs the preview and assimp: "
               "tools/install-deps.sh preview bake, then configure again)\n";
  return 2;
#endif
}

int serve_command(int argc, char** argv) {
#if defined(STRATAMIX_WITH_SERVE)
  const std::vector<std::string> args(argv + 2, argv + argc);
  return strata::tools::run_serve(args, default_plugin(), std::cout, std::cerr);
#else
  (void)argc;
  (void)argv;
  std::cerr << "stratamix: built without serve (it needs the preview and libmicrohttpd: "
               "tools/install-deps.sh preview serve, then configure again)\n";
  return 2;
#endif
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
  try {
    if (argc >= 2 && std::strcmp(argv[1], "eval") == 0) {
      return eval_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "preview") == 0) {
      return preview_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "bake") == 0) {
      return bake_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) {
      return serve_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
      return version_command(argc, argv);
    }
    return usage_error(argc < 2 ? "stratamix: give a command, eval, preview, bake or serve"
                                : "stratamix: unknown command '" + std::string(argv[1]) + "'");
  } catch (const std::exception& e) {
    std::cerr << "stratamix: " << e.what() << '\n';
    return 2;
  }
}
