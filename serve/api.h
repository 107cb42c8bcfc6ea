// What the server answers, apart from how it is carried: the description of
// the contract, so that the page makes its controls from the same tables the
// presets are read by; a parsed preset, so that opening a file goes through
// the preview's own parser; what a render request asks for and the picture
// it gets; and every refusal.
#ifndef STRATAMIX_SERVE_API_H
#define STRATAMIX_SERVE_API_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// A browser sends a dozen header fields; the head's bytes are bounded by
// the server's memory for each connection.
inline constexpr std::size_t kMaxHeaders = 100;
// The page's token for its renders: a newer render with the same token
// replaces an older one still running or waiting.
inline constexpr std::size_t kMaxToken = 64;

// The ray type a render request names ("final-gather"): the code its
// samples carry. False for a name no kind of ray has.
bool ray_type_named(std::string_view name, std::int32_t* code);

// The server's limits, {"limits": {"size", "aa", "calls", "body"}}, as the
// description's part of the server.
nlohmann::ordered_json limits_json();

// The description of the contract with the preview's lists and the
// server's limits (describe/description.h), as `stratamix describe` prints
// it in a build with the server; a server also lists under "textures" the
// images a preset may name (none without a textures folder).
std::string fields_json(const std::vector<std::string>* textures = nullptr);

// {"assignments": [...]}: each with its line, name, slot (null for every
// slot), and either "integer", "value" (the numbers as a preset writes them)
// or "pattern" (kind, frequency, axis, height, stops), or "texture" (kind
// texture or normalmap, path, wrap, and colorspace or y).
std::string preset_json(const preview::Preset& preset);

// {"error": message}, and "line" where the message concerns one line of a
// preset.
std::string error_json(const std::string& message, int line = 0);

// One answer: its status, content type, body and any further header fields.
struct Answer {
  int status = 200;
  std::string type;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// A request that cannot be answered as asked: its status and message (and
// the preset's line the message concerns), answered as error_json.
struct Refusal {
  int status;
  std::string message;
  int line = 0;
};

Answer refusal_answer(const Refusal& r);
Refusal body_too_long();
Refusal too_many_headers(std::size_t count);

// A request's query arguments, decoded, in the order they came.
using Query = std::vector<std::pair<std::string, std::string>>;

// GET (or HEAD) of `path`: the page's files by their exact paths, the field
// list, or 404 for any other path.
// The field list names the images of the `textures` folder as they are
// now, none when it is empty.
Answer get_answer(std::string_view path, const std::string& textures = {});
// Any other method, or a POST to a path that takes none.
Answer no_page_answer(std::string_view path);
// POST /api/parse.
Answer parse_answer(const Query& query, const std::string& body);

// POST /api/block?name=NAME: the preset as a scene's shader block,
// {"block": text}, by the one writer of a block.
Answer block_answer(const Query& query, const std::string& body);
inline constexpr std::size_t kMaxBlockName = 256;

// How a render's picture is answered: the PNG a browser shows, or the
// floats the shader gave.
enum class Format { png, f32 };

// What POST /api/render asks for: shape, size, aa, ray, token and format,
// each optional; throws a Refusal for anything else, or too much.
struct RenderRequest {
  preview::View view;
  preview::Preset preset;
  std::string token;  // empty: none
  Format format = Format::png;
};
RenderRequest render_request(const Query& query, const std::string& body);
// The record as the preview sets it, with the request's preset applied; its
// textures come from the `textures` folder alone (none when it is empty),
// each opened now: one that cannot be is the preset's 400.
void apply_request(const RenderRequest& request, const std::string& textures, host::Host* host);

// The floats of a frame (format=f32), every number little-endian:
//   a head of four 32-bit words: the bytes "SMF1", the width, the height
//     and the flags (bit 0: the normal stage ran; bits 8 to 15: what the
//     result holds, 0 a colour, 1 a normal, 2 a normal as a colour);
//   per pixel, rows from the top, float32 R, G, B, A: the result as the
//     shader gave it (a normal as x, y, z and 1), averaged over the
//     pixel's samples on the surface;
//   per pixel the fraction of its samples on the surface;
//   per pixel the brightness under the preview's light of the state's
//     normal after the call (the surface's own where the normal stage did
//     not run);
//   where the normal stage ran, per pixel x, y, z of the combined normal.
// Off the surface every number is 0.
std::string frame_floats(const preview::Frame& frame);
inline constexpr std::size_t kFloatsHead = 16;

// The rendered frame as PNG, or as frame_floats, with its figures in
// X-Render-Seconds and X-Samples.
Answer render_answer(const preview::Frame& frame, double seconds, Format format = Format::png);
// 503: every render place is taken and the line is full.
Answer busy_answer();
// 409: a newer render with the same token took this one's place.
Answer replaced_answer();
// 503: the server stopped before the render could be done.
Answer stopping_answer();

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_API_H
