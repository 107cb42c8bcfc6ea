#include "paths.h"

#include <cstdio>

#include "blend_modes.h"
#include "renderer.h"

namespace strata::bench {
namespace {

constexpr strataMix_vector kIncoming{0.0f, 0.0f, 1.0f};

// Eight enabled layers: plain adds (balance 0.5) and blends alternate, and
// the weights are not 1, so that every step of the accumulation runs.
void eight_layers(strataMix_params& p) {
  const strataMix_vector normals[4] = {
      {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, -1.0f}, {0.5f, 0.5f, 0.5f}};
  p.normalEnable = 1;
  p.layerCount = 8;
  for (int i = 0; i < 8; ++i) {
    p.layerEnable[i] = 1;
    p.layerNormal[i] = normals[i % 4];
    p.layerWeight[i] = 0.75f;
    p.layerBalance[i] = i % 2 == 0 ? 0.5f : 0.25f;
  }
  p.normalMix = 0.5f;
  p.normalScale = 2.0f;
  p.normalizeNormal = 1;
}

void blend(strataMix_params& p, std::int32_t mode) {
  p.baseColor = {0.25f, 0.5f, 0.75f, 1.0f};
  p.blendEnable = 1;
  p.layerColor = {0.75f, 0.25f, 0.5f, 0.5f};
  p.blendAmount = 0.5f;
  p.blendMode = mode;
  p.useLayerAlpha = 1;
}

void every_correction(strataMix_params& p) {
  p.correctEnable = 1;
  p.hueAdjust = 0.125f;
  p.saturationAdjust = -0.25f;
  p.valueAdjust = 0.5f;
  p.gamma = 2.2f;
  p.offset = 0.01f;
  p.contrast = 1.5f;
}

ShaderPath path(std::string name, int exit, std::int32_t ray, strataMix_params p) {
  return {std::move(name), exit, ray, kIncoming, p};
}

}  // namespace

strataMix_params full_call(std::int32_t blend_mode) {
  strataMix_params p{};
  eight_layers(p);
  blend(p, blend_mode);
  every_correction(p);
  return p;
}

std::vector<ShaderPath> shader_paths() {
  std::vector<ShaderPath> paths;
  strataMix_params gate = full_call(5);
  gate.skipPhotons = 1;
  gate.skipReflections = 1;
  paths.push_back(path("gate/photon-normal", 1, kRayPhoton, gate));
  paths.back().params.outputNormal = 1;
  paths.push_back(path("gate/photon-colour", 2, kRayPhoton, gate));
  paths.push_back(path("gate/reflection-normal", 3, kRayReflect, gate));
  paths.back().params.outputNormal = 1;
  paths.push_back(path("gate/refraction-colour", 4, kRayRefract, gate));

  for (std::int32_t layers : {0, 1, 8}) {
    strataMix_params p = full_call(5);
    p.layerCount = layers;
    p.outputNormal = 1;
    paths.push_back(path("normal/layers-" + std::to_string(layers), 5, kRayEye, p));
  }
  strataMix_params as_color = full_call(5);
  as_color.normalAsColor = 1;
  paths.push_back(path("normal/as-colour", 6, kRayEye, as_color));

  strataMix_params out_of_range = full_call(static_cast<std::int32_t>(kBlendModeCount));
  out_of_range.normalEnable = 0;
  paths.push_back(path("colour/mode-out-of-range", 7, kRayEye, out_of_range));

  for (std::int32_t mode = 0; mode < static_cast<std::int32_t>(kBlendModeCount); ++mode) {
    strataMix_params p{};
    blend(p, mode);
    char name[32];
    std::snprintf(name, sizeof name, "colour/mode-%02d", static_cast<int>(mode));
    paths.push_back(path(name, 8, kRayEye, p));
  }
  strataMix_params correct_off{};
  correct_off.baseColor = {0.25f, 0.5f, 0.75f, 1.0f};
  paths.push_back(path("colour/correct-off", 8, kRayEye, correct_off));
  strataMix_params correct_on = correct_off;
  every_correction(correct_on);
  paths.push_back(path("colour/correct-on", 8, kRayEye, correct_on));

  paths.push_back(path("full/layers-8-blend-correct", 8, kRayEye, full_call(17)));
  return paths;
}

std::optional<ShaderPath> find_path(const std::string& name) {
  for (ShaderPath& p : shader_paths()) {
    if (p.name == name) {
      return std::move(p);
    }
  }
  return std::nullopt;
}

}  // namespace strata::bench
