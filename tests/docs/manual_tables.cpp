// The manual's parameter table, made from the record's field list, and the
// check that the manual holds it and a section for every blend mode.
//
//   manual_tables check docs/manual.md   # exit 1 naming what differs
//   manual_tables write docs/manual.md   # rewrite the table in place
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "blend_modes.h"
#include "fields.h"

namespace strata::docs {
namespace {

constexpr const char* kBegin = "<!-- parameter table: made from shader/fields.h -->\n";
constexpr const char* kEnd = "<!-- end of parameter table -->\n";

std::string type_of(const Field& f) {
  switch (f.kind) {
    case FieldKind::toggle:
      return "switch";
    case FieldKind::gate:
      return "gate (integer)";
    case FieldKind::count:
      return "integer";
    case FieldKind::mode:
      return "integer (mode)";
    case FieldKind::scalar:
      return "float";
    case FieldKind::color:
      return "colour";
    case FieldKind::vector:
      return "vector";
  }
  return "";
}

std::string number(float v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
  return text;
}

// The scene declares each slot of a layer array as a parameter of its own.
std::string scene_name(const Field& f) {
  if (f.slots == 1) {
    return "`" + std::string(f.name) + "`";
  }
  return "`" + declared_name({&f, 0}) + "` … `" + declared_name({&f, f.slots - 1}) + "`";
}

std::string range_of(const Field& f) {
  if (f.kind == FieldKind::toggle || f.kind == FieldKind::gate) {
    return "0 or 1";
  }
  return number(f.useful_min) + " to " + number(f.useful_max);
}

std::string parameter_table() {
  std::ostringstream out;
  out << "| Parameter | Type | What it does | Useful range | 0 means |\n";
  out << "|---|---|---|---|---|\n";
  for (const Field& f : kRecordFields) {
    out << "| " << scene_name(f) << " | " << type_of(f) << " | " << f.description << " | "
        << range_of(f) << " | " << f.zero_means << " |\n";
  }
  return out.str();
}

int run(const std::string& command, const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << path << ": cannot read\n";
    return 2;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  const auto begin = text.find(kBegin);
  const auto end = text.find(kEnd);
  if (begin == std::string::npos || end == std::string::npos || end < begin) {
    std::cerr << path << ": no parameter table between its two marks\n";
    return 1;
  }
  const auto from = begin + std::string(kBegin).size();
  const std::string table = parameter_table();
  if (command == "write") {
    text.replace(from, end - from, table);
    std::ofstream(path) << text;
    return 0;
  }
  int problems = 0;
  if (text.compare(from, end - from, table) != 0) {
    std::cerr << path << ": the parameter table differs from the field list; run "
              << "manual_tables write " << path << "\n";
    ++problems;
  }
  for (const BlendModeEntry& m : kBlendModes) {
    const std::string heading =
        "### " + std::to_string(static_cast<unsigned>(m.mode)) + " " + std::string(m.name) + "\n";
    if (text.find(heading) == std::string::npos) {
      std::cerr << path << ": no section \"" << heading.substr(0, heading.size() - 1) << "\"\n";
      ++problems;
    }
  }
  return problems == 0 ? 0 : 1;
}

}  // namespace
}  // namespace strata::docs

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command != "check" && command != "write") {
    std::cerr << "usage: manual_tables check|write MANUAL\n";
    return 2;
  }
  return strata::docs::run(command, argv[2]);
}
