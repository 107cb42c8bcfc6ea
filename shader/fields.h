// The parameter record's fields, one entry each, in record order: the one
// list from which the host's field table, the names that `stratamix eval`
// and the preview's presets read, the preview's neutral values, the fuzz
// target, the declaration check and the description of the contract
// (`stratamix describe`) are made; beside it, the small tables that name its
// types, kinds and stages, the switches the flow routes by, and the result
// record's fields. The records themselves (strataMix.h) stay the contract,
// with their literal offsets; these lists are checked against them when they
// compile.
#ifndef STRATAMIX_SHADER_FIELDS_H
#define STRATAMIX_SHADER_FIELDS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "renderer.h"
#include "strataMix.h"

namespace strata {

// How a slot is stored: one integer, one float, four floats or three.
enum class FieldType { integer, scalar, color, vector };

struct FieldTypeEntry {
  FieldType type;
  std::string_view name;     // "color"
  std::uint32_t words;       // 32-bit words in one slot
  std::string_view article;  // as a message names a value of the type: "a colour"
};

// In enum order.
inline constexpr std::array kFieldTypes = {
    FieldTypeEntry{FieldType::integer, "integer", 1, "an integer"},
    FieldTypeEntry{FieldType::scalar, "scalar", 1, "a float"},
    FieldTypeEntry{FieldType::color, "color", 4, "a colour"},
    FieldTypeEntry{FieldType::vector, "vector", 3, "a vector"},
};

constexpr const FieldTypeEntry& type_entry(FieldType type) {
  return kFieldTypes[static_cast<std::size_t>(type)];
}

// What a field does, which decides how a user sets it.
enum class FieldKind {
  toggle,  // an integer switch, on when non-zero
  gate,    // an integer gate, on only when exactly 1
  count,   // an integer count of layer slots
  mode,    // the blend mode's number
  scalar,  // a float
  color,   // four floats, red, green, blue, alpha
  vector,  // three floats, x, y, z
};

struct FieldKindEntry {
  FieldKind kind;
  std::string_view name;  // "toggle"
  FieldType type;
  // The type the renderer-side declaration gives it. A switch is declared
  // boolean; a gate, count or mode integer, since a boolean would let a
  // scene pass only 0 and 1 where any count or mode, or a gate's "exactly
  // 1", is meant.
  std::string_view declared;
  std::string_view shown;  // as the manual's parameter table names it
};

// In enum order.
inline constexpr std::array kFieldKinds = {
    FieldKindEntry{FieldKind::toggle, "toggle", FieldType::integer, "boolean", "switch"},
    FieldKindEntry{FieldKind::gate, "gate", FieldType::integer, "integer", "gate (integer)"},
    FieldKindEntry{FieldKind::count, "count", FieldType::integer, "integer", "integer"},
    FieldKindEntry{FieldKind::mode, "mode", FieldType::integer, "integer", "integer (mode)"},
    FieldKindEntry{FieldKind::scalar, "scalar", FieldType::scalar, "scalar", "float"},
    FieldKindEntry{FieldKind::color, "color", FieldType::color, "color", "colour"},
    FieldKindEntry{FieldKind::vector, "vector", FieldType::vector, "vector", "vector"},
};

constexpr const FieldKindEntry& kind_entry(FieldKind kind) {
  return kFieldKinds[static_cast<std::size_t>(kind)];
}

// The part of the call that reads a field.
enum class FieldStage { flow, normal, layer, correction };

struct FieldStageEntry {
  FieldStage stage;
  std::string_view name;   // "layer"
  std::string_view title;  // a heading over the stage's parameters: "Colour layer"
};

// In enum order, which is the order the call runs them.
inline constexpr std::array kFieldStages = {
    FieldStageEntry{FieldStage::flow, "flow", "Gates"},
    FieldStageEntry{FieldStage::normal, "normal", "Normal layers"},
    FieldStageEntry{FieldStage::layer, "layer", "Colour layer"},
    FieldStageEntry{FieldStage::correction, "correction", "Correction"},
};

constexpr const FieldStageEntry& stage_entry(FieldStage stage) {
  return kFieldStages[static_cast<std::size_t>(stage)];
}

template <typename Table, typename Enum>
constexpr bool in_enum_order(const Table& table, Enum Table::value_type::*member) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (static_cast<std::size_t>(table[i].*member) != i) {
      return false;
    }
  }
  return true;
}
static_assert(in_enum_order(kFieldTypes, &FieldTypeEntry::type), "kFieldTypes out of order");
static_assert(in_enum_order(kFieldKinds, &FieldKindEntry::kind), "kFieldKinds out of order");
static_assert(in_enum_order(kFieldStages, &FieldStageEntry::stage), "kFieldStages out of order");

