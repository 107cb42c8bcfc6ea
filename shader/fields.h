// The parameter record's fields, one entry each, in record order: the one
// list from which the host's field table, the names that `stratamix eval`
// and the preview's presets read, the preview's neutral values, the fuzz
// target and the declaration check are made. The record itself (strataMix.h)
// stays the contract, with its literal offsets; this list is checked against
// it when it compiles.
#ifndef STRATAMIX_SHADER_FIELDS_H
#define STRATAMIX_SHADER_FIELDS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "strataMix.h"

namespace strata {

// How a slot is stored: one integer, one float, four floats or three.
enum class FieldType { integer, scalar, color, vector };

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

// The part of the call that reads a field.
enum class FieldStage { flow, normal, layer, correction };

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
  // The preview's value for a parameter a preset leaves out, in every slot:
  // as many leading floats as the type holds (an integer as a float).
  std::array<float, 4> neutral;
};

constexpr FieldType field_type(FieldKind kind) {
  switch (kind) {
    case FieldKind::toggle:
    case FieldKind::gate:
    case FieldKind::count:
    case FieldKind::mode:
      return FieldType::integer;
    case FieldKind::scalar:
      return FieldType::scalar;
    case FieldKind::color:
      return FieldType::color;
    case FieldKind::vector:
      return FieldType::vector;
  }
  return FieldType::integer;
}

