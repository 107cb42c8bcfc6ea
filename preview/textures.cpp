#include "textures.h"

#include <OpenImageIO/imageio.h>
#include <OpenImageIO/texture.h>
#include <OpenImageIO/ustring.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <system_error>

#include "preset.h"
#include "vec3.h"

namespace strata::preview {
namespace {

namespace fs = std::filesystem;

// The process's one texture system, on a cache of its own (not the one
// ImageBuf reads through), made at first use. Untiled images are read in
// tiles and mip-mapped as they are read, so that any image is filtered by
// the footprint and held only in part.
OIIO::TextureSystem& texture_system() {
  static OIIO::TextureSystem* const system = [] {
    OIIO::TextureSystem* ts = OIIO::TextureSystem::create(false);
    ts->attribute("max_memory_MB", static_cast<float>(kTextureCacheMB));
    ts->attribute("autotile", 64);
    ts->attribute("automip", 1);
    return ts;
  }();
  return *system;
}

OIIO::TextureOpt::Wrap oiio_wrap(TextureWrap wrap) {
  switch (wrap) {
    case TextureWrap::periodic:
      return OIIO::TextureOpt::WrapPeriodic;
    case TextureWrap::clamp:
      return OIIO::TextureOpt::WrapClamp;
    case TextureWrap::black:
      return OIIO::TextureOpt::WrapBlack;
    case TextureWrap::mirror:
      return OIIO::TextureOpt::WrapMirror;
  }
  return OIIO::TextureOpt::WrapPeriodic;
}

// OpenImageIO's first reason (it may give the same one again, worded
// otherwise, on further lines), with the folder a confined path lies in
// left out: the page's user need not learn where the server keeps it.
std::string first_reason(const std::string& text, const TextureFolder& folder) {
  std::string reason = text.substr(0, text.find('\n'));
  if (folder.confined) {
    std::error_code ec;
    const std::string root = fs::weakly_canonical(folder.base, ec).string() + "/";
    for (std::size_t at = reason.find(root); !ec && at != std::string::npos;
         at = reason.find(root, at)) {
      reason.erase(at, root.size());
    }
  }
  return reason.empty() ? "OpenImageIO gave no reason" : reason;
}

// Whether `real` lies below `root`, both canonical: root's components come
// first, and something more follows.
bool lies_inside(const fs::path& root, const fs::path& real) {
  const auto [in_root, in_real] = std::mismatch(root.begin(), root.end(), real.begin(), real.end());
  return in_root == root.end() && in_real != real.end();
}

std::string named(const TextureInput& input) { return "texture \"" + input.path + "\""; }

// The file a path leads to, refused when a confined folder does not hold it.
fs::path resolve(const TextureFolder& folder, const TextureInput& input, int line) {
  const fs::path given(input.path);
  std::error_code ec;
  if (!folder.confined) {
    return given.is_absolute() ? given : folder.base / given;
  }
  if (given.is_absolute()) {
    throw PresetError(line, named(input) +
                                ": give a name inside the textures folder, not an "
                                "absolute path");
  }
  const fs::path root = fs::weakly_canonical(folder.base, ec);
  fs::path real = fs::weakly_canonical(folder.base / given, ec);
  if (ec || !lies_inside(root, real)) {
    throw PresetError(line, named(input) + ": leads outside the textures folder");
  }
  return real;
}

// What a lookup needs, fixed when the texture is connected.
struct Lookup {
  OIIO::TextureSystem* system;
  OIIO::TextureSystem::TextureHandle* handle;
  OIIO::TextureOpt options;
  int channels;  // looked up: at most 4
  TextureInput input;
  FieldType type;
};

// A derivative the filter can use: a footprint wider than the whole image
// (toward a sphere's rim) is the whole image.
float footprint(float d) { return std::isfinite(d) ? std::clamp(d, -1.0f, 1.0f) : 1.0f; }

// Coordinates this far out (or NaN) name no texel; wrapping them would
// overflow the reader's integer texel coordinates.
bool placeable(float x) { return std::fabs(x) < 1.0e6f; }

Value look_up(const Lookup& l, const SurfacePoint& at) {
  if (!placeable(at.u) || !placeable(at.v)) {
    return Value{};
  }
  float texel[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  OIIO::TextureOpt options = l.options;  // the lookup writes to its options
  // Row 0 of an image lies at v = 1, as renderers read textures: t = 1 - v.
  l.system->texture(l.handle, nullptr, options, at.u, 1.0f - at.v, footprint(at.dudx),
                    footprint(-at.dvdx), footprint(at.dudy), footprint(-at.dvdy), l.channels,
                    texel);
  if (l.input.normal_map) {
    // Decoded as 2c - 1 and made unit in tangent space, so that a flat texel
    // gives the frame's normal exactly; then turned into the sample's frame.
    const float y = 2.0f * texel[1] - 1.0f;
    const strataMix_vector t =
        normalized({2.0f * texel[0] - 1.0f, l.input.y_down ? -y : y, 2.0f * texel[2] - 1.0f});
    const strataMix_vector& tn = at.tangent;
    const strataMix_vector& bn = at.bitangent;
    const strataMix_vector& nn = at.normal;
    return {t.x * tn.x + t.y * bn.x + t.z * nn.x, t.x * tn.y + t.y * bn.y + t.z * nn.y,
            t.x * tn.z + t.y * bn.z + t.z * nn.z, 0.0f};
  }
  Value out{};
  switch (l.channels) {
    case 1:  // grey
      out = {texel[0], texel[0], texel[0], 1.0f};
      break;
    case 2:  // grey and alpha
      out = {texel[0], texel[0], texel[0], texel[1]};
      break;
    case 3:
      out = {texel[0], texel[1], texel[2], 1.0f};
      break;
    default:
      out = {texel[0], texel[1], texel[2], texel[3]};
      break;
  }
  if (l.input.srgb) {
    for (std::size_t c = 0; c < 3; ++c) {
      out[c] = srgb_to_linear(out[c]);
    }
  }
  return out;
}

// The file name extensions OpenImageIO reads, from its own list
// ("openexr:exr,sxr;png:png;...").
std::set<std::string> image_extensions() {
  std::set<std::string> extensions;
  const std::string list = OIIO::get_string_attribute("extension_list");
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = std::min(list.find(';', at), list.size());
    const std::size_t colon = list.find(':', at);
    for (std::size_t e = colon + 1; colon < end && e < end;) {
      const std::size_t comma = std::min(list.find(',', e), end);
      extensions.insert("." + list.substr(e, comma - e));
      e = comma + 1;
    }
    at = end + 1;
  }
  return extensions;
}

}  // namespace

float srgb_to_linear(float c) {
  return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f);
}

