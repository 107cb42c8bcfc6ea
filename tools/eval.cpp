#include "eval.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <istream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "fields.h"
#include "host.h"

namespace strata::tools {
namespace {

using nlohmann::json;
// Answers keep their keys in the documented order.
using answer = nlohmann::ordered_json;

struct BadCase : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string pattern(std::uint32_t u) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08x", u);
  return text;
}

// A JSON number, or a string holding the float's 32-bit pattern so that NaN,
// the infinities and -0.0 can be given.
float parse_float(const json& v, const std::string& where) {
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    if (s.size() != 10 || s[0] != '0' || s[1] != 'x' ||
        s.find_first_not_of("0123456789abcdefABCDEF", 2) != std::string::npos) {
      throw BadCase(where + ": \"" + s + "\" is not a 32-bit pattern such as \"0x7fc00000\"");
    }
    return float_from_bits(static_cast<std::uint32_t>(std::stoul(s.substr(2), nullptr, 16)));
  }
  if (!v.is_number()) {
    throw BadCase(where + ": expected a number or a 32-bit pattern such as \"0x3f800000\", got " +
                  v.dump());
  }
  const double d = v.get<double>();
  // From here on a double rounds to infinity: not a float value.
  if (!(std::fabs(d) < 0x1.ffffffp+127)) {
    throw BadCase(where + ": " + v.dump() + " is out of range for a float");
  }
  return static_cast<float>(d);
}

std::int32_t parse_int(const json& v, const std::string& where) {
  if (!v.is_number_integer()) {
    throw BadCase(where + ": expected an integer, got " + v.dump());
  }
  const bool fits = v.is_number_unsigned()
                        ? v.get<std::uint64_t>() <= std::numeric_limits<std::int32_t>::max()
                        : v.get<std::int64_t>() >= std::numeric_limits<std::int32_t>::min() &&
                              v.get<std::int64_t>() <= std::numeric_limits<std::int32_t>::max();
  if (!fits) {
    throw BadCase(where + ": " + v.dump() + " is out of range for a 32-bit integer");
  }
  return static_cast<std::int32_t>(v.get<std::int64_t>());
}

const json& expect_array(const json& v, std::size_t size, const std::string& where) {
  if (!v.is_array() || v.size() != size) {
    throw BadCase(where + ": expected a list of " + std::to_string(size) + ", got " + v.dump());
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
    throw BadCase("\"params\": expected an object, got " + v.dump());
  }
  auto* bytes = reinterpret_cast<unsigned char*>(params);
  for (const auto& [name, value] : v.items()) {
    const Field* f = find_field(name);
    if (f == nullptr) {
      throw BadCase("unknown parameter \"" + name + "\"");
    }
    if (f->slots == 1) {
      parse_slot(*f, value, bytes + f->offset, name);
      continue;
    }
    expect_array(value, f->slots, name);
    for (std::uint32_t slot = 0; slot < f->slots; ++slot) {
      parse_slot(*f, value[slot], bytes + ParameterRef{f, slot}.offset(),
                 name + "[" + std::to_string(slot) + "]");
    }
  }
}

void parse_connect(const json& v, host::Host* h) {
  if (v.is_string() && v == "none") {
    return;
  }
  if (v.is_string() && v == "all") {
    h->connect_all();
    return;
  }
  if (!v.is_array()) {
    throw BadCase("\"connect\": expected \"none\", \"all\" or a list of parameter names, got " +
                  v.dump());
  }
  for (const json& item : v) {
    if (!item.is_string()) {
      throw BadCase("\"connect\": expected a parameter name, got " + item.dump());
    }
    const std::string& name = item.get_ref<const std::string&>();
    if (const auto ref = parse_parameter(name)) {
      h->connect(ref->offset());
      continue;
    }
    // A bare array name connects each of its slots.
    const Field* f = find_field(name);
    if (f == nullptr || f->slots == 1) {
      throw BadCase("\"connect\": unknown parameter \"" + name + "\"");
    }
    for (std::uint32_t slot = 0; slot < f->slots; ++slot) {
      h->connect(ParameterRef{f, slot}.offset());
    }
  }
}

template <std::size_t N>
answer patterns(const float (&values)[N]) {
  answer list = answer::array();
  for (float f : values) {
    list.push_back(pattern(float_bits(f)));
  }
  return list;
}

