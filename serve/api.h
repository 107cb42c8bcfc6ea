// What the page reads and sends besides pictures: the description of the
// contract, so that the page makes its controls from the same tables the
// presets are read by; and a parsed preset, so that opening a file goes
// through the preview's own parser.
#ifndef STRATAMIX_SERVE_API_H
#define STRATAMIX_SERVE_API_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "preset.h"
#include "render.h"
#include "renderer.h"

namespace strata::serve {

// What one request may ask: a render holds the cores for at most a few
// seconds, and a body is a preset.
inline constexpr int kMaxSize = 2048;                   // pixels a side
inline constexpr int kMaxAa = preview::kMaxAa;          // samples per pixel along each axis
inline constexpr std::uint64_t kMaxCalls = 16'000'000;  // size * size * aa * aa
inline constexpr std::size_t kMaxBody = preview::kMaxPresetBytes;

// The ray type a render request names ("final-gather"): the code its
// samples carry. False for a name no kind of ray has.
bool ray_type_named(std::string_view name, std::int32_t* code);

// The server's limits, {"limits": {"size", "aa", "calls", "body"}}, as the
// description's part of the server.
nlohmann::ordered_json limits_json();

// The description of the contract with the preview's lists and the
// server's limits (describe/description.h), as `stratamix describe` prints
// it in a build with the server.
std::string fields_json();

// {"assignments": [...]}: each with its line, name, slot (null for every
// slot), and either "integer", "value" (the numbers as a preset writes them)
// or "pattern" (kind, frequency, axis, height, stops).
std::string preset_json(const preview::Preset& preset);

// {"error": message}, and "line" where the message concerns one line of a
// preset.
std::string error_json(const std::string& message, int line = 0);

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_API_H
