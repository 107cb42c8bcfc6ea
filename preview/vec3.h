// The few vector operations the preview's normals and light need, in float
// and in the order written, so that a normal has the same bits wherever it is
// worked out.
#ifndef STRATAMIX_PREVIEW_VEC3_H
#define STRATAMIX_PREVIEW_VEC3_H

#include <cmath>

#include "strataMix.h"

namespace strata::preview {

inline float dot(strataMix_vector a, strataMix_vector b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline strataMix_vector cross(strataMix_vector a, strataMix_vector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Scaled to unit length. A zero or non-finite length gives no direction, and
// the vector is returned as it is.
inline strataMix_vector normalized(strataMix_vector a) {
  const float length = std::sqrt(dot(a, a));
  if (!(length > 0.0f) || !std::isfinite(length)) {
    return a;
  }
  return {a.x / length, a.y / length, a.z / length};
}

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_VEC3_H
