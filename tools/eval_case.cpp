#include "eval_case.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <unordered_set>

#include "fields.h"

namespace strata::tools {
namespace {

using nlohmann::json;

// At most kQuotedChars of `text`, "..." where it is cut; never inside a
// UTF-8 sequence.
std::string cut_short(std::string_view text) {
  if (text.size() <= kQuotedChars) {
    return std::string(text);
  }
  std::size_t end = kQuotedChars;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return std::string(text.substr(0, end)) + "...";
}

// A value as a message names it: its JSON, cut short.
std::string shown(const json& v) { return cut_short(v.dump()); }

// A JSON number, or a string holding the float's 32-bit pattern so that NaN,
// the infinities and -0.0 can be given.
float parse_float(const json& v, const std::string& where) {
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    if (s.size() != 10 || s[0] != '0' || s[1] != 'x' ||
        s.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
      throw BadCase(where + ": \"" + cut_short(s) +
                    "\" is not a 32-bit pattern such as \"0x7fc00000\"");
    }
    return float_from_bits(static_cast<std::uint32_t>(std::stoul(s.substr(2), nullptr, 16)));
  }
  if (!v.is_number()) {
    throw BadCase(where + ": expected a number or a 32-bit pattern such as \"0x3f800000\", got " +
                  shown(v));
  }
  const double d = v.get<double>();
  // From here on a double rounds to infinity: not a float value.
  if (!(std::fabs(d) < 0x1.ffffffp+127)) {
    throw BadCase(where + ": " + shown(v) + " is out of range for a float");
  }
  return static_cast<float>(d);
}

std::int32_t parse_int(const json& v, const std::string& where) {
  if (!v.is_number_integer()) {
    throw BadCase(where + ": expected an integer, got " + shown(v));
  }
  const bool fits = v.is_number_unsigned()
                        ? v.get<std::uint64_t>() <= std::numeric_limits<std::int32_t>::max()
                        : v.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min() &&
                              v.get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max();
  if (!fits) {
    throw BadCase(where + ": " + shown(v) + " is out of range for a 32-bit integer");
  }
  return static_cast<std::int32_t>(v.get<std::int64_t>());
}

const json& expect_array(const json& v, std::size_t size, const std::string& where) {
  if (!v.is_array() || v.size() != size) {
    throw BadCase(where + ": expected a list of " + std::to_string(size) + ", got " + shown(v));
  }
  return v;
}

void parse_floats(const json& v, std::size_t count, float* out, const std::string& where) {
  expect_array(v, count, where);
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = parse_float(v[i], where + "[" + std::to_string(i) + "]");
  }
}

// One slot of a field, written into the record at `slot_address`.
void parse_slot(const Field& f, const json& v, unsigned char* slot_address,
                const std::string& where) {
  switch (field_type(f)) {
    case FieldType::integer: {
      const std::int32_t i = parse_int(v, where);
      std::memcpy(slot_address, &i, sizeof i);
      return;
    }
    case FieldType::scalar:
    case FieldType::color:
    case FieldType::vector: {
      const std::uint32_t words = slot_words(field_type(f));
      float values[4];
      if (field_type(f) == FieldType::scalar) {
        values[0] = parse_float(v, where);
      } else {
        parse_floats(v, words, values, where);
      }
      std::memcpy(slot_address, values, sizeof(float) * words);
      return;
    }
  }
}

void parse_params(const json& v, strataMix_params* params) {
  if (!v.is_object()) {
    throw BadCase("\"params\": expected an object, got " + shown(v));
  }
  auto* bytes = reinterpret_cast<unsigned char*>(params);
  for (const auto& [name, value] : v.items()) {
    const Field* f = find_field(name);
    if (f == nullptr) {
      throw BadCase("unknown parameter \"" + cut_short(name) + "\"");
    }
    if (f->slots == 1) {
      parse_slot(*f, value, bytes + f->offset, name);
      continue;
    }
    expect_array(value, f->slots, name);
    for (std::uint32_t slot = 0; slot < f->slots; ++slot) {
      const ParameterRef ref{f, slot};
      parse_slot(*f, value[slot], bytes + ref.offset(), parameter_name(ref));
    }
  }
}

