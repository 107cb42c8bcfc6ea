#include "scene.h"

#include <cstring>

namespace strata::scene {

strataMix_params instance_record(const Instance& instance) {
  strataMix_params record{};
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  for (const Setting& s : instance.settings) {
    if (s.kind == SettingKind::value) {
      std::memcpy(bytes + s.param.offset(), s.words.data(), slot_size(field_type(*s.param.field)));
    }
  }
  return record;
}

const Setting* find_setting(const Instance& instance, const ParameterRef& param) {
  for (const Setting& s : instance.settings) {
    if (s.param.field == param.field && s.param.slot == param.slot) {
      return &s;
    }
  }
  return nullptr;
}

std::string place_text(const Location& where, const std::vector<std::string>& files) {
  return (where.file < files.size() ? files[where.file] : "?") + ":" + std::to_string(where.line) +
         ":" + std::to_string(where.column);
}

std::string format_diagnostic(const Diagnostic& d, const std::vector<std::string>& files) {
  std::string text = d.where.file < files.size() ? files[d.where.file] : "?";
  if (d.where.line != 0) {
    text += ':' + std::to_string(d.where.line) + ':' + std::to_string(d.where.column);
  }
  switch (d.severity) {
    case Severity::error:
      text += ": error: ";
      break;
    case Severity::warning:
      text += ": warning: ";
      break;
    case Severity::note:
      text += ": note: ";
      break;
  }
  return text + d.message;
}

}  // namespace strata::scene
