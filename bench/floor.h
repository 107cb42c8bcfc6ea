// The arithmetic floor: the shader's own flow, linked in rather than loaded,
// reading the record in place. Its cost against a real call is the cost of
// the call into the plug-in and, for a connected call, of the evaluation
// rule.
#ifndef STRATAMIX_BENCH_FLOOR_H
#define STRATAMIX_BENCH_FLOOR_H

#include <cstdint>

#include "strataMix.h"

namespace strata::bench {

// Writes what the shader writes for `p` on a ray of `ray_type`: one result
// field and, where the normal stage runs, *normal.
void floor_call(const strataMix_params& p, std::int32_t ray_type, strataMix_vector* normal,
                strataMix_result* result);

}  // namespace strata::bench

#endif  // STRATAMIX_BENCH_FLOOR_H
