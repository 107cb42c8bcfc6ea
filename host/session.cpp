#include "session.h"

namespace strata::host {

Session::Session(const std::string& path) : plugin_(path) {
  const std::int32_t version = plugin_.interface_version();
  if (version != STRATAMIX_INTERFACE_VERSION) {
    throw PluginError(path + " follows interface version " + std::to_string(version) +
                      "; stratamix knows " + std::to_string(STRATAMIX_INTERFACE_VERSION));
  }
  // As a renderer does: the shader's init, with no instance, before the
  // first call. The plug-in answers through the flag whether instances need
  // an init of their own; the host keeps none.
  if (plugin_.init() != nullptr) {
    std::int32_t init_request = 0;
    plugin_.init()(nullptr, nullptr, &init_request);
  }
}

Session::~Session() {
  if (plugin_.exit() != nullptr) {
    plugin_.exit()();
  }
}

}  // namespace strata::host
