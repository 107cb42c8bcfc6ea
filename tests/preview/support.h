// What the preview tests share: the plug-in under test and bit patterns.
#ifndef STRATAMIX_TESTS_PREVIEW_SUPPORT_H
#define STRATAMIX_TESTS_PREVIEW_SUPPORT_H

#include <cstdint>

#include "fields.h"
#include "plugin.h"

namespace strata::preview::test {

inline const host::Plugin& plugin() {
  static const host::Plugin p(STRATAMIX_PLUGIN_PATH);
  return p;
}

inline constexpr auto& bits = float_bits;

}  // namespace strata::preview::test

#endif  // STRATAMIX_TESTS_PREVIEW_SUPPORT_H
