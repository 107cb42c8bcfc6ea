#include "preset.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <istream>
#include <map>
#include <utility>

#include "text_input.h"

namespace strata::preview {
namespace {

// Highest pattern frequency: beyond it a texture only aliases.
constexpr float kMaxFrequency = 10000.0f;

[[noreturn]] void fail(int line, const std::string& problem) { throw PresetError(line, problem); }

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

std::vector<std::string_view> split(std::string_view s, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == separator) {
      parts.push_back(trim(s.substr(start, i - start)));
      start = i + 1;
    }
  }
  return parts;
}

std::vector<std::string_view> words(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const auto start = s.find_first_not_of(" \t", i);
    if (start == std::string_view::npos) {
      break;
    }
    const auto end = s.find_first_of(" \t", start);
    out.push_back(s.substr(start, end == std::string_view::npos ? s.size() - start : end - start));
    i = end == std::string_view::npos ? s.size() : end;
  }
  return out;
}

std::string article(FieldType type) { return std::string(type_entry(type).article); }

float parse_float(std::string_view word, int line) {
  float f = 0.0f;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), f);
  if (error == std::errc::result_out_of_range) {
    fail(line, "'" + std::string(word) + "' is out of range for a float");
  }
  if (error != std::errc() || end != word.data() + word.size()) {
    fail(line, "'" + std::string(word) + "' is not a number");
  }
  return f;
}

std::int32_t parse_integer(std::string_view word, const std::string& name, int line) {
  if (word == "on") {
    return 1;
  }
  if (word == "off") {
    return 0;
  }
  std::int32_t i = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), i);
  if (error == std::errc::result_out_of_range) {
    fail(line, "'" + std::string(word) + "' is out of range for a 32-bit integer");
  }
  if (error != std::errc() || end != word.data() + word.size()) {
    fail(line,
         name + " is an integer: '" + std::string(word) + "' is not an integer (nor on or off)");
  }
  return i;
}

// A value of the field's kind from its numbers; a colour may leave out its
// alpha, which is then 1.
Value parse_value(std::string_view text, const Field& field, const std::string& what, int line) {
  const std::vector<std::string_view> w = words(text);
  const std::uint32_t width = slot_words(field_type(field));
  const bool short_colour = field_type(field) == FieldType::color && w.size() == 3;
  if (w.size() != width && !short_colour) {
    const std::string wanted = field_type(field) == FieldType::color ? "3 or 4 numbers"
                               : width == 1                          ? "1 number"
                                            : std::to_string(width) + " numbers";
    fail(line, what + " is " + article(field_type(field)) + ": expected " + wanted + ", got " +
                   std::to_string(w.size()));
  }
  Value v{};
  for (std::size_t i = 0; i < w.size(); ++i) {
    v[i] = parse_float(w[i], line);
  }
  if (short_colour) {
    v[3] = 1.0f;
  }
  return v;
}

float parse_frequency(std::string_view arg, const std::string& call, int line) {
  const float f = parse_float(arg, line);
  if (!(f > 0.0f && f <= kMaxFrequency)) {
    fail(line, call + ": the frequency must lie in (0, " +
                   std::to_string(static_cast<int>(kMaxFrequency)) + "], not " + std::string(arg));
  }
  return f;
}

// Stops of a pattern: the given ones, or the field's zero and one.
std::vector<Value> parse_stops(const std::vector<std::string_view>& args, std::size_t first,
                               const Field& field, const std::string& what, int line) {
  std::vector<Value> stops;
  for (std::size_t i = first; i < args.size(); ++i) {
    stops.push_back(parse_value(args[i], field, what, line));
  }
  if (stops.empty()) {
    Value zero{}, one{1.0f, 1.0f, 1.0f, 1.0f};
    if (field_type(field) == FieldType::color) {
      zero[3] = 1.0f;
    }
    stops = {zero, one};
  }
  return stops;
}

Pattern parse_pattern(std::string_view text, const Field& field, const std::string& what,
                      int line) {
  const auto open = text.find('(');
  const std::string name(trim(text.substr(0, open)));
  if (text.back() != ')') {
    fail(line, name + "(...): missing ')' at the end");
  }
  Pattern p;
  if (!pattern_kind_named(name, &p.kind)) {
    fail(line, "unknown pattern '" + name + "' (" + names_of(kPatterns, ", ") + ")");
  }
  if (field_type(field) == FieldType::integer) {
    fail(line, what + " is an integer: only colour, vector and float parameters can be connected");
  }
  const std::string call = name + "(...)";
  const std::vector<std::string_view> args =
      split(text.substr(open + 1, text.size() - open - 2), ',');
  if (args[0].empty()) {
    fail(line, call + ": missing arguments");
  }
  switch (p.kind) {
    case PatternKind::checker:
    case PatternKind::noise:
      p.frequency = parse_frequency(args[0], call, line);
      if (args.size() != 1 && args.size() != 3) {
        fail(line, call + ": expected (frequency) or (frequency, value, value)");
      }
      p.stops = parse_stops(args, 1, field, what, line);
      break;
    case PatternKind::ramp:
      if (args[0] != "u" && args[0] != "v") {
        fail(line,
             call + ": the first argument is the axis, u or v, not '" + std::string(args[0]) + "'");
      }
      p.axis = args[0] == "u" ? 0 : 1;
      if (args.size() == 2) {
        fail(line, call + ": a ramp needs at least two values");
      }
      p.stops = parse_stops(args, 1, field, what, line);
      break;
    case PatternKind::bump:
      if (!pattern_connects_to(p.kind, field_type(field))) {
        fail(line, what + " is " + article(field_type(field)) +
                       ": bump yields a normal and connects only to a vector");
      }
      if (args.size() != 2) {
        fail(line, call + ": expected (frequency, height)");
      }
      p.frequency = parse_frequency(args[0], call, line);
      p.height = parse_float(args[1], line);
      if (!std::isfinite(p.height)) {
        fail(line, call + ": the height must be finite");
      }
      break;
  }
  return p;
}

