// Preview presets: what each line sets in the record, the message each bad
// line gets, and connected patterns evaluated by the shader through
// mi_phen_eval.
#include "preset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "scene_preset.h"
#include "scene_reader.h"
#include "support.h"

namespace strata::preview {
namespace {

using test::bits;

strataMix_params applied(const std::string& text) {
  host::Host h;
  set_preview_defaults(&h.params());
  apply_preset(parse_preset(text), &h);
  return h.params();
}

TEST(Preset, ValuesLandInTheirFields) {
  const strataMix_params p = applied(
      "# a comment line\n"
      "\n"
      "blendEnable = on\n"
      "blendMode = 15          # overlay\n"
      "layerColor = 1 0.5 0 0.25\r\n"
      "baseColor = 0.2 0.4 0.6\n"
      "layerWeight[2] = 0.75\n"
      "layerBalance = 0.25\n"
      "layerNormal[7] = 1 -2 3\n"
      "offset = -0\n"
      "skipPhotons = -7\n"
      "normalizeNormal = off\n");
  EXPECT_EQ(p.blendEnable, 1);
  EXPECT_EQ(p.blendMode, 15);
  EXPECT_EQ(p.skipPhotons, -7) << "integers keep their sign";
  EXPECT_EQ(p.normalizeNormal, 0);
  EXPECT_EQ(p.layerColor.r, 1.0f);
  EXPECT_EQ(p.layerColor.g, 0.5f);
  EXPECT_EQ(p.layerColor.b, 0.0f);
  EXPECT_EQ(p.layerColor.a, 0.25f) << "a CR before the newline is not part of the value";
  EXPECT_EQ(p.baseColor.b, 0.6f);
  EXPECT_EQ(p.baseColor.a, 1.0f) << "a colour given as 3 numbers has alpha 1";
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE("slot " + std::to_string(i));
    EXPECT_EQ(p.layerWeight[i], i == 2 ? 0.75f : 1.0f) << "only slot 2 is set";
    EXPECT_EQ(p.layerBalance[i], 0.25f) << "a bare array name sets every slot";
  }
  EXPECT_EQ(p.layerNormal[7].y, -2.0f);
  EXPECT_EQ(p.layerNormal[6].z, 1.0f) << "other slots keep the default normal";
  EXPECT_EQ(bits(p.offset), 0x80000000u) << "-0 stays negative zero";
  EXPECT_EQ(p.gamma, 1.0f) << "untouched fields keep the preview's defaults";
}

TEST(Preset, BadLinesAreNamedWithTheirProblem) {
  using namespace std::string_view_literals;
  struct Row {
    std::string_view text;
    const char* message;
  };
  const Row rows[] = {
      {"blendMod = 15", "line 1: unknown parameter 'blendMod'"},
      {"\n\nblendMode 15", "line 3: expected 'name = value'"},
      {"= 1", "line 1: missing the parameter's name before '='"},
      {"gamma =", "line 1: missing the value of gamma"},
      {"blendMode = 1.5",
       "line 1: blendMode is an integer: '1.5' is not an integer (nor on or off)"},
      {"blendMode = 1 2", "line 1: blendMode is an integer: expected 1 value, got 2"},
      {"layerCount = 3000000000", "line 1: '3000000000' is out of range for a 32-bit integer"},
      {"gamma = 1e39", "line 1: '1e39' is out of range for a float"},
      {"gamma = two", "line 1: 'two' is not a number"},
      {"gamma = 1 2", "line 1: gamma is a float: expected 1 number, got 2"},
      {"layerColor = 1 0", "line 1: layerColor is a colour: expected 3 or 4 numbers, got 2"},
      {"layerNormal[0] = 1 0", "line 1: layerNormal[0] is a vector: expected 3 numbers, got 2"},
      {"layerWeight[8] = 1", "line 1: 'layerWeight[8]': the slot must be a number from 0 to 7"},
      {"layerWeight[x] = 1", "line 1: 'layerWeight[x]': the slot must be a number from 0 to 7"},
      {"gamma[0] = 1", "line 1: gamma is not a layer array and has no slots"},
      {"gamma = 2\ncontrast = 1\ngamma = 3", "line 3: gamma is already set on line 1"},
      {"layerWeight = 1\nlayerWeight[5] = 0", "line 2: layerWeight[5] is already set on line 1"},
      {"baseColor = marble(3)", "line 1: unknown pattern 'marble' (checker, ramp, noise, bump)"},
      {"blendMode = checker(2)",
       "line 1: blendMode is an integer: only colour, vector and float parameters can be "
       "connected"},
      {"baseColor = bump(4, 0.5)",
       "line 1: baseColor is a colour: bump yields a normal and connects only to a vector"},
      {"baseColor = checker(4", "line 1: checker(...): missing ')' at the end"},
      {"baseColor = checker()", "line 1: checker(...): missing arguments"},
      {"baseColor = checker(0)",
       "line 1: checker(...): the frequency must lie in (0, 10000], not 0"},
      {"baseColor = checker(nan)",
       "line 1: checker(...): the frequency must lie in (0, 10000], not nan"},
      {"baseColor = checker(4, 1 0 0 1)",
       "line 1: checker(...): expected (frequency) or (frequency, value, value)"},
      {"baseColor = checker(4, 1 0 0 1, 0 1)",
       "line 1: baseColor is a colour: expected 3 or 4 numbers, got 2"},
      {"gamma = ramp(w)", "line 1: ramp(...): the first argument is the axis, u or v, not 'w'"},
      {"gamma = ramp(u, 2)", "line 1: ramp(...): a ramp needs at least two values"},
      {"layerNormal[0] = bump(4)", "line 1: bump(...): expected (frequency, height)"},
      {"layerNormal[0] = bump(4, inf)", "line 1: bump(...): the height must be finite"},
      {"blendMode = texture(\"a.png\")",
       "line 1: blendMode is an integer: only colour, vector and float parameters can be "
       "connected"},
      {"layerNormal[1] = texture(\"a.png\")",
       "line 1: layerNormal[1] is a vector: texture() connects colours and floats; a normal map "
       "connects through normalmap()"},
      {"baseColor = normalmap(\"n.png\")",
       "line 1: baseColor is not a vector: normalmap() yields a normal and connects only to a "
       "vector (texture() connects colours and floats)"},
      {"baseColor = texture(a.png)",
       "line 1: texture(...): the path comes first, in double quotes"},
      {"baseColor = texture(\"a.png)", "line 1: texture(...): missing the '\"' that ends the path"},
      {"baseColor = texture(\"\")", "line 1: texture(...): the path is empty"},
      {"baseColor = texture(\"a.png\" clamp)",
       "line 1: texture(...): expected ',' or ')' after the path"},
      {"baseColor = texture(\"a.png\", clamp", "line 1: texture(...): missing ')' at the end"},
      {"baseColor = texture(\"a.png\", wood)",
       "line 1: texture(...): 'wood' is neither a wrap (periodic, clamp, black, mirror) nor a "
       "colour space (linear, srgb)"},
      {"baseColor = texture(\"a.png\", clamp, mirror)",
       "line 1: texture(...): the wrap is given twice"},
      {"baseColor = texture(\"a.png\", srgb, linear)",
       "line 1: texture(...): the colour space is given twice"},
      {"layerNormal = normalmap(\"n.png\", srgb)",
       "line 1: normalmap(...): 'srgb' is neither a wrap (periodic, clamp, black, mirror) nor y "
       "up or y down"},
      {"layerNormal = normalmap(\"n.png\", y sideways)",
       "line 1: normalmap(...): 'y sideways' is neither a wrap (periodic, clamp, black, mirror) "
       "nor y up or y down"},
      {"layerNormal = normalmap(\"n.png\", y up, y down)",
       "line 1: normalmap(...): the y direction is given twice"},
      {"gamma = texture(\"a.png\") 2", "line 1: texture(...): unexpected text after ')'"},
      // A byte-order mark at the start is skipped; anywhere else it is text.
      {"\xEF\xBB\xBF"
       "blendMod = 15",
       "line 1: unknown parameter 'blendMod'"},
      {"gamma = 2\n\xEF\xBB\xBFgamma = 3", "line 2: unknown parameter '\xEF\xBB\xBFgamma'"},
      // CR, LF and CRLF each end one line.
      {"gamma = 2\rblendMod = 15", "line 2: unknown parameter 'blendMod'"},
      {"gamma = 2\r\n\r\nblendMod = 15", "line 3: unknown parameter 'blendMod'"},
      {"gamma = 2\n\rblendMod = 15", "line 3: unknown parameter 'blendMod'"},
      // A NUL byte, in a value or in a comment.
      {"gamma = 2\n  ga\0mma = 3"sv, "line 2: column 5: a NUL byte, which a preset cannot hold"},
      {"# a NUL \0\ngamma = 2"sv, "line 1: column 9: a NUL byte, which a preset cannot hold"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    try {
      parse_preset(r.text);
      ADD_FAILURE() << "accepted";
    } catch (const PresetError& e) {
      EXPECT_EQ(std::string(e.what()), r.message);
    }
  }
}

TEST(Preset, TextureCallsReadTheirPathWrapAndColourSpace) {
  struct Row {
    const char* line;
    const char* path;
    TextureWrap wrap;
    bool srgb, normal_map, y_down;
    const char* written;  // as texture_call_text writes it back
  };
  const Row rows[] = {
      {"baseColor = texture(\"wood.png\")", "wood.png", TextureWrap::periodic, false, false, false,
       "texture(\"wood.png\", periodic, linear)"},
      {"baseColor = texture( \"a b#c.png\" , clamp , srgb ) # a '#' in quotes is the path's",
       "a b#c.png", TextureWrap::clamp, true, false, false, "texture(\"a b#c.png\", clamp, srgb)"},
      {"gamma = texture(\"m.exr\", srgb, mirror)", "m.exr", TextureWrap::mirror, true, false, false,
       "texture(\"m.exr\", mirror, srgb)"},
      {"layerNormal[2] = normalmap(\"n\\\"q.png\", black, y   down)", "n\"q.png",
       TextureWrap::black, false, true, true, "normalmap(\"n\\\"q.png\", black, y down)"},
      {"layerNormal = normalmap(\"n.png\", y up)", "n.png", TextureWrap::periodic, false, true,
       false, "normalmap(\"n.png\", periodic, y up)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    const Preset p = parse_preset(r.line);
    ASSERT_EQ(p.assignments.size(), 1u);
    ASSERT_TRUE(p.assignments[0].texture.has_value());
    const TextureInput& t = *p.assignments[0].texture;
    EXPECT_EQ(t.path, r.path);
    EXPECT_EQ(t.wrap, r.wrap);
    EXPECT_EQ(t.srgb, r.srgb);
    EXPECT_EQ(t.normal_map, r.normal_map);
    EXPECT_EQ(t.y_down, r.y_down);
    EXPECT_EQ(texture_call_text(t), r.written);
    // What is written back reads back the same.
    const std::string target(r.line, std::string_view(r.line).find('=') + 2);
    const TextureInput again = *parse_preset(target + r.written).assignments[0].texture;
    EXPECT_EQ(again.path, t.path);
    EXPECT_EQ(texture_call_text(again), r.written);
  }
  // Read without an image reader, a texture cannot be connected.
  host::Host h;
  try {
    apply_preset(parse_preset("gamma = 1\nbaseColor = texture(\"wood.png\")"), &h);
    ADD_FAILURE() << "applied";
  } catch (const PresetError& e) {
    EXPECT_EQ(std::string(e.what()),
              "line 2: a texture needs the preview's image reader, which this tool lacks");
  }
}

TEST(Preset, TheExamplePresetsParse) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(STRATAMIX_EXAMPLE_PRESETS)) {
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path());
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_NO_THROW(parse_preset(text.str()));
    ++count;
  }
  EXPECT_GE(count, 2);
}

