#include "api.h"

#include <charconv>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "blend_modes.h"
#include "fields.h"
#include "pattern.h"

namespace strata::serve {
namespace {

using nlohmann::json;

const char* kind_name(FieldKind kind) {
  switch (kind) {
    case FieldKind::toggle:
      return "toggle";
    case FieldKind::gate:
      return "gate";
    case FieldKind::count:
      return "count";
    case FieldKind::mode:
      return "mode";
    case FieldKind::scalar:
      return "scalar";
    case FieldKind::color:
      return "color";
    case FieldKind::vector:
      return "vector";
  }
  return "?";
}

const char* type_name(FieldType type) {
  switch (type) {
    case FieldType::integer:
      return "integer";
    case FieldType::scalar:
      return "scalar";
    case FieldType::color:
      return "color";
    case FieldType::vector:
      return "vector";
  }
  return "?";
}

const char* stage_name(FieldStage stage) {
  switch (stage) {
    case FieldStage::flow:
      return "flow";
    case FieldStage::normal:
      return "normal";
    case FieldStage::layer:
      return "layer";
    case FieldStage::correction:
      return "correction";
  }
  return "?";
}

// A JSON number that prints as the float's shortest text: the double nearest
// that text, not the float widened (0.2, not 0.20000000298023224).
double json_number(float f) { return std::strtod(float_text(f).c_str(), nullptr); }

// The first `count` numbers of a value, as a preset writes them.
std::string value_text(const preview::Value& v, std::uint32_t count) {
  std::string text;
  for (std::uint32_t i = 0; i < count; ++i) {
    text += (i == 0 ? "" : " ") + float_text(v[i]);
  }
  return text;
}

json pattern_json(const preview::Pattern& p, FieldType type) {
  json out{{"kind", std::string(preview::pattern_name(p.kind))}};
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

json texture_json(const preview::TextureInput& t) {
  json out{{"kind", t.normal_map ? "normalmap" : "texture"},
           {"path", t.path},
           {"wrap", std::string(preview::texture_wrap_name(t.wrap))}};
  if (t.normal_map) {
    out["y"] = t.y_down ? "down" : "up";
  } else {
    out["colorspace"] = t.srgb ? "srgb" : "linear";
  }
  return out;
}

}  // namespace

bool ray_type_named(std::string_view name, std::int32_t* code) {
  for (const RayType& ray : kRayTypes) {
    if (ray.name == name) {
      *code = ray.code;
      return true;
    }
  }
  return false;
}

std::string float_text(float f) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, f);
  return {text, result.ptr};
}

std::string fields_json(const std::vector<std::string>& textures) {
  json fields = json::array();
  for (const Field& f : kRecordFields) {
    json neutral = json::array();
    const FieldType type = field_type(f);
    for (std::uint32_t i = 0; i < slot_words(type); ++i) {
      neutral.push_back(json_number(f.neutral[i]));
    }
    fields.push_back({{"name", std::string(f.name)},
                      {"kind", kind_name(f.kind)},
                      {"type", type_name(type)},
                      {"stage", stage_name(f.stage)},
                      {"slots", f.slots},
                      {"description", std::string(f.description)},
                      {"min", json_number(f.useful_min)},
                      {"max", json_number(f.useful_max)},
                      {"zeroMeans", std::string(f.zero_means)},
                      {"neutral", neutral}});
  }
  json modes = json::array();
  for (const BlendModeEntry& m : kBlendModes) {
    modes.push_back(
        {{"number", static_cast<std::uint32_t>(m.mode)}, {"name", std::string(m.name)}});
  }
  json rays = json::array();
  for (const RayType& ray : kRayTypes) {
    rays.push_back({{"name", std::string(ray.name)}, {"code", ray.code}});
  }
  const json doc{
      {"fields", fields},
      {"modes", modes},
      {"patterns", {"checker", "noise", "ramp", "bump"}},
      {"rays", rays},
      {"shapes", {"sphere", "swatch"}},
      {"limits", {{"size", kMaxSize}, {"aa", kMaxAa}, {"calls", kMaxCalls}, {"body", kMaxBody}}},
      {"textures", textures}};
  return doc.dump();
}

std::string preset_json(const preview::Preset& preset) {
  json assignments = json::array();
  for (const preview::Assignment& a : preset.assignments) {
    json entry{{"line", a.line}, {"name", std::string(a.field->name)}};
    entry["slot"] = a.slot ? json(*a.slot) : json(nullptr);
    const FieldType type = field_type(*a.field);
    if (a.texture) {
      entry["texture"] = texture_json(*a.texture);
    } else if (a.pattern) {
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
