// The cases `stratamix eval` answers, read from their JSON lines without a
// plug-in: the record, the ray, the normal and the connected parameters.
#ifndef STRATAMIX_TOOLS_EVAL_CASE_H
#define STRATAMIX_TOOLS_EVAL_CASE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "strataMix.h"
#include "text_input.h"

namespace strata::tools {

// What a case line may hold: far more than any case needs (the deepest is a
// list of vectors in "params", three levels down), and little enough that a
// hostile line costs nothing.
inline constexpr std::size_t kMaxCaseLine = 1024 * 1024;  // bytes
inline constexpr int kMaxCaseDepth = 64;                  // nested objects and lists
// How much of a value a message quotes.
inline constexpr std::size_t kQuotedChars = 80;

struct Case {
  strataMix_params params{};
  std::int32_t ray_type = 0;
  strataMix_vector normal{0.0f, 0.0f, 1.0f};
  bool connect_all = false;
  // The byte offsets of the connected parameters and slots, as listed.
  std::vector<std::uint32_t> connected;
};

// A line that is not a case; the message names the problem, not the line.
struct BadCase : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The case on one line of input; none for a blank line. Throws BadCase.
std::optional<Case> read_case(const host::TextLine& line);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_EVAL_CASE_H