struct Field {
  std::string_view name;
  std::uint32_t offset;
  std::uint32_t slots;  // 1, or STRATAMIX_LAYER_SLOTS for the layer arrays
  FieldKind kind;
  FieldStage stage;
  std::string_view description;
  // A range worth exploring; any value is accepted.
  float useful_min;
  float useful_max;
  std::string_view zero_means;
  // Whether 0, what a scene that does not set the parameter leaves in it,
  // does what an artist leaving it out would expect: its step is then off,
  // or it does what the neutral value does (normalMix and normalScale treat
  // 0 as 1; blend mode 0 is over, the plain default). Not so where a step
  // that is switched on then does nothing or flattens the picture, which
  // stratamix check warns of: a colour or a layer normal (black, a zero
  // vector), a slot's weight or balance and the blend's amount (the slot or
  // the blend adds nothing), gamma (an infinite exponent) or contrast
  // (every channel 0.31).
  bool zero_is_neutral;
  // The preview's value for a parameter a preset leaves out, in every slot:
  // as many leading floats as the type holds (an integer as a float).
  std::array<float, 4> neutral;
  // Where the field's stage runs, the field takes every channel through the
  // C library's pow (whose last bit each platform rounds its own way) unless
  // it holds exactly this value. None for every field but gamma.
  std::optional<float> pow_unless = std::nullopt;
};

constexpr FieldType field_type(FieldKind kind) { return kind_entry(kind).type; }

// 32-bit words in one slot: 1 for an integer or float, 4 for a colour, 3 for
// a vector.
constexpr std::uint32_t slot_words(FieldType type) { return type_entry(type).words; }

constexpr std::uint32_t slot_size(FieldType type) { return 4 * slot_words(type); }

inline FieldType field_type(const Field& f) { return field_type(f.kind); }

#define STRATAMIX_FIELD(field, slots, kind, stage, ...)                                   \
  Field {                                                                                 \
#field, offsetof(strataMix_params, field), slots, FieldKind::kind, FieldStage::stage, \
        __VA_ARGS__                                                                       \
  }

