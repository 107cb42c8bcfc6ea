#include "check.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>

#include "scene_reader.h"
#include "scene_writer.h"

namespace strata::tools {
namespace {

using scene::Diagnostic;
using scene::Instance;
using scene::Setting;
using scene::SettingKind;

const char* severity_name(scene::Severity severity) {
  switch (severity) {
    case scene::Severity::error:
      return "error";
    case scene::Severity::warning:
      return "warning";
    case scene::Severity::note:
      return "note";
  }
  return "?";
}

// What a setting says, as the scene would write it: "0.45 0.3 0.2 1",
// "rust_tex.outColor", "interface tint".
std::string setting_text(const Setting& s) {
  switch (s.kind) {
    case SettingKind::value: {
      Instance alone;
      alone.settings = {s};
      return scene::value_text(scene::instance_record(alone), s.param);
    }
    case SettingKind::shader:
      return s.target;
    case SettingKind::interface:
      return "interface " + s.target;
  }
  return "";
}

// Prints each instance and diagnostic as the reader hands it on, keeping
// nothing.
class Report : public scene::SceneSink {
 public:
  Report(const CheckOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err) {}

  void instance(const Instance& instance, const std::vector<std::string>& files) override {
    if (options_.json) {
      nlohmann::json sets = nlohmann::json::array();
      nlohmann::json connects = nlohmann::json::array();
      for (const Setting& s : instance.settings) {
        nlohmann::json one = {{"parameter", declared_name(s.param)},
                              {"line", s.where.line},
                              {"column", s.where.column}};
        if (s.kind == SettingKind::value) {
          one["value"] = setting_text(s);
          sets.push_back(one);
        } else {
          one[s.kind == SettingKind::interface ? "interface" : "to"] = s.target;
          connects.push_back(one);
        }
      }
      out_ << nlohmann::json{{"instance", instance.name},
                             {"file", files[instance.where.file]},
                             {"line", instance.where.line},
                             {"column", instance.where.column},
                             {"sets", sets},
                             {"connects", connects}}
                  .dump()
           << '\n';
      return;
    }
    out_ << scene::place_text(instance.where, files) << ": strataMix instance "
         << scene::quoted(instance.name) << '\n';
    for (const Setting& s : instance.settings) {
      out_ << "    " << declared_name(s.param) << (s.kind == SettingKind::value ? " " : " = ")
           << setting_text(s) << '\n';
    }
  }

  void diagnostic(const Diagnostic& d, const std::vector<std::string>& files) override {
    if (options_.json) {
      nlohmann::json one = {{"severity", severity_name(d.severity)},
                            {"file", files[d.where.file]},
                            {"message", d.message}};
      if (d.where.line != 0) {
        one["line"] = d.where.line;
        one["column"] = d.where.column;
      }
      out_ << nlohmann::json{{"diagnostic", one}}.dump() << '\n';
      return;
    }
    err_ << scene::format_diagnostic(d, files) << '\n';
  }

 private:
  const CheckOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
};

std::string counted(std::size_t n, const char* one) {
  return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

}  // namespace

int run_check(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  scene::DiskFiles disk;
  scene::ReadOptions read;
  read.include_dirs = options.include_dirs;
  Report report(options, out, err);
  std::size_t instances = 0;
  std::size_t errors = 0;
  std::size_t warnings = 0;
  bool unreadable = false;
  for (const std::string& path : options.scenes) {
    const scene::ReadSummary summary = scene::read_scene(path, disk, read, report);
    instances += summary.instances;
    errors += summary.errors;
    warnings += summary.warnings;
    unreadable = unreadable || summary.unreadable;
  }
  const std::string total = counted(instances, "strataMix instance") + ", " +
                            counted(errors, "error") + ", " + counted(warnings, "warning");
  if (options.json) {
    out << nlohmann::json{{"summary",
                           {{"scenes", options.scenes.size()},
                            {"instances", instances},
                            {"errors", errors},
                            {"warnings", warnings},
                            {"unreadable", unreadable}}}}
               .dump()
        << '\n';
  } else {
    err << total << '\n';
  }
  if (unreadable) {
    return 2;
  }
  return errors > 0 || (options.werror && warnings > 0) ? 1 : 0;
}

Command add_check_command(CLI::App& root, std::ostream& out, std::ostream& err) {
  CLI::App* app = root.add_subcommand(
      "check",
      "Reads scenes in the renderer's scene language and reports every strataMix instance in "
      "them, with what it sets and connects, and every problem as FILE:LINE:COLUMN: "
      "error|warning: message. Exit status 0 without errors, 1 with errors, 2 when a scene "
      "cannot be read.");
  auto options = std::make_shared<CheckOptions>();
  app->add_option("SCENE", options->scenes, "the scenes to check")->required();
  add_value(app, "-I", &options->include_dirs,
            "a folder $include looks in after the including file's (repeatable, in order)")
      ->type_name("DIR");
  app->add_flag("--json", options->json,
                "one JSON object a line: each instance, each diagnostic, a summary");
  app->add_flag("--werror", options->werror, "warnings count as errors for the exit status");
  return {app, [options, &out, &err] { return run_check(*options, out, err); }};
}

}  // namespace strata::tools
