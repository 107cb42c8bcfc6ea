// What the page reads and sends besides pictures: the field list with the
// mode table, the patterns and the ray types, so that the page makes its
// controls from the same list the presets are read by; and a parsed preset,
// so that opening a file goes through the preview's own parser.
#ifndef STRATAMIX_SERVE_API_H
#define STRATAMIX_SERVE_API_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preset.h"
#include "renderer.h"

namespace strata::serve {

// What one request may ask: a render holds the cores for at most a few
// seconds, and a body is far larger than any preset needs.
inline constexpr int kMaxSize = 2048;                   // pixels a side
inline constexpr int kMaxAa = 8;                        // samples per pixel along each axis
inline constexpr std::uint64_t kMaxCalls = 16'000'000;  // size * size * aa * aa
inline constexpr std::size_t kMaxBody = 64 * 1024;      // bytes

struct RayType {
  std::string_view name;
  std::int32_t code;
};

// The rays a render can send: the eye ray, which passes every gate, and one
// of each kind that a gate stops.
inline constexpr std::array kRayTypes = {
    RayType{"eye", kRayEye},
    RayType{"reflection", kRayReflect},
    RayType{"refraction", kRayRefract},
    RayType{"photon", kRayPhoton},
    RayType{"final-gather", kRayFinalGather},
};

bool ray_type_named(std::string_view name, std::int32_t* code);

// The shortest text that a preset reads back as the same float: "0.1",
// "-0", "inf", "nan".
std::string float_text(float f);

// {"fields": [...], "modes": [...], "patterns": [...], "rays": [...],
//  "shapes": [...], "limits": {...}, "textures": [...]}: each field with its
// name, kind, type, stage, slots, description, useful range, what zero
// means and its neutral value; the textures, the images a preset may name.
std::string fields_json(const std::vector<std::string>& textures = {});

// {"assignments": [...]}: each with its line, name, slot (null for every
// slot), and either "integer", "value" (the numbers as a preset writes them)
// or "pattern" (kind, frequency, axis, height, stops), or "texture" (kind
// texture or normalmap, path, wrap, and colorspace or y).
std::string preset_json(const preview::Preset& preset);

// {"error": message}, and "line" where the message concerns one line of a
// preset.
std::string error_json(const std::string& message, int line = 0);

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_API_H
