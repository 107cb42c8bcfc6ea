// A plug-in that follows interface version 2, which the tools must refuse
// before they call its shader.
#include <cstdint>

extern "C" std::int32_t strataMix_version() { return 2; }

extern "C" std::int32_t strataMix(void*, void*, void*) { return 1; }
