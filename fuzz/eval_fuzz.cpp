// Feeds arbitrary bytes to `stratamix eval`'s case reader as the tool reads
// its input, line by line (with a small line bound, so that lines over it
// are met too), and checks on every input what must hold whatever the text:
//   - each line gives a case, nothing (a blank line) or BadCase, whose
//     message is short: it quotes a value only cut down to a few words;
//   - line numbers run 1, 2, 3... over the lines read;
//   - each connected offset is where a parameter or a slot of the record
//     begins, and the case applies to a host as eval applies it.
// The sanitizers watch the rest: no read or write past a buffer, no
// overflowing conversion, and no deep recursion, which the depth bound
// rules out before it could start.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <optional>
#include <string_view>

#include "eval_case.h"
#include "fields.h"
#include "host.h"
#include "text_input.h"

namespace {

using strata::tools::BadCase;
using strata::tools::Case;

// The longest message: a parse error's own words (about 150 bytes), a
// field's name and slot, and a value cut to kQuotedChars.
constexpr std::size_t kMaxMessage = 400;
// Lines over this are refused unread; libFuzzer's inputs are a few KiB.
constexpr std::size_t kMaxLine = 512;

void check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "eval_fuzz: %s\n", what);
    std::abort();
  }
}

void apply(const Case& c) {
  for (const std::uint32_t offset : c.connected) {
    const std::optional<strata::ParameterRef> ref = strata::parameter_at(offset);
    check(ref && ref->offset() == offset, "a connection names no parameter of the record");
  }
  strata::host::Host host;
  host.params() = c.params;
  if (c.connect_all) {
    host.connect_all();
  }
  for (const std::uint32_t offset : c.connected) {
    host.connect(offset);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  strata::host::TextView view(std::string_view(reinterpret_cast<const char*>(data), size));
  std::istream in(&view);
  strata::host::LineReader reader(in, kMaxLine);
  strata::host::TextLine line;
  long expected_number = 1;
  while (reader.next(&line)) {
    check(line.number == expected_number++, "a line number was skipped or repeated");
    check(line.text.size() <= kMaxLine, "a line over the bound was kept");
    try {
      if (const std::optional<Case> c = strata::tools::read_case(line)) {
        apply(*c);
      }
    } catch (const BadCase& e) {
      check(std::strlen(e.what()) <= kMaxMessage, "a message quotes too much of its line");
    }
  }
  return 0;
}
