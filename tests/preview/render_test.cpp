// The preview renderer: where each pixel samples the surface, that every
// pixel holds the shader's own result, and that threads do not disturb one
// another.
#include "render.h"

#include <gtest/gtest.h>

#include <cstring>

#include "preset.h"
#include "scene_preset.h"
#include "scene_reader.h"
#include "support.h"

namespace strata::preview {
namespace {

using test::bits;

host::Host& preset_host(host::Host& h, const std::string& text) {
  set_preview_defaults(&h.params());
  apply_preset(parse_preset(text), &h);
  return h;
}

std::size_t pixel(const Frame& f, int x, int y) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width) +
         static_cast<std::size_t>(x);
}

TEST(Render, SwatchPixelsSampleTheirCentres) {
  // A 4 x 4 swatch at one sample per pixel: u is (x + 0.5) / 4 across and v
  // is 1 - (y + 0.5) / 4 down the rows, exact in binary.
  host::Host h;
  preset_host(h,
              "baseColor = ramp(u, 0 0 0 1, 1 1 1 1)\nlayerColor = ramp(v, 0 0 0 1, 1 1 1 1)\n"
              "blendEnable = on\nblendMode = 1\n");
  const Frame f = render_frame(h, test::plugin().shader(), {4, 4, Shape::swatch, 1}, 2);
  const float centres[] = {0.125f, 0.375f, 0.625f, 0.875f};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      SCOPED_TRACE("pixel " + std::to_string(x) + ", " + std::to_string(y));
      // replace: the layer's value, which is v.
      EXPECT_EQ(f.result[pixel(f, x, y) * 4], centres[3 - y]);
      EXPECT_EQ(f.coverage[pixel(f, x, y)], 1.0f);
    }
  }
  h.params().blendEnable = 0;
  const Frame base = render_frame(h, test::plugin().shader(), {4, 4, Shape::swatch, 1}, 2);
  for (int x = 0; x < 4; ++x) {
    SCOPED_TRACE("column " + std::to_string(x));
    EXPECT_EQ(base.result[pixel(base, x, 1) * 4], centres[x]) << "the base's value, u";
  }
  EXPECT_EQ(base.samples, 16u);
}

TEST(Render, EveryPixelHoldsTheShadersResultBitForBit) {
  // Overlay of a fixed layer over a fixed base, as one direct call gives it.
  host::Host h;
  preset_host(h,
              "baseColor = 0.8 0.3 0.6 1\nlayerColor = 0.4 0.7 0.2 0.5\nblendEnable = on\n"
              "blendMode = 15\nblendAmount = 0.7\ncorrectEnable = on\ngamma = 1.3\n");
  host::Sample s = h.make_sample(0, {0, 0, 1});
  strataMix_result direct{};
  test::plugin().shader()(&direct, &s.state, &h.params());
  const Frame f = render_frame(h, test::plugin().shader(), {8, 8, Shape::swatch, 1}, 3);
  for (std::size_t p = 0; p < 64; ++p) {
    SCOPED_TRACE("pixel " + std::to_string(p));
    EXPECT_EQ(bits(f.result[p * 4 + 0]), bits(direct.outColor.r));
    EXPECT_EQ(bits(f.result[p * 4 + 1]), bits(direct.outColor.g));
    EXPECT_EQ(bits(f.result[p * 4 + 2]), bits(direct.outColor.b));
    EXPECT_EQ(bits(f.result[p * 4 + 3]), bits(direct.outColor.a));
  }
}

