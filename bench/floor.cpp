#include "floor.h"

#include "color_correct.h"
#include "color_layer.h"
#include "normal_stage.h"
#include "renderer.h"

namespace strata::bench {
namespace {

strataMix_vector normal_stage(const strataMix_params& p, strataMix_vector incoming) {
  NormalAccumulator acc = start_accumulator(incoming);
  const std::int32_t slots =
      p.layerCount > STRATAMIX_LAYER_SLOTS ? STRATAMIX_LAYER_SLOTS : p.layerCount;
  for (std::int32_t i = 0; i < slots; ++i) {
    if (p.layerEnable[i] == 0 || p.layerWeight[i] == 0.0f || p.layerBalance[i] == 0.0f) {
      continue;
    }
    accumulate_layer(acc, p.layerNormal[i], p.layerWeight[i], p.layerBalance[i]);
  }
  strataMix_vector n = average_and_mix(acc, p.normalMix, incoming);
  n = scale_normal(n, p.normalScale);
  return p.normalizeNormal != 0 ? normalize_normal(n) : n;
}

bool gate_taken(const strataMix_params& p, std::int32_t ray_type) {
  return (p.skipPhotons == 1 && is_photon_or_final_gather_ray(ray_type)) ||
         (p.skipReflections == 1 && is_reflection_or_refraction_ray(ray_type));
}

}  // namespace

// Not inlined into the benchmark loop, as the shader is not.
[[gnu::noinline]] void floor_call(const strataMix_params& p, std::int32_t ray_type,
                                  strataMix_vector* normal, strataMix_result* result) {
  if (p.normalEnable != 0) {
    if (gate_taken(p, ray_type)) {
      if (p.outputNormal != 0) {
        result->outNormal = *normal;
      } else {
        result->outColor = p.baseColor;
      }
      return;
    }
    *normal = normal_stage(p, *normal);
    if (p.outputNormal != 0) {
      result->outNormal = *normal;
      return;
    }
    if (p.normalAsColor != 0) {
      result->outColor = {normal->x, normal->y, normal->z, 1.0f};
      return;
    }
  }
  strataMix_color c = p.baseColor;
  if (p.blendEnable != 0) {
    if (static_cast<std::uint32_t>(p.blendMode) >= kBlendModeCount) {
      result->outColor = c;
      return;
    }
    c = blend_layer(static_cast<BlendMode>(p.blendMode), c, p.layerColor, p.blendAmount,
                    p.useLayerAlpha != 0);
  }
  if (p.correctEnable != 0) {
    c = correct_color(
        c, {p.hueAdjust, p.saturationAdjust, p.valueAdjust, p.gamma, p.offset, p.contrast});
  }
  result->outColor = c;
}

}  // namespace strata::bench
