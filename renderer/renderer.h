// The renderer interface: the three fields of the renderer's shading state
// that the shader uses, and the one renderer function it calls. This is the
// only file that knows the state's layout; every other unit goes through the
// accessors below, so adapting to a renderer's own state changes this file
// alone.
#ifndef STRATAMIX_RENDERER_H
#define STRATAMIX_RENDERER_H

#include <stdint.h>

#include "strataMix_types.h"

#ifdef __cplusplus
extern "C" {
#endif

// The renderer's record of the shader instance being run.
typedef struct mi_shader_record {
  // Byte distance from any parameter to its connection tag; 0 means that
  // every parameter is read in place.
  int32_t connection_offset;
} mi_shader_record;

struct mi_state {
  int32_t ray_type;
  strataMix_vector normal;
  const mi_shader_record* shader;
};
typedef struct mi_state mi_state;

// Evaluates a connected parameter and returns the address of its value, laid
// out with the parameter's own type. Provided by the renderer's process (on
// Windows, reached through the binding's lookup).
void* mi_phen_eval(mi_state* state, void* parameter);

#ifdef __cplusplus
}

namespace strata {

// Ray-type codes: the eye ray, which no gate tests, and one of each kind
// that the gates do.
constexpr int32_t kRayEye = 0;
constexpr int32_t kRayReflect = 2;
constexpr int32_t kRayRefract = 3;
constexpr int32_t kRayPhoton = 9;
constexpr int32_t kRayFinalGather = 20;

inline bool is_photon_or_final_gather_ray(int32_t type) {
  switch (type) {
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 18:
    case 19:
    case 23:
    case 24:
    case kRayFinalGather:
      return true;
    default:
      return false;
  }
}

inline bool is_reflection_or_refraction_ray(int32_t type) {
  return type == kRayReflect || type == kRayRefract;
}

inline int32_t state_ray_type(const mi_state* state) { return state->ray_type; }
inline strataMix_vector state_normal(const mi_state* state) { return state->normal; }
inline void state_set_normal(mi_state* state, strataMix_vector n) { state->normal = n; }
inline int32_t state_connection_offset(const mi_state* state) {
  return state->shader->connection_offset;
}

}  // namespace strata
#endif

#endif  // STRATAMIX_RENDERER_H