// One shader call at (u, v) on a flat surface, as the preview makes it.
strataMix_result shade_at(host::Host& h, float u, float v) {
  host::Sample s = h.make_sample(0, {0.0f, 0.0f, 1.0f});
  const SurfacePoint at{u, v};
  s.context = &at;
  strataMix_result r{};
  test::plugin().shader()(&r, &s.state, &h.params());
  return r;
}

// A scene's instance as a preset: lines of it, worked out from the scene's
// text (tests/scene/looks.mi); a pattern stands in where one is given.
TEST(Preset, ASceneInstanceWritesEveryParameterOut) {
  scene::MemoryFiles memory;
  memory.add("s.mi",
             "shader \"rust\" \"strataMix\" ( \"baseColor\" 0.45 0.3 0.2, \"gamma\" 2.2,\n"
             "  \"layerColor\" = \"tex.outColor\", \"layerWeight3\" -0.5, \"blendMode\" 15,\n"
             "  \"layerNormal1\" = \"bump\" )\n"
             "shader \"tex\" \"t\" ()\nshader \"bump\" \"b\" ()\n");
  const scene::Scene scene = scene::read_scene("s.mi", memory, {});
  ASSERT_EQ(scene.instances.size(), 1u);
  const std::string text = instance_preset(
      scene.instances[0], "s.mi:1:1", {{*parse_declared_name("layerNormal1"), "bump(6, 0.4)"}});
  EXPECT_EQ(connected_parameters(scene.instances[0]),
            (std::vector<std::string>{"layerColor = 'tex.outColor'", "layerNormal1 = 'bump'"}));
  for (const char* line : {
           "# strataMix instance \"rust\", from s.mi:1:1\n",
           "\nbaseColor = 0.45 0.3 0.2 1\n",
           "\nnormalEnable = off\n",
           "\nlayerNormal[0] = 0 0 0\n",
           "\nlayerNormal[1] = bump(6, 0.4)  # in the scene connected to 'bump'\n",
           "\nnormalMix = 0\n",
           "\nlayerWeight[3] = -0.5\n",
           "\nlayerBalance[7] = 0\n",
           "\nlayerColor = 1 1 1 1  # the preview's neutral value: in the scene connected to "
           "'tex.outColor'\n",
           "\nblendMode = 15\n",
           "\ngamma = 2.2\n",
           "\ncontrast = 0\n",
           "\noutputNormal = off\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  // Two comment lines, then one line a parameter or slot: 22 fields and 4
  // arrays of 8.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 22 + 4 * 8);
  const strataMix_params record = applied(text);
  EXPECT_EQ(bits(record.layerWeight[3]), bits(-0.5f));
  EXPECT_EQ(bits(record.normalScale), bits(0.0f));
}

// The pictures of a scene's instances: names made safe, and unique also
// where letter case does not count.
TEST(Preset, PictureNamesAreSafeAndUnique) {
  EXPECT_EQ(
      picture_names({"rust_layer", "../etc/passwd", "a b", "", "Rust_Layer", "rust_layer",
                     "rust_layer-2", std::string(70, 'x'), "caf\xC3\xA9"}),
      (std::vector<std::string>{"rust_layer", "___etc_passwd", "a_b", "instance", "Rust_Layer-2",
                                "rust_layer-3", "rust_layer-2-2", std::string(64, 'x'), "caf__"}));
}

TEST(Preset, ConnectedPatternsAreEvaluatedPerSample) {
  host::Host h;
  set_preview_defaults(&h.params());
  apply_preset(parse_preset("baseColor = checker(2, 0 0 0 1, 1 0.5 0.25 1)\n"), &h);
  // The record keeps the default; the value comes through mi_phen_eval.
  EXPECT_EQ(h.params().baseColor.r, 0.5f);
  const strataMix_result dark = shade_at(h, 0.1f, 0.1f);
  const strataMix_result light = shade_at(h, 0.6f, 0.1f);
  EXPECT_EQ(dark.outColor.r, 0.0f);
  EXPECT_EQ(dark.outColor.a, 1.0f);
  EXPECT_EQ(light.outColor.r, 1.0f);
  EXPECT_EQ(light.outColor.g, 0.5f);
  EXPECT_EQ(light.outColor.b, 0.25f);
}

TEST(Preset, AConnectedFloatFeedsTheShadersArithmetic) {
  // offset = ramp(u, 0, 1) over a black base: the offset is added to every
  // channel, so each channel equals u, and alpha 1 + u.
  host::Host h;
  set_preview_defaults(&h.params());
  apply_preset(parse_preset("baseColor = 0 0 0 1\ncorrectEnable = on\noffset = ramp(u, 0, 1)\n"),
               &h);
  const strataMix_result r = shade_at(h, 0.25f, 0.9f);
  EXPECT_EQ(r.outColor.r, 0.25f);
  EXPECT_EQ(r.outColor.b, 0.25f);
  EXPECT_EQ(r.outColor.a, 1.25f);
}

TEST(Preset, AConnectedLayerNormalSeesTheIncomingNormal) {
  // A bump of height 0 hands back the state's normal as the layer normal;
  // with weight 1 and balance 0.5 the average of two equal normals is that
  // normal again.
  host::Host h;
  set_preview_defaults(&h.params());
  apply_preset(parse_preset("normalEnable = on\noutputNormal = on\nlayerCount = 1\n"
                            "layerEnable[0] = on\nlayerNormal[0] = bump(3, 0)\n"),
               &h);
  host::Sample s = h.make_sample(0, {0.6f, 0.0f, 0.8f});
  strataMix_result r{};
  test::plugin().shader()(&r, &s.state, &h.params());
  EXPECT_NEAR(r.outNormal.x, 0.6f, 1e-6f);
  EXPECT_NEAR(r.outNormal.y, 0.0f, 1e-6f);
  EXPECT_NEAR(r.outNormal.z, 0.8f, 1e-6f);
}

}  // namespace
}  // namespace strata::preview