inline constexpr std::array kRecordFields = {
    STRATAMIX_FIELD(baseColor, 1, color, layer,
                    "the colour the colour path starts from, and what a gate or an "
                    "out-of-range mode returns",
                    0.0f, 1.0f, "black, alpha 0", false, {0.5f, 0.5f, 0.5f, 1.0f}),
    STRATAMIX_FIELD(normalEnable, 1, toggle, flow,
                    "runs the ray-type gates and the normal stage before the colour path", 0.0f,
                    1.0f, "off: straight to the colour path", true, {0.0f}),
    STRATAMIX_FIELD(layerCount, 1, count, normal,
                    "how many layer slots the normal stage visits, from slot 0 up (at most 8)",
                    0.0f, 8.0f, "no slot visited: the incoming normal alone", true, {0.0f}),
    STRATAMIX_FIELD(layerEnable, STRATAMIX_LAYER_SLOTS, toggle, normal,
                    "lets the slot's normal contribute", 0.0f, 1.0f, "the slot adds nothing", true,
                    {0.0f}),
    STRATAMIX_FIELD(layerNormal, STRATAMIX_LAYER_SLOTS, vector, normal,
                    "the slot's normal, averaged with the incoming normal and the other layers",
                    -1.0f, 1.0f, "a zero vector, which still counts in the average", false,
                    {0.0f, 0.0f, 1.0f}),
    STRATAMIX_FIELD(normalMix, 1, scalar, normal,
                    "weight of the layers' average against the state's normal", 0.0f, 1.0f,
                    "the plain average, as 1 gives", true, {1.0f}),
    STRATAMIX_FIELD(layerWeight, STRATAMIX_LAYER_SLOTS, scalar, normal,
                    "pulls the slot's normal from the incoming normal (0) toward itself (1)", 0.0f,
                    2.0f, "the slot adds nothing", false, {1.0f}),
    STRATAMIX_FIELD(layerBalance, STRATAMIX_LAYER_SLOTS, scalar, normal,
                    "exactly 0.5 adds the slot's normal once; any other value takes the layer "
                    "before it (the surface normal, for the first slot) out of the average and "
                    "puts in the surface normal and, twice, a mix from that layer (toward 0) to "
                    "this slot's (1)",
                    0.0f, 1.0f, "the slot adds nothing", false, {0.5f}),
    STRATAMIX_FIELD(normalScale, 1, scalar, normal, "multiplies the combined normal", 0.0f, 2.0f,
                    "no scaling, as 1 does", true, {1.0f}),
    STRATAMIX_FIELD(skipPhotons, 1, gate, flow,
                    "with normalEnable on, photon and final-gather rays get baseColor (or, with "
                    "outputNormal, the incoming normal) at once, unshaded (on only at exactly 1)",
                    0.0f, 1.0f, "off", true, {0.0f}),
    STRATAMIX_FIELD(skipReflections, 1, gate, flow,
                    "with normalEnable on, reflection and refraction rays get baseColor (or, with "
                    "outputNormal, the incoming normal) at once, unshaded (on only at exactly 1)",
                    0.0f, 1.0f, "off", true, {0.0f}),
    STRATAMIX_FIELD(normalAsColor, 1, toggle, normal,
                    "returns the combined normal as a colour (x, y, z, 1)", 0.0f, 1.0f,
                    "off: the colour path runs", true, {0.0f}),
    STRATAMIX_FIELD(normalizeNormal, 1, toggle, normal, "gives the combined normal unit length",
                    0.0f, 1.0f, "off: the length is left as it is", true, {0.0f}),
    STRATAMIX_FIELD(blendEnable, 1, toggle, layer, "blends layerColor over the base colour", 0.0f,
                    1.0f, "off: the base colour goes on unblended", true, {0.0f}),
    STRATAMIX_FIELD(layerColor, 1, color, layer, "the colour laid over the base colour", 0.0f, 1.0f,
                    "black, alpha 0", false, {1.0f, 1.0f, 1.0f, 1.0f}),
    STRATAMIX_FIELD(blendAmount, 1, scalar, layer,
                    "mix from the base colour (0) to the blended colour (1)", 0.0f, 1.0f,
                    "the base colour, unblended", false, {1.0f}),
    STRATAMIX_FIELD(blendMode, 1, mode, layer,
                    "the blend formula, 0 to 22; any other number returns the base colour", 0.0f,
                    22.0f, "over: the layer colour", true, {0.0f}),
    STRATAMIX_FIELD(useLayerAlpha, 1, toggle, layer,
                    "weights the blend by the layer colour's alpha", 0.0f, 1.0f,
                    "off (mode 0 always uses the alpha)", true, {0.0f}),
    STRATAMIX_FIELD(hueAdjust, 1, scalar, correction,
                    "multiplies the hue (red 0, yellow 1/6, ..., magenta 5/6, red 1) by 1 + "
                    "this, a scale, not a rotation; a colour whose scaled hue reaches 7/6 is left "
                    "unchanged, pure red and magentas first, from 1/6 up",
                    -1.0f, 0.16f, "the hue unchanged", true, {0.0f}),
    STRATAMIX_FIELD(saturationAdjust, 1, scalar, correction,
                    "multiplies the saturation by 1 + this", -1.0f, 1.0f,
                    "the saturation unchanged", true, {0.0f}),
    STRATAMIX_FIELD(valueAdjust, 1, scalar, correction, "multiplies the value by 1 + this", -1.0f,
                    1.0f, "the value unchanged", true, {0.0f}),
    STRATAMIX_FIELD(gamma, 1, scalar, correction, "raises every channel to the power 1 / gamma",
                    0.2f, 5.0f, "an infinite exponent, unguarded", false, {1.0f}, 1.0f),
    STRATAMIX_FIELD(offset, 1, scalar, correction, "added to every channel", -0.5f, 0.5f,
                    "nothing added", true, {0.0f}),
    STRATAMIX_FIELD(contrast, 1, scalar, correction,
                    "moves every channel toward 0.31 by 1 - contrast", 0.0f, 2.0f,
                    "every channel becomes 0.31", false, {1.0f}),
    STRATAMIX_FIELD(correctEnable, 1, toggle, correction,
                    "runs the hue, saturation, value, gamma, offset and contrast steps", 0.0f, 1.0f,
                    "off: the colour is returned as blended", true, {0.0f}),
    STRATAMIX_FIELD(outputNormal, 1, toggle, flow,
                    "on the normal path, returns the normal as a vector in outNormal", 0.0f, 1.0f,
                    "off: a colour is returned", true, {0.0f}),
};

#undef STRATAMIX_FIELD

// The list covers the record: each field starts where the one before it
// ends, and the last ends at the record's end.
constexpr bool fields_tile_the_record() {
  std::uint32_t next = 0;
  for (const Field& f : kRecordFields) {
    if (f.offset != next) {
      return false;
    }
    next += f.slots * slot_size(field_type(f.kind));
  }
  return next == sizeof(strataMix_params);
}
static_assert(fields_tile_the_record(), "the field list and strataMix_params disagree");

