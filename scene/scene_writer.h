// Writes a record as a strataMix instance in the scene language: the one
// writer of a shader block, for `stratamix convert` and the page's "Copy
// shader block". Every parameter is written out, in record order, by its
// declared name (a slot's number joined on): a scene gives what it leaves
// out 0, not the preview's neutral value, so nothing is left to a default.
#ifndef STRATAMIX_SCENE_SCENE_WRITER_H
#define STRATAMIX_SCENE_SCENE_WRITER_H

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"
#include "strataMix.h"

namespace strata::scene {

// A parameter the block cannot say: a NaN or an infinity, which the scene
// language has no number for. Its message names the parameter.
struct BlockError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A comment written after a parameter's line ("connected in the preview to
// checker(6)").
struct BlockNote {
  ParameterRef param;
  std::string text;
};

// A parameter's value as the scene language and the preview's presets both
// write it: a boolean as on or off (or its integer, when it holds another),
// an integer as it is, a float as the shortest text that reads back to its
// bits, a colour's or vector's numbers one space apart.
std::string value_text(const strataMix_params& record, const ParameterRef& param);

// The name in the scene language's quotes: a quote, a backslash and the
// line breaks escaped as the reader reads them.
std::string quoted(std::string_view text);

// shader "NAME" "strataMix" ( ... ), one parameter a line.
std::string shader_block(std::string_view name, const strataMix_params& record,
                         const std::vector<BlockNote>& notes = {});

}  // namespace strata::scene

#endif  // STRATAMIX_SCENE_SCENE_WRITER_H
