// The blend modes: the record's numbers, their names and formulas, the one
// table that everything which prints, describes or loops over modes reads.
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
  std::string_view identifier;  // the enum's spelling: "soft_light"
  std::string_view name;        // as menus and labels show it: "soft light"
  // a the base's channel, b the layer's, t the amount; the layer-alpha and
  // amount mixes follow every formula.
  std::string_view formula;
  // Whether the mode takes a channel through the C library's pow, whose last
  // bit each platform rounds its own way. The squares of soft light, reflect
  // and glow are written as pow(x, 2), which the compiler folds into the
  // exact product; the pow count test holds this column to the plug-in.
  bool calls_pow;
  // Whether the amount enters the formula itself, as well as the amount mix.
  bool amount_in_formula;
};

#define STRATAMIX_MODE(mode, name, formula, pow, amount) \
  BlendModeEntry { BlendMode::mode, #mode, name, formula, pow, amount }

// In number order: kBlendModes[n].mode is mode n.
inline constexpr std::array kBlendModes = {
    STRATAMIX_MODE(over, "over", "b, always mixed by the layer's alpha", false, false),
    STRATAMIX_MODE(replace, "replace", "b", false, false),
    STRATAMIX_MODE(add, "add", "a + b", false, false),
    STRATAMIX_MODE(add_clamped, "add clamped", "a + b, clamped to [0, 1]", false, false),
    STRATAMIX_MODE(add_normalized, "add normalised",
                   "a + b; red, green and blue divided by the largest when one exceeds 1", false,
                   false),
    STRATAMIX_MODE(multiply, "multiply", "a b", false, false),
    STRATAMIX_MODE(multiply_clamped, "multiply clamped", "a b, clamped to [0, 1]", false, false),
    STRATAMIX_MODE(linear_burn, "linear burn", "(b t + a) - 1", false, true),
    STRATAMIX_MODE(screen, "screen", "(1 - (1 - a)(1 - b)) t", false, true),
    STRATAMIX_MODE(darken, "darken", "a if a < b, otherwise b", false, false),
    STRATAMIX_MODE(lighten, "lighten", "a if a > b, otherwise b", false, false),
    STRATAMIX_MODE(difference, "difference", "|a - b t|", false, true),
    STRATAMIX_MODE(average, "average", "(b t + a) / 2", false, true),
    STRATAMIX_MODE(negation, "negation", "1 - |(1 - a) - b t|", false, true),
    STRATAMIX_MODE(exclusion, "exclusion", "(b t + a) - 2 a b t", false, true),
    STRATAMIX_MODE(overlay, "overlay", "2 a b if a < 1/2, otherwise 1 - 2 (1 - a)(1 - b)", false,
                   false),
    STRATAMIX_MODE(hard_light, "hard light", "2 a b if b < 1/2, otherwise 1 - 2 (1 - a)(1 - b)",
                   false, false),
    STRATAMIX_MODE(soft_light, "soft light",
                   "a^2 (1 - 2 b) + 2 a b if b < 1/2, otherwise sqrt(a) (2 b - 1) + 2 a (1 - b)",
                   false, false),
    STRATAMIX_MODE(color_dodge, "colour dodge", "1 if b is 1, otherwise a / (1 - b), capped at 1",
                   false, false),
    STRATAMIX_MODE(color_burn, "colour burn", "0 if b is 0, otherwise 1 - (1 - a) / b, raised to 0",
                   false, false),
    STRATAMIX_MODE(reflect, "reflect", "1 if b is 1, otherwise a^2 / (1 - b), capped at 1", false,
                   false),
    STRATAMIX_MODE(glow, "glow", "1 if a is 1, otherwise b^2 / (1 - a), capped at 1", false, false),
    STRATAMIX_MODE(linear_light, "linear light", "(2 b + a) - 1, clamped to [0, 1]", false, false),
};

#undef STRATAMIX_MODE

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