// The index in the list of the field at a byte offset of the record, or the
// list's size where none begins there; for the tables below, which name their
// fields by member so that a misspelling does not compile. An index, not a
// pointer, so that the checks below stay constant expressions under GCC's
// sanitizers, which do not fold a pointer into the list compared with null.
constexpr std::size_t field_index(std::uint32_t offset) {
  std::size_t i = 0;
  while (i < kRecordFields.size() && kRecordFields[i].offset != offset) {
    ++i;
  }
  return i;
}

constexpr const Field* field_at(std::uint32_t offset) {
  const std::size_t i = field_index(offset);
  return i < kRecordFields.size() ? &kRecordFields[i] : nullptr;
}

// The switches by which the flow routes a call, by what they do, so that a
// tool which builds calls (a case generator, a scene check) finds them
// without spelling their names.
enum class Route {
  normal_stage,     // the gates and the normal stage run
  photon_gate,      // photon and final-gather rays return at once
  reflection_gate,  // reflection and refraction rays return at once
  output_normal,    // the normal path returns the normal in outNormal
  normal_as_color,  // the normal path returns the normal as a colour
  blend,            // the colour layer is blended over the base
  correction,       // the colour correction runs
};

struct RouteEntry {
  Route route;
  std::string_view name;  // "normalStage"
  std::uint32_t field;    // the switch's offset in the record
};

#define STRATAMIX_ROUTE(route, name, field) \
  RouteEntry { Route::route, name, offsetof(strataMix_params, field) }

// In enum order.
inline constexpr std::array kRoutes = {
    STRATAMIX_ROUTE(normal_stage, "normalStage", normalEnable),
    STRATAMIX_ROUTE(photon_gate, "photonGate", skipPhotons),
    STRATAMIX_ROUTE(reflection_gate, "reflectionGate", skipReflections),
    STRATAMIX_ROUTE(output_normal, "outputNormal", outputNormal),
    STRATAMIX_ROUTE(normal_as_color, "normalAsColor", normalAsColor),
    STRATAMIX_ROUTE(blend, "blend", blendEnable),
    STRATAMIX_ROUTE(correction, "correction", correctEnable),
};

#undef STRATAMIX_ROUTE

constexpr const Field& route_field(Route route) {
  return *field_at(kRoutes[static_cast<std::size_t>(route)].field);
}

// The switch of a gate's route.
constexpr Route gate_route(RayGate gate) {
  return gate == RayGate::photon ? Route::photon_gate : Route::reflection_gate;
}

constexpr bool routes_are_switches() {
  for (const RouteEntry& r : kRoutes) {
    const std::size_t i = field_index(r.field);
    if (i == kRecordFields.size() || kRecordFields[i].slots != 1 ||
        field_type(kRecordFields[i].kind) != FieldType::integer) {
      return false;
    }
  }
  return true;
}
static_assert(in_enum_order(kRoutes, &RouteEntry::route), "kRoutes out of order");
static_assert(routes_are_switches(), "a route's switch is not one integer field");

// The result record's fields.
struct ResultField {
  std::string_view name;
  std::uint32_t offset;
  FieldType type;
  std::string_view description;
};

inline constexpr std::array kResultFields = {
    ResultField{"outColor", offsetof(strataMix_result, outColor), FieldType::color,
                "the shaded colour, a gate's base colour, or the normal as a colour"},
    ResultField{"outNormal", offsetof(strataMix_result, outNormal), FieldType::vector,
                "the surface normal, where the normal path or a gate returns it as a vector"},
};

constexpr bool result_fields_tile_the_record() {
  std::uint32_t next = 0;
  for (const ResultField& f : kResultFields) {
    if (f.offset != next) {
      return false;
    }
    next += slot_size(f.type);
  }
  return next == sizeof(strataMix_result);
}
static_assert(result_fields_tile_the_record(), "kResultFields and strataMix_result disagree");

// The exits of a call, numbered as the flow takes them (flow.h), with the
// result field each writes and the stages that run on its way there, so that
// a tool which makes cases (the seeded cases, the conformance pack) names a
// case's route without restating the flow. A stage with a route runs only
// when that route's switch is on; the state's surface normal leaves the call
// combined exactly when the normal stage ran.
struct ExitStage {
  FieldStage stage;
  std::optional<Route> when = std::nullopt;
};

struct ExitEntry {
  std::uint32_t number;   // 1 to 8
  std::string_view name;  // "photon-normal"
  std::string_view taken_when;
  std::string_view writes;  // the result field written: "outColor"
  std::array<ExitStage, 3> stages;
  std::size_t stage_count;
};

