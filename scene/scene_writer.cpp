#include "scene_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace strata::scene {
namespace {

// The shortest text that reads back to the float's bits (-0 included).
std::string number_text(float value, const ParameterRef& param) {
  if (!std::isfinite(value)) {
    throw BlockError(declared_name(param) + " is " + (std::isnan(value) ? "NaN" : "infinite") +
                     ", which a scene cannot write");
  }
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

// Parameters in the declaration: one a field, one a slot of an array.
std::size_t record_parameter_count() {
  std::size_t count = 0;
  for (const Field& field : kRecordFields) {
    count += field.slots;
  }
  return count;
}

}  // namespace

std::string value_text(const strataMix_params& record, const ParameterRef& param) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&record) + param.offset();
  std::uint32_t words[4] = {};
  std::memcpy(words, bytes, slot_size(field_type(*param.field)));
  const auto integer = static_cast<std::int32_t>(words[0]);
  switch (field_type(*param.field)) {
    case FieldType::integer:
      if (param.field->kind == FieldKind::toggle && (integer == 0 || integer == 1)) {
        return integer == 1 ? "on" : "off";
      }
      return std::to_string(integer);
    case FieldType::scalar:
    case FieldType::color:
    case FieldType::vector: {
      std::string text;
      for (std::uint32_t i = 0; i < slot_words(field_type(*param.field)); ++i) {
        text += (i == 0 ? "" : " ") + number_text(float_from_bits(words[i]), param);
      }
      return text;
    }
  }
  return "";
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
      case '\\':
        out += '\\';
        out += c;
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string shader_block(std::string_view name, const strataMix_params& record,
                         const std::vector<BlockNote>& notes) {
  // A note's comment starts in this column, so that the notes line up.
  constexpr std::size_t kNoteColumn = 44;
  std::string block = "shader " + quoted(name) + " \"strataMix\" (\n";
  const std::size_t count = record_parameter_count();
  std::size_t written = 0;
  for (const Field& field : kRecordFields) {
    for (std::uint32_t slot = 0; slot < field.slots; ++slot) {
      const ParameterRef param{&field, slot};
      std::string line = "    " + quoted(declared_name(param)) + " " + value_text(record, param);
      line += ++written < count ? "," : "";
      for (const BlockNote& note : notes) {
        if (note.param.field == &field && note.param.slot == slot) {
          line.resize(std::max(line.size() + 1, kNoteColumn), ' ');
          line += "# " + note.text;
        }
      }
      block += line + "\n";
    }
  }
  return block + ")\n";
}

}  // namespace strata::scene
