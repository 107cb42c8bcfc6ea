// The manual's tables made from the record's field list: the parameters,
// and the order in which the plug-in reads them, stage by stage; and the
// check that the manual holds both and a section for every blend mode.
//
//   manual_tables check docs/manual.md   # exit 1 naming what differs
//   manual_tables write docs/manual.md   # rewrite the tables in place
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "blend_modes.h"
#include "fields.h"
#include "harness.h"

namespace strata::docs {
namespace {

// A generated part of the manual, between its two marks.
struct Block {
  const char* begin;
  const char* end;
  std::string (*make)();
};

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

std::string stage_name(FieldStage stage) {
  switch (stage) {
    case FieldStage::flow:
      return "the gates";
    case FieldStage::normal:
      return "the normal stage";
    case FieldStage::layer:
      return "the colour layer stage";
    case FieldStage::correction:
      return "the correction stage";
  }
  return "";
}

// Every parameter in the order the plug-in reads it, from one call through
// every stage: no gate taken, the normal stage with one slot on, a blend and
// a correction. Each parameter is connected, so the host logs every read.
std::vector<ParameterRef> reads_of_a_full_call() {
  host::Host h;
  strataMix_params& p = h.params();
  p.normalEnable = 1;
  p.layerCount = 1;
  p.layerEnable[0] = 1;
  p.layerWeight[0] = 1.0f;
  p.layerBalance[0] = 0.5f;
  p.blendEnable = 1;
  p.correctEnable = 1;
  h.connect_all();
  std::vector<ParameterRef> reads;
  for (const std::string& name : test::shade(h).evaluated) {
    reads.push_back(*parse_parameter(name));
  }
  return reads;
}

// One row per stage, in the order the stages run; a slot's reads stand for
// every visited slot.
std::string read_order_table() {
  const std::vector<ParameterRef> reads = reads_of_a_full_call();
  std::ostringstream out;
  out << "| Stage | Parameters, in the order they are read | Evaluations, at most |\n";
  out << "|---|---|---|\n";
  for (std::size_t i = 0; i < reads.size();) {
    const FieldStage stage = reads[i].field->stage;
    std::string names;
    int once = 0;
    int per_slot = 0;
    for (; i < reads.size() && reads[i].field->stage == stage; ++i) {
      const Field& f = *reads[i].field;
      if (f.slots > 1 && per_slot == 0) {
        names += ", then for each slot i below `layerCount`: ";
      } else if (!names.empty()) {
        names += ", ";
      }
      names += "`" + std::string(f.name) + (f.slots > 1 ? "[i]`" : "`");
      if (f.slots > 1) {
        ++per_slot;
      } else {
        ++once;
      }
    }
    out << "| " << stage_name(stage) << " | " << names << " | " << once
        << (per_slot > 0 ? " + " + std::to_string(per_slot) + " per slot" : "") << " |\n";
  }
  return out.str();
}

// The full call must read every field, or the table leaves one out.
int unread_fields() {
  int missing = 0;
  const std::vector<ParameterRef> reads = reads_of_a_full_call();
  for (const Field& f : kRecordFields) {
    bool read = false;
    for (const ParameterRef& r : reads) {
      read = read || r.field == &f;
    }
    if (!read) {
      std::cerr << "the full call never reads " << f.name << "\n";
      ++missing;
    }
  }
  return missing;
}

constexpr Block kBlocks[] = {
    {"<!-- parameter table: made from shader/fields.h -->\n", "<!-- end of parameter table -->\n",
     parameter_table},
    {"<!-- read order: made from shader/fields.h and the plug-in's reads -->\n",
     "<!-- end of read order -->\n", read_order_table},
};

int run(const std::string& command, const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << path << ": cannot read\n";
    return 2;
  }
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  int problems = unread_fields();
  for (const Block& block : kBlocks) {
    const auto begin = text.find(block.begin);
    const auto end = text.find(block.end);
    if (begin == std::string::npos || end == std::string::npos || end < begin) {
      std::cerr << path << ": no " << block.begin << "and " << block.end;
      ++problems;
      continue;
    }
    const auto from = begin + std::string(block.begin).size();
    const std::string table = block.make();
    if (command == "write") {
      text.replace(from, end - from, table);
    } else if (text.compare(from, end - from, table) != 0) {
      std::cerr << path << ": the table after " << block.begin << "differs from what it is made "
                << "from; run manual_tables write " << path << "\n";
      ++problems;
    }
  }
  if (command == "write") {
    std::ofstream(path) << text;
    return problems == 0 ? 0 : 1;
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
