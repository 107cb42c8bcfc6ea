#include "eval.h"

#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <vector>

#include "eval_case.h"
#include "fields.h"
#include "host.h"
#include "text_input.h"

namespace strata::tools {
namespace {

// Answers keep their keys in the documented order.
using answer = nlohmann::ordered_json;

std::string pattern(std::uint32_t u) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08x", u);
  return text;
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

answer answer_case(host::ShaderFn shader, const Case& c) {
  host::Host h;
  h.params() = c.params;
  if (c.connect_all) {
    h.connect_all();
  }
  for (const std::uint32_t offset : c.connected) {
    h.connect(offset);
  }

  // The shader is run twice over results filled with two different
  // patterns: a field that it wrote holds the same bits after both runs.
  std::vector<std::uint32_t> log;
  const Shaded first = shade(shader, h, c.ray_type, c.normal, 0x7fa11a5e, &log);
  const Shaded second = shade(shader, h, c.ray_type, c.normal, 0xffb0b0b0, nullptr);
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

int run_eval(const host::Session& session, std::istream& in, std::ostream& out, std::ostream& err) {
  int status = 0;
  host::LineReader reader(in, kMaxCaseLine);
  host::TextLine line;
  while (reader.next(&line)) {
    try {
      if (const std::optional<Case> c = read_case(line)) {
        out << answer_case(session.shader(), *c).dump() << '\n';
      }
    } catch (const BadCase& e) {
      err << "stratamix eval: line " << line.number << ": " << e.what() << '\n';
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
