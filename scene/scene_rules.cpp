#include "scene_rules.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace strata::scene {
namespace {

// What an instance gives one integer parameter: a value (0 when left out),
// or a connection, which may yield any value.
struct Integer {
  bool connected = false;
  std::int32_t value = 0;
  bool may_be_on() const { return connected || value != 0; }
  bool may_be_off() const { return connected || value == 0; }
  bool known_on() const { return !connected && value != 0; }
};

const Field& field_named(std::string_view name) { return *find_field(name); }

Integer integer_of(const Instance& instance, std::string_view name, std::uint32_t slot = 0) {
  const Setting* s = find_setting(instance, {&field_named(name), slot});
  if (s == nullptr) {
    return {};
  }
  if (s->kind != SettingKind::value) {
    return {true, 0};
  }
  return {false, static_cast<std::int32_t>(s->words[0])};
}

// Whether a float parameter may be other than 0: connected, or set so.
bool may_be_nonzero(const Instance& instance, std::string_view name, std::uint32_t slot) {
  const Setting* s = find_setting(instance, {&field_named(name), slot});
  return s != nullptr && (s->kind != SettingKind::value || float_from_bits(s->words[0]) != 0.0f);
}

// Which stages of the call can run, from the switches and the count as the
// instance gives them.
struct Stages {
  bool normal = false;
  std::uint32_t slots = 0;  // slots the normal stage visits
  bool colour_path = false;
  bool blend = false;          // the blend reads its parameters
  bool blend_matters = false;  // and blends with them: the mode may be in range
  bool correction = false;
};

bool in_mode_range(std::int32_t mode) { return mode >= 0 && mode <= 22; }

Stages stages_of(const Instance& instance) {
  Stages st;
  const Integer normal = integer_of(instance, "normalEnable");
  const Integer count = integer_of(instance, "layerCount");
  st.normal = normal.may_be_on();
  if (st.normal) {
    st.slots = count.connected ? STRATAMIX_LAYER_SLOTS
                               : static_cast<std::uint32_t>(std::clamp<std::int32_t>(
                                     count.value, 0, STRATAMIX_LAYER_SLOTS));
  }
  // The normal path ends the call when it returns the normal, as a vector
  // or as a colour.
  st.colour_path = normal.may_be_off() || (integer_of(instance, "outputNormal").may_be_off() &&
                                           integer_of(instance, "normalAsColor").may_be_off());
  const Integer blend = integer_of(instance, "blendEnable");
  const Integer mode = integer_of(instance, "blendMode");
  st.blend = st.colour_path && blend.may_be_on();
  // A mode out of range returns baseColor at once, before the correction.
  const bool mode_out = !mode.connected && !in_mode_range(mode.value);
  st.blend_matters = st.blend && !mode_out;
  const bool returns_in_blend = blend.known_on() && mode_out;
  st.correction =
      st.colour_path && integer_of(instance, "correctEnable").may_be_on() && !returns_in_blend;
  return st;
}

// Whether a run of the call can read the parameter and be changed by it;
// the words naming the part of the call that reads it go to `reader`.
bool read_by(const Instance& instance, const Stages& st, const ParameterRef& p,
             std::string_view* reader) {
  const std::string_view name = p.field->name;
  switch (p.field->stage) {
    case FieldStage::flow:
      *reader = "call";
      return true;
    case FieldStage::normal:
      *reader = "normal stage";
      if (p.field->slots == 1) {
        return st.normal;
      }
      // A visited slot that is off adds nothing, whatever its weight; its
      // normal is read only when its weight and balance are not 0.
      if (p.slot >= st.slots || !integer_of(instance, "layerEnable", p.slot).may_be_on()) {
        return false;
      }
      return name != "layerNormal" || (may_be_nonzero(instance, "layerWeight", p.slot) &&
                                       may_be_nonzero(instance, "layerBalance", p.slot));
    case FieldStage::layer:
      if (name == "baseColor") {
        *reader = "colour path";
        return st.colour_path;
      }
      *reader = "blend";
      return st.blend_matters;
    case FieldStage::correction:
      *reader = "colour correction";
      return st.correction;
  }
  return false;
}

Diagnostic warning(Location where, std::string message) {
  return {Severity::warning, where, std::move(message), -1};
}

// The value warnings of the settings that hold an integer.
void value_warnings(const Setting& s, const Stages& st, std::vector<Diagnostic>* out) {
  if (s.kind != SettingKind::value || field_type(*s.param.field) != FieldType::integer) {
    return;
  }
  const auto v = static_cast<std::int32_t>(s.words[0]);
  const std::string name = declared_name(s.param);
  const std::string is = name + " is " + std::to_string(v);
  switch (s.param.field->kind) {
    case FieldKind::gate:
      if (st.normal && v != 0 && v != 1) {
        out->push_back(warning(s.where, is + ": the gate fires only at exactly 1, so never"));
      }
      break;
    case FieldKind::count:
      if (st.normal && v > static_cast<std::int32_t>(STRATAMIX_LAYER_SLOTS)) {
        out->push_back(warning(s.where, is + ": the record holds 8 slots, and the normal "
                                             "stage visits no more than those"));
      }
      break;
    case FieldKind::mode:
      if (st.blend && !in_mode_range(v)) {
        out->push_back(warning(s.where, is + ", outside 0 to 22: the call returns baseColor, "
                                             "neither blended nor corrected"));
      }
      break;
    case FieldKind::toggle:
    case FieldKind::scalar:
    case FieldKind::color:
    case FieldKind::vector:
      break;
  }
}

std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<Diagnostic> instance_warnings(const Instance& instance, bool left_out) {
  std::vector<Diagnostic> out;
  const Stages st = stages_of(instance);
  for (const Field& f : kRecordFields) {
    for (std::uint32_t slot = 0; slot < f.slots; ++slot) {
      const ParameterRef p{&f, slot};
      const auto same = [&](const ParameterRef& r) { return r.offset() == p.offset(); };
      if (std::any_of(instance.refused.begin(), instance.refused.end(), same)) {
        continue;
      }
      if (const Setting* s = find_setting(instance, p)) {
        value_warnings(*s, st, &out);
        continue;
      }
      std::string_view reader;
      if (left_out && !f.zero_is_neutral && read_by(instance, st, p, &reader)) {
        out.push_back(warning(instance.where, declared_name(p) + " is left out, so the " +
                                                  std::string(reader) +
                                                  " reads it as 0: " + std::string(f.zero_means)));
      }
    }
  }
  return out;
}

std::optional<std::string> nearest_parameter(std::string_view name) {
  std::optional<std::string> best;
  // Nothing longer than the longest name and a few edits is near one.
  if (name.size() > 32) {
    return best;
  }
  std::size_t best_distance = std::max<std::size_t>(1, name.size() / 3) + 1;
  for (const Field& f : kRecordFields) {
    for (std::uint32_t slot = 0; slot < f.slots; ++slot) {
      std::string candidate = declared_name({&f, slot});
      const std::size_t d = edit_distance(name, candidate);
      if (d < best_distance) {
        best_distance = d;
        best = std::move(candidate);
      }
    }
  }
  return best;
}

}  // namespace strata::scene
