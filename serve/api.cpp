#include "api.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "assets.h"
#include "compositor.h"
#include "description.h"
#include "fields.h"
#include "pattern.h"
#include "scene_preset.h"
#include "scene_writer.h"
#include "textures.h"

namespace strata::serve {
namespace {

using nlohmann::json;

// The first `count` numbers of a value, as a preset writes them.
std::string value_text(const preview::Value& v, std::uint32_t count) {
  std::string text;
  for (std::uint32_t i = 0; i < count; ++i) {
    text += (i == 0 ? "" : " ") + float_text(v[i]);
  }
  return text;
}

json pattern_json(const preview::Pattern& p, FieldType type) {
  json out{{"kind", preview::pattern_entry(p.kind).name}};
  switch (p.kind) {
    case preview::PatternKind::bump:
      out["frequency"] = float_text(p.frequency);
      out["height"] = float_text(p.height);
      return out;
    case preview::PatternKind::ramp:
      out["axis"] = p.axis == 0 ? "u" : "v";
      break;
    case preview::PatternKind::checker:
    case preview::PatternKind::noise:
      out["frequency"] = float_text(p.frequency);
      break;
  }
  json stops = json::array();
  for (const preview::Value& stop : p.stops) {
    stops.push_back(value_text(stop, slot_words(type)));
  }
  out["stops"] = stops;
  return out;
}

int whole_number(const std::string& text, int low, int high, const std::string& what) {
  int n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || n < low || n > high) {
    throw Refusal{400, what + " must be a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not '" + text + "'"};
  }
  return n;
}

// A token names the page that sent the render, nothing more: short, and in
// letters that need no care in a log or a map.
bool token_fits(const std::string& token) {
  if (token.empty() || token.size() > kMaxToken) {
    return false;
  }
  for (const char c : token) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!letter && c != '-' && c != '_') {
      return false;
    }
  }
  return true;
}

preview::Preset parsed(const std::string& text) {
  try {
    return preview::parse_preset(text);
  } catch (const preview::PresetError& e) {
    throw Refusal{400, e.what(), e.line};
  }
}

std::string encode_png(OIIO::ImageBuf image) {
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput out(bytes);
  image.set_write_format(OIIO::TypeDesc::UINT8);
  image.set_write_ioproxy(&out);
  if (!image.write("picture.png", OIIO::TypeDesc::UNKNOWN, "png")) {
    throw std::runtime_error("cannot encode the picture: " + image.geterror());
  }
  return {bytes.begin(), bytes.end()};
}

json texture_json(const preview::TextureInput& t) {
  json out{{"kind", t.normal_map ? "normalmap" : "texture"},
           {"path", t.path},
           {"wrap", std::string(preview::texture_wrap_name(t.wrap))}};
  if (t.normal_map) {
    out["y"] = t.y_down ? "down" : "up";
  } else {
    out["colorspace"] = t.srgb ? "srgb" : "linear";
  }
  return out;
}

// Where a server started without a textures folder sends texture calls.
class NoTextures final : public preview::TextureSource {
 public:
  host::Connection connect(const preview::TextureInput& input, FieldType /*type*/,
                           int line) override {
    throw preview::PresetError(line, "texture \"" + input.path +
                                         "\": this server reads no textures (stratamix serve "
                                         "--textures DIR names the folder they come from)");
  }
};

Answer json_answer(int status, std::string body) {
  return {status, "application/json", std::move(body), {}};
}

// What a frame's result holds, as the floats' head says it.
std::uint32_t result_code(preview::ResultKind kind) {
  switch (kind) {
    case preview::ResultKind::color:
      return 0;
    case preview::ResultKind::normal_vector:
      return 1;
    case preview::ResultKind::normal_color:
      return 2;
  }
  return 0;
}

}  // namespace

bool ray_type_named(std::string_view name, std::int32_t* code) {
  const RayKind* ray = row_named(kRayKinds, name);
  if (ray != nullptr) {
    *code = ray->code;
  }
  return ray != nullptr;
}

nlohmann::ordered_json limits_json() {
  return {
      {"limits", {{"size", kMaxSize}, {"aa", kMaxAa}, {"calls", kMaxCalls}, {"body", kMaxBody}}}};
}

