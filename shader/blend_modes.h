// The blend modes: the record's numbers and their names, the one table that
// everything which prints or loops over modes reads.
#ifndef STRATAMIX_SHADER_BLEND_MODES_H
#define STRATAMIX_SHADER_BLEND_MODES_H

#include <array>
#include <cstdint>
#include <string_view>

namespace strata {

// The record's numbers; stored values never change meaning.
enum class BlendMode : std::uint32_t {
  over = 0,
  replace = 1,
  add = 2,
  add_clamped = 3,
  add_normalized = 4,
  multiply = 5,
  multiply_clamped = 6,
  linear_burn = 7,
  screen = 8,
  darken = 9,
  lighten = 10,
  difference = 11,
  average = 12,
  negation = 13,
  exclusion = 14,
  overlay = 15,
  hard_light = 16,
  soft_light = 17,
  color_dodge = 18,
  color_burn = 19,
  reflect = 20,
  glow = 21,
  linear_light = 22,
};

struct BlendModeEntry {
  BlendMode mode;
  std::string_view name;
};

// In number order: kBlendModes[n].mode is mode n.
inline constexpr std::array kBlendModes = {
    BlendModeEntry{BlendMode::over, "over"},
    BlendModeEntry{BlendMode::replace, "replace"},
    BlendModeEntry{BlendMode::add, "add"},
    BlendModeEntry{BlendMode::add_clamped, "add clamped"},
    BlendModeEntry{BlendMode::add_normalized, "add normalised"},
    BlendModeEntry{BlendMode::multiply, "multiply"},
    BlendModeEntry{BlendMode::multiply_clamped, "multiply clamped"},
    BlendModeEntry{BlendMode::linear_burn, "linear burn"},
    BlendModeEntry{BlendMode::screen, "screen"},
    BlendModeEntry{BlendMode::darken, "darken"},
    BlendModeEntry{BlendMode::lighten, "lighten"},
    BlendModeEntry{BlendMode::difference, "difference"},
    BlendModeEntry{BlendMode::average, "average"},
    BlendModeEntry{BlendMode::negation, "negation"},
    BlendModeEntry{BlendMode::exclusion, "exclusion"},
    BlendModeEntry{BlendMode::overlay, "overlay"},
    BlendModeEntry{BlendMode::hard_light, "hard light"},
    BlendModeEntry{BlendMode::soft_light, "soft light"},
    BlendModeEntry{BlendMode::color_dodge, "colour dodge"},
    BlendModeEntry{BlendMode::color_burn, "colour burn"},
    BlendModeEntry{BlendMode::reflect, "reflect"},
    BlendModeEntry{BlendMode::glow, "glow"},
    BlendModeEntry{BlendMode::linear_light, "linear light"},
};

constexpr std::uint32_t kBlendModeCount = kBlendModes.size();

constexpr bool modes_in_number_order() {
  for (std::uint32_t n = 0; n < kBlendModeCount; ++n) {
    if (static_cast<std::uint32_t>(kBlendModes[n].mode) != n) {
      return false;
    }
  }
  return true;
}
static_assert(modes_in_number_order(), "kBlendModes must list the modes by number");

// "soft light" for 17; empty for a number out of range.
constexpr std::string_view blend_mode_name(std::int64_t mode) {
  return mode >= 0 && mode < kBlendModeCount ? kBlendModes[static_cast<std::size_t>(mode)].name
                                             : std::string_view{};
}

}  // namespace strata

#endif  // STRATAMIX_SHADER_BLEND_MODES_H
