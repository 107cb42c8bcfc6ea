// A strataMix instance of a scene as a preview preset, for `stratamix
// convert` and for the preview and the page when they open a scene. The
// preset writes every parameter out with the scene's value: the scene gives
// what it leaves out 0, where a preset would give the preview's neutral
// value. A connected parameter, which only the scene's renderer can
// evaluate, takes the preview's neutral value, noted in a comment, unless a
// pattern of the preset language stands in for it.
#ifndef STRATAMIX_PREVIEW_SCENE_PRESET_H
#define STRATAMIX_PREVIEW_SCENE_PRESET_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"
#include "preset.h"
#include "scene.h"

namespace strata::preview {

// A pattern standing in for a connected parameter (--connect
// layerColor=checker(6)): the parameter by its declared name, the pattern as
// a preset writes it.
struct StandIn {
  ParameterRef param{};
  std::string pattern;
};

// A scene by its name: a path ending in ".mi"; anything else is a preset.
bool is_scene_path(std::string_view path);

// --connect's PARAMETER=PATTERN, or none when it is not of that form or
// names no declared parameter (the pattern is checked where it is parsed).
std::optional<StandIn> parse_stand_in(std::string_view text);

// The parameters of the instance connected to another instance or to a
// phenomenon's interface, each as "layerColor = 'rust_tex.outColor'" or
// "baseColor = interface 'tint'", in the order the scene writes them.
std::vector<std::string> connected_parameters(const scene::Instance& instance);

// The preset: a comment naming the instance, then one line a parameter (a
// slot of a layer array as layerWeight[3]), in record order.
std::string instance_preset(const scene::Instance& instance, const std::string& origin,
                            const std::vector<StandIn>& stand_ins = {});

// The shader block of a preset (`text`, as `preset` was parsed from it),
// through the one writer of a block: every parameter as the preset gives it
// over the preview's neutral values. A pattern exists only in the preview:
// its parameter gets the neutral value and a note of what to connect.
// Throws scene::BlockError for a value the block cannot say.
std::string preset_block(const std::string& text, const Preset& preset, std::string_view name);

// File names (without their extension) for the pictures of instances, in
// the order given: each name with every byte but a letter, a digit, '-' and
// '_' made '_', at most 64 bytes, never empty; a name met before (letter
// case aside, as some file systems have it) gets "-2", "-3", ... joined on.
std::vector<std::string> picture_names(const std::vector<std::string>& instance_names);

}  // namespace strata::preview

#endif  // STRATAMIX_PREVIEW_SCENE_PRESET_H
