/* A scene tool written in C sees the records as the plug-in does, from the
 * unpacked headers alone. */
#include <stddef.h>

#include "strataMix.h"

_Static_assert(sizeof(strataMix_params) == 304, "strataMix_params size");
_Static_assert(offsetof(strataMix_params, outputNormal) == 300, "outputNormal");
_Static_assert(sizeof(strataMix_result) == 28, "strataMix_result size");
