#include "fields.h"

#include <charconv>

#include "strataMix.h"

namespace strata::host {

#define STRATAMIX_FIELD(name, kind, slots) \
  Field { #name, offsetof(strataMix_params, name), FieldKind::kind, slots }

const std::array<Field, 26>& record_fields() {
  static const std::array<Field, 26> fields = {
      STRATAMIX_FIELD(baseColor, color, 1),         STRATAMIX_FIELD(normalEnable, integer, 1),
      STRATAMIX_FIELD(layerCount, integer, 1),      STRATAMIX_FIELD(layerEnable, integer, 8),
      STRATAMIX_FIELD(layerNormal, vector, 8),      STRATAMIX_FIELD(normalMix, scalar, 1),
      STRATAMIX_FIELD(layerWeight, scalar, 8),      STRATAMIX_FIELD(layerBalance, scalar, 8),
      STRATAMIX_FIELD(normalScale, scalar, 1),      STRATAMIX_FIELD(skipPhotons, integer, 1),
      STRATAMIX_FIELD(skipReflections, integer, 1), STRATAMIX_FIELD(normalAsColor, integer, 1),
      STRATAMIX_FIELD(normalizeNormal, integer, 1), STRATAMIX_FIELD(blendEnable, integer, 1),
      STRATAMIX_FIELD(layerColor, color, 1),        STRATAMIX_FIELD(blendAmount, scalar, 1),
      STRATAMIX_FIELD(blendMode, integer, 1),       STRATAMIX_FIELD(useLayerAlpha, integer, 1),
      STRATAMIX_FIELD(hueAdjust, scalar, 1),        STRATAMIX_FIELD(saturationAdjust, scalar, 1),
      STRATAMIX_FIELD(valueAdjust, scalar, 1),      STRATAMIX_FIELD(gamma, scalar, 1),
      STRATAMIX_FIELD(offset, scalar, 1),           STRATAMIX_FIELD(contrast, scalar, 1),
      STRATAMIX_FIELD(correctEnable, integer, 1),   STRATAMIX_FIELD(outputNormal, integer, 1),
  };
  return fields;
}

#undef STRATAMIX_FIELD

std::uint32_t slot_words(FieldKind kind) {
  switch (kind) {
    case FieldKind::integer:
    case FieldKind::scalar:
      return 1;
    case FieldKind::color:
      return 4;
    case FieldKind::vector:
      return 3;
  }
  return 1;
}

std::uint32_t slot_size(FieldKind kind) { return 4 * slot_words(kind); }

const Field* find_field(std::string_view name) {
  for (const Field& f : record_fields()) {
    if (f.name == name) {
      return &f;
    }
  }
  return nullptr;
}

std::optional<ParameterRef> parse_parameter(std::string_view name) {
  const auto bracket = name.find('[');
  if (bracket == std::string_view::npos) {
    const Field* f = find_field(name);
    if (f == nullptr || f->slots != 1) {
      return std::nullopt;
    }
    return ParameterRef{f, 0};
  }
  const Field* f = find_field(name.substr(0, bracket));
  if (f == nullptr || f->slots == 1 || name.back() != ']') {
    return std::nullopt;
  }
  const std::string_view digits = name.substr(bracket + 1, name.size() - bracket - 2);
  std::uint32_t slot = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), slot);
  if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
      slot >= f->slots) {
    return std::nullopt;
  }
  return ParameterRef{f, slot};
}

std::optional<ParameterRef> parameter_at(std::uint32_t offset) {
  for (const Field& f : record_fields()) {
    const std::uint32_t size = slot_size(f.kind);
    if (offset >= f.offset && offset < f.offset + size * f.slots &&
        (offset - f.offset) % size == 0) {
      return ParameterRef{&f, (offset - f.offset) / size};
    }
  }
  return std::nullopt;
}

std::string parameter_name(const ParameterRef& ref) {
  std::string name(ref.field->name);
  if (ref.field->slots > 1) {
    name += '[' + std::to_string(ref.slot) + ']';
  }
  return name;
}

}  // namespace strata::host
