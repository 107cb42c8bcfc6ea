#include "long_run.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#define STRATAMIX_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define STRATAMIX_ISATTY(fd) isatty(fd)
#endif

namespace strata::tools {

ProgressLine::ProgressLine(std::string label, std::ostream& err)
    : label_(std::move(label)),
      err_(err),
      tty_(STRATAMIX_ISATTY(2) != 0),
      start_(Clock::now()),
      last_(start_) {}

void ProgressLine::tick(std::uint64_t done, std::uint64_t total) {
  const auto now = Clock::now();
  const int percent =
      static_cast<int>(100 * std::min(done, total) / std::max<std::uint64_t>(1, total));
  if (tty_) {
    if (percent != shown_) {
      err_ << '\r' << label_ << ' ' << percent << '%' << std::flush;
      shown_ = percent;
    }
  } else if (percent != shown_ && now - start_ >= std::chrono::seconds(1) &&
             now - last_ >= std::chrono::seconds(1)) {
    err_ << label_ << ' ' << percent << "%\n" << std::flush;
    shown_ = percent;
    last_ = now;
  }
}

void ProgressLine::finish() {
  if (tty_ && shown_ >= 0) {
    err_ << "\r\033[K" << std::flush;
  }
}

void make_output_folder(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir, ec)) {
    throw std::runtime_error("cannot make the output folder " + dir + ": " +
                             (ec ? ec.message() : "not a folder"));
  }
}

std::string grouped(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3) {
    digits.insert(static_cast<std::size_t>(i), ",");
  }
  return digits;
}

}  // namespace strata::tools
