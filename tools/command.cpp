#include "command.h"

#include <charconv>
#include <exception>
#include <filesystem>
#include <optional>
#include <ostream>

#include "plugin.h"

namespace strata::tools {
namespace {

// The plug-in beside stratamix in a build tree; in an installed tree the
// plug-in lies in lib/strataMix beside bin.
std::string default_plugin() {
  const std::filesystem::path beside = host::plugin_beside_executable();
  if (std::filesystem::exists(beside)) {
    return beside.string();
  }
  const std::filesystem::path installed =
      beside.parent_path().parent_path() / "lib" / "strataMix" / host::plugin_file_name();
  return std::filesystem::exists(installed) ? installed.string() : beside.string();
}

// CLI11 words a problem with an option "NAME: what"; the tool says "NAME
// needs a value" and "NAME takes a whole number ...".
std::string problem_of(const CLI::ParseError& e) {
  std::string what = e.what();
  const auto colon = what.find(": ");
  if (colon == std::string::npos) {
    return what;
  }
  const std::string name = what.substr(0, colon);
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    return name + " needs a value";
  }
  if (dynamic_cast<const CLI::ValidationError*>(&e) != nullptr) {
    return name + " " + what.substr(colon + 2);
  }
  return what;
}

// One line naming the problem, and where the usage is: scripts that run a
// tool read its first line of complaint as the whole of it.
int usage_error(const CLI::App& where, const std::string& problem, std::ostream& err) {
  err << tool_name(where) << ": " << problem << " (see '" << tool_name(where) << " --help')\n";
  return kUsageStatus;
}

// The words a command (or the root) did not know.
std::string extra_problem(const CLI::App& where, const std::string& word) {
  if (word.rfind('-', 0) == 0) {
    return "unknown option '" + word + "'";
  }
  return where.get_parent() == nullptr ? "unknown command '" + word + "'"
                                       : "unexpected argument '" + word + "'";
}

// The command the line names, or the root.
const CLI::App& named(const CLI::App& root) {
  const std::vector<CLI::App*> chosen = root.get_subcommands();
  return chosen.empty() ? root : *chosen.back();
}

// The words the line holds that neither the command it names nor the root
// take, and the root's options given with a command: the exit status of
// their message, or none.
std::optional<int> misplaced_words(const CLI::App& root, const CLI::App& where, std::ostream& err) {
  const CLI::App* const named_apps[] = {&root, &where};
  for (const CLI::App* app : named_apps) {
    const std::vector<std::string> extras = app->remaining();
    if (!extras.empty()) {
      return usage_error(*app, extra_problem(*app, extras.front()), err);
    }
  }
  if (&where != &root) {
    for (const CLI::Option* o : root.get_options()) {
      if (o->count() > 0) {
        return usage_error(root, o->get_name() + " goes with no command", err);
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::string tool_name(const CLI::App& command) {
  return command.get_parent() == nullptr
             ? command.get_name()
             : tool_name(*command.get_parent()) + " " + command.get_name();
}

CLI::Validator whole_number(int low, int high) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, range](std::string& text) {
        int n = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (error != std::errc() || end != text.data() + text.size() || n < low || n > high) {
          return "takes a whole number from " + range + ", not '" + text + "'";
        }
        return std::string();
      },
      range);
}

CLI::Validator existing_folder() {
  return CLI::Validator(
      [](std::string& text) {
        std::error_code ec;
        const auto status = std::filesystem::status(text, ec);
        if (status.type() == std::filesystem::file_type::directory) {
          return std::string();
        }
        return "takes a folder; " + text +
               (status.type() == std::filesystem::file_type::not_found ? " does not exist"
                                                                       : " is not a folder");
      },
      "DIR");
}

CLI::Option* add_plugin_option(CLI::App* app, std::string* path) {
  *path = default_plugin();
  return add_value(app, "--plugin", path,
                   "the plug-in to load (default: the one beside stratamix, or in an installed "
                   "tree ../lib/strataMix/ from it)")
      ->type_name("PATH");
}

int with_session(const CLI::App& command, const std::string& path, std::ostream& err,
                 const std::function<int(const host::Session&)>& body) {
  std::optional<host::Session> session;
  try {
    session.emplace(path);
  } catch (const host::PluginError& e) {
    err << tool_name(command) << ": " << e.what() << '\n';
    return kUsageStatus;
  }
  return body(*session);
}

Command add_missing_command(CLI::App& root, const std::string& name, const std::string& why,
                            std::ostream& err) {
  CLI::App* app = root.add_subcommand(name, "(not in this build)");
  // Whatever follows the command is its own, unread: `serve --port 0` is
  // told that serve is missing, not that --port is unknown.
  app->prefix_command();
  return {app,
          [app, why, &err] {
            err << tool_name(*app) << ": " << why << '\n';
            return kUsageStatus;
          },
          true};
}

int run_command_line(CLI::App& root, const std::vector<Command>& commands,
                     const std::function<int()>& no_command, int argc, char** argv,
                     std::ostream& out, std::ostream& err) {
  // The words no option or command takes are left to be named below, in
  // the tool's own words.
  root.allow_extras();
  for (const Command& c : commands) {
    c.app->allow_extras();
  }
  bool help = false;
  std::optional<std::string> problem;
  try {
    root.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    help = true;
  } catch (const CLI::ParseError& e) {
    problem = problem_of(e);
  }
  const CLI::App& where = named(root);
  const Command* chosen = nullptr;
  for (const Command& c : commands) {
    if (c.app == &where) {
      chosen = &c;
    }
  }
  // A command handed over, or lacking, answers the whole line itself.
  if (chosen == nullptr || !chosen->answers_whole_line) {
    if (help) {
      out << root.help();
      return 0;
    }
    if (problem) {
      return usage_error(where, *problem, err);
    }
    if (const std::optional<int> status = misplaced_words(root, where, err)) {
      return *status;
    }
  }
  try {
    return chosen != nullptr ? chosen->run() : no_command();
  } catch (const UsageError& e) {
    return usage_error(where, e.what(), err);
  } catch (const std::exception& e) {
    // What no command expected (memory running out, say) still ends in one
    // line naming the command, never an abort.
    err << tool_name(where) << ": " << e.what() << '\n';
    return kUsageStatus;
  }
}

}  // namespace strata::tools
