#include "scene_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <set>
#include <string_view>
#include <utility>

#include "scene_rules.h"
#include "scene_scan.h"
#include "text_input.h"

namespace strata::scene {
namespace {

// Bytes asked of a file at a time; lines handed to the scanner a batch of
// about kBatch bytes at a time; the bytes before the reading position kept
// through a refill (to see the word before `declare`).
constexpr std::size_t kReadBytes = std::size_t{64} * 1024;
constexpr std::size_t kBatch = std::size_t{64} * 1024;
constexpr std::size_t kLookback = 64;
// A word longer than this is no value and no keyword.
constexpr std::size_t kMaxWordBytes = 256;
// Values after one parameter name that are kept and typed.
constexpr std::size_t kMaxValues = 8;

bool is_word_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A value's word: a number, or on / off / true / false.
bool is_value_char(char c) { return is_word_char(c) || c == '.' || c == '-' || c == '+'; }

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// An InputFile as a stream, for the tools' line reader.
class InputBuffer : public std::streambuf {
 public:
  explicit InputBuffer(std::unique_ptr<InputFile> file)
      : file_(std::move(file)), block_(kReadBytes) {}

 protected:
  int_type underflow() override {
    if (gptr() == egptr()) {
      const std::size_t n = file_->read(block_.data(), block_.size());
      setg(block_.data(), block_.data(), block_.data() + n);
      if (n == 0) {
        return traits_type::eof();
      }
    }
    return traits_type::to_int_type(*gptr());
  }

 private:
  std::unique_ptr<InputFile> file_;
  std::vector<char> block_;
};

// One file's text as a stream, read line by line as every text the tools
// read is (a byte-order mark skipped; CR, LF and CRLF each a line end,
// handed on as one LF between lines), and given to the scanner in batches of lines, with the
// line and column of the reading position. A line longer than
// kMaxLineBytes is handed on empty, and `long_line` told its number.
class Source {
 public:
  Source(std::unique_ptr<InputFile> file, std::uint32_t index,
         std::function<void(std::uint64_t)> long_line)
      : input_(std::make_unique<InputBuffer>(std::move(file))),
        stream_(std::make_unique<std::istream>(input_.get())),
        lines_in_(std::make_unique<host::LineReader>(*stream_, kMaxLineBytes)),
        index_(index),
        long_line_(std::move(long_line)),
        buffer_(kBatch + kScanPadding) {
    pos_ = end_ = buffer_.data();
  }

  const char* pos() const { return pos_; }
  const char* end() const { return end_; }
  std::uint64_t offset() const { return base_ + static_cast<std::uint64_t>(pos_ - data()); }
  LinePosition* lines() { return &lines_; }

  // Reads on; false at the end of the file, when nothing more came.
  bool refill() {
    if (eof_) {
      return false;
    }
    std::uint64_t keep = offset() > base_ + kLookback ? offset() - kLookback : base_;
    if (marked_) {
      keep = std::min(keep, mark_.offset);
    }
    const auto drop = static_cast<std::size_t>(keep - base_);
    const auto kept = static_cast<std::size_t>(end_ - data()) - drop;
    std::memmove(data(), data() + drop, kept);
    base_ += drop;
    const auto at = static_cast<std::size_t>(pos_ - data()) - drop;
    std::size_t filled = kept;
    while (filled - kept < kBatch) {
      if (!have_line_ && !lines_in_->next(&line_)) {
        break;
      }
      have_line_ = true;
      if (line_.too_long) {
        long_line_(static_cast<std::uint64_t>(line_.number));
      }
      // The LF goes before each line but the first: whether the last line
      // had a line end is not told, and a string cut by the end of the file
      // is reported as cut by the end of the file.
      const std::size_t lead = line_.number > 1 ? 1 : 0;
      const std::size_t need = lead + line_.text.size();
      if (filled + need + kScanPadding > buffer_.size()) {
        if (filled > kept) {
          break;  // the next batch
        }
        buffer_.resize(filled + need + kScanPadding);
      }
      data()[filled] = '\n';
      // An empty line's view may point nowhere, which memcpy may not be given.
      if (!line_.text.empty()) {
        std::memcpy(data() + filled + lead, line_.text.data(), line_.text.size());
      }
      filled += need;
      have_line_ = false;
    }
    pos_ = data() + at;
    end_ = data() + filled;
    if (filled == kept) {
      eof_ = true;
      return false;
    }
    return true;
  }

  bool more() { return pos_ < end_ || refill(); }
  char peek() const { return *pos_; }
  // At least n bytes at hand, unless the file ends first.
  bool ensure(std::size_t n) {
    while (static_cast<std::size_t>(end_ - pos_) < n) {
      if (!refill()) {
        return false;
      }
    }
    return true;
  }
  std::size_t available() const { return static_cast<std::size_t>(end_ - pos_); }

