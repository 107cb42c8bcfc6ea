// The shader as the renderer finds it by name.
#include "strataMix.h"

#include "flow.h"

extern "C" STRATAMIX_API int32_t strataMix(strataMix_result* result, mi_state* state,
                                           strataMix_params* params) {
  using namespace strata;
  // A zero connection offset means that no parameter can be connected: no
  // renderer code runs during the call, so the offset cannot change before
  // it returns, and the evaluation rule would read every parameter in place.
  // Reading the record in place throughout makes the same reads in the same
  // order, writes the same fields and gives the same bits, without the rule's
  // per-parameter test.
  if (state_connection_offset(state) == 0) {
    return shade(result, state, params, InPlaceReader{});
  }
  return shade(result, state, params, EvaluatingReader{state});
}
