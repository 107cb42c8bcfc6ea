// Preview presets: a small text format that sets the shader's parameters by
// the record's field names, or connects them to the built-in patterns.
//
//   # comments run to the end of the line
//   blendEnable = on
//   blendMode = 15
//   layerColor = 1 0.5 0 1          # a colour: 4 numbers (or 3, alpha 1)
//   layerWeight[2] = 0.5            # one slot of a layer array
//   layerBalance = 0.5              # every slot of a layer array
//   baseColor = checker(8)          # connected to a pattern
//   baseColor = ramp(u, 0 0 0 1, 1 0.5 0 1, 1 1 1 1)
//   layerNormal[0] = bump(6, 0.4)
//   layerColor = texture("wood.png", srgb)      # texture_input.h
//
// Each parameter (or slot) is set at most once. Lines end in CR, LF or CRLF;
// a byte-order mark at the start is skipped; a NUL byte is an error.
#ifndef STRATAMIX_PREVIEW_PRESET_H
#define STRATAMIX_PREVIEW_PRESET_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"
#include "host.h"
#include "pattern.h"
#include "texture_input.h"

namespace strata::preview {

// The longest preset a file or a request may hold: a preset that sets every
// parameter and slot, each with a long ramp, takes a few KiB.
inline constexpr std::size_t kMaxPresetBytes = 64 * 1024;

struct Assignment {
  int line = 0;
  const Field* field = nullptr;
  // The slot of a layer array; none for a single field or for all slots.
  std::optional<std::uint32_t> slot;
  std::int32_t integer = 0;  // the value of an integer field
  Value value{};             // the value of a float, colour or vector field
  std::optional<Pattern> pattern;
  std::optional<TextureInput> texture;
};

struct Preset {
  std::vector<Assignment> assignments;
};

// A preset that cannot be applied: its message names the line and the
// problem ("line 3: unknown parameter 'blendMod'"); `line` is that line, so
// that an editor can point at it.
struct PresetError : std::runtime_error {
  PresetError(int line_number, const std::string& problem)
      : std::runtime_error("line " + std::to_string(line_number) + ": " + problem),
        line(line_number) {}
  int line;
};

Preset parse_preset(std::string_view text);

// The record's values before a preset is applied: neutral settings, so that
// a preset names only what it changes. Everything else is 0.
//   baseColor 0.5 0.5 0.5 1, layerColor 1 1 1 1, blendAmount 1, gamma 1,
//   contrast 1, normalMix 1, normalScale 1, layerWeight[i] 1,
//   layerBalance[i] 0.5, layerNormal[i] 0 0 1.
void set_preview_defaults(strataMix_params* params);

// Writes the preset's values into the host's record and connects its
// patterns, and its textures through `textures`. A preset that names a
// texture needs a source: without one it is a PresetError on that line.
void apply_preset(const Preset& preset, host::Host* host, TextureSource* textures = nullptr);

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_PRESET_H
