#include "color_layer.h"

#include "evaluate.h"
#include "float_model.h"

namespace strata {
namespace {

// Each blend_<mode> computes one channel: a the base's value, b the layer's,
// t the amount. The formula is evaluated in `real` and rounded to float where
// it is stored; a mode's clamp or cap then acts on the stored value.

float store(real v) { return static_cast<float>(v); }

// A capped value becomes 1 if it is greater than 1; NaN passes.
float cap_one(float v) { return v > 1.0f ? 1.0f : v; }

// Unit range: below 0 becomes 0, otherwise above 1 becomes 1; NaN passes.
float clamp_unit(float v) {
  if (v < 0.0f) {
    return 0.0f;
  }
  return v > 1.0f ? 1.0f : v;
}

real square(real v) { return power(v, real(2)); }

// b
float blend_over(float, float b, float) { return b; }
// b
float blend_replace(float, float b, float) { return b; }
// a + b
float blend_add(float a, float b, float) { return store(real(a) + real(b)); }
// clamp(a + b)
float blend_add_clamped(float a, float b, float) { return clamp_unit(blend_add(a, b, 0)); }
// a + b; the colour channels are normalised afterwards, across the channels
float blend_add_normalized(float a, float b, float) { return blend_add(a, b, 0); }
// a * b
float blend_multiply(float a, float b, float) { return store(real(a) * real(b)); }
// clamp(a * b)
float blend_multiply_clamped(float a, float b, float) {
  return clamp_unit(blend_multiply(a, b, 0));
}
// (b t + a) - 1
float blend_linear_burn(float a, float b, float t) { return store(fused_madd(b, t, a) - real(1)); }
// (1 - (1 - a)(1 - b)) t: t scales the whole screen value
float blend_screen(float a, float b, float t) {
  return store((real(1) - (real(1) - real(a)) * (real(1) - real(b))) * real(t));
}
// a if a < b, otherwise b (so b when either is NaN)
float blend_darken(float a, float b, float) { return a < b ? a : b; }
// a if a > b, otherwise b (so b when either is NaN)
float blend_lighten(float a, float b, float) { return a > b ? a : b; }
// |a - b t|
float blend_difference(float a, float b, float t) {
  return store(std::abs(real(a) - real(b) * real(t)));
}
// (b t + a) / 2
float blend_average(float a, float b, float t) { return store(fused_madd(b, t, a) * real(0.5)); }
// 1 - |(1 - a) - b t|
float blend_negation(float a, float b, float t) {
  return store(real(1) - std::abs((real(1) - real(a)) - real(b) * real(t)));
}
// (b t + a) - 2 a b t
float blend_exclusion(float a, float b, float t) {
  return store(fused_madd(b, t, a) - real(2) * real(a) * real(b) * real(t));
}
// 2ab if the choosing value c < 1/2, otherwise 1 - 2(1 - a)(1 - b)
float overlay_chosen_by(float c, float a, float b) {
  if (c < 0.5f) {
    return store(real(2) * real(a) * real(b));
  }
  return store(real(1) - real(2) * (real(1) - real(a)) * (real(1) - real(b)));
}
// the base chooses
float blend_overlay(float a, float b, float) { return overlay_chosen_by(a, a, b); }
// the layer chooses
float blend_hard_light(float a, float b, float) { return overlay_chosen_by(b, a, b); }
// a^2 (1 - 2b) + 2ab if b < 1/2, otherwise sqrt(a)(2b - 1) + 2a(1 - b);
// a negative base under the root gives NaN, unguarded
float blend_soft_light(float a, float b, float) {
  if (b < 0.5f) {
    return store(fused_madd(square(a), real(1) - real(2) * real(b), real(2) * real(a) * real(b)));
  }
  return store(fused_madd(square_root(a), real(2) * real(b) - real(1),
                          real(2) * real(a) * (real(1) - real(b))));
}
// 1 if b is exactly 1, otherwise a / (1 - b) capped at 1; no lower bound
float blend_color_dodge(float a, float b, float) {
  if (b == 1.0f) {
    return 1.0f;
  }
  return cap_one(store(real(a) / (real(1) - real(b))));
}
// 0 if b is exactly 0, otherwise 1 - (1 - a) / b raised to 0; no upper bound
float blend_color_burn(float a, float b, float) {
  if (b == 0.0f) {
    return 0.0f;
  }
  const float v = store(real(1) - (real(1) - real(a)) / real(b));
  return v < 0.0f ? 0.0f : v;
}
// 1 if b is exactly 1, otherwise a^2 / (1 - b) capped at 1; no lower bound
float blend_reflect(float a, float b, float) {
  if (b == 1.0f) {
    return 1.0f;
  }
  return cap_one(store(square(a) / (real(1) - real(b))));
}
// 1 if a is exactly 1, otherwise b^2 / (1 - a) capped at 1: the base guards
float blend_glow(float a, float b, float) {
  if (a == 1.0f) {
    return 1.0f;
  }
  return cap_one(store(square(b) / (real(1) - real(a))));
}
// clamp((2b + a) - 1)
float blend_linear_light(float a, float b, float) {
  return clamp_unit(store((real(2) * real(b) + real(a)) - real(1)));
}

using ChannelBlend = float (*)(float a, float b, float t);

STRATA_STAGE_INLINE strataMix_color per_channel(ChannelBlend blend, strataMix_color a,
                                                strataMix_color b, float t) {
  return {blend(a.r, b.r, t), blend(a.g, b.g, t), blend(a.b, b.b, t), blend(a.a, b.a, t)};
}

// Scales red, green and blue by the largest of them when any exceeds 1.
// The largest is chosen by exactly these tests, in this order; alpha is
// neither tested nor scaled.
STRATA_STAGE_INLINE strataMix_color normalize_sum(strataMix_color c) {
  if (!(c.r > 1.0f || c.g > 1.0f || c.b > 1.0f)) {
    return c;
  }
  float m = c.g;
  if (c.r > c.g && c.r > c.b) {
    m = c.r;
  } else if (c.r > c.g || c.b > c.g) {
    m = c.b;
  }
  if constexpr (kSingleModel) {
    return {c.r / m, c.g / m, c.b / m, c.a};
  } else {
    const real inverse = real(1) / real(m);
    return {store(real(c.r) * inverse), store(real(c.g) * inverse), store(real(c.b) * inverse),
            c.a};
  }
}

// o := (o - a) w + a per channel, fused in the single model.
STRATA_STAGE_INLINE strataMix_color mix_toward(strataMix_color base, strataMix_color o, float w) {
  return {store(fused_madd(real(o.r) - real(base.r), w, base.r)),
          store(fused_madd(real(o.g) - real(base.g), w, base.g)),
          store(fused_madd(real(o.b) - real(base.b), w, base.b)),
          store(fused_madd(real(o.a) - real(base.a), w, base.a))};
}

// The blended colour of mode over base, before the layer-alpha and amount
// mixes. Each channel is computed alike, alpha included; then the mode's own
// clamp, cap or normalisation.
STRATA_STAGE_INLINE strataMix_color blend_colors(BlendMode mode, strataMix_color base,
                                                 strataMix_color layer, float amount) {
  switch (mode) {
    case BlendMode::over:
      return per_channel(blend_over, base, layer, amount);
    case BlendMode::replace:
      return per_channel(blend_replace, base, layer, amount);
    case BlendMode::add:
      return per_channel(blend_add, base, layer, amount);
    case BlendMode::add_clamped:
      return per_channel(blend_add_clamped, base, layer, amount);
    case BlendMode::add_normalized:
      return normalize_sum(per_channel(blend_add_normalized, base, layer, amount));
    case BlendMode::multiply:
      return per_channel(blend_multiply, base, layer, amount);
    case BlendMode::multiply_clamped:
      return per_channel(blend_multiply_clamped, base, layer, amount);
    case BlendMode::linear_burn:
      return per_channel(blend_linear_burn, base, layer, amount);
    case BlendMode::screen:
      return per_channel(blend_screen, base, layer, amount);
    case BlendMode::darken:
      return per_channel(blend_darken, base, layer, amount);
    case BlendMode::lighten:
      return per_channel(blend_lighten, base, layer, amount);
    case BlendMode::difference:
      return per_channel(blend_difference, base, layer, amount);
    case BlendMode::average:
      return per_channel(blend_average, base, layer, amount);
    case BlendMode::negation:
      return per_channel(blend_negation, base, layer, amount);
    case BlendMode::exclusion:
      return per_channel(blend_exclusion, base, layer, amount);
    case BlendMode::overlay:
      return per_channel(blend_overlay, base, layer, amount);
    case BlendMode::hard_light:
      return per_channel(blend_hard_light, base, layer, amount);
    case BlendMode::soft_light:
      return per_channel(blend_soft_light, base, layer, amount);
    case BlendMode::color_dodge:
      return per_channel(blend_color_dodge, base, layer, amount);
    case BlendMode::color_burn:
      return per_channel(blend_color_burn, base, layer, amount);
    case BlendMode::reflect:
      return per_channel(blend_reflect, base, layer, amount);
    case BlendMode::glow:
      return per_channel(blend_glow, base, layer, amount);
    case BlendMode::linear_light:
      return per_channel(blend_linear_light, base, layer, amount);
  }
  // Only reachable with a value outside the enumeration, which the stage
  // rejects before it gets here.
  return base;
}

// The whole blend: the mode, then the layer-alpha mix (always for mode 0, at
// most once), then the amount mix unless the amount is exactly 1.
STRATA_STAGE_INLINE strataMix_color blend_layer(BlendMode mode, strataMix_color base,
                                                strataMix_color layer, float amount,
                                                bool use_layer_alpha) {
  strataMix_color o = blend_colors(mode, base, layer, amount);
  // Mode 0 always mixes by the layer's own alpha (as read, not as blended),
  // and never twice.
  if (use_layer_alpha || mode == BlendMode::over) {
    o = mix_toward(base, o, layer.a);
  }
  if (amount != 1.0f) {
    o = mix_toward(base, o, amount);
  }
  return o;
}

}  // namespace

template <typename Read>
LayerOutcome run_color_layer_stage(const strataMix_params* params, Read read,
                                   strataMix_color* working) {
  *working = read(&params->baseColor);
  if (read(&params->blendEnable) == 0) {
    return LayerOutcome::proceed;
  }
  // All four are read, in this order, before the mode is looked at.
  const float amount = read(&params->blendAmount);
  const strataMix_color layer = read(&params->layerColor);
  const std::int32_t use_layer_alpha = read(&params->useLayerAlpha);
  const std::int32_t mode = read(&params->blendMode);
  // One unsigned comparison rejects negative modes as well as large ones.
  if (static_cast<std::uint32_t>(mode) >= kBlendModeCount) {
    return LayerOutcome::mode_out_of_range;
  }
  *working =
      blend_layer(static_cast<BlendMode>(mode), *working, layer, amount, use_layer_alpha != 0);
  return LayerOutcome::proceed;
}

template LayerOutcome run_color_layer_stage(const strataMix_params*, EvaluatingReader,
                                            strataMix_color*);
template LayerOutcome run_color_layer_stage(const strataMix_params*, InPlaceReader,
                                            strataMix_color*);

}  // namespace strata
