// The parameter evaluation rule, and the two readers through which the flow
// and its stages take every parameter.
#ifndef STRATAMIX_SHADER_EVALUATE_H
#define STRATAMIX_SHADER_EVALUATE_H

#include <cstdint>
#include <cstring>

#include "renderer.h"

namespace strata {

// Reads one parameter (or one array slot) through the renderer's connection
// rule: with a zero connection offset, or a zero connection tag, the value is
// read in place; otherwise the renderer evaluates the connected shader and the
// value is read through the address it returns. The offset is read afresh for
// every evaluation, because an evaluation may run other shaders. Nothing is
// ever written through either address.
template <typename T>
inline T evaluate(mi_state* state, const T* parameter) {
  const void* source = parameter;
  const int32_t offset = state_connection_offset(state);
  if (offset != 0) {
    // The tag lies outside the parameter record; address it as an integer so
    // that no out-of-object pointer arithmetic is involved.
    const auto tag_address =
        reinterpret_cast<std::uintptr_t>(parameter) + static_cast<std::intptr_t>(offset);
    std::int32_t tag = 0;
    std::memcpy(&tag, reinterpret_cast<const void*>(tag_address), sizeof tag);
    if (tag != 0) {
      // mi_phen_eval takes the parameter's address as a plain pointer; it
      // only reads through it.
      source = mi_phen_eval(state, const_cast<T*>(parameter));
    }
  }
  T value;
  std::memcpy(&value, source, sizeof value);
  return value;
}

// Reads every parameter through the evaluation rule.
struct EvaluatingReader {
  mi_state* state;
  template <typename T>
  T operator()(const T* parameter) const {
    return evaluate(state, parameter);
  }
};

// Reads every parameter in place. Used for a call whose shader record has a
// zero connection offset: no parameter can then be connected, so no renderer
// code runs during the call and the offset cannot change before it returns;
// the rule would read in place every time. Also the arithmetic floor's
// reader.
struct InPlaceReader {
  template <typename T>
  T operator()(const T* parameter) const {
    T value;
    std::memcpy(&value, parameter, sizeof value);
    return value;
  }
};

}  // namespace strata

#endif  // STRATAMIX_SHADER_EVALUATE_H
