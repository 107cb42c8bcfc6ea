// The preset language's textures, read with OpenImageIO: one TextureSystem
// for the whole process with a bounded cache, safe from every render
// thread, filtered by each sample's footprint in UV.
#ifndef STRATAMIX_PREVIEW_TEXTURES_H
#define STRATAMIX_PREVIEW_TEXTURES_H

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "pattern.h"
#include "texture_input.h"

namespace strata::preview {

// Images wider or taller than this are refused: a look has no use for more,
// and a hostile header could ask for any size.
inline constexpr int kMaxTextureSide = 16384;
// The texture cache's bound: tiles beyond it are read again when needed.
inline constexpr int kTextureCacheMB = 256;
// serve lists at most this many images of its folder.
inline constexpr std::size_t kMaxListedTextures = 1000;

// Where a preset's texture paths lead.
struct TextureFolder {
  // A relative path is taken from here: the preset's own folder.
  std::filesystem::path base;
  // Paths must lead, after every link is followed, to a file inside `base`
  // (serve's --textures folder); anything else is refused.
  bool confined = false;
};

class TextureFiles final : public TextureSource {
 public:
  explicit TextureFiles(TextureFolder folder) : folder_(std::move(folder)) {}
  host::Connection connect(const TextureInput& input, FieldType type, int line) override;

 private:
  TextureFolder folder_;
};

// The images in a folder and the folders below it, as paths relative to it
// in sorted order, at most kMaxListedTextures; for serve's field list.
std::vector<std::string> texture_names(const std::filesystem::path& folder);

// sRGB's transfer curve undone: a stored 8-bit value's linear light.
float srgb_to_linear(float c);

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_TEXTURES_H
