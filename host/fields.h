// The parameter record's fields by name, for the stand-in renderer and its
// tools: where each field lies, what type it has, how many slots it holds.
#ifndef STRATAMIX_HOST_FIELDS_H
#define STRATAMIX_HOST_FIELDS_H

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace strata::host {

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

enum class FieldKind { integer, scalar, color, vector };

struct Field {
  std::string_view name;
  std::uint32_t offset;
  FieldKind kind;
  std::uint32_t slots;  // 1, or 8 for the layer arrays
};

// Bytes one slot of a field occupies.
std::uint32_t slot_size(FieldKind kind);

// Floats in one slot: 1 for a scalar or integer, 4 for a colour, 3 for a vector.
std::uint32_t slot_words(FieldKind kind);

// All fields in record order.
const std::array<Field, 26>& record_fields();

const Field* find_field(std::string_view name);

// One parameter or one array slot, as the shader evaluates it.
struct ParameterRef {
  const Field* field;
  std::uint32_t slot;
  std::uint32_t offset() const { return field->offset + slot * slot_size(field->kind); }
};

// "gamma" or "layerWeight[2]". A bare array name is not one parameter.
std::optional<ParameterRef> parse_parameter(std::string_view name);

// The parameter or slot that starts at a byte offset of the record.
std::optional<ParameterRef> parameter_at(std::uint32_t offset);

// "gamma", "layerWeight[2]".
std::string parameter_name(const ParameterRef& ref);

}  // namespace strata::host

#endif  // STRATAMIX_HOST_FIELDS_H
