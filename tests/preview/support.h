// What the preview tests share: the plug-in under test and bit patterns.
#ifndef STRATAMIX_TESTS_PREVIEW_SUPPORT_H
#define STRATAMIX_TESTS_PREVIEW_SUPPORT_H

#include <cstdint>
#include <cstring>

#include "plugin.h"

namespace strata::preview::test {

inline const host::Plugin& plugin() {
  static const host::Plugin p(STRATAMIX_PLUGIN_PATH);
  return p;
}

inline std::uint32_t bits(float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

}  // namespace strata::preview::test

#endif  // STRATAMIX_TESTS_PREVIEW_SUPPORT_H
