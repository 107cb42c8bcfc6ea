// What the tools that run for long share: a progress line on standard
// error, the output folder made before anything runs, and counts written
// as people read them.
#ifndef STRATAMIX_TOOLS_LONG_RUN_H
#define STRATAMIX_TOOLS_LONG_RUN_H

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace strata::tools {

// A progress line on standard error: kept up to date on a terminal; written
// elsewhere only once a run has gone on for a second, and then at most each
// second, when the figure has changed.
class ProgressLine {
 public:
  ProgressLine(std::string label, std::ostream& err);

  void tick(std::uint64_t done, std::uint64_t total);

  // Clears the line on a terminal, so that the summary stands alone.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::string label_;
  std::ostream& err_;
  bool tty_;
  Clock::time_point start_;
  Clock::time_point last_;
  int shown_ = -1;
};

// Makes the folder and those above it; throws std::runtime_error naming it
// and the reason when it cannot, or when it is not a folder.
void make_output_folder(const std::string& dir);

// "1,234,567"
std::string grouped(std::uint64_t n);

}  // namespace strata::tools

#endif  // STRATAMIX_TOOLS_LONG_RUN_H