void parse_connect(const json& v, Case* c) {
  if (v.is_string() && v == "none") {
    return;
  }
  if (v.is_string() && v == "all") {
    c->connect_all = true;
    return;
  }
  if (!v.is_array()) {
    throw BadCase("\"connect\": expected \"none\", \"all\" or a list of parameter names, got " +
                  shown(v));
  }
  for (const json& item : v) {
    if (!item.is_string()) {
      throw BadCase("\"connect\": expected a parameter name, got " + shown(item));
    }
    const std::string& name = item.get_ref<const std::string&>();
    if (const auto ref = parse_parameter(name)) {
      c->connected.push_back(ref->offset());
      continue;
    }
    // A bare array name connects each of its slots.
    const Field* f = find_field(name);
    if (f == nullptr || f->slots == 1) {
      throw BadCase("\"connect\": unknown parameter \"" + cut_short(name) + "\"");
    }
    for (std::uint32_t slot = 0; slot < f->slots; ++slot) {
      c->connected.push_back(ParameterRef{f, slot}.offset());
    }
  }
}

// The library's messages quote the token it read last, which may be the
// rest of the line: "...; last read: 'TOKEN'", perhaps followed by "; expected
// WHAT", or "number overflow parsing 'TOKEN'". A token may hold those words
// itself, so what follows it is cut short too.
struct QuotedToken {
  std::string before, token, after;
};

QuotedToken quoted_token(const std::string& what, const std::string& opening) {
  const std::size_t at = what.find(opening);
  if (at == std::string::npos) {
    return {what, "", ""};
  }
  const std::size_t start = at + opening.size();
  std::size_t end = what.rfind("'; expected ");
  if (end == std::string::npos || end < start) {
    end = what.rfind('\'');
  }
  if (end == std::string::npos || end < start) {
    end = what.size();
  }
  return {what.substr(0, start), what.substr(start, end - start), what.substr(end)};
}

// The line as JSON. Each object and list is checked as it opens and each
// key as it is read, so that a line nested too deep or giving a key twice
// is refused before the rest is read or kept.
json parse_json(std::string_view text) {
  // The keys of each open object (and an empty set for each open list).
  std::vector<std::unordered_set<std::string>> keys;
  const json::parser_callback_t check = [&keys](int depth, json::parse_event_t event,
                                                json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        // `depth` counts the objects and lists around this one.
        if (depth >= kMaxCaseDepth) {
          throw BadCase("nested deeper than " + std::to_string(kMaxCaseDepth) + " levels");
        }
        keys.emplace_back();
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        keys.pop_back();
        break;
      case json::parse_event_t::key: {
        const std::string& key = parsed.get_ref<const std::string&>();
        if (!keys.back().insert(key).second) {
          throw BadCase("key \"" + cut_short(key) + "\" given twice");
        }
        break;
      }
      case json::parse_event_t::value:
        break;
    }
    return true;
  };
  try {
    return json::parse(text.begin(), text.end(), check);
  } catch (const json::parse_error& e) {
    const QuotedToken t = quoted_token(e.what(), "; last read: '");
    throw BadCase("not JSON: " + t.before + cut_short(t.token) + cut_short(t.after));
  } catch (const json::out_of_range& e) {
    // The only one the parser throws: a number beyond the double range.
    throw BadCase(cut_short(quoted_token(e.what(), "parsing '").token) +
                  " is out of range for a double");
  }
}

}  // namespace

std::optional<Case> read_case(const host::TextLine& line) {
  if (line.too_long) {
    throw BadCase("longer than " + std::to_string(kMaxCaseLine) + " bytes; not read");
  }
  if (line.nul_column != 0) {
    throw BadCase("column " + std::to_string(line.nul_column) +
                  ": a NUL byte, which JSON text cannot hold");
  }
  if (line.text.find_first_not_of(" \t") == std::string_view::npos) {
    return std::nullopt;
  }
  const json input = parse_json(line.text);
  if (!input.is_object()) {
    throw BadCase("expected a JSON object, got " + shown(input));
  }
  Case c;
  for (const auto& [key, value] : input.items()) {
    if (key == "params") {
      parse_params(value, &c.params);
    } else if (key == "rayType") {
      c.ray_type = parse_int(value, "\"rayType\"");
    } else if (key == "normal") {
      parse_floats(value, 3, &c.normal.x, "\"normal\"");
    } else if (key == "connect") {
      parse_connect(value, &c);
    } else {
      throw BadCase("unknown key \"" + cut_short(key) + "\"");
    }
  }
  return c;
}

}  // namespace strata::tools
