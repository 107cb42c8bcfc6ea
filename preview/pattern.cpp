#include "pattern.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "vec3.h"

namespace strata::preview {
namespace {

constexpr float kTwoPi = 6.28318530717958647692f;

// A tangent keeps its own direction when at least this share of its length
// lies square to the normal.
constexpr float kSquareEnough = 1e-4f;

float lerp(float a, float b, float t) { return a + (b - a) * t; }

Value lerp_values(const Value& a, const Value& b, float t) {
  Value out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = lerp(a[i], b[i], t);
  }
  return out;
}

// Clamps to [0, 1]; a NaN becomes 0 so that the stop index below is defined.
float unit(float t) {
  if (!(t > 0.0f)) {
    return 0.0f;
  }
  return t < 1.0f ? t : 1.0f;
}

// A lattice coordinate as an integer. Coordinates this far out (or NaN) are
// not meaningful for a texture, and converting them would be undefined.
std::int32_t lattice_index(float x) {
  if (!(std::fabs(x) < 1.0e6f)) {
    return 0;
  }
  return static_cast<std::int32_t>(std::floor(x));
}

// An integer hash (the finaliser of MurmurHash3) of a lattice point, as a
// value in [0, 1].
float lattice_value(std::int32_t i, std::int32_t j) {
  std::uint32_t h =
      static_cast<std::uint32_t>(i) * 0x8da6b343u ^ static_cast<std::uint32_t>(j) * 0xd8163841u;
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return static_cast<float>(h & 0xffffffu) / static_cast<float>(0xffffffu);
}

float smoothstep(float t) { return t * t * (3.0f - 2.0f * t); }

// Value noise: lattice values blended with a smooth step between points.
float value_noise(float x, float y) {
  const std::int32_t i = lattice_index(x);
  const std::int32_t j = lattice_index(y);
  const float fx = smoothstep(unit(x - static_cast<float>(i)));
  const float fy = smoothstep(unit(y - static_cast<float>(j)));
  const float bottom = lerp(lattice_value(i, j), lattice_value(i + 1, j), fx);
  const float top = lerp(lattice_value(i, j + 1), lattice_value(i + 1, j + 1), fx);
  return lerp(bottom, top, fy);
}

// The value of a ramp through evenly spaced stops at t in [0, 1].
Value ramp_value(const std::vector<Value>& stops, float t) {
  if (stops.size() == 1) {
    return stops[0];
  }
  const float position = unit(t) * static_cast<float>(stops.size() - 1);
  auto segment = static_cast<std::size_t>(position);  // position is in [0, stops - 1]
  if (segment >= stops.size() - 1) {
    segment = stops.size() - 2;
  }
  return lerp_values(stops[segment], stops[segment + 1], position - static_cast<float>(segment));
}

}  // namespace

bool pattern_kind_named(std::string_view name, PatternKind* kind) {
  const PatternEntry* p = row_named(kPatterns, name);
  if (p != nullptr) {
    *kind = p->kind;
  }
  return p != nullptr;
}

float checker_at(float frequency, float u, float v) {
  const std::int32_t parity = lattice_index(u * frequency) + lattice_index(v * frequency);
  return (parity & 1) != 0 ? 1.0f : 0.0f;
}

// Two octaves, the second at twice the frequency and half the weight,
// scaled back into [0, 1].
float noise_at(float frequency, float u, float v) {
  const float coarse = value_noise(u * frequency, v * frequency);
  const float fine = value_noise(u * frequency * 2.0f + 17.0f, v * frequency * 2.0f + 31.0f);
  return (coarse + 0.5f * fine) / 1.5f;
}

TangentFrame tangent_frame(strataMix_vector normal, strataMix_vector tangent,
                           strataMix_vector bitangent) {
  // The tangent made square to the normal. What is left of one that lies
  // (almost) along the normal, or of none at all, has no direction but
  // rounding's; the frame then comes from the normal alone, as on a surface
  // without UVs.
  const float along = dot(normal, tangent);
  const strataMix_vector square{tangent.x - along * normal.x, tangent.y - along * normal.y,
                                tangent.z - along * normal.z};
  const float given = std::sqrt(dot(tangent, tangent));
  const float left = std::sqrt(dot(square, square));
  TangentFrame f;
  if (std::isfinite(left) && left > kSquareEnough * given) {
    f.tangent = normalized(square);
  } else {
    const strataMix_vector up =
        std::fabs(normal.y) < 0.999f ? strataMix_vector{0, 1, 0} : strataMix_vector{1, 0, 0};
    f.tangent = normalized(cross(up, normal));
  }
  // Square to both, on the side of +v (mirrored UVs turn it over).
  f.bitangent = cross(normal, f.tangent);
  if (dot(f.bitangent, bitangent) < 0.0f) {
    f.bitangent = {-f.bitangent.x, -f.bitangent.y, -f.bitangent.z};
  }
  return f;
}

strataMix_vector bump_normal(float frequency, float height, float u, float v,
                             strataMix_vector normal, const TangentFrame& frame) {
  const float pu = kTwoPi * frequency * u;
  const float pv = kTwoPi * frequency * v;
  const float slope_u = height * std::cos(pu) * std::sin(pv);
  const float slope_v = height * std::sin(pu) * std::cos(pv);
  const strataMix_vector& tangent = frame.tangent;
  const strataMix_vector& bitangent = frame.bitangent;
  return normalized({normal.x - slope_u * tangent.x - slope_v * bitangent.x,
                     normal.y - slope_u * tangent.y - slope_v * bitangent.y,
                     normal.z - slope_u * tangent.z - slope_v * bitangent.z});
}

Value pattern_value(const Pattern& p, const SurfacePoint& at, strataMix_vector normal) {
  const float u = at.u;
  const float v = at.v;
  switch (p.kind) {
    case PatternKind::checker:
      return checker_at(p.frequency, u, v) < 0.5f ? p.stops[0] : p.stops[1];
    case PatternKind::ramp:
      return ramp_value(p.stops, p.axis == 0 ? u : v);
    case PatternKind::noise:
      return lerp_values(p.stops[0], p.stops[1], noise_at(p.frequency, u, v));
    case PatternKind::bump: {
      const strataMix_vector n = bump_normal(p.frequency, p.height, u, v, normal,
                                             tangent_frame(normal, at.tangent, at.bitangent));
      return {n.x, n.y, n.z, 0.0f};
    }
  }
  return {};
}

const SurfacePoint& surface_point(const mi_state& state) {
  static const SurfacePoint kOrigin{};
  const void* context = host::sample_of(state).context;
  return context != nullptr ? *static_cast<const SurfacePoint*>(context) : kOrigin;
}

host::Connection pattern_connection(Pattern p, FieldType kind) {
  return [p = std::move(p), kind](mi_state& state, void* value) {
    const SurfacePoint& at = surface_point(state);
    const Value v = pattern_value(p, at, state.normal);
    std::memcpy(value, v.data(), slot_size(kind));
  };
}

}  // namespace strata::preview
