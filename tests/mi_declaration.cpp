#include "mi_declaration.h"

#include <cctype>
#include <charconv>

namespace strata::test {
namespace {

struct Token {
  enum Kind { word, quoted, punct, end } kind;
  std::string text;
  int line;
};

// Words, "quoted names", and the punctuation { } ( ) , ; `#` starts a
// comment that runs to the end of the line.
std::vector<Token> tokenize(std::string_view text) {
  std::vector<Token> tokens;
  int line = 1;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
      ++i;
    } else if (c == '#') {
      while (i < text.size() && text[i] != '\n') {
        ++i;
      }
    } else if (c == '"') {
      const std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos || text.substr(i, close - i).find('\n') != text.npos) {
        throw DeclarationError("line " + std::to_string(line) + ": unterminated name");
      }
      tokens.push_back({Token::quoted, std::string(text.substr(i + 1, close - i - 1)), line});
      i = close + 1;
    } else if (c == '{' || c == '}' || c == '(' || c == ')' || c == ',') {
      tokens.push_back({Token::punct, std::string(1, c), line});
      ++i;
    } else if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_') {
      const std::size_t start = i;
      while (i < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[i])) != 0 || text[i] == '_')) {
        ++i;
      }
      tokens.push_back({Token::word, std::string(text.substr(start, i - start)), line});
    } else {
      throw DeclarationError("line " + std::to_string(line) + ": unexpected '" + std::string(1, c) +
                             "'");
    }
  }
  tokens.push_back({Token::end, "end of file", line});
  return tokens;
}

class Reader {
 public:
  explicit Reader(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  const Token& peek() const { return tokens_[pos_]; }
  bool at(std::string_view text) const {
    return peek().kind != Token::quoted && peek().kind != Token::end && peek().text == text;
  }
  [[noreturn]] void fail(const std::string& what) const {
    throw DeclarationError("line " + std::to_string(peek().line) + ": expected " + what +
                           ", found '" + peek().text + "'");
  }
  void expect(std::string_view text) {
    if (!at(text)) {
      fail("'" + std::string(text) + "'");
    }
    ++pos_;
  }
  std::string quoted() {
    if (peek().kind != Token::quoted) {
      fail("a quoted name");
    }
    return tokens_[pos_++].text;
  }
  std::string word() {
    if (peek().kind != Token::word) {
      fail("a word");
    }
    return tokens_[pos_++].text;
  }

  // type "name", type "name", ... up to the closing punctuation.
  std::vector<DeclaredField> field_list(std::string_view close) {
    std::vector<DeclaredField> fields;
    while (!at(close)) {
      if (!fields.empty()) {
        expect(",");
      }
      const int line = peek().line;
      std::string type = word();
      if (type == "array") {
        throw DeclarationError("line " + std::to_string(line) +
                               ": array parameters are of variable length; declare each slot");
      }
      if (declared_size(type) == 0) {
        throw DeclarationError("line " + std::to_string(line) + ": unknown type '" + type + "'");
      }
      fields.push_back({std::move(type), quoted()});
    }
    expect(close);
    return fields;
  }

 private:
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

}  // namespace

ShaderDeclaration parse_shader_declaration(std::string_view text) {
  Reader r(tokenize(text));
  ShaderDeclaration d;
  r.expect("declare");
  r.expect("shader");
  r.expect("struct");
  r.expect("{");
  d.result = r.field_list("}");
  d.name = r.quoted();
  r.expect("(");
  d.params = r.field_list(")");
  if (r.at("version")) {
    r.expect("version");
    const std::string digits = r.word();
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), d.version);
    if (error != std::errc() || end != digits.data() + digits.size()) {
      throw DeclarationError("version '" + digits + "' is not a number");
    }
  }
  r.expect("end");
  r.expect("declare");
  if (r.peek().kind != Token::end) {
    r.fail("end of file");
  }
  return d;
}

std::uint32_t declared_size(std::string_view type) {
  if (type == "integer" || type == "boolean" || type == "scalar") {
    return 4;
  }
  if (type == "vector") {
    return 12;
  }
  if (type == "color") {
    return 16;
  }
  return 0;
}

std::vector<PlacedField> pack_fields(const std::vector<DeclaredField>& fields) {
  std::vector<PlacedField> placed;
  std::uint32_t offset = 0;
  for (const DeclaredField& f : fields) {
    placed.push_back({f.name, f.type, offset});
    offset += declared_size(f.type);
  }
  return placed;
}

std::uint32_t packed_size(const std::vector<DeclaredField>& fields) {
  std::uint32_t size = 0;
  for (const DeclaredField& f : fields) {
    size += declared_size(f.type);
  }
  return size;
}

}  // namespace strata::test
