#include "floor.h"

#include "flow.h"

namespace strata::bench {

// Not inlined into the benchmark loop, as the shader is not.
[[gnu::noinline]] void floor_call(const strataMix_params& p, std::int32_t ray_type,
                                  strataMix_vector* normal, strataMix_result* result) {
  const mi_shader_record record{0};
  mi_state state{ray_type, *normal, &record};
  shade(result, &state, &p, InPlaceReader{});
  *normal = state.normal;
}

}  // namespace strata::bench
