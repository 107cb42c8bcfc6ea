// The preview's built-in procedural shaders: textures that a colour, vector or
// float parameter can be connected to, evaluated by the host through
// mi_phen_eval at each sample from where the sample lies on the surface.
#ifndef STRATAMIX_PREVIEW_PATTERN_H
#define STRATAMIX_PREVIEW_PATTERN_H

#include <array>
#include <string_view>
#include <vector>

#include "fields.h"
#include "host.h"
#include "strataMix.h"

namespace strata::preview {

enum class PatternKind { checker, ramp, noise, bump };

struct PatternEntry {
  PatternKind kind;
  std::string_view name;  // as a preset calls it: "checker"
  std::string_view description;
  // What a preset writes inside the parentheses, in order: "frequency",
  // "axis" (u or v), "height", and "values", the values it runs between in
  // the parameter's own type (by default the type's 0 and 1).
  std::array<std::string_view, 2> arguments;
  std::string_view usage;
  // A bump yields a normal, and connects only to a vector.
  bool vector_only;
};

// In enum order.
inline constexpr std::array kPatterns = {
    PatternEntry{PatternKind::checker,
                 "checker",
                 "squares alternating between two values",
                 {"frequency", "values"},
                 "checker(frequency[, a, b])",
                 false},
    PatternEntry{PatternKind::ramp,
                 "ramp",
                 "a linear run through its values along u or v",
                 {"axis", "values"},
                 "ramp(u|v[, value, value, ...])",
                 false},
    PatternEntry{PatternKind::noise,
                 "noise",
                 "smooth value noise between two values",
                 {"frequency", "values"},
                 "noise(frequency[, a, b])",
                 false},
    PatternEntry{PatternKind::bump,
                 "bump",
                 "the surface normal tilted by a field of bumps",
                 {"frequency", "height"},
                 "bump(frequency, height)",
                 true},
};

static_assert(in_enum_order(kPatterns, &PatternEntry::kind), "kPatterns out of order");

constexpr const PatternEntry& pattern_entry(PatternKind kind) {
  return kPatterns[static_cast<std::size_t>(kind)];
}

// Whether a parameter of the type can be connected to the pattern: no
// integer can, and a normal's pattern only to a vector.
constexpr bool pattern_connects_to(PatternKind kind, FieldType type) {
  return type != FieldType::integer &&
         (!pattern_entry(kind).vector_only || type == FieldType::vector);
}

// Where a sample lies on the surface. The renderer hands it to the patterns
// and textures as the sample's context, which the host passes on untouched;
// the shader never sees it, and the renderer's state keeps the layout the
// plug-in is compiled against.
struct SurfacePoint {
  float u = 0.0f;
  float v = 0.0f;
  // The footprint: how far u and v move from this sample to the next one
  // across (x) and down (y). Textures are filtered over it; 0 is a point.
  float dudx = 0.0f;
  float dvdx = 0.0f;
  float dudy = 0.0f;
  float dvdy = 0.0f;
  // Where the sample lies on the object.
  strataMix_vector position{0.0f, 0.0f, 0.0f};
  // The sample's frame, each of unit length and at right angles: the surface
  // normal as the renderer hands it in, and the tangent and bitangent along
  // +u and +v, in which a normal map is read.
  strataMix_vector normal{0.0f, 0.0f, 1.0f};
  strataMix_vector tangent{1.0f, 0.0f, 0.0f};
  strataMix_vector bitangent{0.0f, 1.0f, 0.0f};
};

// The point of the sample a connection is evaluated for; a sample that does
// not say where it lies is taken at the origin, facing +z.
const SurfacePoint& surface_point(const mi_state& state);

// One value of a parameter's type: a colour's four channels, a vector's
// three components or one float, in the first words.
using Value = std::array<float, 4>;

struct Pattern {
  PatternKind kind = PatternKind::checker;
  // Squares, noise cells or bumps per unit of u and v.
  float frequency = 1.0f;
  // ramp: 0 runs along u, 1 along v.
  int axis = 0;
  // bump: the slope of the bumps, 0 flat.
  float height = 0.0f;
  // The values the pattern runs between: two for checker and noise, two or
  // more for ramp (evenly spaced stops), none for bump.
  std::vector<Value> stops;
};

// The pattern a preset names ("checker"), or false.
bool pattern_kind_named(std::string_view name, PatternKind* kind);

// The pattern's value at the sample's (u, v), in the width of its stops, for
// a surface whose normal is `normal` (bump perturbs that normal in the
// sample's frame).
Value pattern_value(const Pattern& p, const SurfacePoint& at, strataMix_vector normal);

// The connection that evaluates the pattern for a parameter of `kind` at the
// sample's SurfacePoint.
host::Connection pattern_connection(Pattern p, FieldType kind);

// Scalar patterns in [0, 1] before their values are applied; exposed for the
// tests.
float checker_at(float frequency, float u, float v);
float noise_at(float frequency, float u, float v);

// The frame a bump tilts the normal in: the sample's tangent along +u made
// square to `normal`, and the bitangent square to both on the side of +v.
// Where the tangent lies along the normal or is missing, a frame built from
// the normal alone stands in.
struct TangentFrame {
  strataMix_vector tangent;
  strataMix_vector bitangent;
};
TangentFrame tangent_frame(strataMix_vector normal, strataMix_vector tangent,
                           strataMix_vector bitangent);

// The bumped normal: the surface normal tilted by the slope of the height
// field height * sin(2 pi f u) * sin(2 pi f v) / (2 pi f) along the frame's
// tangent and bitangent, then normalised.
strataMix_vector bump_normal(float frequency, float height, float u, float v,
                             strataMix_vector normal, const TangentFrame& frame);

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_PATTERN_H
