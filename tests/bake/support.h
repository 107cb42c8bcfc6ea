// What the bake tests share: the plug-in under test, a scratch folder of
// the test's own, meshes written as OBJ text, and a host with a preset.
#ifndef STRATAMIX_TESTS_BAKE_SUPPORT_H
#define STRATAMIX_TESTS_BAKE_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "../preview/support.h"
#include "preset.h"

namespace strata::bake::test {

using preview::test::bits;
using preview::test::plugin;

// A fresh folder for the running test, under the build tree.
inline std::filesystem::path scratch() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path dir = std::filesystem::path(STRATAMIX_BAKE_WORK) /
                                    (std::string(info->test_suite_name()) + "." + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return path.string();
}

// One quad over UV 0..1 facing +z: u along +x, v along +y, so that its
// tangent is +x and its bitangent +y. Two triangles sharing the diagonal.
inline const char kPlane[] =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "vn 0 0 1\n"
    "f 1/1/1 2/2/1 3/3/1 4/4/1\n";

// The host's record as the preview sets it, with the preset applied.
inline void apply(host::Host* h, const std::string& preset,
                  preview::TextureSource* textures = nullptr) {
  preview::set_preview_defaults(&h->params());
  preview::apply_preset(preview::parse_preset(preset), h, textures);
}

}  // namespace strata::bake::test

#endif  // STRATAMIX_TESTS_BAKE_SUPPORT_H
