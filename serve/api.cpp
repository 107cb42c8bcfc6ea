#include "api.h"

#include <nlohmann/json.hpp>

#include "description.h"
#include "fields.h"
#include "pattern.h"

namespace strata::serve {
namespace {

using nlohmann::json;

// The first `count` numbers of a value, as a preset writes them.
std::string value_text(const preview::Value& v, std::uint32_t count) {
  std::string text;
  for (std::uint32_t i = 0; i < count; ++i) {
    text += (i == 0 ? "" : " ") + float_text(v[i]);
  }
  return text;
}

json pattern_json(const preview::Pattern& p, FieldType type) {
  json out{{"kind", preview::pattern_entry(p.kind).name}};
  switch (p.kind) {
    case preview::PatternKind::bump:
      out["frequency"] = float_text(p.frequency);
      out["height"] = float_text(p.height);
      return out;
    case preview::PatternKind::ramp:
      out["axis"] = p.axis == 0 ? "u" : "v";
      break;
    case preview::PatternKind::checker:
    case preview::PatternKind::noise:
      out["frequency"] = float_text(p.frequency);
      break;
  }
  json stops = json::array();
  for (const preview::Value& stop : p.stops) {
    stops.push_back(value_text(stop, slot_words(type)));
  }
  out["stops"] = stops;
  return out;
}

}  // namespace

bool ray_type_named(std::string_view name, std::int32_t* code) {
  const RayKind* ray = row_named(kRayKinds, name);
  if (ray != nullptr) {
    *code = ray->code;
  }
  return ray != nullptr;
}

nlohmann::ordered_json limits_json() {
  return {
      {"limits", {{"size", kMaxSize}, {"aa", kMaxAa}, {"calls", kMaxCalls}, {"body", kMaxBody}}}};
}

std::string fields_json() {
  return describe::description_json({describe::preview_lists(), limits_json()});
}

std::string preset_json(const preview::Preset& preset) {
  json assignments = json::array();
  for (const preview::Assignment& a : preset.assignments) {
    json entry{{"line", a.line}, {"name", std::string(a.field->name)}};
    entry["slot"] = a.slot ? json(*a.slot) : json(nullptr);
    const FieldType type = field_type(*a.field);
    if (a.pattern) {
      entry["pattern"] = pattern_json(*a.pattern, type);
    } else if (type == FieldType::integer) {
      entry["integer"] = a.integer;
    } else {
      entry["value"] = value_text(a.value, slot_words(type));
    }
    assignments.push_back(entry);
  }
  return json{{"assignments", assignments}}.dump();
}

std::string error_json(const std::string& message, int line) {
  json out{{"error", message}};
  if (line > 0) {
    out["line"] = line;
  }
  // Text from the request (a preset's words) may be anything: keep the
  // answer valid JSON whatever its bytes.
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace strata::serve