// 32-bit words in one slot: 1 for an integer or float, 4 for a colour, 3 for
// a vector.
constexpr std::uint32_t slot_words(FieldType type) {
  switch (type) {
    case FieldType::integer:
    case FieldType::scalar:
      return 1;
    case FieldType::color:
      return 4;
    case FieldType::vector:
      return 3;
  }
  return 1;
}

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
                    0.0f, 1.0f, "black, alpha 0", {0.5f, 0.5f, 0.5f, 1.0f}),
    STRATAMIX_FIELD(normalEnable, 1, toggle, flow,
                    "runs the ray-type gates and the normal stage before the colour path", 0.0f,
                    1.0f, "off: straight to the colour path", {0.0f}),
    STRATAMIX_FIELD(layerCount, 1, count, normal,
                    "how many layer slots the normal stage visits, from slot 0 up (at most 8)",
                    0.0f, 8.0f, "no slot visited: the incoming normal alone", {0.0f}),
    STRATAMIX_FIELD(layerEnable, STRATAMIX_LAYER_SLOTS, toggle, normal,
                    "lets the slot's normal contribute", 0.0f, 1.0f, "the slot adds nothing",
                    {0.0f}),
    STRATAMIX_FIELD(layerNormal, STRATAMIX_LAYER_SLOTS, vector, normal,
                    "the slot's normal, averaged with the incoming normal and the other layers",
                    -1.0f, 1.0f, "a zero vector, which still counts in the average",
                    {0.0f, 0.0f, 1.0f}),
    STRATAMIX_FIELD(normalMix, 1, scalar, normal,
                    "weight of the layers' average against the state's normal", 0.0f, 1.0f,
                    "the plain average, as 1 gives", {1.0f}),
    STRATAMIX_FIELD(layerWeight, STRATAMIX_LAYER_SLOTS, scalar, normal,
                    "pulls the slot's normal from the incoming normal (0) toward itself (1)", 0.0f,
                    2.0f, "the slot adds nothing", {1.0f}),
    STRATAMIX_FIELD(layerBalance, STRATAMIX_LAYER_SLOTS, scalar, normal,
                    "exactly 0.5 adds the slot's normal once; any other value takes the layer "
                    "before it (the surface normal, for the first slot) out of the average and "
                    "puts in the surface normal and, twice, a mix from that layer (toward 0) to "
                    "this slot's (1)",
                    0.0f, 1.0f, "the slot adds nothing", {0.5f}),
    STRATAMIX_FIELD(normalScale, 1, scalar, normal, "multiplies the combined normal", 0.0f, 2.0f,
                    "no scaling, as 1 does", {1.0f}),
    STRATAMIX_FIELD(skipPhotons, 1, gate, flow,
                    "with normalEnable on, photon and final-gather rays get baseColor (or, with "
                    "outputNormal, the incoming normal) at once, unshaded (on only at exactly 1)",
                    0.0f, 1.0f, "off", {0.0f}),
    STRATAMIX_FIELD(skipReflections, 1, gate, flow,
                    "with normalEnable on, reflection and refraction rays get baseColor (or, with "
                    "outputNormal, the incoming normal) at once, unshaded (on only at exactly 1)",
                    0.0f, 1.0f, "off", {0.0f}),
    STRATAMIX_FIELD(normalAsColor, 1, toggle, normal,
                    "returns the combined normal as a colour (x, y, z, 1)", 0.0f, 1.0f,
                    "off: the colour path runs", {0.0f}),
    STRATAMIX_FIELD(normalizeNormal, 1, toggle, normal, "gives the combined normal unit length",
                    0.0f, 1.0f, "off: the length is left as it is", {0.0f}),
    STRATAMIX_FIELD(blendEnable, 1, toggle, layer, "blends layerColor over the base colour", 0.0f,
                    1.0f, "off: the base colour goes on unblended", {0.0f}),
    STRATAMIX_FIELD(layerColor, 1, color, layer, "the colour laid over the base colour", 0.0f, 1.0f,
                    "black, alpha 0", {1.0f, 1.0f, 1.0f, 1.0f}),
    STRATAMIX_FIELD(blendAmount, 1, scalar, layer,
                    "mix from the base colour (0) to the blended colour (1)", 0.0f, 1.0f,
                    "the base colour, unblended", {1.0f}),
    STRATAMIX_FIELD(blendMode, 1, mode, layer,
                    "the blend formula, 0 to 22; any other number returns the base colour", 0.0f,
                    22.0f, "over: the layer colour", {0.0f}),
    STRATAMIX_FIELD(useLayerAlpha, 1, toggle, layer,
                    "weights the blend by the layer colour's alpha", 0.0f, 1.0f,
                    "off (mode 0 always uses the alpha)", {0.0f}),
    STRATAMIX_FIELD(hueAdjust, 1, scalar, correction,
                    "multiplies the hue (red 0, yellow 1/6, ..., magenta 5/6, red 1) by 1 + "
                    "this, a scale, not a rotation; a colour whose scaled hue reaches 7/6 is left "
                    "unchanged, pure red and magentas first, from 1/6 up",
                    -1.0f, 0.16f, "the hue unchanged", {0.0f}),
    STRATAMIX_FIELD(saturationAdjust, 1, scalar, correction,
                    "multiplies the saturation by 1 + this", -1.0f, 1.0f,
                    "the saturation unchanged", {0.0f}),
    STRATAMIX_FIELD(valueAdjust, 1, scalar, correction, "multiplies the value by 1 + this", -1.0f,
                    1.0f, "the value unchanged", {0.0f}),
    STRATAMIX_FIELD(gamma, 1, scalar, correction, "raises every channel to the power 1 / gamma",
                    0.2f, 5.0f, "an infinite exponent, unguarded", {1.0f}),
    STRATAMIX_FIELD(offset, 1, scalar, correction, "added to every channel", -0.5f, 0.5f,
                    "nothing added", {0.0f}),
    STRATAMIX_FIELD(contrast, 1, scalar, correction,
                    "moves every channel toward 0.31 by 1 - contrast", 0.0f, 2.0f,
                    "every channel becomes 0.31", {1.0f}),
    STRATAMIX_FIELD(correctEnable, 1, toggle, correction,
                    "runs the hue, saturation, value, gamma, offset and contrast steps", 0.0f, 1.0f,
                    "off: the colour is returned as blended", {0.0f}),
    STRATAMIX_FIELD(outputNormal, 1, toggle, flow,
                    "on the normal path, returns the normal as a vector in outNormal", 0.0f, 1.0f,
                    "off: a colour is returned", {0.0f}),
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

// "gamma", "layerWeight[2]".
std::string parameter_name(const ParameterRef& ref);

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

}  // namespace strata

#endif  // STRATAMIX_SHADER_FIELDS_H
