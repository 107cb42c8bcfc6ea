#include "catalogue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "blend_modes.h"
#include "fields.h"

namespace strata::preview {
namespace {

// The cells name the record's members, not their spellings: the one list of
// fields gives the field at a member's offset.
using Record = strataMix_params;
template <typename T>
using Slots = T[STRATAMIX_LAYER_SLOTS];

template <typename T>
Assignment setting(T Record::*member, std::optional<std::uint32_t> slot = std::nullopt) {
  const Record record{};
  const auto offset = reinterpret_cast<const unsigned char*>(&(record.*member)) -
                      reinterpret_cast<const unsigned char*>(&record);
  Assignment a;
  a.field = parameter_at(static_cast<std::uint32_t>(offset))->field;
  a.slot = slot;
  return a;
}

Assignment set(std::int32_t Record::*member, std::int32_t n) {
  Assignment a = setting(member);
  a.integer = n;
  return a;
}

Assignment on(std::int32_t Record::*member) { return set(member, 1); }

Assignment on(Slots<std::int32_t> Record::*member, std::uint32_t slot) {
  Assignment a = setting(member, slot);
  a.integer = 1;
  return a;
}

Assignment set(float Record::*member, float x) {
  Assignment a = setting(member);
  a.value = {x};
  return a;
}

Assignment set(Slots<float> Record::*member, std::uint32_t slot, float x) {
  Assignment a = setting(member, slot);
  a.value = {x};
  return a;
}

Assignment set(Slots<strataMix_vector> Record::*member, std::uint32_t slot, Value xyz) {
  Assignment a = setting(member, slot);
  a.value = xyz;
  return a;
}

template <typename T>
Assignment connect(T Record::*member, Pattern pattern,
                   std::optional<std::uint32_t> slot = std::nullopt) {
  Assignment a = setting(member, slot);
  a.pattern = std::move(pattern);
  return a;
}

constexpr int kAlongU = 0;
constexpr int kAlongV = 1;

Pattern ramp(int axis, std::vector<Value> stops) {
  Pattern p;
  p.kind = PatternKind::ramp;
  p.axis = axis;
  p.stops = std::move(stops);
  return p;
}

Pattern noise(float frequency, Value low, Value high) {
  Pattern p;
  p.kind = PatternKind::noise;
  p.frequency = frequency;
  p.stops = {low, high};
  return p;
}

Pattern bump(float frequency, float height) {
  Pattern p;
  p.kind = PatternKind::bump;
  p.frequency = frequency;
  p.height = height;
  return p;
}

using Settings = std::vector<Assignment>;

Preset joined(Settings first, const Settings& then) {
  first.insert(first.end(), then.begin(), then.end());
  return {std::move(first)};
}

}  // namespace

// Blend cells: the base runs dark to light across (u), the layer dark to
// light upward (v), each through a colour, so that every cell shows the mode
// over the whole range of base and layer values in each channel. The layer's
// alpha of 0.75 tells "over" (always weighted by it) from "replace". The two
// ramps themselves follow the modes, so that the sheet names what it blends.
Sheet blend_mode_sheet() {
  Sheet s{{},
          "blend modes: base ramp across, layer ramp upward (alpha 0.75), amount 1",
          Shape::swatch,
          6,
          {}};
  const Assignment base_ramp = connect(
      &Record::baseColor, ramp(kAlongU, {{0, 0, 0, 1}, {0.2f, 0.45f, 0.9f, 1}, {1, 1, 1, 1}}));
  const Assignment layer_ramp =
      connect(&Record::layerColor,
              ramp(kAlongV, {{0, 0, 0, 0.75f}, {1, 0.45f, 0.1f, 0.75f}, {1, 1, 1, 0.75f}}));
  const Settings base = {on(&Record::blendEnable), base_ramp, layer_ramp};
  for (const BlendModeEntry& m : kBlendModes) {
    const auto number = static_cast<std::int32_t>(m.mode);
    s.cells.push_back({std::to_string(number) + " " + std::string(m.name),
                       joined(base, {set(&Record::blendMode, number)})});
  }
  // Blending off shows the base; replace, without the alpha, the layer.
  s.cells.push_back({"base", {{base_ramp}}});
  s.cells.push_back(
      {"layer, alpha 0.75",
       joined(base, {set(&Record::blendMode, static_cast<std::int32_t>(BlendMode::replace))})});
  return s;
}

// Correction cells: hues across, darkened downward by a multiply blend, so
// that a setting shows on every hue and value.
Sheet color_correct_sheet() {
  Sheet s{{}, "colour correction: hues across, value downward", Shape::swatch, 6, {}};
  const Settings base = {
      connect(&Record::baseColor, ramp(kAlongU, {{0.9f, 0.2f, 0.2f, 1},
                                                 {0.9f, 0.9f, 0.2f, 1},
                                                 {0.2f, 0.9f, 0.2f, 1},
                                                 {0.2f, 0.9f, 0.9f, 1},
                                                 {0.2f, 0.2f, 0.9f, 1},
                                                 {0.9f, 0.2f, 0.9f, 1},
                                                 {0.9f, 0.2f, 0.2f, 1}})),
      on(&Record::blendEnable),
      set(&Record::blendMode, static_cast<std::int32_t>(BlendMode::multiply)),
      connect(&Record::layerColor, ramp(kAlongV, {{0.15f, 0.15f, 0.15f, 1}, {1, 1, 1, 1}})),
      on(&Record::correctEnable),
  };
  const std::pair<const char*, Settings> settings[] = {
      {"neutral", {}},
      {"hue -0.5", {set(&Record::hueAdjust, -0.5f)}},
      {"hue +0.1", {set(&Record::hueAdjust, 0.1f)}},
      {"hue by noise", {connect(&Record::hueAdjust, noise(4, {-0.2f}, {0.2f}))}},
      {"saturation -0.5", {set(&Record::saturationAdjust, -0.5f)}},
      {"saturation -1", {set(&Record::saturationAdjust, -1)}},
      {"saturation +0.5", {set(&Record::saturationAdjust, 0.5f)}},
      {"value -0.5", {set(&Record::valueAdjust, -0.5f)}},
      {"value +0.5", {set(&Record::valueAdjust, 0.5f)}},
      {"gamma 0.5", {set(&Record::gamma, 0.5f)}},
      {"gamma 2.2", {set(&Record::gamma, 2.2f)}},
      {"gamma ramp 0.4-2.5", {connect(&Record::gamma, ramp(kAlongU, {{0.4f}, {2.5f}}))}},
      {"offset +0.1", {set(&Record::offset, 0.1f)}},
      {"offset -0.2", {set(&Record::offset, -0.2f)}},
      {"contrast 0", {set(&Record::contrast, 0)}},
      {"contrast 0.5", {set(&Record::contrast, 0.5f)}},
      {"contrast 1.5", {set(&Record::contrast, 1.5f)}},
      {"sat +0.2, gamma 1.4, contrast 1.2",
       {set(&Record::saturationAdjust, 0.2f), set(&Record::gamma, 1.4f),
        set(&Record::contrast, 1.2f)}},
  };
  for (const auto& [label, cell] : settings) {
    s.cells.push_back({label, joined(base, cell)});
  }
  return s;
}

namespace {

// Normal cells: the combined normal returned as a vector and lit beside it.
Cell normal_cell(const char* label, const Settings& layers, bool normalize = true) {
  Settings settings = {on(&Record::normalEnable), on(&Record::outputNormal)};
  settings.insert(settings.end(), layers.begin(), layers.end());
  if (normalize) {
    settings.push_back(on(&Record::normalizeNormal));
  }
  return {label, {std::move(settings)}};
}

}  // namespace

Sheet normal_sheet() {
  Sheet s{{}, "normal layering: combined normal as colour, and lit", Shape::sphere, 4, {}};
  const Settings one = {
      set(&Record::layerCount, 1),
      on(&Record::layerEnable, 0),
      connect(&Record::layerNormal, bump(5, 0.6f), 0),
  };
  const Settings two = {
      set(&Record::layerCount, 2),
      on(&Record::layerEnable, 0),
      connect(&Record::layerNormal, bump(3, 0.5f), 0),
      on(&Record::layerEnable, 1),
      connect(&Record::layerNormal, bump(11, 0.35f), 1),
  };
  const auto with = [](Settings settings, const Assignment& more) {
    settings.push_back(more);
    return settings;
  };
  s.cells = {
      normal_cell("incoming normal", {set(&Record::layerCount, 0)}),
      normal_cell("bump", one),
      normal_cell("bump, weight 0.5", with(one, set(&Record::layerWeight, 0, 0.5f))),
      normal_cell("bump, mix 0.5", with(one, set(&Record::normalMix, 0.5f))),
      normal_cell("two bumps added", two),
      normal_cell("second at balance 0.25", with(two, set(&Record::layerBalance, 1, 0.25f))),
      normal_cell("second at balance 0.75", with(two, set(&Record::layerBalance, 1, 0.75f))),
      normal_cell("bump, scale -1", with(one, set(&Record::normalScale, -1))),
      normal_cell("tilted toward +x", {set(&Record::layerCount, 1), on(&Record::layerEnable, 0),
                                       set(&Record::layerNormal, 0, {1, 0, 0})}),
      normal_cell("noise normals",
                  {set(&Record::layerCount, 1), on(&Record::layerEnable, 0),
                   connect(&Record::layerNormal, noise(6, {-0.7f, -0.7f, 1}, {0.7f, 0.7f, 1}), 0)}),
      normal_cell("bump, not normalised", one, false),
      {"bump as colour",
       joined({on(&Record::normalEnable), on(&Record::normalAsColor), on(&Record::normalizeNormal)},
              one)},
  };
  return s;
}

Sheet make_sheet(const SheetEntry& entry) {
  Sheet s = entry.make();
  s.name = std::string(entry.name);
  return s;
}

std::vector<Sheet> default_sheets() {
  std::vector<Sheet> sheets;
  sheets.reserve(kSheets.size());
  for (const SheetEntry& entry : kSheets) {
    sheets.push_back(make_sheet(entry));
  }
  return sheets;
}

}  // namespace strata::preview
