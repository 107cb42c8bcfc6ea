// Feeds arbitrary text to the scene reader, as scenes and the files they
// include, all held in memory: `$include` reaches only those, never the
// machine's files (`$include "/dev/zero"` is a missing file). The input is
// the scene itself, up to a line "--- NAME", which begins a file NAME to
// include, and so on. On every input, whatever the text:
//   - the read returns, and every diagnostic names a file of the read and,
//     unless it is about the file as a whole, a line and column from 1;
//   - the counts of errors and warnings are those of the diagnostics;
//   - each setting names a declared parameter, and the record built from
//     an instance is written within its bounds;
//   - the files handed over whole and seven bytes at a time read the same.
// The sanitizers watch the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scene_reader.h"

namespace {

using namespace strata::scene;

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "scene_fuzz: %s\n", what);
    std::abort();
  }
}

std::vector<std::pair<std::string, std::string>> split_files(std::string_view text) {
  constexpr std::string_view kMarker = "\n--- ";
  std::vector<std::pair<std::string, std::string>> files;
  std::string name = "s.mi";
  for (;;) {
    const std::size_t at = text.find(kMarker);
    files.emplace_back(name, std::string(text.substr(0, at)));
    if (at == std::string_view::npos) {
      return files;
    }
    text.remove_prefix(at + kMarker.size());
    const std::size_t end = text.find('\n');
    name = std::string(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
}

// The read as text: every instance's settings and every diagnostic.
std::string read_all(const std::vector<std::pair<std::string, std::string>>& files,
                     std::size_t read_size) {
  MemoryFiles memory(read_size);
  for (const auto& [path, text] : files) {
    memory.add(path, text);
  }
  ReadOptions options;
  options.include_dirs = {"inc"};
  const Scene scene = read_scene(files.front().first, memory, options);
  std::string out;
  std::size_t errors = 0;
  std::size_t warnings = 0;
  for (const Diagnostic& d : scene.diagnostics) {
    check(d.where.file < scene.summary.files.size(), "a diagnostic names no file of the read");
    check(d.where.line == 0 || d.where.column >= 1, "a diagnostic's line has no column");
    errors += d.severity == Severity::error ? 1 : 0;
    warnings += d.severity == Severity::warning ? 1 : 0;
    out += format_diagnostic(d, scene.summary.files) + "\n";
  }
  if (scene.diagnostics.size() < kMaxKeptDiagnostics) {
    check(errors == scene.summary.errors, "the count of errors is not that of the diagnostics");
    check(warnings == scene.summary.warnings,
          "the count of warnings is not that of the diagnostics");
  }
  check(scene.instances.size() == scene.summary.instances, "instances kept and counted differ");
  for (const Instance& in : scene.instances) {
    out += in.name + "\n";
    for (const Setting& s : in.settings) {
      check(s.param.field != nullptr && s.param.slot < s.param.field->slots,
            "a setting names no declared parameter");
      out += declared_name(s.param) + " " + s.target + "\n";
    }
    const strataMix_params record = instance_record(in);
    out.append(reinterpret_cast<const char*>(&record), sizeof record);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto files = split_files({reinterpret_cast<const char*>(data), size});
  check(read_all(files, std::size_t{1} << 20) == read_all(files, 7),
        "a read seven bytes at a time differs from one of whole files");
  return 0;
}
