// stratamix: the command-line tools of the stand-in renderer.
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "eval.h"
#include "plugin.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kUsage[] =
    "usage: stratamix eval [--plugin PATH] < cases.jsonl\n"
    "  Reads one case per line (JSON) and writes one answer per line.\n"
    "  --plugin PATH  the plug-in to load (default: the one beside stratamix)\n";

int usage_error() {
  std::cerr << kUsage;
  return 2;
}

int eval_command(int argc, char** argv) {
  std::string plugin = strata::host::plugin_beside_executable();
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--plugin") == 0 && i + 1 < argc) {
      plugin = argv[++i];
    } else {
      return usage_error();
    }
  }
  return strata::tools::run_eval(plugin, std::cin, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // Lines end in "\n" on every platform, so that the answers of two builds
  // compare byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  try {
    if (argc >= 2 && std::strcmp(argv[1], "eval") == 0) {
      return eval_command(argc, argv);
    }
    return usage_error();
  } catch (const std::exception& e) {
    std::cerr << "stratamix: " << e.what() << '\n';
    return 2;
  }
}