// A scene's instance renders as the preset made of it: the record the scene
// gives (0 where it leaves a parameter out), with the preview's neutral
// value, written out by hand here, or the stand-in pattern where it is
// connected.
TEST(Render, ASceneInstanceRendersAsThePresetMadeOfIt) {
  scene::DiskFiles disk;
  scene::ReadOptions options;
  options.include_dirs = {STRATAMIX_SHADER_DIR};
  const scene::Scene looks = scene::read_scene(STRATAMIX_SCENES "/looks.mi", disk, options);
  ASSERT_EQ(looks.instances.size(), 3u);
  ASSERT_EQ(looks.summary.errors, 0u);
  const ParameterRef layer_color = *parse_declared_name("layerColor");
  const ParameterRef blend_amount = *parse_declared_name("blendAmount");
  const struct {
    const char* what;
    const scene::Instance& instance;
    std::vector<StandIn> stand_ins;
    // What the record holds beside the scene's values, as a preset.
    const char* connected;
  } rows[] = {
      {"rust_layer: layerColor connected, neutral white",
       looks.instances[0],
       {},
       "layerColor = 1 1 1 1\n"},
      {"rust_layer: layerColor stood in for by a checker",
       looks.instances[0],
       {{layer_color, "checker(6)"}},
       "layerColor = checker(6)\n"},
      {"panel_normals: nothing connected", looks.instances[1], {}, ""},
      {"panel_look: baseColor and blendAmount through the interface",
       looks.instances[2],
       {{blend_amount, "checker(4)"}},
       "baseColor = 0.5 0.5 0.5 1\nblendAmount = checker(4)\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    host::Host by_hand;
    by_hand.params() = scene::instance_record(row.instance);
    apply_preset(parse_preset(row.connected), &by_hand);
    host::Host converted;
    preset_host(converted, instance_preset(row.instance, "looks.mi:1", row.stand_ins));
    if (row.stand_ins.empty()) {
      // A pattern's parameter is evaluated, never read in place: only the
      // pixels tell.
      EXPECT_EQ(std::memcmp(&by_hand.params(), &converted.params(), sizeof(strataMix_params)),
                0);
    }
    for (const Shape shape : {Shape::swatch, Shape::sphere}) {
      const View view{12, 12, shape, 1};
      const Frame a = render_frame(by_hand, test::plugin().shader(), view, 2);
      const Frame b = render_frame(converted, test::plugin().shader(), view, 2);
      ASSERT_EQ(a.result.size(), b.result.size());
      EXPECT_EQ(std::memcmp(a.result.data(), b.result.data(), a.result.size() * sizeof(float)), 0);
      EXPECT_EQ(a.normal, b.normal);
    }
  }
}

TEST(Render, ThreadCountDoesNotChangeTheFrame) {
  // One shared record and connection table, one Sample per thread: 1 and 4
  // threads must give the same bits everywhere.
  host::Host h;
  preset_host(h,
              "normalEnable = on\nnormalizeNormal = on\nlayerCount = 2\nlayerEnable = on\n"
              "layerNormal[0] = bump(4, 0.5)\nlayerNormal[1] = noise(3, -1 -1 1, 1 1 1)\n"
              "layerBalance[1] = 0.3\nbaseColor = noise(5, 0 0 0 1, 1 1 1 1)\n"
              "blendEnable = on\nblendMode = 17\nlayerColor = checker(6)\n");
  const View view{48, 40, Shape::sphere, 2};
  const Frame one = render_frame(h, test::plugin().shader(), view, 1);
  const Frame four = render_frame(h, test::plugin().shader(), view, 4);
  ASSERT_EQ(one.result.size(), four.result.size());
  for (std::size_t i = 0; i < one.result.size(); ++i) {
    ASSERT_EQ(bits(one.result[i]), bits(four.result[i])) << "result word " << i;
  }
  for (std::size_t i = 0; i < one.normal.size(); ++i) {
    ASSERT_EQ(bits(one.normal[i]), bits(four.normal[i])) << "normal word " << i;
  }
  EXPECT_EQ(one.samples, four.samples);
}

TEST(Render, SphereCoversItsDiscAndFacesTheViewerAtTheCentre) {
  host::Host h;
  preset_host(h, "normalEnable = on\noutputNormal = on\n");
  const Frame f = render_frame(h, test::plugin().shader(), {9, 9, Shape::sphere, 1}, 2);
  EXPECT_EQ(f.kind, ResultKind::normal_vector);
  EXPECT_EQ(f.coverage[pixel(f, 0, 0)], 0.0f) << "corner";
  EXPECT_EQ(f.coverage[pixel(f, 4, 4)], 1.0f) << "centre";
  // The centre pixel's sample lies at the sphere's front: normal (0, 0, 1),
  // returned as (x, y, z, 1) since the normal stage ran without layers.
  EXPECT_EQ(f.result[pixel(f, 4, 4) * 4 + 2], 1.0f);
  EXPECT_EQ(f.result[pixel(f, 4, 4) * 4 + 3], 1.0f);
  // Top row centre: y = 1 - 1/9, the normal points up.
  EXPECT_EQ(f.result[pixel(f, 4, 0) * 4 + 1], 1.0f - 1.0f / 9.0f);
  // One sample per pixel: a shader call for each covered pixel.
  std::uint64_t covered = 0;
  for (float c : f.coverage) {
    covered += c > 0 ? 1 : 0;
  }
  EXPECT_EQ(f.samples, covered);
}

TEST(Render, TheCombinedNormalIsKeptForLighting) {
  // One layer (1, 0, 0) at weight 1 and balance 0.5 over (0, 0, 1),
  // normalised: (0.70710677, 0, 0.70710677). The colour path still runs, so
  // the result is a colour and the normal is the state's after the call.
  host::Host h;
  preset_host(h,
              "normalEnable = on\nnormalizeNormal = on\nlayerCount = 1\nlayerEnable[0] = on\n"
              "layerNormal[0] = 1 0 0\nbaseColor = 0.1 0.2 0.3 1\n");
  const Frame f = render_frame(h, test::plugin().shader(), {2, 2, Shape::swatch, 1}, 1);
  EXPECT_EQ(f.kind, ResultKind::color);
  EXPECT_TRUE(f.normal_stage);
  EXPECT_EQ(bits(f.normal[0]), 0x3f3504f3u);  // 0.70710677
  EXPECT_EQ(bits(f.normal[1]), 0u);
  EXPECT_EQ(bits(f.normal[2]), 0x3f3504f3u);
  EXPECT_EQ(f.result[2], 0.3f);
}

TEST(Render, TheExitIsTheOneThePluginTakes) {
  struct Row {
    int normal_enable, output_normal, normal_as_color, skip_photons, skip_reflections;
    std::int32_t ray_type;
    int blend_mode;  // blending on with this mode, or -1 for blending off
    ResultKind kind;
    bool normal_stage;
    const char* edge;
  };
  const Row rows[] = {
      {0, 1, 1, 0, 0, kRayEye, -1, ResultKind::color, false,
       "normal stage off: the switches after it do not count"},
      {1, 1, 1, 0, 0, kRayEye, -1, ResultKind::normal_vector, true,
       "outputNormal wins over normalAsColor"},
      {1, 0, 1, 0, 0, kRayEye, -1, ResultKind::normal_color, true, "the normal in outColor"},
      {1, 0, 0, 0, 0, kRayEye, -1, ResultKind::color, true, "the colour path after the normal"},
      {1, 1, 0, 1, 0, 9, -1, ResultKind::normal_vector, false,
       "photon gate: the incoming normal in outNormal"},
      {1, 0, 1, 1, 0, 20, -1, ResultKind::color, false,
       "final-gather gate: the base colour, whatever normalAsColor says"},
      {1, 0, 0, 0, 1, 3, -1, ResultKind::color, false, "refraction gate: the base colour"},
      {1, 0, 0, 2, 0, 9, -1, ResultKind::color, true, "a gate is on only at exactly 1"},
      {0, 0, 0, 1, 1, 2, -1, ResultKind::color, false, "no gate without the normal stage"},
      {1, 0, 0, 0, 0, kRayEye, 23, ResultKind::color, true, "a mode out of range: base colour"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.edge);
    host::Host h;
    preset_host(h, "");
    strataMix_params& p = h.params();
    p.normalEnable = r.normal_enable;
    p.outputNormal = r.output_normal;
    p.normalAsColor = r.normal_as_color;
    p.skipPhotons = r.skip_photons;
    p.skipReflections = r.skip_reflections;
    p.blendEnable = r.blend_mode >= 0 ? 1 : 0;
    p.blendMode = r.blend_mode;
    const Exit exit = probe_exit(h, test::plugin().shader(), r.ray_type);
    EXPECT_EQ(exit.kind, r.kind);
    EXPECT_EQ(exit.normal_stage, r.normal_stage);
    // The frame of a render with that ray follows the probe.
    const Frame f =
        render_frame(h, test::plugin().shader(), {2, 2, Shape::swatch, 1, r.ray_type}, 1);
    EXPECT_EQ(f.kind, r.kind);
    EXPECT_EQ(f.normal_stage, r.normal_stage);
  }
}

TEST(Render, TheMeterCountsEverySample) {
  host::Host h;
  preset_host(h, "baseColor = noise(4)\n");
  const View view{64, 64, Shape::swatch, 3};
  ProgressMeter meter(std::uint64_t{64} * 64 * 9);
  const Frame f = render_frame(h, test::plugin().shader(), view, 2, &meter);
  EXPECT_EQ(meter.done(), meter.total());
  EXPECT_EQ(f.samples, meter.total());
}

}  // namespace
}  // namespace strata::preview
