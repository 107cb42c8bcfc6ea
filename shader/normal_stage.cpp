#include "normal_stage.h"

#include "evaluate.h"
#include "float_model.h"

namespace strata {
namespace {

// The running average of the stage. The incoming normal is its first member,
// and stands in as the previous layer until a layer contributes.
struct NormalAccumulator {
  strataMix_vector incoming;
  strataMix_vector sum;
  std::int32_t count;
  strataMix_vector previous;
};

// incoming + (v - incoming) * w, the interpolation every step of the stage
// anchors at the incoming normal. Rounded to float per component.
STRATA_STAGE_INLINE strataMix_vector lerp_from(strataMix_vector incoming, strataMix_vector v,
                                               real w) {
  return {static_cast<float>(real(incoming.x) + (real(v.x) - real(incoming.x)) * w),
          static_cast<float>(real(incoming.y) + (real(v.y) - real(incoming.y)) * w),
          static_cast<float>(real(incoming.z) + (real(v.z) - real(incoming.z)) * w)};
}

// One component of the blending branch, for a balance other than 0.5:
//   D, the sum with the previous layer taken back out;
//   Q, the previous layer pulled toward the incoming normal by the balance's
//      complement (keep = 1 - balance);
//   S, Q plus this layer (already pulled by the balance itself);
//   M, S's offset from the incoming normal, doubled, about the incoming normal,
//      since the blend stands for two members of the average.
// The new sum is D + M. The wide model keeps D, Q, S and M in double, the
// single model rounds each.
STRATA_STAGE_INLINE float blended_sum(float sum, float previous, float incoming, float layer,
                                      real keep) {
  const real d = real(sum) - real(previous);
  const real q = real(incoming) + (real(previous) - real(incoming)) * keep;
  const real s = q + real(layer);
  const real m = real(incoming) + real(2) * (s - real(incoming));
  return static_cast<float>(d + m);
}

STRATA_STAGE_INLINE NormalAccumulator start_accumulator(strataMix_vector incoming) {
  return {incoming, incoming, 1, incoming};
}

// Adds one contributing slot (enabled, weight and balance both non-zero).
STRATA_STAGE_INLINE void accumulate_layer(NormalAccumulator& acc, strataMix_vector layer,
                                          float weight, float balance) {
  if (weight != 1.0f) {
    layer = lerp_from(acc.incoming, layer, weight);
  }
  if (balance == 0.5f) {
    acc.sum = {static_cast<float>(real(acc.sum.x) + real(layer.x)),
               static_cast<float>(real(acc.sum.y) + real(layer.y)),
               static_cast<float>(real(acc.sum.z) + real(layer.z))};
    acc.count += 1;
  } else {
    // Takes the previous layer back out of the sum and puts in the doubled
    // blend of it with this layer; the blend reads the layer after its own
    // balance interpolation.
    const real keep = real(1) - real(balance);
    layer = lerp_from(acc.incoming, layer, balance);
    acc.sum = {blended_sum(acc.sum.x, acc.previous.x, acc.incoming.x, layer.x, keep),
               blended_sum(acc.sum.y, acc.previous.y, acc.incoming.y, layer.y, keep),
               blended_sum(acc.sum.z, acc.previous.z, acc.incoming.z, layer.z, keep)};
    acc.count += 2;
  }
  acc.previous = layer;
}

// The average of the members, mixed toward `current` (the state's normal at
// the mix step) unless mix is exactly 0 or 1.
STRATA_STAGE_INLINE strataMix_vector average_and_mix(const NormalAccumulator& acc, float mix,
                                                     strataMix_vector current) {
  const real count = real(acc.count);
  if (mix == 0.0f || mix == 1.0f) {
    return {static_cast<float>(real(acc.sum.x) / count),
            static_cast<float>(real(acc.sum.y) / count),
            static_cast<float>(real(acc.sum.z) / count)};
  }
  const real m = mix;
  const real keep = real(1) - m;
  return {static_cast<float>(real(acc.sum.x) / count * m + keep * real(current.x)),
          static_cast<float>(real(acc.sum.y) / count * m + keep * real(current.y)),
          static_cast<float>(real(acc.sum.z) / count * m + keep * real(current.z))};
}

// Multiplies by s unless s is exactly 0 or 1.
STRATA_STAGE_INLINE strataMix_vector scale_normal(strataMix_vector n, float s) {
  if (s == 1.0f || s == 0.0f) {
    return n;
  }
  return {static_cast<float>(real(n.x) * real(s)), static_cast<float>(real(n.y) * real(s)),
          static_cast<float>(real(n.z) * real(s))};
}

// Unit length; a zero-length normal is returned unchanged.
STRATA_STAGE_INLINE strataMix_vector normalize_normal(strataMix_vector n) {
  const real x = n.x;
  const real y = n.y;
  const real z = n.z;
  // In the single model a normal shorter than about 2.6e-23 has a squared
  // length that underflows to 0 and is left as it is; the wide model
  // normalises it.
  const real length = double_square_root(x * x + y * y + z * z);
  if (length == real(0)) {
    return n;
  }
  const real r = real(1) / length;
  return {static_cast<float>(x * r), static_cast<float>(y * r), static_cast<float>(z * r)};
}

}  // namespace

template <typename Read>
NormalOutcome run_normal_stage(mi_state* state, const strataMix_params* params, Read read) {
  // The incoming normal is captured before any evaluation: a connected
  // parameter may change the state's normal.
  NormalAccumulator acc = start_accumulator(state_normal(state));

  const float mix = read(&params->normalMix);
  const float scale = read(&params->normalScale);
  const std::int32_t as_color = read(&params->normalAsColor);
  const std::int32_t normalize = read(&params->normalizeNormal);
  std::int32_t slots = read(&params->layerCount);
  // The record holds eight slots; a larger count must not read past it.
  if (slots > STRATAMIX_LAYER_SLOTS) {
    slots = STRATAMIX_LAYER_SLOTS;
  }

  for (std::int32_t i = 0; i < slots; ++i) {
    // All three are read for every visited slot, before any is tested.
    const std::int32_t enable = read(&params->layerEnable[i]);
    const float weight = read(&params->layerWeight[i]);
    const float balance = read(&params->layerBalance[i]);
    if (enable == 0 || weight == 0.0f || balance == 0.0f) {
      continue;
    }
    accumulate_layer(acc, read(&params->layerNormal[i]), weight, balance);
  }

  // The mix reads the state's normal as it is now, after every evaluation.
  strataMix_vector combined = average_and_mix(acc, mix, state_normal(state));
  combined = scale_normal(combined, scale);
  if (normalize != 0) {
    combined = normalize_normal(combined);
  }
  state_set_normal(state, combined);
  return as_color != 0 ? NormalOutcome::normal_as_color : NormalOutcome::color_path;
}

template NormalOutcome run_normal_stage(mi_state*, const strataMix_params*, EvaluatingReader);
template NormalOutcome run_normal_stage(mi_state*, const strataMix_params*, InPlaceReader);

}  // namespace strata
