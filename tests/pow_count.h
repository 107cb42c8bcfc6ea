// How many times the C library's pow and powf were called: the test
// programs define both, count each call and hand it on to the library's own,
// and export them, so that a loaded plug-in's calls bind to them before the
// library (ELF's lookup runs through the program first). A Windows DLL
// imports the C runtime's pow by name from msvcrt, which a program cannot
// stand in for; there the count is not kept.
#ifndef STRATAMIX_TESTS_POW_COUNT_H
#define STRATAMIX_TESTS_POW_COUNT_H

#include <cstdint>

namespace strata::test {

// Whether this platform's test programs count the plug-in's pow calls.
constexpr bool kPowCounted =
#if defined(_WIN32)
    false;
#else
    true;
#endif

// pow and powf calls since the program started, on every thread.
std::uint64_t pow_calls();

}  // namespace strata::test

#endif  // STRATAMIX_TESTS_POW_COUNT_H