  void advance(std::size_t n) {
    pass_bytes(pos_, n, offset(), &lines_);
    pos_ += n;
  }
  // To a place a scan has passed, its line breaks already counted.
  void jump(const char* to) { pos_ = data() + (to - data()); }

  // The byte before the reading position; a line break at the start.
  char before() const { return pos_ > data() ? pos_[-1] : '\n'; }
  // The bytes at hand before the reading position.
  std::string_view behind() const { return {data(), static_cast<std::size_t>(pos_ - data())}; }

  Location here() const {
    return {index_,
            static_cast<std::uint32_t>(
                std::min<std::uint64_t>(offset() - lines_.line_start + 1, UINT32_MAX)),
            lines_.line};
  }

  // A place to come back to: the bytes from it on are kept until unmarked.
  struct Mark {
    std::uint64_t offset = 0;
    LinePosition lines;
  };
  Mark mark() {
    mark_ = {offset(), lines_};
    marked_ = true;
    return mark_;
  }
  void rewind(const Mark& m) {
    pos_ = data() + (m.offset - base_);
    lines_ = m.lines;
  }
  void unmark() { marked_ = false; }

 private:
  char* data() { return buffer_.data(); }
  const char* data() const { return buffer_.data(); }

  // Held apart, so that a Source moves without the stream losing its buffer.
  std::unique_ptr<InputBuffer> input_;
  std::unique_ptr<std::istream> stream_;
  std::unique_ptr<host::LineReader> lines_in_;
  host::TextLine line_;
  bool have_line_ = false;  // line_ is read and not yet handed on
  std::uint32_t index_;
  std::function<void(std::uint64_t)> long_line_;
  // The lines at hand, LF after each, and kScanPadding bytes the scans may
  // read past them. It grows only for a line longer than a batch, to at
  // most about two lines.
  std::vector<char> buffer_;
  char* pos_;
  char* end_;
  std::uint64_t base_ = 0;  // offset of the buffer's first byte
  bool eof_ = false;
  LinePosition lines_;
  Mark mark_;
  bool marked_ = false;
};

enum class DeclareKind { shader, phenomenon, other };

struct Opened {
  char bracket = 0;  // ( [ { ; 0 for a declare block
  DeclareKind declare = DeclareKind::other;
  Location where;
};

// What one file being read has open.
struct FileState {
  explicit FileState(Source s) : src(std::move(s)) {}
  Source src;
  std::vector<Opened> brackets;  // the first kMaxBracketDepth
  std::size_t depth = 0;         // brackets open, kept or not
  std::vector<Opened> declares;
  std::set<std::string> directives_warned;
  bool nul_reported = false;
};

struct Token {
  enum Kind { end, string, word, punct, other } kind = end;
  std::string text;
  Location where;
  Source::Mark mark;
  bool whole = true;      // a string or word kept whole, not cut at its bound
  bool reported = false;  // bad, and its error given (a string not closed)
};

// Names seen, by a 64-bit hash: 8 bytes an instance, however long its name.
class NameSet {
 public:
  static std::uint64_t hash(std::string_view s) {
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a, then a finalizer
    for (const char c : s) {
      h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    return h == 0 ? 1 : h;
  }
  // The slot a hash starts from: its low bits, which fit a size_t on every
  // target since the table's size does.
  std::size_t home(std::uint64_t h) const {
    return static_cast<std::size_t>(h & (slots_.size() - 1));
  }
  void insert(std::uint64_t h) {
    if (2 * (count_ + 1) > slots_.size()) {
      grow();
    }
    std::size_t i = home(h);
    while (slots_[i] != 0 && slots_[i] != h) {
      i = (i + 1) & (slots_.size() - 1);
    }
    count_ += slots_[i] == 0 ? 1 : 0;
    slots_[i] = h;
  }
  bool contains(std::uint64_t h) const {
    if (slots_.empty()) {
      return false;
    }
    std::size_t i = home(h);
    while (slots_[i] != 0) {
      if (slots_[i] == h) {
        return true;
      }
      i = (i + 1) & (slots_.size() - 1);
    }
    return false;
  }

 private:
  void grow() {
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(std::max<std::size_t>(64, old.size() * 2), 0);
    count_ = 0;
    for (const std::uint64_t h : old) {
      if (h != 0) {
        insert(h);
      }
    }
  }
  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
};

// "other" and "other.field": the instance named, with or without a field of
// its result, and each shorter name up to a dot, for names with dots.
bool defines(const NameSet& names, std::string_view target) {
  for (;;) {
    if (names.contains(NameSet::hash(target))) {
      return true;
    }
    const auto dot = target.rfind('.');
    if (dot == std::string_view::npos) {
      return false;
    }
    target = target.substr(0, dot);
  }
}

struct Pending {
  std::string target;
  std::string parameter;
  Location where;
  std::int64_t instance;
};

// A text as a message shows it: control bytes escaped, cut after 40 bytes.
std::string shown(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string out;
  for (const char c : text.substr(0, kShown)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return text.size() > kShown ? out + "..." : out;
}

std::string quoted_short(std::string_view text) { return "'" + shown(text) + "'"; }

std::string describe(const Token& t) {
  switch (t.kind) {
    case Token::end:
      return "the end of the file";
    case Token::string:
      return "\"" + shown(t.text) + "\"";
    case Token::word:
    case Token::punct:
    case Token::other:
      return quoted_short(t.text);
  }
  return "?";
}

char closer_of(char open) {
  switch (open) {
    case '(':
      return ')';
    case '[':
      return ']';
    default:
      return '}';
  }
}

std::string at_text(const Location& where) {
  return std::to_string(where.line) + ":" + std::to_string(where.column);
}

// Words that begin a statement of the scene: a parameter list that meets
// one was never closed.
bool begins_statement(const Token& t) {
  static const char* const kWords[] = {"shader",   "declare",   "end",    "material", "object",
                                       "instance", "instgroup", "light",  "camera",   "options",
                                       "render",   "link",      "verbose"};
  if (t.kind != Token::word) {
    return false;
  }
  return std::any_of(std::begin(kWords), std::end(kWords),
                     [&](const char* w) { return t.text == w; });
}

class Reader {
 public:
  Reader(FileSystem& files, const ReadOptions& options, SceneSink& sink)
      : fs_(files), options_(options), sink_(sink) {}

  ReadSummary run(const std::string& path) {
    OpenedFile opened = fs_.open(path);
    if (opened.file == nullptr) {
      summary_.files.push_back(path);
      report(Severity::error, {}, opened.problem);
      summary_.unreadable = true;
      return summary_;
    }
    read_file(std::move(opened), path);
    for (const Pending& p : pending_) {
      if (!defines(names_, p.target)) {
        report(Severity::error, p.where,
               p.parameter + " is connected to " + quoted_short(p.target) +
                   ", which the scene does not define",
               p.instance);
      }
    }
    return summary_;
  }

 private:
  // Diagnostics -------------------------------------------------------------

  void report(Severity severity, Location where, std::string message, std::int64_t instance = -1) {
    if (severity == Severity::error) {
      ++summary_.errors;
    } else if (severity == Severity::warning) {
      ++summary_.warnings;
    }
    if (current_ != nullptr && instance == current_index_) {
      current_->errors += severity == Severity::error ? 1 : 0;
      current_->warnings += severity == Severity::warning ? 1 : 0;
    }
    sink_.diagnostic({severity, where, std::move(message), instance}, summary_.files);
  }
  void error(Location where, std::string message) {
    report(Severity::error, where, std::move(message), current_ != nullptr ? current_index_ : -1);
  }
  void note(Location where, std::string message) {
    report(Severity::note, where, std::move(message), current_ != nullptr ? current_index_ : -1);
  }

  void nul_byte(FileState& f) {
    if (!f.nul_reported) {
      f.nul_reported = true;
      error(f.src.here(), "a NUL byte: a scene is text (the file's other NUL bytes are not named)");
    }
  }

  // Files -------------------------------------------------------------------

  void read_file(OpenedFile opened, const std::string& display) {
    const auto index = static_cast<std::uint32_t>(summary_.files.size());
    summary_.files.push_back(display);
    reading_.push_back(opened.identity);
    FileState f(Source(std::move(opened.file), index, [this, index](std::uint64_t line) {
      error({index, 1, line}, "a line longer than " + std::to_string(kMaxLineBytes) +
                                  " bytes: its text is skipped unread");
    }));
    chain_.push_back(&f);
    try {
      scan(f);
      for (const Opened& o : f.brackets) {
        error(o.where, quoted_short(std::string(1, o.bracket)) +
                           " is never closed: the file ends "
                           "first");
      }
      for (const Opened& o : f.declares) {
        error(o.where, "this 'declare' has no 'end declare': the file ends first");
      }
    } catch (const FileReadError& e) {
      report(Severity::error, {index, 0, 0}, std::string(e.what()) + ": read no further");
      summary_.unreadable = summary_.unreadable || chain_.size() == 1;
    }
    chain_.pop_back();
    reading_.pop_back();
  }

  void include(FileState& f, const std::string& name, Location at) {
    namespace fs = std::filesystem;
    if (chain_.size() > static_cast<std::size_t>(kMaxIncludeDepth)) {
      error(at, "includes nested deeper than " + std::to_string(kMaxIncludeDepth) + ": " +
                    quoted_short(name) + " is not read");
      return;
    }
    std::vector<std::string> candidates;
    const fs::path named(name);
    if (named.is_absolute()) {
      candidates.push_back(name);
    } else {
      const fs::path here = fs::path(summary_.files[f.src.here().file]).parent_path();
      candidates.push_back((here / named).lexically_normal().generic_string());
      for (const std::string& dir : options_.include_dirs) {
        candidates.push_back((fs::path(dir) / named).lexically_normal().generic_string());
      }
    }
    for (const std::string& path : candidates) {
      OpenedFile opened = fs_.open(path);
      if (opened.missing) {
        continue;
      }
      if (opened.file == nullptr) {
        error(at, "cannot include " + path + ": " + opened.problem);
        return;
      }
      if (std::find(reading_.begin(), reading_.end(), opened.identity) != reading_.end()) {
        error(at, "an include cycle: " + path + " is already being read");
        return;
      }
      read_file(std::move(opened), path);
      return;
    }
    std::string where = named.is_absolute() ? "" : " beside " + summary_.files[f.src.here().file];
    if (!named.is_absolute() && !options_.include_dirs.empty()) {
      where += " or in the include folders";
    }
    report(Severity::warning, at, quoted_short(name) + " is not found" + where + ": not followed",
           current_ != nullptr ? current_index_ : -1);
  }

  // Skipping ----------------------------------------------------------------

  // Everything outside the strataMix instances, at memchr's pace: only
  // strings, comments, brackets, directives and the words `shader` and
  // `declare` are looked at.
  void scan(FileState& f) {
    Source& s = f.src;
    for (;;) {
      if (s.pos() == s.end() && !s.refill()) {
        return;
      }
      const char* hit = find_first<'"', '#', '(', ')', '[', ']', '{', '}', '$', '\0', 's', 'd'>(
          s.pos(), s.end(), s.offset(), s.lines());
      s.jump(hit);
      if (hit == s.end()) {
        continue;
      }
      switch (*hit) {
        case '"':
          read_string(f, nullptr);
          break;
        case '#':
          skip_comment(f);
          break;
        case '(':
        case '[':
        case '{':
          open_bracket(f, *hit, s.here());
          s.advance(1);
          break;
        case ')':
        case ']':
        case '}':
          close_bracket(f, *hit);
          s.advance(1);
          break;
        case '$':
          directive(f);
          break;
        case '\0':
          nul_byte(f);
          s.advance(1);
          break;
        default:
          keyword(f);
          break;
      }
    }
  }

  void skip_comment(FileState& f) {
    Source& s = f.src;
    s.advance(1);
    for (;;) {
      if (s.pos() == s.end() && !s.refill()) {
        return;
      }
      const char* hit = find_first<'\n', '\0'>(s.pos(), s.end(), s.offset(), s.lines());
      s.jump(hit);
      if (hit == s.end()) {
        continue;
      }
      if (*hit != '\0') {
        return;
      }
      nul_byte(f);
      s.advance(1);
    }
  }

  // A string from its opening quote, its text (up to kMaxStringBytes) into
  // `text` if given. A string ends on its line: false, with an error, when
  // the line or the file ends first.
  bool read_string(FileState& f, std::string* text, bool* whole = nullptr) {
    Source& s = f.src;
    const Location open = s.here();
    s.advance(1);
    const auto keep = [&](const char* from, std::size_t n) {
      if (text == nullptr) {
        return;
      }
      const std::size_t room = kMaxStringBytes - std::min(kMaxStringBytes, text->size());
      text->append(from, std::min(n, room));
      if (n > room && whole != nullptr) {
        *whole = false;
      }
    };
    for (;;) {
      if (s.pos() == s.end() && !s.refill()) {
        error(open, "a string is not closed: the file ends first");
        return false;
      }
      const char* hit = find_first<'"', '\\', '\n', '\0'>(s.pos(), s.end(), s.offset(), s.lines());
      keep(s.pos(), static_cast<std::size_t>(hit - s.pos()));
      s.jump(hit);
      if (hit == s.end()) {
        continue;
      }
      switch (*hit) {
        case '"':
          s.advance(1);
          return true;
        case '\\': {
          s.advance(1);
          if (!s.more() || s.peek() == '\n') {
            continue;  // the end of the line or file, reported above
          }
          const char c = s.peek();
          const char decoded = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
          keep(&decoded, 1);
          s.advance(1);
          continue;
        }
        case '\0':
          nul_byte(f);
          keep(hit, 1);
          s.advance(1);
          continue;
        default:
          error(open, "a string is not closed: its line ends first");
          return false;
      }
    }
  }

  void open_bracket(FileState& f, char c, Location where) {
    if (f.depth < kMaxBracketDepth) {
      f.brackets.push_back({c, DeclareKind::other, where});
    } else if (f.depth == kMaxBracketDepth) {
      error(where, "brackets nested deeper than " + std::to_string(kMaxBracketDepth) +
                       " (the deeper ones are counted, not placed)");
    }
    ++f.depth;
  }

  // A closer closes the innermost bracket of its kind; those open inside
  // that one were never closed. A closer of no open bracket is left alone.
  void close_bracket(FileState& f, char c) {
    const Location where = f.src.here();
    const std::string closer = quoted_short(std::string(1, c));
    if (f.depth == 0) {
      error(where, closer + " closes nothing");
      return;
    }
    if (f.depth > kMaxBracketDepth) {
      --f.depth;  // beyond the kept ones: counted alone
      return;
    }
    const auto match = std::find_if(f.brackets.rbegin(), f.brackets.rend(),
                                    [&](const Opened& o) { return closer_of(o.bracket) == c; });
    if (match == f.brackets.rend()) {
      error(where, closer + " closes nothing: the innermost open bracket is the " +
                       quoted_short(std::string(1, f.brackets.back().bracket)) + " at " +
                       at_text(f.brackets.back().where));
      return;
    }
    if (match != f.brackets.rbegin()) {
      const Opened& inner = f.brackets.back();
      error(inner.where, quoted_short(std::string(1, inner.bracket)) + " is not closed before " +
                             closer + " at " + at_text(where));
    }
    const auto closed = static_cast<std::size_t>(match - f.brackets.rbegin()) + 1;
    f.brackets.resize(f.brackets.size() - closed);
    f.depth -= closed;
  }

  void skip_blank(FileState& f) {
    Source& s = f.src;
    while (s.more()) {
      const char c = s.peek();
      if (is_blank(c)) {
        s.advance(1);
      } else if (c == '#') {
        skip_comment(f);
      } else {
        return;
      }
    }
  }

  // The word at the reading position, up to kMaxWordBytes (or more, only
  // counted), without moving.
  std::string_view word_here(FileState& f, std::size_t bound) {
    Source& s = f.src;
    s.ensure(bound + 1);
    std::size_t n = 0;
    while (n < s.available() && n <= bound && is_word_char(s.pos()[n])) {
      ++n;
    }
    return {s.pos(), n};
  }

  void keyword(FileState& f) {
    Source& s = f.src;
    if (is_word_char(s.before())) {
      s.advance(1);
      return;
    }
    const std::string_view word = word_here(f, 8);
    if (word == "shader") {
      shader_keyword(f);
    } else if (word == "declare") {
      declare_keyword(f);
    } else {
      s.advance(std::max<std::size_t>(1, word.size()));
    }
  }

  // Inside a `declare` block of that kind, in this file or one including it.
  bool inside(DeclareKind kind) const {
    for (const FileState* f : chain_) {
      for (const Opened& o : f->declares) {
        if (o.declare == kind) {
          return true;
        }
      }
    }
    return false;
  }

  // `declare KIND ...` opens a block that `end declare` closes.
  void declare_keyword(FileState& f) {
    Source& s = f.src;
    const Location at = s.here();
    std::string_view behind = s.behind();
    while (!behind.empty() && is_blank(behind.back())) {
      behind.remove_suffix(1);
    }
    const bool ends = behind.size() >= 3 && behind.substr(behind.size() - 3) == "end" &&
                      (behind.size() == 3 || !is_word_char(behind[behind.size() - 4]));
    s.advance(7);
    if (ends) {
      if (f.declares.empty()) {
        error(at, "'end declare' closes no 'declare'");
      } else {
        f.declares.pop_back();
      }
      return;
    }
    skip_blank(f);
    const std::string_view kind = s.more() ? word_here(f, 16) : std::string_view();
    const DeclareKind k = kind == "shader"       ? DeclareKind::shader
                          : kind == "phenomenon" ? DeclareKind::phenomenon
                                                 : DeclareKind::other;
    s.advance(kind.size());
    if (f.declares.size() >= kMaxDeclareDepth) {
      error(at, "'declare' blocks nested deeper than " + std::to_string(kMaxDeclareDepth));
      return;
    }
    f.declares.push_back({0, k, at});
  }

  // `shader "NAME" "TYPE" (`: an instance. A strataMix instance is read; any
  // other is only named.
  void shader_keyword(FileState& f) {
    Source& s = f.src;
    const Location at = s.here();
    s.advance(6);
    if (inside(DeclareKind::shader)) {
      return;
    }
    std::string name;
    std::string type;
    bool whole = true;
    skip_blank(f);
    if (!s.more() || s.peek() != '"' || !read_string(f, &name, &whole)) {
      return;
    }
    skip_blank(f);
    if (!s.more() || s.peek() != '"' || !read_string(f, &type)) {
      return;
    }
    skip_blank(f);
    if (!s.more() || s.peek() != '(') {
      return;
    }
    if (!whole) {
      error(at, "an instance name longer than " + std::to_string(kMaxStringBytes) + " bytes");
    }
    names_.insert(NameSet::hash(name));
    if (type == "strataMix") {
      read_instance(f, std::move(name), at);
    }
  }

  void directive(FileState& f) {
    Source& s = f.src;
    const Location at = s.here();
    s.advance(1);
    const std::string word(s.more() ? word_here(f, 32) : std::string_view());
    s.advance(word.size());
    if (word != "include") {
      if (f.directives_warned.insert(word).second) {
        // Once a file: a scene may hold thousands.
        report(Severity::warning, at,
               "'$" + shown(word) + "' is not followed: the text it governs is read as it stands");
      }
      return;
    }
    while (s.more() && (s.peek() == ' ' || s.peek() == '\t')) {
      s.advance(1);
    }
    std::string name;
    bool whole = true;
    if (!s.more() || s.peek() != '"') {
      error(at, "'$include' names no file: a quoted file name follows it");
      return;
    }
    if (!read_string(f, &name, &whole)) {
      return;
    }
    if (!whole) {
      error(at, "an include's name longer than " + std::to_string(kMaxStringBytes) + " bytes");
      return;
    }
    include(f, name, at);
  }

  // Instances ---------------------------------------------------------------

  // The next token of a parameter list.
  Token next_token(FileState& f) {
    Source& s = f.src;
    skip_blank(f);
    Token t;
    t.mark = s.mark();
    t.where = s.here();
    if (!s.more()) {
      t.kind = Token::end;
      return t;
    }
    const char c = s.peek();
    if (c == '"') {
      t.kind = Token::string;
      t.reported = !read_string(f, &t.text, &t.whole);
      return t;
    }
    if (std::strchr("()[]{},=", c) != nullptr) {
      t.kind = Token::punct;
      t.text = std::string(1, c);
      s.advance(1);
      return t;
    }
    if (is_value_char(c)) {
      t.kind = Token::word;
      while (s.more() && is_value_char(s.peek())) {
        if (t.text.size() < kMaxWordBytes) {
          t.text += s.peek();
        } else {
          t.whole = false;
        }
        s.advance(1);
      }
      return t;
    }
    if (c == '\0') {
      nul_byte(f);
    }
    t.kind = Token::other;
    t.text = std::string(1, c);
    s.advance(1);
    return t;
  }

  // Skips what follows a bad parameter, up to the next ',' or ')' of the
  // list (left to be read), or a word that begins a statement.
  void skip_to_separator(FileState& f) {
    std::size_t depth = 0;
    for (;;) {
      const Token t = next_token(f);
      if (t.kind == Token::end) {
        f.src.rewind(t.mark);
        return;
      }
      if (t.kind == Token::punct && std::strchr("([{", t.text[0]) != nullptr) {
        ++depth;
      } else if (t.kind == Token::punct && std::strchr("]}", t.text[0]) != nullptr) {
        depth -= depth > 0 ? 1 : 0;
      } else if (t.kind == Token::punct && t.text == ")" && depth > 0) {
        --depth;
      } else if ((depth == 0 && t.kind == Token::punct && (t.text == "," || t.text == ")")) ||
                 begins_statement(t)) {
        f.src.rewind(t.mark);
        return;
      }
    }
  }

  void read_instance(FileState& f, std::string name, Location at) {
    Source& s = f.src;
    Instance instance;
    instance.name = std::move(name);
    instance.where = at;
    current_ = &instance;
    current_index_ = static_cast<std::int64_t>(summary_.instances);
    const Location open = s.here();
    s.advance(1);
    enum { first, after_parameter, after_comma } state = first;
    for (;;) {
      Token t = next_token(f);
      if (t.kind == Token::end) {
        error(open, "the parameter list of " + quoted_short(instance.name) +
                        " is not closed: the file ends first");
        break;
      }
      if (begins_statement(t)) {
        error(t.where, "the parameter list of " + quoted_short(instance.name) + " opened at " +
                           at_text(open) + " is not closed before " + describe(t));
        s.rewind(t.mark);
        break;
      }
      if (t.reported) {
        skip_to_separator(f);
        state = after_parameter;
        continue;
      }
      if (t.kind == Token::punct && t.text == ")") {
        if (state == after_comma) {
          error(t.where, "a ',' with no parameter after it");
        }
        break;
      }
      if (t.kind == Token::punct && t.text == ",") {
        if (state != after_parameter) {
          error(t.where, "a ',' where a parameter was expected");
        }
        state = after_comma;
        continue;
      }
      if (state == after_parameter) {
        error(t.where, "expected ',' or ')' after the parameter, not " + describe(t));
        if (t.kind != Token::string) {
          skip_to_separator(f);
          continue;
        }
      }
      state = after_parameter;
      if (t.kind != Token::string) {
        error(t.where, "expected a parameter's quoted name, not " + describe(t));
        skip_to_separator(f);
        continue;
      }
      read_parameter(f, t, &instance);
    }
    s.unmark();
    for (Diagnostic& d : instance_warnings(instance, instance.errors == 0)) {
      report(d.severity, d.where, std::move(d.message), current_index_);
    }
    for (const Setting& setting : instance.settings) {
      if (setting.kind == SettingKind::shader && !defines(names_, setting.target)) {
        pending_.push_back(
            {setting.target, declared_name(setting.param), setting.where, current_index_});
      }
    }
    sink_.instance(instance, summary_.files);
    ++summary_.instances;
    current_ = nullptr;
    current_index_ = -1;
  }

  void read_parameter(FileState& f, const Token& name, Instance* instance) {
    const std::optional<ParameterRef> ref = parse_declared_name(name.text);
    Setting setting;
    setting.where = name.where;
    bool ok = true;
    if (!ref) {
      error(name.where, "unknown parameter " + quoted_short(name.text));
      if (const auto near = nearest_parameter(name.text)) {
        note(name.where, "did you mean '" + *near + "'?");
      }
      ok = false;
    } else {
      setting.param = *ref;
    }
    Token t = next_token(f);
    if (t.reported) {
      if (ref) {
        instance->refused.push_back(*ref);
      }
      skip_to_separator(f);
      return;
    }
    if (t.kind == Token::punct && t.text == "=") {
      ok = read_connection(f, &setting) && ok;
    } else {
      std::vector<Token> values;
      std::size_t count = 0;
      while (t.kind == Token::word && !begins_statement(t)) {
        if (values.size() < kMaxValues) {
          values.push_back(std::move(t));
        }
        ++count;
        t = next_token(f);
      }
      f.src.rewind(t.mark);
      if (count == 0) {
        error(t.where, quoted_short(name.text) + " has no value before " + describe(t));
        if (ref) {
          instance->refused.push_back(*ref);
        }
        skip_to_separator(f);
        return;
      }
      if (ok) {
        ok = type_values(values, count, &setting);
      }
    }
    if (!ok) {
      if (ref) {
        instance->refused.push_back(*ref);
      }
      return;
    }
    for (const Setting& earlier : instance->settings) {
      if (earlier.param.offset() == setting.param.offset()) {
        error(name.where, declared_name(setting.param) + " is set twice");
        note(earlier.where, "first set here");
        return;
      }
    }
    instance->settings.push_back(std::move(setting));
  }

  // After '=': another instance's name, or `interface` and the name of the
  // phenomenon's parameter.
  bool read_connection(FileState& f, Setting* setting) {
    Token t = next_token(f);
    if (t.reported) {
      skip_to_separator(f);
      return false;
    }
    if (t.kind == Token::word && t.text == "interface") {
      const Location at = t.where;
      t = next_token(f);
      if (t.kind != Token::string) {
        error(t.where,
              "expected the quoted name of the phenomenon's parameter after "
              "'interface', not " +
                  describe(t));
        f.src.rewind(t.mark);
        skip_to_separator(f);
        return false;
      }
      if (!inside(DeclareKind::phenomenon)) {
        error(at,
              "'interface' connects to a parameter of the phenomenon around it, and no "
              "'declare phenomenon' is open here");
        return false;
      }
      setting->kind = SettingKind::interface;
      setting->target = std::move(t.text);
      return true;
    }
    if (t.kind != Token::string) {
      error(t.where,
            "expected an instance's quoted name or 'interface' after '=', not " + describe(t));
      f.src.rewind(t.mark);
      skip_to_separator(f);
      return false;
    }
    if (t.text.empty() || !t.whole) {
      error(t.where, t.text.empty() ? "connected to an empty name"
                                    : "connected to a name longer than " +
                                          std::to_string(kMaxStringBytes) + " bytes");
      return false;
    }
    setting->kind = SettingKind::shader;
    setting->target = std::move(t.text);
    return true;
  }

  // The values after a parameter's name, typed as its declaration types it.
  bool type_values(const std::vector<Token>& values, std::size_t count, Setting* setting) {
    const Field& field = *setting->param.field;
    const std::string name = declared_name(setting->param);
    const std::string_view type = kind_entry(field.kind).declared;
    const std::string is = name + " is " + (type == "integer" ? "an " : "a ") + std::string(type);
    const std::size_t width = slot_words(field_type(field));
    const bool colour = field_type(field) == FieldType::color;
    if (count != width && !(colour && count == 3)) {
      const std::string wanted = colour       ? "3 or 4 numbers"
                                 : width == 1 ? "1 value"
                                              : std::to_string(width) + " numbers";
      error(values[0].where, is + ": expected " + wanted + ", got " + std::to_string(count));
      return false;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (!type_word(values[i], field.kind, is, &setting->words[i])) {
        return false;
      }
    }
    if (colour && count == 3) {
      setting->words[3] = float_bits(1.0f);
    }
    return true;
  }

  bool type_word(const Token& w, FieldKind kind, const std::string& is, std::uint32_t* word) {
    const std::string& text = w.text;
    if (kind == FieldKind::toggle && (text == "on" || text == "true")) {
      *word = 1;
      return true;
    }
    if (kind == FieldKind::toggle && (text == "off" || text == "false")) {
      *word = 0;
      return true;
    }
    // A number as the language writes it: 1, -2, 1., .5, 1e-3.
    const bool number_like =
        w.whole && !text.empty() &&
        ((text[0] >= '0' && text[0] <= '9') || text[0] == '.' || text[0] == '-') &&
        text.find_first_not_of("0123456789.eE+-") == std::string::npos;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (field_type(kind) == FieldType::integer) {
      std::int32_t v = 0;
      const auto [end, ec] = std::from_chars(first, last, v);
      if (number_like && ec == std::errc::result_out_of_range) {
        error(w.where, quoted_short(text) + " is out of range for a 32-bit integer");
        return false;
      }
      if (!number_like || ec != std::errc() || end != last) {
        error(w.where, is + ": " + quoted_short(text) + " is not " +
                           (kind == FieldKind::toggle ? "on, off, true, false or an integer"
                                                      : "an integer"));
        return false;
      }
      *word = static_cast<std::uint32_t>(v);
      return true;
    }
    float v = 0.0f;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (number_like && ec == std::errc::result_out_of_range && end == last) {
      error(w.where, quoted_short(text) + " is out of range for a scalar (a 32-bit float)");
      return false;
    }
    if (!number_like || ec != std::errc() || end != last) {
      error(w.where, is + ": " + quoted_short(text) + " is not a number");
      return false;
    }
    *word = float_bits(v);
    return true;
  }

  FileSystem& fs_;
  const ReadOptions& options_;
  SceneSink& sink_;
  ReadSummary summary_;
  std::vector<std::string> reading_;  // identities of the files open, outermost first
  std::vector<FileState*> chain_;
  NameSet names_;
  std::vector<Pending> pending_;
  Instance* current_ = nullptr;
  std::int64_t current_index_ = -1;
};

// Keeps the whole read.
class Keeper : public SceneSink {
 public:
  explicit Keeper(Scene* scene) : scene_(scene) {}
  void instance(const Instance& instance, const std::vector<std::string>&) override {
    scene_->instances.push_back(instance);
  }
  void diagnostic(const Diagnostic& d, const std::vector<std::string>&) override {
    // Instances are handed on with the counts of what was found while they
    // were read; a connection resolved at the end counts on after.
    if (d.instance >= 0 && static_cast<std::size_t>(d.instance) < scene_->instances.size()) {
      Instance& i = scene_->instances[static_cast<std::size_t>(d.instance)];
      i.errors += d.severity == Severity::error ? 1 : 0;
      i.warnings += d.severity == Severity::warning ? 1 : 0;
    }
    if (scene_->diagnostics.size() < kMaxKeptDiagnostics) {
      scene_->diagnostics.push_back(d);
    }
  }

 private:
  Scene* scene_;
};

}  // namespace

ReadSummary read_scene(const std::string& path, FileSystem& files, const ReadOptions& options,
                       SceneSink& sink) {
  return Reader(files, options, sink).run(path);
}

Scene read_scene(const std::string& path, FileSystem& files, const ReadOptions& options) {
  Scene scene;
  Keeper keeper(&scene);
  scene.summary = read_scene(path, files, options, keeper);
  return scene;
}

}  // namespace strata::scene
