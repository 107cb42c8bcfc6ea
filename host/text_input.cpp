#include "text_input.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace strata::host {
namespace {

constexpr std::size_t kBlockBytes = std::size_t{64} * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The first CR or LF in [start, start + size), or null.
const char* line_end(const char* start, std::size_t size) {
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', size));
  const auto* cr =
      static_cast<const char*>(std::memchr(start, '\r', lf != nullptr ? lf - start : size));
  return cr != nullptr ? cr : lf;
}

}  // namespace

LineReader::LineReader(std::istream& in, std::size_t max_line)
    : source_(in.rdbuf()), max_line_(max_line), block_(kBlockBytes) {}

bool LineReader::fill() {
  std::streamsize available = source_->in_avail();
  if (available <= 0) {
    // Nothing buffered: wait for one byte, which also refills a buffered
    // stream.
    const int c = source_->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      return false;
    }
    block_[0] = static_cast<char>(c);
    pos_ = 0;
    end_ = 1;
    return true;
  }
  available = std::min(available, static_cast<std::streamsize>(block_.size()));
  pos_ = 0;
  end_ = static_cast<std::size_t>(source_->sgetn(block_.data(), available));
  return end_ > 0;
}

bool LineReader::next(TextLine* line) {
  line_.clear();
  // A line that ends in the block it starts in is handed on where it lies,
  // uncopied.
  std::string_view in_block;
  bool too_long = false;
  bool seen = false;  // a byte or a line end of this line
  while (pos_ < end_ || fill()) {
    if (after_cr_) {
      after_cr_ = false;
      if (block_[pos_] == '\n') {
        ++pos_;
        continue;
      }
    }
    seen = true;
    const char* start = block_.data() + pos_;
    const char* stop = line_end(start, end_ - pos_);
    const auto count = static_cast<std::size_t>(stop != nullptr ? stop - start : end_ - pos_);
    if (!too_long && line_.size() + count > max_line_) {
      too_long = true;
      line_.clear();
    }
    if (!too_long && stop != nullptr && line_.empty()) {
      in_block = std::string_view(start, count);
    } else if (!too_long) {
      line_.append(start, count);
    }
    pos_ += count;
    if (stop != nullptr) {
      after_cr_ = *stop == '\r';
      ++pos_;
      break;
    }
  }
  if (!seen) {
    return false;
  }
  ++number_;
  std::string_view text = too_long                     ? std::string_view()
                          : in_block.data() != nullptr ? in_block
                                                       : std::string_view(line_);
  if (number_ == 1 && text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  const void* nul = text.empty() ? nullptr : std::memchr(text.data(), '\0', text.size());
  line->number = number_;
  line->text = text;
  line->too_long = too_long;
  line->nul_column =
      nul == nullptr ? 0
                     : static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()) + 1;
  return true;
}

std::ifstream open_text_file(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  const auto refuse = [&](const std::string& reason) { throw TextFileError(path + ": " + reason); };
  switch (status.type()) {
    case fs::file_type::regular:
      break;
    case fs::file_type::not_found:
      refuse("no such file");
      break;
    case fs::file_type::directory:
      refuse("is a folder, not a file");
      break;
    case fs::file_type::fifo:
      refuse("is a FIFO, not a regular file");
      break;
    case fs::file_type::character:
      refuse("is a character device, not a regular file");
      break;
    case fs::file_type::block:
      refuse("is a block device, not a regular file");
      break;
    case fs::file_type::socket:
      refuse("is a socket, not a regular file");
      break;
    default:
      refuse(ec ? ec.message() : "not a regular file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    refuse("cannot be read");
  }
  return in;
}

std::string read_text_file(const std::string& path, std::size_t max_bytes) {
  std::ifstream in = open_text_file(path);
  const std::string over = path + ": over the limit of " + std::to_string(max_bytes) + " bytes";
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) > max_bytes && !ec) {
    throw TextFileError(over);
  }
  // A file may be longer than it said (it grew, or it is one of /proc's):
  // at most one byte past the bound is read, to know that it is over.
  std::string text;
  char block[4096];
  while (text.size() <= max_bytes) {
    in.read(block,
            static_cast<std::streamsize>(std::min(sizeof block, max_bytes + 1 - text.size())));
    if (in.gcount() == 0) {
      break;
    }
    text.append(block, static_cast<std::size_t>(in.gcount()));
  }
  if (text.size() > max_bytes) {
    throw TextFileError(over);
  }
  if (in.bad()) {
    throw TextFileError(path + ": cannot be read");
  }
  return text;
}

TextView::TextView(std::string_view text) {
  // The get area is only read: a streambuf writes into it only to put back
  // a character other than the one read, which nothing here does.
  char* start = const_cast<char*>(text.data());
  setg(start, start, start + text.size());
}

}  // namespace strata::host
