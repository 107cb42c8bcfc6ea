// A stand-in for the renderer's module in the Windows binding tests: it
// exports mi_phen_eval, which answers every parameter with one colour chosen
// when the module is built, so that a test can tell which module answered.
#include "strataMix.h"

extern "C" __declspec(dllexport) void* mi_phen_eval(void* /*state*/, void* /*parameter*/) {
  static strataMix_color answer = {PROVIDER_RED, PROVIDER_GREEN, 0.0f, 1.0f};
  return &answer;
}
