// The two float models, chosen when the plug-in is built.
//
// wide:   every formula is evaluated in double precision from its 32-bit
//         inputs and rounded to float once, where its result is assigned to a
//         float. This is the Windows build's scheme.
// single: every operation is rounded to float, and the multiply-adds that the
//         stages name are fused (one rounding). This is the PowerPC build's
//         scheme.
//
// Stage code writes each formula once, in `real`, and stores it into a float
// where the value is assigned; the few places where the models differ in more
// than width ask `kSingleModel` and say why.
#ifndef STRATAMIX_SHADER_FLOAT_MODEL_H
#define STRATAMIX_SHADER_FLOAT_MODEL_H

#include <cmath>

#if !defined(STRATAMIX_FLOAT_MODEL_SINGLE) && !defined(STRATAMIX_FLOAT_MODEL_WIDE)
#error "build with STRATAMIX_FLOAT_MODEL_SINGLE or STRATAMIX_FLOAT_MODEL_WIDE defined"
#endif

namespace strata {

// For the stages' helpers that hand a vector or a colour to the next step.
// As separate calls such a struct comes back packed into vector registers,
// which GCC does by storing floats and reloading them wider, a load the
// processor cannot forward from the narrower stores: every hand-off stalls.
#define STRATA_STAGE_INLINE [[gnu::always_inline]] inline

#if defined(STRATAMIX_FLOAT_MODEL_SINGLE)
using real = float;
constexpr bool kSingleModel = true;
#else
using real = double;
constexpr bool kSingleModel = false;
#endif

// a*b + c: one fused rounding in the single model; in the wide model the
// double product and sum are exact enough that the store rounds once.
inline real fused_madd(real a, real b, real c) {
  if constexpr (kSingleModel) {
    return std::fma(a, b, c);
  } else {
    return a * b + c;
  }
}

// Squares and gamma are written as the library's power function (pow or
// powf). For the exponent 2 a correctly rounded pow equals the rounded
// product, so compilers may fold it into one; for any other exponent the
// platform's pow decides the last bit.
inline real power(real base, real exponent) { return std::pow(base, exponent); }

inline real square_root(real x) { return std::sqrt(x); }

// The normal's length and the hue sector go through the double-precision
// sqrt and floor in both models, as the host-bound PowerPC build imports
// them. No bit changes in the single model: the double root of a float,
// rounded once to float, is the correctly rounded float root, and the floor
// of a float is exact in double.
inline real double_square_root(real x) {
  return static_cast<real>(std::sqrt(static_cast<double>(x)));
}

inline double double_floor(real x) { return std::floor(static_cast<double>(x)); }

}  // namespace strata

#endif  // STRATAMIX_SHADER_FLOAT_MODEL_H
