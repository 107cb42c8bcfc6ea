// A plug-in held as a renderer holds it for a run: loaded by path, its
// interface version checked before anything else is called, its init called
// before the first shader call and its exit after the last. Every tool that
// runs the shader takes it through one.
#ifndef STRATAMIX_HOST_SESSION_H
#define STRATAMIX_HOST_SESSION_H

#include <string>

#include "plugin.h"

namespace strata::host {

class Session {
 public:
  // Throws PluginError when the plug-in cannot be loaded, lacks an entry
  // point or follows another interface version than the host's; nothing of
  // it has then been called but strataMix_version.
  explicit Session(const std::string& path);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  ShaderFn shader() const { return plugin_.shader(); }
  const Plugin& plugin() const { return plugin_; }

 private:
  Plugin plugin_;
};

}  // namespace strata::host

#endif  // STRATAMIX_HOST_SESSION_H
