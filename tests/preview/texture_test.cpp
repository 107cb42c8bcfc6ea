// Textures through OpenImageIO: values at texel centres worked from the
// images the test writes (row 0 at v = 1), each wrap beyond 0..1, sRGB
// decoding, grey images, normal maps turned into the sample's frame, and
// the message each image that cannot be used gets.
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "preset.h"
#include "support.h"
#include "textures.h"

namespace strata::preview {
namespace {

namespace fs = std::filesystem;

fs::path scratch() {
  fs::path dir = fs::path(STRATAMIX_ACTUAL_DIR) / "textures" /
                 testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// A 4 x 2 RGB image, 8 bits, texel (x, y) = ((10x + 5y) / 255, x / 255, y / 255).
void write_ramp(const fs::path& path) {
  OIIO::ImageBuf image(OIIO::ImageSpec(4, 2, 3, OIIO::TypeDesc::UINT8));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      const float rgb[3] = {static_cast<float>(10 * x + 5 * y) / 255.0f,
                            static_cast<float>(x) / 255.0f, static_cast<float>(y) / 255.0f};
      image.setpixel(x, y, rgb);
    }
  }
  ASSERT_TRUE(image.write(path.string()));
}

Value look_up(const std::string& call, const fs::path& dir, const SurfacePoint& at,
              const std::string& target = "baseColor") {
  host::Host h;
  TextureFiles textures({dir});
  set_preview_defaults(&h.params());
  const Preset p = parse_preset(target + " = " + call);
  apply_preset(p, &h, &textures);
  host::Sample s = h.make_sample(kRayEye, at.normal);
  s.context = &at;
  const std::uint32_t offset =
      ParameterRef{p.assignments[0].field, p.assignments[0].slot.value_or(0)}.offset();
  Value out{};
  std::memcpy(out.data(), h.evaluate(s, reinterpret_cast<unsigned char*>(&h.params()) + offset),
              slot_size(field_type(*p.assignments[0].field)));
  return out;
}

TEST(Texture, TexelCentresAndWrapsGiveTheTexelsWorkedOut) {
  const fs::path dir = scratch();
  write_ramp(dir / "ramp.png");
  struct Row {
    const char* call;
    float u, v;
    int x, y;  // the texel expected; x -1 for black
    const char* edge;
  };
  const Row rows[] = {
      {"texture(\"ramp.png\")", 0.125f, 0.75f, 0, 0, "row 0 lies at the top, v = 1"},
      {"texture(\"ramp.png\")", 0.625f, 0.25f, 2, 1, "row 1 at the bottom"},
      {"texture(\"ramp.png\")", 1.125f, 0.75f, 0, 0, "periodic: u 1.125 is u 0.125"},
      {"texture(\"ramp.png\")", -0.125f, 0.75f, 3, 0, "periodic: u -0.125 is u 0.875"},
      {"texture(\"ramp.png\", clamp)", 1.625f, -0.25f, 3, 1, "clamp: the nearest edge texel"},
      {"texture(\"ramp.png\", mirror)", 1.125f, 0.75f, 3, 0, "mirror: u 1.125 is u 0.875"},
      {"texture(\"ramp.png\", black)", 1.125f, 0.75f, -1, 0, "black beyond 0..1"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.call) + ": " + r.edge);
    // A point lookup (no footprint) at a texel centre is that texel.
    // (OpenImageIO's 8-bit to float conversion may differ from c / 255 in
    // the last place.)
    const Value c = look_up(r.call, dir, SurfacePoint{r.u, r.v});
    const float red = r.x < 0 ? 0.0f : static_cast<float>(10 * r.x + 5 * r.y) / 255.0f;
    EXPECT_FLOAT_EQ(c[0], red);
    EXPECT_FLOAT_EQ(c[1], r.x < 0 ? 0.0f : static_cast<float>(r.x) / 255.0f);
    EXPECT_EQ(c[3], 1.0f) << "an RGB image has alpha 1, black beyond its edge too";
  }
}

TEST(Texture, SrgbDecodesStoredValuesAndFloatsTakeTheFirstChannel) {
  const fs::path dir = scratch();
  write_ramp(dir / "ramp.png");
  // sRGB's decoding: ((c + 0.055) / 1.055)^2.4 above 0.04045, c / 12.92 below.
  const float c = 35.0f / 255.0f;  // texel (3, 1)
  const Value srgb = look_up("texture(\"ramp.png\", srgb)", dir, SurfacePoint{0.875f, 0.25f});
  EXPECT_FLOAT_EQ(srgb[0], std::pow((c + 0.055f) / 1.055f, 2.4f));
  EXPECT_FLOAT_EQ(srgb[1], (3.0f / 255.0f) / 12.92f);
  EXPECT_EQ(srgb[3], 1.0f) << "alpha is not decoded";
  const Value gamma = look_up("texture(\"ramp.png\")", dir, SurfacePoint{0.875f, 0.25f}, "gamma");
  EXPECT_FLOAT_EQ(gamma[0], c) << "a float takes the red channel";
  // A grey image gives a grey colour of alpha 1.
  OIIO::ImageBuf grey(OIIO::ImageSpec(2, 2, 1, OIIO::TypeDesc::FLOAT));
  const float g = 0.3f;
  OIIO::ImageBufAlgo::fill(grey, &g);
  ASSERT_TRUE(grey.write((dir / "grey.exr").string()));
  const Value v = look_up("texture(\"grey.exr\")", dir, SurfacePoint{0.25f, 0.25f});
  EXPECT_EQ(v, (Value{0.3f, 0.3f, 0.3f, 1.0f}));
}

