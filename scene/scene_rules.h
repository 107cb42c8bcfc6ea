// What `stratamix check` warns of in an instance that reads well: settings
// with which the shader will do what the artist likely did not mean.
//   - a gate at a value other than 0 or 1 (it fires only at exactly 1);
//   - layerCount over the record's 8 slots;
//   - blendMode outside 0 to 22 (the call returns baseColor as it is);
//   - a parameter left out, and so 0, that a stage which runs reads, where
//     0 is not neutral (the field list's zero_is_neutral).
// A connected switch or count may hold any value, so the stages it guards
// count as running.
#ifndef STRATAMIX_SCENE_SCENE_RULES_H
#define STRATAMIX_SCENE_SCENE_RULES_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scene.h"

namespace strata::scene {

// The warnings of one instance, in record order of the parameters; those of
// parameters left out only when `left_out` (an instance with errors is not
// rendered, and what it leaves out is beside the point).
std::vector<Diagnostic> instance_warnings(const Instance& instance, bool left_out);

// The declared parameter name nearest to `name` by edit distance, when near
// enough to be what was meant ("blendMod": "blendMode").
std::optional<std::string> nearest_parameter(std::string_view name);

}  // namespace strata::scene

#endif  // STRATAMIX_SCENE_SCENE_RULES_H