// "gamma" or "layerWeight[2]", or a bare layer array for all its slots.
Assignment parse_target(std::string_view name, int line) {
  Assignment a;
  a.line = line;
  const auto bracket = name.find('[');
  a.field = find_field(name.substr(0, bracket));
  if (a.field == nullptr) {
    fail(line, "unknown parameter '" + std::string(name.substr(0, bracket)) + "'");
  }
  if (bracket == std::string_view::npos) {
    return a;
  }
  const std::optional<ParameterRef> ref = parse_parameter(name);
  if (!ref) {
    if (a.field->slots == 1) {
      fail(line, std::string(a.field->name) + " is not a layer array and has no slots");
    }
    fail(line, "'" + std::string(name) + "': the slot must be a number from 0 to " +
                   std::to_string(a.field->slots - 1));
  }
  a.slot = ref->slot;
  return a;
}

Assignment parse_line(std::string_view text, int line) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) {
    fail(line, "expected 'name = value'");
  }
  const std::string_view name = trim(text.substr(0, equals));
  const std::string_view value = trim(text.substr(equals + 1));
  if (name.empty()) {
    fail(line, "missing the parameter's name before '='");
  }
  Assignment a = parse_target(name, line);
  const std::string what(name);
  if (value.empty()) {
    fail(line, "missing the value of " + what);
  }
  if (is_texture_call(value)) {
    a.texture = parse_texture_input(value, *a.field, what, line);
  } else if (value.find('(') != std::string_view::npos) {
    a.pattern = parse_pattern(value, *a.field, what, line);
  } else if (field_type(*a.field) == FieldType::integer) {
    const std::vector<std::string_view> w = words(value);
    if (w.size() != 1) {
      fail(line, what + " is an integer: expected 1 value, got " + std::to_string(w.size()));
    }
    a.integer = parse_integer(w[0], what, line);
  } else {
    a.value = parse_value(value, *a.field, what, line);
  }
  return a;
}

std::vector<std::uint32_t> slots_of(const Assignment& a) {
  if (a.slot) {
    return {*a.slot};
  }
  std::vector<std::uint32_t> all;
  for (std::uint32_t s = 0; s < a.field->slots; ++s) {
    all.push_back(s);
  }
  return all;
}

// Where a comment begins: the first '#' outside double quotes (a texture's
// path may hold one).
std::size_t comment_start(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (quoted && line[i] == '\\') {
      ++i;
    } else if (line[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && line[i] == '#') {
      return i;
    }
  }
  return std::string_view::npos;
}

unsigned char* record_bytes(strataMix_params* params, std::uint32_t offset) {
  return reinterpret_cast<unsigned char*>(params) + offset;
}

}  // namespace

Preset parse_preset(std::string_view text) {
  Preset preset;
  // The line that set each parameter or slot, by offset.
  std::map<std::uint32_t, int> set_on;
  host::TextView view(text);
  std::istream in(&view);
  host::LineReader reader(in, text.size());
  host::TextLine read;
  while (reader.next(&read)) {
    const auto line = static_cast<int>(read.number);
    if (read.nul_column != 0) {
      fail(line, "column " + std::to_string(read.nul_column) +
                     ": a NUL byte, which a preset cannot hold");
    }
    const std::string_view current = trim(read.text.substr(0, comment_start(read.text)));
    if (current.empty()) {
      continue;
    }
    Assignment a = parse_line(current, line);
    for (std::uint32_t slot : slots_of(a)) {
      const ParameterRef ref{a.field, slot};
      const auto [it, fresh] = set_on.emplace(ref.offset(), line);
      if (!fresh) {
        fail(line, parameter_name(ref) + " is already set on line " + std::to_string(it->second));
      }
    }
    preset.assignments.push_back(std::move(a));
  }
  return preset;
}

void set_preview_defaults(strataMix_params* params) {
  *params = strataMix_params{};
  auto* bytes = reinterpret_cast<unsigned char*>(params);
  for (const Field& f : kRecordFields) {
    const FieldType type = field_type(f);
    for (std::uint32_t slot = 0; slot < f.slots; ++slot) {
      unsigned char* at = bytes + ParameterRef{&f, slot}.offset();
      if (type == FieldType::integer) {
        const auto value = static_cast<std::int32_t>(f.neutral[0]);
        std::memcpy(at, &value, sizeof value);
      } else {
        std::memcpy(at, f.neutral.data(), slot_size(type));
      }
    }
  }
}

void apply_preset(const Preset& preset, host::Host* host, TextureSource* textures) {
  for (const Assignment& a : preset.assignments) {
    // A texture is opened once for all the slots it connects.
    host::Connection texture;
    if (a.texture) {
      if (textures == nullptr) {
        fail(a.line, "a texture needs the preview's image reader, which this tool lacks");
      }
      texture = textures->connect(*a.texture, field_type(*a.field), a.line);
    }
    for (std::uint32_t slot : slots_of(a)) {
      const std::uint32_t offset = ParameterRef{a.field, slot}.offset();
      if (a.texture) {
        host->connect(offset, texture);
      } else if (a.pattern) {
        host->connect(offset, pattern_connection(*a.pattern, field_type(*a.field)));
      } else if (field_type(*a.field) == FieldType::integer) {
        std::memcpy(record_bytes(&host->params(), offset), &a.integer, sizeof a.integer);
      } else {
        std::memcpy(record_bytes(&host->params(), offset), a.value.data(),
                    slot_size(field_type(*a.field)));
      }
    }
  }
}

}  // namespace strata::preview
