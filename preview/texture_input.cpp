#include "texture_input.h"

#include <optional>

#include "preset.h"

namespace strata::preview {
namespace {

constexpr std::string_view kBlanks = " \t\r";

// A cursor over the call's text.
struct Scanner {
  std::string_view text;
  std::size_t at = 0;

  void skip_blanks() {
    while (at < text.size() && kBlanks.find(text[at]) != std::string_view::npos) {
      ++at;
    }
  }
  bool take(char c) {
    skip_blanks();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool done() {
    skip_blanks();
    return at == text.size();
  }
  // Up to the next comma or closing bracket, blanks around it dropped.
  std::string_view argument() {
    skip_blanks();
    const std::size_t start = at;
    while (at < text.size() && text[at] != ',' && text[at] != ')') {
      ++at;
    }
    std::size_t end = at;
    while (end > start && kBlanks.find(text[end - 1]) != std::string_view::npos) {
      --end;
    }
    return text.substr(start, end - start);
  }
};

std::string_view call_name(std::string_view value) {
  const std::size_t start = value.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) {
    return {};
  }
  std::size_t end = start;
  while (end < value.size() && value[end] >= 'a' && value[end] <= 'z') {
    ++end;
  }
  return value.substr(start, end - start);
}

// The quoted path; a backslash takes the next character as it is.
std::string quoted_path(Scanner& s, const std::string& call, int line) {
  if (!s.take('"')) {
    throw PresetError(line, call + ": the path comes first, in double quotes");
  }
  std::string path;
  while (s.at < s.text.size() && s.text[s.at] != '"') {
    if (s.text[s.at] == '\\' && s.at + 1 < s.text.size()) {
      ++s.at;
    }
    path += s.text[s.at++];
    if (path.size() > kMaxTexturePath) {
      throw PresetError(
          line, call + ": the path is longer than " + std::to_string(kMaxTexturePath) + " bytes");
    }
  }
  if (s.at == s.text.size()) {
    throw PresetError(line, call + ": missing the '\"' that ends the path");
  }
  ++s.at;
  if (path.empty()) {
    throw PresetError(line, call + ": the path is empty");
  }
  return path;
}

std::optional<TextureWrap> wrap_named(std::string_view name) {
  for (const TextureWrapName& w : kTextureWraps) {
    if (w.name == name) {
      return w.wrap;
    }
  }
  return std::nullopt;
}

// "y up" or "y down", with any blanks between the words.
std::optional<bool> y_down_named(std::string_view arg) {
  if (arg.empty() || arg[0] != 'y') {
    return std::nullopt;
  }
  const std::size_t word = arg.find_first_not_of(kBlanks, 1);
  if (word == 1 || word == std::string_view::npos) {
    return std::nullopt;
  }
  if (arg.substr(word) == "up") {
    return false;
  }
  if (arg.substr(word) == "down") {
    return true;
  }
  return std::nullopt;
}

}  // namespace

std::string_view texture_wrap_name(TextureWrap wrap) {
  for (const TextureWrapName& w : kTextureWraps) {
    if (w.wrap == wrap) {
      return w.name;
    }
  }
  return "?";
}

bool is_texture_call(std::string_view value) {
  const std::string_view name = call_name(value);
  if (name != "texture" && name != "normalmap") {
    return false;
  }
  const std::size_t after = value.find(name) + name.size();
  const std::size_t open = value.find_first_not_of(kBlanks, after);
  return open != std::string_view::npos && value[open] == '(';
}

TextureInput parse_texture_input(std::string_view value, const Field& field,
                                 const std::string& what, int line) {
  TextureInput input;
  const std::string_view name = call_name(value);
  input.normal_map = name == "normalmap";
  const std::string call = std::string(name) + "(...)";
  const FieldType type = field_type(field);
  if (type == FieldType::integer) {
    throw PresetError(
        line, what + " is an integer: only colour, vector and float parameters can be connected");
  }
  if (input.normal_map && type != FieldType::vector) {
    throw PresetError(line, what + " is not a vector: normalmap() yields a normal and connects " +
                                "only to a vector (texture() connects colours and floats)");
  }
  if (!input.normal_map && type == FieldType::vector) {
    throw PresetError(line, what +
                                " is a vector: texture() connects colours and floats; a normal "
                                "map connects through normalmap()");
  }

  Scanner s{value, value.find(name) + name.size()};
  s.take('(');
  input.path = quoted_path(s, call, line);
  bool wrap_given = false;
  bool second_given = false;  // the colour space, or the normal map's y
  while (s.take(',')) {
    const std::string_view arg = s.argument();
    if (const std::optional<TextureWrap> wrap = wrap_named(arg)) {
      if (wrap_given) {
        throw PresetError(line, call + ": the wrap is given twice");
      }
      input.wrap = *wrap;
      wrap_given = true;
      continue;
    }
    const std::optional<bool> y_down = input.normal_map ? y_down_named(arg) : std::nullopt;
    const bool colour_space = !input.normal_map && (arg == "srgb" || arg == "linear");
    if (!y_down && !colour_space) {
      throw PresetError(
          line, call + ": '" + std::string(arg) + "' is neither a wrap " +
                    "(periodic, clamp, black, mirror) nor " +
                    (input.normal_map ? "y up or y down" : "a colour space (linear, srgb)"));
    }
    if (second_given) {
      throw PresetError(line, call + (input.normal_map ? ": the y direction is given twice"
                                                       : ": the colour space is given twice"));
    }
    second_given = true;
    input.srgb = arg == "srgb";
    input.y_down = y_down.value_or(false);
  }
  if (s.done()) {
    throw PresetError(line, call + ": missing ')' at the end");
  }
  if (!s.take(')')) {
    throw PresetError(line, call + ": expected ',' or ')' after the path");
  }
  if (!s.done()) {
    throw PresetError(line, call + ": unexpected text after ')'");
  }
  return input;
}

std::string texture_call_text(const TextureInput& input) {
  std::string text = input.normal_map ? "normalmap(\"" : "texture(\"";
  for (const char c : input.path) {
    if (c == '"' || c == '\\') {
      text += '\\';
    }
    text += c;
  }
  text += "\", ";
  text += texture_wrap_name(input.wrap);
  if (input.normal_map) {
    text += input.y_down ? ", y down" : ", y up";
  } else {
    text += input.srgb ? ", srgb" : ", linear";
  }
  return text + ")";
}

}  // namespace strata::preview
