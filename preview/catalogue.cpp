#include "catalogue.h"

#include <string>
#include <utility>

#include "blend_modes.h"

namespace strata::preview {
namespace {

// Blend cells: the base runs dark to light across (u), the layer dark to
// light upward (v), each through a colour, so that every cell shows the mode
// over the whole range of base and layer values in each channel. The layer's
// alpha of 0.75 tells "over" (always weighted by it) from "replace".
constexpr const char* kBlendBase =
    "blendEnable = on\n"
    "baseColor = ramp(u, 0 0 0 1, 0.2 0.45 0.9 1, 1 1 1 1)\n"
    "layerColor = ramp(v, 0 0 0 0.75, 1 0.45 0.1 0.75, 1 1 1 0.75)\n";

// Correction cells: hues across, darkened downward by a multiply blend, so
// that a setting shows on every hue and value.
constexpr const char* kCorrectBase =
    "baseColor = ramp(u, 0.9 0.2 0.2 1, 0.9 0.9 0.2 1, 0.2 0.9 0.2 1, 0.2 0.9 0.9 1, "
    "0.2 0.2 0.9 1, 0.9 0.2 0.9 1, 0.9 0.2 0.2 1)\n"
    "blendEnable = on\n"
    "blendMode = 5\n"
    "layerColor = ramp(v, 0.15 0.15 0.15 1, 1 1 1 1)\n"
    "correctEnable = on\n";

// Normal cells: the combined normal returned as a vector and lit beside it.
constexpr const char* kNormalBase =
    "normalEnable = on\n"
    "outputNormal = on\n";

constexpr const char* kOneBump =
    "layerCount = 1\n"
    "layerEnable[0] = on\n"
    "layerNormal[0] = bump(5, 0.6)\n";

constexpr const char* kTwoBumps =
    "layerCount = 2\n"
    "layerEnable[0] = on\n"
    "layerNormal[0] = bump(3, 0.5)\n"
    "layerEnable[1] = on\n"
    "layerNormal[1] = bump(11, 0.35)\n";

Sheet blend_mode_sheet() {
  Sheet s{"blend-modes",
          "blend modes: base ramp across, layer ramp upward (alpha 0.75), amount 1",
          Shape::swatch,
          6,
          {}};
  for (const BlendModeEntry& m : kBlendModes) {
    const std::string number = std::to_string(static_cast<std::uint32_t>(m.mode));
    s.cells.push_back({number + " " + std::string(m.name),
                       parse_preset(std::string(kBlendBase) + "blendMode = " + number + "\n")});
  }
  return s;
}

Sheet color_correct_sheet() {
  Sheet s{"color-correct", "colour correction: hues across, value downward", Shape::swatch, 6, {}};
  const std::pair<const char*, const char*> settings[] = {
      {"neutral", ""},
      {"hue -0.5", "hueAdjust = -0.5"},
      {"hue +0.1", "hueAdjust = 0.1"},
      {"hue by noise", "hueAdjust = noise(4, -0.2, 0.2)"},
      {"saturation -0.5", "saturationAdjust = -0.5"},
      {"saturation -1", "saturationAdjust = -1"},
      {"saturation +0.5", "saturationAdjust = 0.5"},
      {"value -0.5", "valueAdjust = -0.5"},
      {"value +0.5", "valueAdjust = 0.5"},
      {"gamma 0.5", "gamma = 0.5"},
      {"gamma 2.2", "gamma = 2.2"},
      {"gamma ramp 0.4-2.5", "gamma = ramp(u, 0.4, 2.5)"},
      {"offset +0.1", "offset = 0.1"},
      {"offset -0.2", "offset = -0.2"},
      {"contrast 0", "contrast = 0"},
      {"contrast 0.5", "contrast = 0.5"},
      {"contrast 1.5", "contrast = 1.5"},
      {"sat +0.2, gamma 1.4, contrast 1.2", "saturationAdjust = 0.2\ngamma = 1.4\ncontrast = 1.2"},
  };
  for (const auto& [label, lines] : settings) {
    s.cells.push_back({label, parse_preset(std::string(kCorrectBase) + lines + "\n")});
  }
  return s;
}

Cell normal_cell(const char* label, const std::string& lines, bool normalize = true) {
  return {label, parse_preset(kNormalBase + lines + (normalize ? "normalizeNormal = on\n" : ""))};
}

Sheet normal_sheet() {
  Sheet s{"normals", "normal layering: combined normal as colour, and lit", Shape::sphere, 4, {}};
  const std::string one = kOneBump;
  const std::string two = kTwoBumps;
  s.cells = {
      normal_cell("incoming normal", "layerCount = 0\n"),
      normal_cell("bump", one),
      normal_cell("bump, weight 0.5", one + "layerWeight[0] = 0.5\n"),
      normal_cell("bump, mix 0.5", one + "normalMix = 0.5\n"),
      normal_cell("two bumps added", two),
      normal_cell("second at balance 0.25", two + "layerBalance[1] = 0.25\n"),
      normal_cell("second at balance 0.75", two + "layerBalance[1] = 0.75\n"),
      normal_cell("bump, scale -1", one + "normalScale = -1\n"),
      normal_cell("tilted toward +x",
                  "layerCount = 1\nlayerEnable[0] = on\nlayerNormal[0] = 1 0 0\n"),
      normal_cell("noise normals",
                  "layerCount = 1\nlayerEnable[0] = on\n"
                  "layerNormal[0] = noise(6, -0.7 -0.7 1, 0.7 0.7 1)\n"),
      normal_cell("bump, not normalised", one, false),
      {"bump as colour",
       parse_preset("normalEnable = on\nnormalAsColor = on\nnormalizeNormal = on\n" + one)},
  };
  return s;
}

}  // namespace

std::vector<Sheet> default_sheets() {
  return {blend_mode_sheet(), color_correct_sheet(), normal_sheet()};
}

}  // namespace strata::preview