TEST(Texture, ANormalMapIsTurnedIntoTheSamplesFrame) {
  // One texel a map: c = (1, 0.5, 0.5) is +x in tangent space, the
  // tangent; (0.5, 1, 0.5) is +y, the bitangent, or minus it with y down.
  const fs::path dir = scratch();
  const auto write = [&](const char* name, std::array<float, 3> c) {
    OIIO::ImageBuf map(OIIO::ImageSpec(1, 1, 3, OIIO::TypeDesc::FLOAT));
    map.setpixel(0, 0, c.data());
    ASSERT_TRUE(map.write((dir / name).string()));
  };
  write("x.exr", {1.0f, 0.5f, 0.5f});
  write("y.exr", {0.5f, 1.0f, 0.5f});
  SurfacePoint at{0.5f, 0.5f};
  at.normal = {1.0f, 0.0f, 0.0f};
  at.tangent = {0.0f, 1.0f, 0.0f};
  at.bitangent = {0.0f, 0.0f, 1.0f};
  const std::string slot = "layerNormal[0]";
  EXPECT_EQ(look_up("normalmap(\"x.exr\")", dir, at, slot), (Value{0.0f, 1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(look_up("normalmap(\"y.exr\")", dir, at, slot), (Value{0.0f, 0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(look_up("normalmap(\"y.exr\", y down)", dir, at, slot),
            (Value{0.0f, 0.0f, -1.0f, 0.0f}));
}

TEST(Texture, ImagesThatCannotBeUsedAreNamedWithTheReason) {
  const fs::path dir = scratch();
  const fs::path inside = dir / "textures";
  fs::create_directories(inside / "folder.png");
  write_ramp(dir / "outside.png");
  write_ramp(inside / "ramp.png");
  fs::create_symlink(dir / "outside.png", inside / "link.png");
  std::ofstream(inside / "notes.png") << "not an image\n";
  OIIO::ImageBuf wide(OIIO::ImageSpec(kMaxTextureSide + 1, 1, 1, OIIO::TypeDesc::UINT8));
  ASSERT_TRUE(wide.write((inside / "wide.png").string()));
  OIIO::ImageBuf floats(OIIO::ImageSpec(1, 1, 3, OIIO::TypeDesc::FLOAT));
  ASSERT_TRUE(floats.write((inside / "floats.exr").string()));
  OIIO::ImageBuf one(OIIO::ImageSpec(1, 1, 1, OIIO::TypeDesc::UINT8));
  ASSERT_TRUE(one.write((inside / "one.png").string()));
  struct Row {
    const char* line;
    const char* message;
  };
  const Row rows[] = {
      {"baseColor = texture(\"missing.png\")",
       "line 1: texture \"missing.png\": Could not open file \"missing.png\""},
      {"baseColor = texture(\"notes.png\")", "line 1: texture \"notes.png\": Not a PNG file"},
      {"baseColor = texture(\"folder.png\")",
       "line 1: texture \"folder.png\": not a regular file (a folder)"},
      {"baseColor = texture(\"link.png\")",
       "line 1: texture \"link.png\": leads outside the textures folder"},
      {"baseColor = texture(\"../outside.png\")",
       "line 1: texture \"../outside.png\": leads outside the textures folder"},
      {"baseColor = texture(\"/etc/passwd\")",
       "line 1: texture \"/etc/passwd\": give a name inside the textures folder, not an "
       "absolute path"},
      {"baseColor = texture(\"wide.png\")",
       "line 1: texture \"wide.png\": 16385 x 1 texels, over the bound of 16384 a side"},
      {"layerNormal = normalmap(\"wide.png\")",
       "line 1: texture \"wide.png\": 16385 x 1 texels, over the bound of 16384 a side"},
      {"baseColor = texture(\"floats.exr\", srgb)",
       "line 1: texture \"floats.exr\": holds floats, which are taken as they are; srgb decodes "
       "images of whole-number values"},
      {"layerNormal = normalmap(\"one.png\")",
       "line 1: texture \"one.png\": a normal map needs three channels, and this image has 1"},
      {"\n\nbaseColor = texture(\"ramp.png\")\nlayerColor = texture(\"missing.png\")",
       "line 4: texture \"missing.png\": Could not open file \"missing.png\""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    host::Host h;
    TextureFiles textures({inside, true});
    try {
      apply_preset(parse_preset(r.line), &h, &textures);
      ADD_FAILURE() << "applied";
    } catch (const PresetError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message, r.message);
      EXPECT_EQ(message.find('\n'), std::string::npos) << "one line";
      EXPECT_EQ(message.find(inside.string()), std::string::npos)
          << "the server's folder is not told";
    }
  }
  const std::vector<std::string> names = texture_names(inside);
  EXPECT_EQ(names, (std::vector<std::string>{"floats.exr", "notes.png", "one.png", "ramp.png",
                                             "wide.png"}))
      << "regular image files only; no folder, no link out";
}

}  // namespace
}  // namespace strata::preview
