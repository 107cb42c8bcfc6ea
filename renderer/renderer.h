// The renderer interface: the three fields of the renderer's shading state
// that the shader uses, the one renderer function it calls, and the kinds of
// ray its gates tell apart. This is the only file that knows the state's
// layout; every other unit goes through the accessors below, so adapting to
// a renderer's own state changes this file alone.
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

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace strata {

// Ray-type codes: the eye ray, which no gate tests, and one of each kind
// that the gates do.
constexpr int32_t kRayEye = 0;
constexpr int32_t kRayReflect = 2;
constexpr int32_t kRayRefract = 3;
constexpr int32_t kRayPhoton = 9;
constexpr int32_t kRayFinalGather = 20;

// The shader's two ray-type gates, by what they stop.
enum class RayGate { none, photon, reflection };

// A set of ray-type codes, bit c for code c; every code the shader tests is
// below 32.
constexpr std::uint32_t ray_codes(std::initializer_list<int32_t> codes) {
  std::uint32_t set = 0;
  for (const int32_t c : codes) {
    set |= std::uint32_t{1} << c;
  }
  return set;
}

struct RayKind {
  std::string_view name;  // as the tools and the page name it: "final-gather"
  std::string_view description;
  // The codes of the kind, and the one a stand-in renderer gives its rays.
  std::uint32_t codes;
  int32_t code;
  RayGate gate;  // the gate that stops the kind, when its switch is on
};

// The kinds of ray the shader tells apart: every code it tests belongs to
// one, and the eye ray stands for every code it does not test.
inline constexpr std::array kRayKinds = {
    RayKind{"eye", "a camera ray, or any ray of a type no gate tests", ray_codes({kRayEye}),
            kRayEye, RayGate::none},
    RayKind{"reflection", "a reflection ray", ray_codes({kRayReflect}), kRayReflect,
            RayGate::reflection},
    RayKind{"refraction", "a refraction ray", ray_codes({kRayRefract}), kRayRefract,
            RayGate::reflection},
    RayKind{"photon", "a photon tracing or photon emission ray",
            ray_codes({8, 9, 10, 11, 12, 13, 14, 15, 18, 19, 23, 24}), kRayPhoton, RayGate::photon},
    RayKind{"final-gather", "a final-gather ray", ray_codes({kRayFinalGather}), kRayFinalGather,
            RayGate::photon},
};

// The codes a gate stops.
constexpr std::uint32_t gate_codes(RayGate gate) {
  std::uint32_t set = 0;
  for (const RayKind& k : kRayKinds) {
    set |= k.gate == gate ? k.codes : 0;
  }
  return set;
}

constexpr bool code_in(std::uint32_t codes, int32_t type) {
  return type >= 0 && type < 32 && ((codes >> type) & 1) != 0;
}

// Each kind's own code is one of its codes, and no code is of two kinds.
constexpr bool ray_kinds_apart() {
  std::uint32_t seen = 0;
  for (const RayKind& k : kRayKinds) {
    if ((k.codes & seen) != 0 || !((k.codes >> k.code) & 1)) {
      return false;
    }
    seen |= k.codes;
  }
  return true;
}
static_assert(ray_kinds_apart(), "kRayKinds: codes of two kinds, or a kind without its code");

// The gates' tests, on sets fixed when the shader is compiled.
inline bool is_photon_or_final_gather_ray(int32_t type) {
  constexpr std::uint32_t photon = gate_codes(RayGate::photon);
  return code_in(photon, type);
}

inline bool is_reflection_or_refraction_ray(int32_t type) {
  constexpr std::uint32_t reflection = gate_codes(RayGate::reflection);
  return code_in(reflection, type);
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
