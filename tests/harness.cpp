#include "harness.h"

#include <cstdio>
#include <sstream>

#include "fields.h"

namespace strata::test {

const host::Plugin& plugin() {
  static const host::Plugin loaded(STRATAMIX_PLUGIN_PATH);
  return loaded;
}

Call shade(const host::Host& h, std::int32_t ray_type, strataMix_vector normal) {
  std::vector<std::uint32_t> log;
  host::Sample sample = h.make_sample(ray_type, normal, &log);
  Call c;
  const float fill = from_bits(kUnwritten);
  c.result.outColor = {fill, fill, fill, fill};
  c.result.outNormal = {fill, fill, fill};
  // The shader takes the record as a plain pointer; it never writes it.
  c.returned =
      plugin().shader()(&c.result, &sample.state, const_cast<strataMix_params*>(&h.params()));
  c.normal = sample.state.normal;
  for (std::uint32_t offset : log) {
    c.evaluated.push_back(parameter_name(*parameter_at(offset)));
  }
  return c;
}

bool color_written(const Call& c) {
  const strataMix_color& o = c.result.outColor;
  return !(bits(o.r) == kUnwritten && bits(o.g) == kUnwritten && bits(o.b) == kUnwritten &&
           bits(o.a) == kUnwritten);
}

bool normal_written(const Call& c) {
  const strataMix_vector& o = c.result.outNormal;
  return !(bits(o.x) == kUnwritten && bits(o.y) == kUnwritten && bits(o.z) == kUnwritten);
}

std::string hex(const float* values, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    char word[12];
    std::snprintf(word, sizeof word, "%s0x%08x", i == 0 ? "" : " ", bits(values[i]));
    out += word;
  }
  return out;
}

std::vector<std::string> split_names(const std::string& spaced) {
  std::vector<std::string> names;
  std::istringstream in(spaced);
  for (std::string name; in >> name;) {
    names.push_back(name);
  }
  return names;
}

}  // namespace strata::test