answer vector_patterns(strataMix_vector v) {
  const float values[3] = {v.x, v.y, v.z};
  return patterns(values);
}

answer color_patterns(strataMix_color c) {
  const float values[4] = {c.r, c.g, c.b, c.a};
  return patterns(values);
}

bool same_bits(const float* a, const float* b, int count) {
  for (int i = 0; i < count; ++i) {
    if (float_bits(a[i]) != float_bits(b[i])) {
      return false;
    }
  }
  return true;
}

struct Shaded {
  std::int32_t returned;
  strataMix_result result;
  strataMix_vector normal;
};

Shaded shade(host::ShaderFn shader, host::Host& h, std::int32_t ray_type, strataMix_vector normal,
             std::uint32_t fill, std::vector<std::uint32_t>* log) {
  host::Sample sample = h.make_sample(ray_type, normal, log);
  Shaded s;
  const float fill_value = float_from_bits(fill);
  s.result.outColor = {fill_value, fill_value, fill_value, fill_value};
  s.result.outNormal = {fill_value, fill_value, fill_value};
  s.returned = shader(&s.result, &sample.state, &h.params());
  s.normal = sample.state.normal;
  return s;
}

answer answer_case(host::ShaderFn shader, const json& input) {
  if (!input.is_object()) {
    throw BadCase("expected a JSON object, got " + input.dump());
  }
  host::Host h;
  std::int32_t ray_type = 0;
  strataMix_vector normal{0.0f, 0.0f, 1.0f};
  for (const auto& [key, value] : input.items()) {
    if (key == "params") {
      parse_params(value, &h.params());
    } else if (key == "rayType") {
      ray_type = parse_int(value, "\"rayType\"");
    } else if (key == "normal") {
      parse_floats(value, 3, &normal.x, "\"normal\"");
    } else if (key == "connect") {
      parse_connect(value, &h);
    } else {
      throw BadCase("unknown key \"" + key + "\"");
    }
  }

  // The shader is run twice over results filled with two different
  // patterns: a field that it wrote holds the same bits after both runs.
  std::vector<std::uint32_t> log;
  const Shaded first = shade(shader, h, ray_type, normal, 0x7fa11a5e, &log);
  const Shaded second = shade(shader, h, ray_type, normal, 0xffb0b0b0, nullptr);
  const bool wrote_color = same_bits(&first.result.outColor.r, &second.result.outColor.r, 4);
  const bool wrote_normal = same_bits(&first.result.outNormal.x, &second.result.outNormal.x, 3);

  answer evaluated = answer::array();
  for (std::uint32_t offset : log) {
    evaluated.push_back(parameter_name(*parameter_at(offset)));
  }
  answer out;
  out["return"] = first.returned;
  out["outColor"] = wrote_color ? color_patterns(first.result.outColor) : answer(nullptr);
  out["outNormal"] = wrote_normal ? vector_patterns(first.result.outNormal) : answer(nullptr);
  out["normal"] = vector_patterns(first.normal);
  out["evaluated"] = evaluated;
  return out;
}

}  // namespace

int run_eval(const host::Session& session, std::istream& in, std::ostream& out,
             std::ostream& err) {
  int status = 0;
  std::string line;
  for (long number = 1; std::getline(in, line); ++number) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      continue;
    }
    try {
      const json input = json::parse(line);
      out << answer_case(session.shader(), input).dump() << '\n';
    } catch (const json::parse_error& e) {
      err << "stratamix eval: line " << number << ": not JSON: " << e.what() << '\n';
      status = 1;
    } catch (const BadCase& e) {
      err << "stratamix eval: line " << number << ": " << e.what() << '\n';
      status = 1;
    }
  }
  return status;
}

Command add_eval_command(CLI::App& root, std::istream& in, std::ostream& out, std::ostream& err) {
  CLI::App* app = root.add_subcommand(
      "eval",
      "Reads one shader case per line (JSON) from standard input and writes one answer per "
      "line.");
  auto plugin = std::make_shared<std::string>();
  add_plugin_option(app, plugin.get());
  return {app, [app, plugin, &in, &out, &err] {
            return with_session(*app, *plugin, err, [&](const host::Session& session) {
              return run_eval(session, in, out, err);
            });
          }};
}

}  // namespace strata::tools
