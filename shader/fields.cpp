#include "fields.h"

#include <charconv>

namespace strata {

const Field* find_field(std::string_view name) {
  for (const Field& f : kRecordFields) {
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
  for (const Field& f : kRecordFields) {
    const std::uint32_t size = slot_size(field_type(f));
    if (offset >= f.offset && offset < f.offset + size * f.slots &&
        (offset - f.offset) % size == 0) {
      return ParameterRef{&f, (offset - f.offset) / size};
    }
  }
  return std::nullopt;
}

std::string slot_name(std::string_view rule, const ParameterRef& ref) {
  if (ref.field->slots == 1) {
    return std::string(ref.field->name);
  }
  std::string name(rule);
  const auto replace = [&name](std::string_view key, const std::string& by) {
    name.replace(name.find(key), key.size(), by);
  };
  replace("{name}", std::string(ref.field->name));
  replace("{slot}", std::to_string(ref.slot));
  return name;
}

std::string parameter_name(const ParameterRef& ref) { return slot_name(kToolSlotName, ref); }

std::string declared_name(const ParameterRef& ref) { return slot_name(kDeclaredSlotName, ref); }

// A slot's number is one digit in a declared name.
static_assert(STRATAMIX_LAYER_SLOTS <= 10, "declared slot names take one digit");

std::optional<ParameterRef> parse_declared_name(std::string_view name) {
  for (const Field& f : kRecordFields) {
    if (name.substr(0, f.name.size()) != f.name) {
      continue;
    }
    const std::string_view rest = name.substr(f.name.size());
    if (f.slots == 1) {
      if (rest.empty()) {
        return ParameterRef{&f, 0};
      }
      continue;
    }
    if (rest.size() == 1 && rest[0] >= '0' && rest[0] < static_cast<char>('0' + f.slots)) {
      return ParameterRef{&f, static_cast<std::uint32_t>(rest[0] - '0')};
    }
  }
  return std::nullopt;
}

std::string float_text(float f) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, f);
  return {text, result.ptr};
}

}  // namespace strata
