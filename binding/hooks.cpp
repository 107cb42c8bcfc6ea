// The hooks the renderer finds by name next to the shader. The shader keeps
// nothing per shader or per instance, so each hook has nothing to set up or
// tear down.
#include "strataMix.h"

extern "C" {

STRATAMIX_API int32_t strataMix_version(void) { return STRATAMIX_INTERFACE_VERSION; }

// The renderer calls this once for the shader, with no parameter record, and
// once per instance, with one; a stored 0 tells it that no instance needs
// initialising. A null flag pointer would leave nowhere to answer, so it is
// left alone rather than written through.
STRATAMIX_API void strataMix_init(mi_state* /*state*/, strataMix_params* params,
                                  int32_t* init_req) {
  if (params == nullptr && init_req != nullptr) {
    *init_req = 0;
  }
}

STRATAMIX_API void strataMix_exit(void) {}

}  // extern "C"