host::Connection TextureFiles::connect(const TextureInput& input, FieldType type, int line) {
  const fs::path path = resolve(folder_, input, line);
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  // Only a regular file is read: a folder is no image, and a FIFO or a
  // device would be read for ever.
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    throw PresetError(line, named(input) + ": not a regular file" +
                                (fs::is_directory(status) ? " (a folder)" : ""));
  }
  OIIO::TextureSystem& ts = texture_system();
  const OIIO::ustring name(path.string());
  // An image changed on disk since it was first read is read afresh.
  ts.invalidate(name, false);
  OIIO::ImageSpec spec;
  if (!ts.get_imagespec(name, 0, spec)) {
    throw PresetError(line, named(input) + ": " + first_reason(ts.geterror(), folder_));
  }
  if (spec.width > kMaxTextureSide || spec.height > kMaxTextureSide || spec.depth > 1) {
    throw PresetError(line, named(input) + ": " + std::to_string(spec.width) + " x " +
                                std::to_string(spec.height) + " texels, over the bound of " +
                                std::to_string(kMaxTextureSide) + " a side");
  }
  if (input.normal_map && spec.nchannels < 3) {
    throw PresetError(line, named(input) +
                                ": a normal map needs three channels, and this image "
                                "has " +
                                std::to_string(spec.nchannels));
  }
  if (input.srgb && spec.format.is_floating_point()) {
    throw PresetError(line, named(input) +
                                ": holds floats, which are taken as they are; srgb "
                                "decodes images of whole-number values");
  }
  Lookup l{&ts, ts.get_texture_handle(name), {}, std::min(spec.nchannels, 4), input, type};
  l.options.swrap = l.options.twrap = oiio_wrap(input.wrap);
  // Bilinear within a mip level: a lookup at a texel's centre with a
  // footprint of one texel gives that texel back.
  l.options.interpmode = OIIO::TextureOpt::InterpBilinear;
  if (input.normal_map) {
    l.channels = 3;
  }
  return [l](mi_state& state, void* value) {
    const Value v = look_up(l, surface_point(state));
    std::memcpy(value, v.data(), slot_size(l.type));
  };
}

std::vector<std::string> texture_names(const fs::path& folder) {
  const std::set<std::string> extensions = image_extensions();
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(folder, ec);
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it.depth() > 8) {
      it.disable_recursion_pending();
    }
    std::string extension = it->path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::error_code file_ec;
    if (!it->is_regular_file(file_ec) || extensions.count(extension) == 0) {
      continue;
    }
    // A link that leads out of the folder is not the folder's to offer.
    const fs::path real = fs::weakly_canonical(it->path(), file_ec);
    if (!file_ec && lies_inside(root, real)) {
      names.push_back(fs::relative(it->path(), root, file_ec).generic_string());
    }
    if (names.size() == kMaxListedTextures) {
      break;
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace strata::preview
