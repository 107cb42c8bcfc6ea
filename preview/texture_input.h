// Texture inputs in the preset language: a colour or float parameter
// connected to an image, or a vector parameter to a tangent-space normal map.
//
//   baseColor = texture("wood.png", periodic, srgb)
//   gamma = texture("mask.exr", clamp)              # a float takes the first channel
//   layerNormal[0] = normalmap("bumps.png", y down)
//
// The parser only reads the call. Looking images up needs OpenImageIO, which
// the preview library provides as a TextureSource; presets read without one
// (the fuzz target, say) cannot be applied if they name a texture.
#ifndef STRATAMIX_PREVIEW_TEXTURE_INPUT_H
#define STRATAMIX_PREVIEW_TEXTURE_INPUT_H

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "fields.h"
#include "host.h"

namespace strata::preview {

// What a lookup outside 0..1 finds.
enum class TextureWrap {
  periodic,  // the image repeats
  clamp,     // the nearest edge texel
  black,     // zero
  mirror,    // the image repeats, every other copy mirrored
};

struct TextureWrapName {
  TextureWrap wrap;
  std::string_view name;
};

inline constexpr std::array kTextureWraps = {
    TextureWrapName{TextureWrap::periodic, "periodic"},
    TextureWrapName{TextureWrap::clamp, "clamp"},
    TextureWrapName{TextureWrap::black, "black"},
    TextureWrapName{TextureWrap::mirror, "mirror"},
};

std::string_view texture_wrap_name(TextureWrap wrap);

// A path is as long as a file system allows, and no longer.
inline constexpr std::size_t kMaxTexturePath = 4096;

struct TextureInput {
  std::string path;  // as the preset writes it; relative to the preset's folder
  // normalmap(): the image holds tangent-space normals, decoded as 2c - 1
  // and turned into the sample's own frame.
  bool normal_map = false;
  TextureWrap wrap = TextureWrap::periodic;
  // texture(): 8-bit values are decoded from sRGB to linear (otherwise they
  // are taken as stored).
  bool srgb = false;
  // normalmap(): green points along -v (the convention of DirectX tools)
  // rather than +v.
  bool y_down = false;
};

// Whether a value is a texture call: texture(...) or normalmap(...).
bool is_texture_call(std::string_view value);

// Reads the call a parameter is set to. Throws PresetError naming the line
// and the problem.
TextureInput parse_texture_input(std::string_view value, const Field& field,
                                 const std::string& what, int line);

// The call as a preset writes it: texture("a.png", clamp, srgb).
std::string texture_call_text(const TextureInput& input);

// Makes the connection that looks a texture up for a parameter of `type`.
class TextureSource {
 public:
  TextureSource() = default;
  TextureSource(const TextureSource&) = delete;
  TextureSource& operator=(const TextureSource&) = delete;
  virtual ~TextureSource() = default;
  // Opens the image now, so that a bad one is reported before anything
  // renders: throws PresetError(line, ...) naming the path and the reason.
  virtual host::Connection connect(const TextureInput& input, FieldType type, int line) = 0;
};

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_TEXTURE_INPUT_H
