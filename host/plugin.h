// Loads a strataMix plug-in by path and finds its entry points by name, as a
// renderer does.
#ifndef STRATAMIX_HOST_PLUGIN_H
#define STRATAMIX_HOST_PLUGIN_H

#include <stdexcept>
#include <string>

#include "host.h"

namespace strata::host {

using VersionFn = std::int32_t (*)();
using InitFn = void (*)(mi_state*, strataMix_params*, std::int32_t*);
using ExitFn = void (*)();

// A plug-in that cannot be used; the message names its path and the problem
// ("cannot load plug-in PATH: the loader's own error").
struct PluginError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Plugin {
 public:
  // Throws PluginError when the library cannot be loaded or has no
  // strataMix.
  explicit Plugin(const std::string& path);
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  ShaderFn shader() const { return shader_; }
  // Null when the library does not export the hook.
  VersionFn version() const { return version_; }
  // What strataMix_version answers; throws PluginError when the library
  // does not export it.
  std::int32_t interface_version() const;
  InitFn init() const { return init_; }
  ExitFn exit() const { return exit_; }
  // Any other export, by name; null when absent.
  void* symbol(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  ShaderFn shader_ = nullptr;
  VersionFn version_ = nullptr;
  InitFn init_ = nullptr;
  ExitFn exit_ = nullptr;
};

// The plug-in's file name on this platform.
const char* plugin_file_name();

// The file `name` in the running program's folder.
std::string beside_executable(const std::string& name);

// The plug-in built beside the running program.
std::string plugin_beside_executable();

}  // namespace strata::host

#endif  // STRATAMIX_HOST_PLUGIN_H