std::string fields_json(const std::vector<std::string>* textures) {
  describe::Document serve = limits_json();
  if (textures != nullptr) {
    serve["textures"] = *textures;
    nlohmann::ordered_json& wraps = serve["textureWraps"] = nlohmann::ordered_json::array();
    for (const preview::TextureWrapName& w : preview::kTextureWraps) {
      wraps.push_back(std::string(w.name));
    }
  }
  return describe::description_json({describe::preview_lists(), serve});
}

std::string preset_json(const preview::Preset& preset) {
  json assignments = json::array();
  for (const preview::Assignment& a : preset.assignments) {
    json entry{{"line", a.line}, {"name", std::string(a.field->name)}};
    entry["slot"] = a.slot ? json(*a.slot) : json(nullptr);
    const FieldType type = field_type(*a.field);
    if (a.texture) {
      entry["texture"] = texture_json(*a.texture);
    } else if (a.pattern) {
      entry["pattern"] = pattern_json(*a.pattern, type);
    } else if (type == FieldType::integer) {
      entry["integer"] = a.integer;
    } else {
      entry["value"] = value_text(a.value, slot_words(type));
    }
    assignments.push_back(entry);
  }
  return json{{"assignments", assignments}}.dump();
}

std::string error_json(const std::string& message, int line) {
  json out{{"error", message}};
  if (line > 0) {
    out["line"] = line;
  }
  // Text from the request (a preset's words) may be anything: keep the
  // answer valid JSON whatever its bytes.
  return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

Answer refusal_answer(const Refusal& r) {
  return json_answer(r.status, error_json(r.message, r.line));
}

Refusal body_too_long() {
  return {413, "the request body is over " + std::to_string(kMaxBody) + " bytes"};
}

Refusal too_many_headers(std::size_t count) {
  return {431, "the request has " + std::to_string(count) + " header fields, over the limit of " +
                   std::to_string(kMaxHeaders)};
}

Answer no_page_answer(std::string_view path) {
  // Any other path, by any method, is no page: not a 400 or a 405 that would
  // tell a prober which paths exist.
  return refusal_answer({404, "no such page: " + std::string(path)});
}

Answer get_answer(std::string_view path, const std::string& textures) {
  if (path == "/api/fields") {
    if (textures.empty()) {
      static const std::vector<std::string> none;
      static const std::string fields = fields_json(&none);
      return json_answer(200, fields);
    }
    // The folder as it is now: an image added while the page is open shows
    // at its next reading.
    const std::vector<std::string> names = preview::texture_names(textures);
    return json_answer(200, fields_json(&names));
  }
  // The page's own files by their exact paths; the path is decoded already,
  // so "/%2e%2e/" and its kind are no asset's path either.
  if (const Asset* asset = find_asset(path)) {
    return {200, std::string(asset->type), std::string(asset->body), {}};
  }
  return no_page_answer(path);
}

Answer parse_answer(const Query& query, const std::string& body) {
  try {
    if (!query.empty()) {
      throw Refusal{400, "parse takes no options"};
    }
    return json_answer(200, preset_json(parsed(body)));
  } catch (const Refusal& r) {
    return refusal_answer(r);
  }
}

Answer block_answer(const Query& query, const std::string& body) {
  try {
    std::string name = "look";
    for (const auto& [key, value] : query) {
      if (key != "name") {
        throw Refusal{400, "unknown block option '" + key + "' (name)"};
      }
      if (value.empty() || value.size() > kMaxBlockName) {
        throw Refusal{400, "name is 1 to " + std::to_string(kMaxBlockName) + " bytes"};
      }
      name = value;
    }
    const preview::Preset preset = parsed(body);
    try {
      return json_answer(200, json{{"block", preview::preset_block(body, preset, name)}}.dump(
                                  -1, ' ', false, json::error_handler_t::replace));
    } catch (const scene::BlockError& e) {
      throw Refusal{400, e.what()};
    }
  } catch (const Refusal& r) {
    return refusal_answer(r);
  }
}

RenderRequest render_request(const Query& query, const std::string& body) {
  RenderRequest request;
  preview::View& view = request.view;
  view.shape = preview::Shape::sphere;
  view.width = view.height = 256;
  view.aa = 2;
  for (const auto& [name, value] : query) {
    if (name == "shape") {
      if (!preview::shape_named(value, &view.shape)) {
        throw Refusal{400, "shape is " + names_of(preview::kShapes) + ", not '" + value + "'"};
      }
    } else if (name == "size") {
      view.width = view.height = whole_number(value, 8, kMaxSize, "size (pixels a side)");
    } else if (name == "aa") {
      view.aa = whole_number(value, 1, kMaxAa, "aa (samples per pixel along each axis)");
    } else if (name == "ray") {
      if (!ray_type_named(value, &view.ray_type)) {
        throw Refusal{400, "ray is " + names_of(kRayKinds) + ", not '" + value + "'"};
      }
    } else if (name == "format") {
      if (value != "png" && value != "f32") {
        throw Refusal{400, "format is png or f32, not '" + value + "'"};
      }
      request.format = value == "png" ? Format::png : Format::f32;
    } else if (name == "token") {
      if (!token_fits(value)) {
        throw Refusal{400, "token is 1 to " + std::to_string(kMaxToken) +
                               " letters, digits, '-' or '_', not '" + value + "'"};
      }
      request.token = value;
    } else {
      throw Refusal{400,
                    "unknown render option '" + name + "' (shape, size, aa, ray, token, format)"};
    }
  }
  const std::uint64_t side = static_cast<std::uint64_t>(view.width) * view.aa;
  if (side * side > kMaxCalls) {
    throw Refusal{400, "size " + std::to_string(view.width) + " at aa " + std::to_string(view.aa) +
                           " is " + std::to_string(side * side) +
                           " shader calls, over the limit of " + std::to_string(kMaxCalls)};
  }
  request.preset = parsed(body);
  return request;
}

void apply_request(const RenderRequest& request, const std::string& textures, host::Host* host) {
  preview::set_preview_defaults(&host->params());
  preview::TextureFiles files({textures, true});
  NoTextures none;
  try {
    preview::apply_preset(request.preset, host,
                          textures.empty() ? static_cast<preview::TextureSource*>(&none) : &files);
  } catch (const preview::PresetError& e) {
    throw Refusal{400, e.what(), e.line};
  }
}

std::string frame_floats(const preview::Frame& frame) {
  const auto pixels =
      static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height);
  const std::size_t planes = frame.normal_stage ? 9 : 6;
  std::string out(kFloatsHead + pixels * planes * 4, '\0');
  char* at = out.data();
  // Little-endian whatever the machine's own order.
  const auto word = [&at](std::uint32_t w) {
    for (int shift = 0; shift < 32; shift += 8) {
      *at++ = static_cast<char>((w >> shift) & 0xffU);
    }
  };
  const auto number = [&word](float f) {
    std::uint32_t w = 0;
    std::memcpy(&w, &f, sizeof w);
    word(w);
  };
  for (const char c : std::string_view("SMF1")) {
    *at++ = c;
  }
  word(static_cast<std::uint32_t>(frame.width));
  word(static_cast<std::uint32_t>(frame.height));
  word((frame.normal_stage ? 1U : 0U) | (result_code(frame.kind) << 8));
  for (std::size_t p = 0; p < pixels * 4; ++p) {
    number(frame.result[p]);
  }
  for (std::size_t p = 0; p < pixels; ++p) {
    number(frame.coverage[p]);
  }
  for (std::size_t p = 0; p < pixels; ++p) {
    const strataMix_vector n{frame.normal[p * 3], frame.normal[p * 3 + 1], frame.normal[p * 3 + 2]};
    number(frame.coverage[p] > 0.0f ? preview::lit(n) : 0.0f);
  }
  if (frame.normal_stage) {
    for (std::size_t p = 0; p < pixels * 3; ++p) {
      number(frame.normal[p]);
    }
  }
  return out;
}

Answer render_answer(const preview::Frame& frame, double seconds, Format format) {
  char figure[32];
  std::snprintf(figure, sizeof figure, "%.6f", seconds);
  const bool png = format == Format::png;
  return {200,
          png ? "image/png" : "application/octet-stream",
          png ? encode_png(preview::frame_display(frame)) : frame_floats(frame),
          {{"X-Render-Seconds", figure},
           {"X-Samples", std::to_string(frame.samples)},
           {"Cache-Control", "no-store"}}};
}

Answer busy_answer() {
  Answer a =
      refusal_answer({503, "busy: every render place is taken and the queue is full; try again"});
  a.headers.emplace_back("Retry-After", "1");
  return a;
}

Answer replaced_answer() {
  return refusal_answer({409, "replaced by a newer render with the same token"});
}

Answer stopping_answer() { return refusal_answer({503, "the server is stopping"}); }

}  // namespace strata::serve
