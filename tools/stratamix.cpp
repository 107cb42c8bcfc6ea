// stratamix: the command-line tools of the stand-in renderer.
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.h"
#include "convert.h"
#include "eval.h"
#include "plugin.h"
#if defined(STRATAMIX_WITH_PREVIEW)
#include "preview.h"
#endif
#if defined(STRATAMIX_WITH_SERVE)
#include "serve.h"
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
    "usage: stratamix check SCENE... [-I DIR]... [--json] [--werror]\n"
    "  Every strataMix instance of the scenes, and every problem as FILE:LINE:COLUMN.\n"
    "  -I DIR    a folder $include looks in after the including file's (in order)\n"
    "  --json    one JSON object a line: each instance, each diagnostic, a summary\n"
    "  --werror  warnings count as errors for the exit status\n"
    "usage: stratamix convert SCENE.mi [--shader NAME] [-I DIR]... [--connect PARAM=PATTERN]...\n"
    "                         [--force]\n"
    "  A scene's strataMix instance as a preset, every parameter written out.\n"
    "usage: stratamix convert PRESET [--name NAME]\n"
    "  A preset as a scene's shader block, every parameter written out.\n"
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

int check_command(int argc, char** argv) {
  strata::tools::CheckOptions options;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--werror") {
      options.werror = true;
    } else if (arg == "-I") {
      if (i + 1 == argc) {
        return usage_error("stratamix check: -I needs a folder");
      }
      options.include_dirs.emplace_back(argv[++i]);
    } else if (arg.rfind("-I", 0) == 0) {
      options.include_dirs.push_back(arg.substr(2));
    } else if (arg.rfind("-", 0) == 0) {
      return usage_error("stratamix check: unknown option '" + arg + "'");
    } else {
      options.scenes.push_back(arg);
    }
  }
  if (options.scenes.empty()) {
    return usage_error("stratamix check: name a scene to check");
  }
  return strata::tools::run_check(options, std::cout, std::cerr);
}

int convert_command(int argc, char** argv) {
  strata::tools::ConvertOptions options;
  const auto value = [&](int* i) -> const char* { return *i + 1 < argc ? argv[++*i] : nullptr; };
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string* into = arg == "--shader" ? &options.shader
                        : arg == "--name" ? &options.name
                                          : nullptr;
    if (arg == "--force") {
      options.force = true;
    } else if (into != nullptr || arg == "-I" || arg == "--connect") {
      const char* v = value(&i);
      if (v == nullptr) {
        return usage_error("stratamix convert: " + arg + " needs a value");
      }
      if (into != nullptr) {
        *into = v;
      } else {
        (arg == "-I" ? options.include_dirs : options.connect).emplace_back(v);
      }
    } else if (arg.rfind("-", 0) == 0) {
      return usage_error("stratamix convert: unknown option '" + arg + "'");
    } else if (options.input.empty()) {
      options.input = arg;
    } else {
      return usage_error("stratamix convert: one input at a time, not also '" + arg + "'");
    }
  }
  if (options.input.empty()) {
    return usage_error("stratamix convert: name a scene (.mi) or a preset to convert");
  }
  return strata::tools::run_convert(options, std::cout, std::cerr);
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
    if (argc >= 2 && std::strcmp(argv[1], "check") == 0) {
      return check_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "convert") == 0) {
      return convert_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "preview") == 0) {
      return preview_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0) {
      return serve_command(argc, argv);
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
      return version_command(argc, argv);
    }
    return usage_error(argc < 2
                           ? "stratamix: give a command, eval, check, convert, preview or serve"
                           : "stratamix: unknown command '" + std::string(argv[1]) + "'");
  } catch (const std::exception& e) {
    std::cerr << "stratamix: " << e.what() << '\n';
    return 2;
  }
}
