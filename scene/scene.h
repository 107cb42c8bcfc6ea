// What the scene reader makes of a scene in the renderer's scene language:
// the strataMix instances it holds, each with what it sets and connects, and
// the problems found, each at a file, line and column.
#ifndef STRATAMIX_SCENE_SCENE_H
#define STRATAMIX_SCENE_SCENE_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "fields.h"
#include "strataMix.h"

namespace strata::scene {

// A place in the scene's text. `file` indexes the read's file table (the
// scene first, then each include in the order first read); `line` and
// `column` count from 1, the column in bytes. Line 0 is the file as a whole.
struct Location {
  std::uint32_t file = 0;
  std::uint32_t column = 0;
  std::uint64_t line = 0;
};

enum class Severity { error, warning, note };

struct Diagnostic {
  Severity severity = Severity::error;
  Location where;
  std::string message;
  // The strataMix instance it concerns, by its number in reading order, or
  // -1. A note belongs to the diagnostic before it.
  std::int64_t instance = -1;
};

enum class SettingKind {
  value,      // "gamma" 2.2
  shader,     // "gamma" = "other" or "other.field": another instance's result
  interface,  // "gamma" = interface "param": a parameter of the phenomenon around it
};

// One parameter (one slot of a layer array) an instance sets or connects.
struct Setting {
  ParameterRef param;
  Location where;  // the parameter's name
  SettingKind kind = SettingKind::value;
  // The value's words as the record holds them: an integer, or a float's bits.
  std::array<std::uint32_t, 4> words{};
  // What it is connected to: the instance (with its field, if named) or the
  // interface parameter.
  std::string target;
};

struct Instance {
  std::string name;
  Location where;                 // the word `shader`
  std::vector<Setting> settings;  // as the scene writes them, each slot once
  // Parameters named with a value that was refused (an error): neither set
  // nor left out.
  std::vector<ParameterRef> refused;
  std::size_t errors = 0;
  std::size_t warnings = 0;
};

// The record the renderer builds from an instance: what it sets, and 0 for
// everything it leaves out or connects.
strataMix_params instance_record(const Instance& instance);

// The setting of a parameter, or null when the instance leaves it out.
const Setting* find_setting(const Instance& instance, const ParameterRef& param);

// "scene.mi:12:5", a place as messages name it.
std::string place_text(const Location& where, const std::vector<std::string>& files);

// "scene.mi:12:5: error: message", or "scene.mi: error: message" for the file
// as a whole.
std::string format_diagnostic(const Diagnostic& d, const std::vector<std::string>& files);

}  // namespace strata::scene

#endif  // STRATAMIX_SCENE_SCENE_H
