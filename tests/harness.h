// Runs the built plug-in through the stand-in host, as every test does.
#ifndef STRATAMIX_TESTS_HARNESS_H
#define STRATAMIX_TESTS_HARNESS_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fields.h"
#include "host.h"
#include "plugin.h"

namespace strata::test {

// The plug-in under test, loaded once.
const host::Plugin& plugin();

// Whether the plug-in under test was built with the single float model.
constexpr bool kSingleModel =
#if defined(STRATAMIX_TEST_SINGLE_MODEL)
    true;
#else
    false;
#endif

inline constexpr auto& bits = float_bits;
inline constexpr auto& from_bits = float_from_bits;

// A pattern the shader never computes from the inputs the tests give: a
// result field still holding it after a call was not written.
constexpr std::uint32_t kUnwritten = 0x7fa11a5e;

struct Call {
  std::int32_t returned;
  strataMix_result result;
  strataMix_vector normal;             // the state's normal after the call
  std::vector<std::string> evaluated;  // names passed to mi_phen_eval, in order
};

Call shade(const host::Host& h, std::int32_t ray_type = 0,
           strataMix_vector normal = {0.0f, 0.0f, 1.0f});

bool color_written(const Call& c);
bool normal_written(const Call& c);

// "0x3f800000 0x00000000 ..." for readable failure messages.
std::string hex(const float* values, int count);
inline std::string hex(strataMix_color c) { return hex(&c.r, 4); }
inline std::string hex(strataMix_vector v) { return hex(&v.x, 3); }

std::vector<std::string> split_names(const std::string& spaced);

}  // namespace strata::test

#endif  // STRATAMIX_TESTS_HARNESS_H
