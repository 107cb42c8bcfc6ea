// How the tools read the texts they are given (presets, case lines, scenes),
// whatever their size or source:
//   - a file is read only when it is a regular file: a folder, a FIFO or a
//     device is refused by name before it is opened;
//   - a UTF-8 byte-order mark at the start is skipped;
//   - CR, LF and CRLF each end a line;
//   - a line longer than the reader's bound is skipped without being kept,
//     and the lines after it are read on;
//   - a NUL byte is reported at its line and column, for the reader's
//     caller to refuse.
// LineReader streams: it keeps one block and one line, however long the
// input. read_text_file reads a small file whole, never past its bound.
#ifndef STRATAMIX_HOST_TEXT_INPUT_H
#define STRATAMIX_HOST_TEXT_INPUT_H

#include <cstddef>
#include <fstream>
#include <istream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace strata::host {

// A file that cannot be read as text: its message names the path and the
// reason ("presets/x: is a folder, not a file").
struct TextFileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct TextLine {
  long number = 0;        // 1 for the first line
  std::string_view text;  // without its line end; valid until the next line is read
  // Longer than the reader's bound: its bytes were skipped, and `text` is
  // empty.
  bool too_long = false;
  // The column (in bytes, from 1) of the line's first NUL byte; 0 when none.
  std::size_t nul_column = 0;
};

class LineReader {
 public:
  // Reads lines of at most `max_line` bytes from `in`. It takes what the
  // stream has at hand rather than waiting for a full block, so that a line
  // written to a pipe is read as soon as it ends.
  LineReader(std::istream& in, std::size_t max_line);

  // The next line; false at the end of the input.
  bool next(TextLine* line);

 private:
  bool fill();

  std::streambuf* source_;
  std::size_t max_line_;
  std::vector<char> block_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::string line_;
  long number_ = 0;
  bool after_cr_ = false;  // the last line ended in CR; an LF right after belongs to it
};

// Opens `path` for reading only if it is a regular file (a symbolic link to
// one is followed).
std::ifstream open_text_file(const std::string& path);

// The whole of a regular file of at most `max_bytes` bytes; a larger one is
// refused without being read.
std::string read_text_file(const std::string& path, std::size_t max_bytes);

// Text held in memory, read through a LineReader without being copied.
class TextView : public std::streambuf {
 public:
  explicit TextView(std::string_view text);
};

}  // namespace strata::host

#endif  // STRATAMIX_HOST_TEXT_INPUT_H