inline constexpr std::array kExits = {
    ExitEntry{1, "photon-normal", "the photon gate, outputNormal on", "outNormal", {}, 0},
    ExitEntry{2, "photon-color", "the photon gate, outputNormal off", "outColor", {}, 0},
    ExitEntry{3, "reflect-normal", "the reflection gate, outputNormal on", "outNormal", {}, 0},
    ExitEntry{4, "reflect-color", "the reflection gate, outputNormal off", "outColor", {}, 0},
    ExitEntry{5,
              "normal-out",
              "the normal path, outputNormal on",
              "outNormal",
              {ExitStage{FieldStage::normal}},
              1},
    ExitEntry{6,
              "normal-as-color",
              "the normal path, outputNormal off, normalAsColor on",
              "outColor",
              {ExitStage{FieldStage::normal}},
              1},
    ExitEntry{7,
              "mode-out-of-range",
              "the colour path, blending with a mode out of range",
              "outColor",
              {ExitStage{FieldStage::normal, Route::normal_stage}, ExitStage{FieldStage::layer}},
              2},
    ExitEntry{8,
              "color",
              "the colour path, any other case",
              "outColor",
              {ExitStage{FieldStage::normal, Route::normal_stage}, ExitStage{FieldStage::layer},
               ExitStage{FieldStage::correction, Route::correction}},
              3},
};

constexpr bool exits_are_numbered_and_write_a_result() {
  for (std::size_t i = 0; i < kExits.size(); ++i) {
    bool writes_one = false;
    for (const ResultField& f : kResultFields) {
      writes_one = writes_one || f.name == kExits[i].writes;
    }
    if (kExits[i].number != i + 1 || !writes_one || kExits[i].stage_count > 3) {
      return false;
    }
  }
  return true;
}
static_assert(exits_are_numbered_and_write_a_result(),
              "kExits out of order, or an exit writes no result field");

const Field* find_field(std::string_view name);

// One parameter or one array slot, as the shader evaluates it.
struct ParameterRef {
  const Field* field;
  std::uint32_t slot;
  std::uint32_t offset() const { return field->offset + slot * slot_size(field_type(*field)); }
};

// "gamma" or "layerWeight[2]". A bare array name is not one parameter.
std::optional<ParameterRef> parse_parameter(std::string_view name);

// The parameter or slot that starts at a byte offset of the record.
std::optional<ParameterRef> parameter_at(std::uint32_t offset);

// How one slot of a layer array is named: by the tools and presets, and by
// the renderer-side declaration, which declares each slot as a parameter of
// its own (a renderer's variable-length arrays would not give the shader its
// fixed record of eight slots). "{name}" and "{slot}" stand for the field's
// name and the slot's number.
inline constexpr std::string_view kToolSlotName = "{name}[{slot}]";
inline constexpr std::string_view kDeclaredSlotName = "{name}{slot}";

// The parameter or slot by one of the rules above; a single field by its
// name alone.
std::string slot_name(std::string_view rule, const ParameterRef& ref);

// "gamma", "layerWeight[2]".
std::string parameter_name(const ParameterRef& ref);

// "gamma", "layerWeight2".
std::string declared_name(const ParameterRef& ref);

// "gamma" or "layerWeight2", as scenes and the declaration name them. A
// bare array name is not one parameter.
std::optional<ParameterRef> parse_declared_name(std::string_view name);

// The row of a table whose name is `name`, or null.
template <typename Rows>
const typename Rows::value_type* row_named(const Rows& rows, std::string_view name) {
  for (const auto& row : rows) {
    if (row.name == name) {
      return &row;
    }
  }
  return nullptr;
}

// The rows' names as a message lists them: "sphere or swatch"; with `last`
// ", ", "checker, ramp, noise, bump".
template <typename Rows>
std::string names_of(const Rows& rows, std::string_view last = " or ") {
  std::string text;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    text += i == 0 ? std::string_view{} : i + 1 == rows.size() ? last : std::string_view{", "};
    text += rows[i].name;
  }
  return text;
}

// A float's 32-bit pattern, and the float a pattern holds: the tools and the
// tests name floats by their bits, so that NaN payloads and -0.0 survive.
inline std::uint32_t float_bits(float f) {
  std::uint32_t u = 0;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

inline float float_from_bits(std::uint32_t u) {
  float f = 0.0f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// The shortest text that reads back as the same float: "0.1", "-0", "inf",
// "nan".
std::string float_text(float f);

}  // namespace strata

#endif  // STRATAMIX_SHADER_FIELDS_H
