// What every stratamix command shares: its options declared once each, with
// type, range and help, and parsed by CLI11, which also writes --help; a
// wrong command line told in one line of the tool's own words with exit
// status 2; and the plug-in, held through one host session. A command adds
// itself with an add_<name>_command function that declares its options on
// a subcommand and says what runs it.
#ifndef STRATAMIX_TOOLS_COMMAND_H
#define STRATAMIX_TOOLS_COMMAND_H

#include <CLI/CLI.hpp>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "fields.h"
#include "session.h"

namespace strata::tools {

// The exit status of a wrong command line, and of a plug-in that cannot run.
inline constexpr int kUsageStatus = 2;

// One command: its subcommand, and what runs it once the command line is
// read, returning the exit status.
struct Command {
  CLI::App* app;
  std::function<int()> run;
  // Answers the whole command line itself, its help and its mistakes too:
  // a command handed over to another program, or one this build lacks.
  bool answers_whole_line = false;
};

// A command line the tool will not run, in one line without the tool's name:
// "--aa takes a whole number from 1 to 8, not '9'".
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// "stratamix eval", as messages begin.
std::string tool_name(const CLI::App& command);

// An option that takes one value. A value never begins with "--": that is
// the next option, and the option is missing its value.
template <typename T>
CLI::Option* add_value(CLI::App* app, const std::string& name, T* value, const std::string& help);

// A whole number from `low` to `high`.
CLI::Validator whole_number(int low, int high);

// A folder that exists.
CLI::Validator existing_folder();

// One of the names of a table's rows: "sphere or swatch". The table is one
// of the program's constant tables, which outlive the parser.
template <typename Rows>
CLI::Validator one_of(const Rows& rows) {
  const std::string names = names_of(rows);
  return CLI::Validator(
      [names, &rows](std::string& text) {
        return row_named(rows, text) != nullptr ? std::string()
                                                : "is " + names + ", not '" + text + "'";
      },
      names);
}

// --plugin PATH, the plug-in a command runs: by default the one beside
// stratamix, or in an installed tree ../lib/strataMix/ from it.
CLI::Option* add_plugin_option(CLI::App* app, std::string* path);

// Runs `body` on a session of the plug-in at `path`. A plug-in that cannot
// be loaded or follows another interface version gets one message naming
// it, and exit status 2; `body` is not run.
int with_session(const CLI::App& command, const std::string& path, std::ostream& err,
                 const std::function<int(const host::Session&)>& body);

// A command this build lacks: the line that names it is understood, and
// gets one message saying why the command is missing, and exit status 2.
Command add_missing_command(CLI::App& root, const std::string& name, const std::string& why,
                            std::ostream& err);

// Reads the command line into `root` and its commands and runs the one it
// names. Help goes to `out` with exit status 0; a wrong command line gets
// one line naming the problem on `err` and exit status 2. `no_command` runs
// when no command is named and the line is otherwise right, and returns
// the exit status; the root's own options go with no command. A command
// that hands over runs whatever else the line holds.
int run_command_line(CLI::App& root, const std::vector<Command>& commands,
                     const std::function<int()>& no_command, int argc, char** argv,
                     std::ostream& out, std::ostream& err);

template <typename T>
CLI::Option* add_value(CLI::App* app, const std::string& name, T* value, const std::string& help) {
  return app->add_option(name, *value, help)
      ->check(CLI::Validator(
          [](std::string& text) {
            return text.rfind("--", 0) == 0 ? std::string("needs a value") : std::string();
          },
          ""));
}

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_COMMAND_H
