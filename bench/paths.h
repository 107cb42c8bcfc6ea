// Named calls of the shader, one or more for every exit: the records that the
// benchmarks, the allocation test and the thread test run.
#ifndef STRATAMIX_BENCH_PATHS_H
#define STRATAMIX_BENCH_PATHS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "strataMix.h"

namespace strata::bench {

struct ShaderPath {
  std::string name;  // "gate/photon-colour", "normal/layers-8", "colour/mode-05", ...
  int exit;          // 1..8, the exit the call takes
  std::int32_t ray_type;
  strataMix_vector normal;
  strataMix_params params;
};

// The heaviest call: eight contributing layers (both accumulation branches,
// weights other than 1), mix, scale and normalisation; the colour path with
// `blend_mode`, layer alpha and an amount below 1; every correction sub-step.
strataMix_params full_call(std::int32_t blend_mode);

// Every exit: the four gate exits, the normal path with 0, 1 and 8 layers
// and as a colour, the out-of-range mode, each of the 23 modes, the
// correction alone on and off, and the full call.
std::vector<ShaderPath> shader_paths();

std::optional<ShaderPath> find_path(const std::string& name);

}  // namespace strata::bench

#endif  // STRATAMIX_BENCH_PATHS_H
