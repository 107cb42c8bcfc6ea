#include "scene_preset.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <set>

#include "preset.h"
#include "scene_writer.h"
#include "text_input.h"

namespace strata::preview {
namespace {

bool same(const ParameterRef& a, const ParameterRef& b) {
  return a.field == b.field && a.slot == b.slot;
}

// How the connection reads in a note: 'rust_tex.outColor', interface 'tint'.
std::string target_text(const scene::Setting& s) {
  return (s.kind == scene::SettingKind::interface ? "interface '" : "'") + s.target + "'";
}

// A parameter's name in a preset: the field's, with [slot] for an array.
std::string preset_name(const ParameterRef& param) {
  std::string name(param.field->name);
  return param.field->slots > 1 ? name + "[" + std::to_string(param.slot) + "]" : name;
}

// The text of a preset's line after its '=', up to a comment: the pattern
// as its author wrote it.
std::string assigned_text(const std::string& preset, int line) {
  host::TextView view(preset);
  std::istream in(&view);
  host::LineReader lines(in, kMaxPresetBytes);
  host::TextLine l;
  while (lines.next(&l)) {
    if (l.number == line) {
      std::string_view text = l.text.substr(std::min(l.text.find('=') + 1, l.text.size()));
      text = text.substr(0, text.find('#'));
      const auto first = text.find_first_not_of(" \t");
      const auto last = text.find_last_not_of(" \t");
      return first == std::string_view::npos ? ""
                                             : std::string(text.substr(first, last - first + 1));
    }
  }
  return "";
}

// One parameter of `from` into `record`, the rest of it as it was.
void take_value(strataMix_params* record, const strataMix_params& from, const ParameterRef& param) {
  std::memcpy(reinterpret_cast<unsigned char*>(record) + param.offset(),
              reinterpret_cast<const unsigned char*>(&from) + param.offset(),
              slot_size(field_type(*param.field)));
}

}  // namespace

bool is_scene_path(std::string_view path) {
  constexpr std::string_view kExtension = ".mi";
  return path.size() > kExtension.size() &&
         path.substr(path.size() - kExtension.size()) == kExtension;
}

std::optional<StandIn> parse_stand_in(std::string_view text) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos) {
    return std::nullopt;
  }
  const auto param = parse_declared_name(text.substr(0, equals));
  if (!param) {
    return std::nullopt;
  }
  return StandIn{*param, std::string(text.substr(equals + 1))};
}

std::vector<std::string> connected_parameters(const scene::Instance& instance) {
  std::vector<std::string> out;
  for (const scene::Setting& s : instance.settings) {
    if (s.kind != scene::SettingKind::value) {
      out.push_back(declared_name(s.param) + " = " + target_text(s));
    }
  }
  return out;
}

std::string instance_preset(const scene::Instance& instance, const std::string& origin,
                            const std::vector<StandIn>& stand_ins) {
  // The scene's record, with the preview's neutral value where a parameter
  // is connected.
  strataMix_params record = scene::instance_record(instance);
  strataMix_params neutral{};
  set_preview_defaults(&neutral);
  for (const scene::Setting& s : instance.settings) {
    if (s.kind != scene::SettingKind::value) {
      take_value(&record, neutral, s.param);
    }
  }
  std::string text = "# strataMix instance " + scene::quoted(instance.name) + ", from " + origin +
                     "\n# every parameter as the scene gives it; what it leaves out is 0\n";
  for (const Field& field : kRecordFields) {
    for (std::uint32_t slot = 0; slot < field.slots; ++slot) {
      const ParameterRef param{&field, slot};
      std::string line = preset_name(param) + " = ";
      const StandIn* stand_in = nullptr;
      for (const StandIn& s : stand_ins) {
        stand_in = same(s.param, param) ? &s : stand_in;
      }
      const scene::Setting* setting = scene::find_setting(instance, param);
      const bool connected = setting != nullptr && setting->kind != scene::SettingKind::value;
      if (stand_in != nullptr) {
        line += stand_in->pattern;
        if (connected) {
          line += "  # in the scene connected to " + target_text(*setting);
        }
      } else {
        line += scene::value_text(record, param);
        if (connected) {
          line +=
              "  # the preview's neutral value: in the scene connected to " + target_text(*setting);
        }
      }
      text += line + "\n";
    }
  }
  return text;
}

std::vector<std::string> picture_names(const std::vector<std::string>& instance_names) {
  constexpr std::size_t kMaxName = 64;
  const auto folded = [](std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return name;
  };
  std::set<std::string> taken;  // folded
  std::vector<std::string> out;
  for (const std::string& instance : instance_names) {
    std::string safe;
    for (const char c : instance.substr(0, kMaxName)) {
      const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
      safe += kept ? c : '_';
    }
    safe = safe.empty() ? "instance" : safe;
    std::string name = safe;
    for (int n = 2; !taken.insert(folded(name)).second; ++n) {
      name = safe + "-" + std::to_string(n);
    }
    out.push_back(name);
  }
  return out;
}

std::string preset_block(const std::string& text, const Preset& preset, std::string_view name) {
  host::Host host;
  set_preview_defaults(&host.params());
  apply_preset(preset, &host);
  // A pattern exists only in the preview: the block gives its parameter the
  // preview's neutral value and says what to connect.
  strataMix_params record = host.params();
  strataMix_params neutral{};
  set_preview_defaults(&neutral);
  std::vector<scene::BlockNote> notes;
  for (const Assignment& a : preset.assignments) {
    if (!a.pattern) {
      continue;
    }
    for (std::uint32_t slot = a.slot.value_or(0); slot < (a.slot ? *a.slot + 1 : a.field->slots);
         ++slot) {
      const ParameterRef param{a.field, slot};
      take_value(&record, neutral, param);
      notes.push_back({param, "connected in the preview to " + assigned_text(text, a.line)});
    }
  }
  return scene::shader_block(name, record, notes);
}

}  // namespace strata::preview
