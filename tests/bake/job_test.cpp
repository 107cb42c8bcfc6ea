// A whole bake, files and all: a texture baked back onto a plane of its
// size gives the texture back; a flat normal map bakes the surface normal;
// on the example asset every covered texel holds its own triangle's value
// and nothing beyond the padding is written; one thread and two write the
// same bytes; UDIM tiles are named by the usual rule; a stopped bake, and
// the command stopped by a signal, leave no file.
#include "job.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#if defined(STRATAMIX_TOOL)
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

#include "support.h"
#include "textures.h"

namespace strata::bake {
namespace {

using test::bits;

struct Baked {
  BakeReport report;
  std::filesystem::path dir;
};

Baked bake_look(const std::string& mesh_path, const std::string& look, BakeJob job,
                const std::filesystem::path& dir, BakeProgress* progress = nullptr) {
  host::Host h;
  preview::TextureFiles textures({dir});
  test::apply(&h, look, &textures);
  const Mesh mesh = read_mesh(mesh_path);
  job.out_dir = dir / "out";
  std::filesystem::create_directories(job.out_dir);
  if (job.name.empty()) {
    job.name = "look";
  }
  job.look = "look.preset";
  job.mesh = mesh_path;
  job.version = "stratamix test";
  return {run_bake(h, test::plugin().shader(), mesh, lay_out(mesh), job, progress), job.out_dir};
}

// The map's texels as floats, all channels.
std::vector<float> pixels(const std::filesystem::path& path, int* channels = nullptr) {
  OIIO::ImageBuf image(path.string());
  EXPECT_TRUE(image.read(0, 0, true, OIIO::TypeDesc::FLOAT)) << path << image.geterror();
  const OIIO::ImageSpec& header = image.spec();
  std::vector<float> out(static_cast<std::size_t>(header.width) * header.height * header.nchannels);
  image.get_pixels(image.roi(), OIIO::TypeDesc::FLOAT, out.data());
  if (channels != nullptr) {
    *channels = header.nchannels;
  }
  return out;
}

std::string bytes_of(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(BakeJob, ATextureOfTheBakesSizeComesBack) {
  // A 16 x 16 texture of distinct 8-bit values on the plane at 16 texels,
  // one sample each: every texel's centre is the texture's texel centre,
  // and its footprint one texel, so the lookup returns the texel itself.
  const std::filesystem::path dir = test::scratch();
  OIIO::ImageBuf texture(OIIO::ImageSpec(16, 16, 3, OIIO::TypeDesc::UINT8));
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const float rgb[3] = {static_cast<float>(x * 16 + y) / 255.0f,
                            static_cast<float>((x * 7 + y * 3) % 256) / 255.0f,
                            static_cast<float>(255 - x * y) / 255.0f};
      texture.setpixel(x, y, rgb);
    }
  }
  ASSERT_TRUE(texture.write((dir / "t.png").string()));
  BakeJob job;
  job.settings.grid = {16, 1};
  job.settings.maps = {MapKind::color};
  job.settings.threads = 2;
  const Baked b = bake_look(test::write_file(dir / "plane.obj", test::kPlane),
                            "baseColor = texture(\"t.png\")\n", job, dir);
  const std::vector<float> baked = pixels(b.dir / "look_color.1001.exr");
  const std::vector<float> given = pixels(dir / "t.png");
  for (std::size_t t = 0; t < 256; ++t) {
    SCOPED_TRACE("texel " + std::to_string(t));
    for (std::size_t c = 0; c < 3; ++c) {
      ASSERT_EQ(bits(baked[t * 4 + c]), bits(given[t * 3 + c])) << "channel " << c;
    }
    ASSERT_EQ(baked[t * 4 + 3], 1.0f) << "an RGB image's alpha is 1";
  }
}

TEST(BakeJob, AFlatNormalMapBakesTheSurfaceNormal) {
  // A float normal map of (0.5, 0.5, 1) everywhere is the frame's own
  // normal; one layer of it, every other weight neutral, hands back the
  // surface normal, as a look with no layers does.
  const std::filesystem::path dir = test::scratch();
  OIIO::ImageBuf flat(OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::FLOAT));
  const float up[3] = {0.5f, 0.5f, 1.0f};
  OIIO::ImageBufAlgo::fill(flat, up);
  ASSERT_TRUE(flat.write((dir / "flat.exr").string()));
  BakeJob job;
  job.settings.grid = {48, 2};
  job.settings.maps = {MapKind::normal, MapKind::object_normal, MapKind::coverage};
  job.settings.threads = 2;
  const Baked layered = bake_look(STRATAMIX_EXAMPLE_MESH,
                                  "normalEnable = on\nlayerCount = 1\nlayerEnable[0] = on\n"
                                  "layerNormal[0] = normalmap(\"flat.exr\")\n",
                                  job, dir);
  job.name = "plain";
  const Baked plain = bake_look(STRATAMIX_EXAMPLE_MESH, "baseColor = 1 0 0 1\n", job, dir);
  const std::vector<float> normal = pixels(layered.dir / "look_normal.1001.exr");
  const std::vector<float> coverage = pixels(layered.dir / "look_coverage.1001.exr");
  for (std::size_t t = 0; t < coverage.size(); ++t) {
    if (coverage[t] > 0.0f) {
      ASSERT_EQ(normal[t * 3 + 0], 0.5f) << "texel " << t;
      ASSERT_EQ(normal[t * 3 + 1], 0.5f) << "texel " << t;
      ASSERT_EQ(normal[t * 3 + 2], 1.0f) << "texel " << t;
    }
  }
  EXPECT_EQ(bytes_of(layered.dir / "look_object-normal.1001.exr").size(),
            bytes_of(plain.dir / "plain_object-normal.1001.exr").size());
  EXPECT_EQ(pixels(layered.dir / "look_object-normal.1001.exr"),
            pixels(plain.dir / "plain_object-normal.1001.exr"))
      << "the object-space normal is the surface's own";
}

TEST(BakeJob, CoveredTexelsHoldTheirOwnValuesAndThePaddingStopsWhereItShould) {
  // A look of the UV alone, one sample per texel: each covered texel holds
  // the host's answer at its centre, on both sides of the body's seam (its
  // left edge at u = 0.02 and its right at u = 0.98 are one edge of the
  // mesh). A hole within 3 texels of a covered one (in a square) holds a
  // fill; every texel farther out is 0.
  const std::filesystem::path dir = test::scratch();
  const char* const look =
      "baseColor = ramp(u, 0.1 0.2 0.3 1, 0.9 0.6 0.2 1)\n"
      "blendEnable = on\nlayerColor = checker(5)\nblendMode = 12\n";
  BakeJob job;
  const int n = 64;
  job.settings.grid = {n, 1};
  job.settings.maps = {MapKind::color, MapKind::coverage};
  job.settings.threads = 2;
  job.padding = 3;
  const Baked b = bake_look(STRATAMIX_EXAMPLE_MESH, look, job, dir);
  const std::vector<float> color = pixels(b.dir / "look_color.1001.exr");
  const std::vector<float> coverage = pixels(b.dir / "look_coverage.1001.exr");
  host::Host h;
  test::apply(&h, look);
  auto covered = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < n && y < n &&
           coverage[static_cast<std::size_t>(y) * n + static_cast<std::size_t>(x)] > 0;
  };
  int seam_rows = 0;
  for (int y = 0; y < n; ++y) {
    // The body spans v 0.36 to 0.98: rows whose centre lies inside it have
    // their first and last body texel at the seam's two sides.
    const float v = 1.0f - (static_cast<float>(y) + 0.5f) / n;
    if (v > 0.37f && v < 0.97f) {
      EXPECT_TRUE(covered(1, y) && covered(62, y)) << "row " << y << ": both sides of the seam";
      ++seam_rows;
    }
    for (int x = 0; x < n; ++x) {
      SCOPED_TRACE("texel " + std::to_string(x) + ", " + std::to_string(y));
      const std::size_t t = static_cast<std::size_t>(y) * n + static_cast<std::size_t>(x);
      if (covered(x, y)) {
        host::Sample s = h.make_sample(kRayEye, {0.0f, 0.0f, 1.0f});
        const preview::SurfacePoint at{(static_cast<float>(x) + 0.5f) / n, v};
        s.context = &at;
        strataMix_result r{};
        test::plugin().shader()(&r, &s.state, &h.params());
        ASSERT_EQ(bits(color[t * 4]), bits(r.outColor.r));
        ASSERT_EQ(bits(color[t * 4 + 2]), bits(r.outColor.b));
        continue;
      }
      bool near = false;
      for (int dy = -3; dy <= 3; ++dy) {
        for (int dx = -3; dx <= 3; ++dx) {
          near = near || covered(x + dx, y + dy);
        }
      }
      const bool written = color[t * 4] != 0.0f || color[t * 4 + 1] != 0.0f ||
                           color[t * 4 + 2] != 0.0f || color[t * 4 + 3] != 0.0f;
      ASSERT_EQ(written, near) << (near ? "a hole in the padding holds no fill"
                                        : "a texel beyond the padding was written");
    }
  }
  EXPECT_GT(seam_rows, 30);
}

TEST(BakeJob, OneThreadAndTwoWriteTheSameBytes) {
  const std::filesystem::path dir = test::scratch();
  const char* const look =
      "normalEnable = on\nnormalizeNormal = on\nlayerCount = 1\nlayerEnable = on\n"
      "layerNormal[0] = bump(5, 0.4)\nbaseColor = noise(6, 0 0 0 1, 1 0.8 0.6 1)\n";
  BakeJob job;
  job.settings.grid = {64, 2};
  job.settings.maps = {MapKind::color, MapKind::normal, MapKind::object_normal, MapKind::coverage};
  job.settings.threads = 1;
  const Baked one = bake_look(STRATAMIX_EXAMPLE_MESH, look, job, dir / "one");
  job.settings.threads = 2;
  const Baked two = bake_look(STRATAMIX_EXAMPLE_MESH, look, job, dir / "two");
  ASSERT_EQ(one.report.files.size(), 8u) << "four maps, EXR and PNG each";
  for (const std::string& path : one.report.files) {
    const std::filesystem::path name = std::filesystem::path(path).filename();
    SCOPED_TRACE(name.string());
    EXPECT_EQ(bytes_of(one.dir / name), bytes_of(two.dir / name));
  }
}

TEST(BakeJob, UdimTilesAreNamedByTheUsualRule) {
  // A quad in tile (0, 0), one in tile (1, 1), and a triangle beyond u = 10
  // that is left out: files for 1001 and 1012 only.
  const std::filesystem::path dir = test::scratch();
  const std::string mesh =
      test::write_file(dir / "tiles.obj",
                       "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 3 0 0\n"
                       "vt 0.1 0.1\nvt 0.9 0.1\nvt 0.9 0.9\nvt 0.1 0.9\n"
                       "vt 1.1 1.1\nvt 1.9 1.1\nvt 1.9 1.9\nvt 1.1 1.9\n"
                       "vt 10.5 0.5\nvt 10.9 0.5\nvt 10.7 0.9\n"
                       "f 1/1 2/2 3/3 4/4\nf 1/5 2/6 3/7 4/8\nf 1/9 5/10 6/11\n");
  BakeJob job;
  job.settings.grid = {8, 1};
  job.settings.maps = {MapKind::color, MapKind::coverage};
  job.name = "tiles";
  job.tx = true;
  const Baked b = bake_look(mesh, "baseColor = 0.5 0.25 1 1\n", job, dir);
  EXPECT_EQ(b.report.tiles, (std::vector<int>{1001, 1012}));
  EXPECT_EQ(b.report.skipped_triangles, 1u);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(b.dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  const std::vector<std::string> expected = {
      "tiles_color.1001.exr",    "tiles_color.1001.png",    "tiles_color.1001.tx",
      "tiles_color.1012.exr",    "tiles_color.1012.png",    "tiles_color.1012.tx",
      "tiles_coverage.1001.exr", "tiles_coverage.1001.png", "tiles_coverage.1001.tx",
      "tiles_coverage.1012.exr", "tiles_coverage.1012.png", "tiles_coverage.1012.tx"};
  EXPECT_EQ(names, expected);
  // What the file says of where it came from.
  OIIO::ImageBuf exr((b.dir / "tiles_color.1012.exr").string());
  ASSERT_TRUE(exr.init_spec(exr.name(), 0, 0));
  EXPECT_EQ(exr.spec().get_string_attribute("strataMix:look"), "look.preset");
  EXPECT_EQ(exr.spec().get_string_attribute("strataMix:mesh"), mesh);
  EXPECT_EQ(exr.spec().get_string_attribute("strataMix:version"), "stratamix test");
  EXPECT_EQ(exr.spec().get_int_attribute("strataMix:udim"), 1012);
  OIIO::ImageBuf tx((b.dir / "tiles_color.1012.tx").string());
  ASSERT_TRUE(tx.init_spec(tx.name(), 0, 0));
  EXPECT_GT(tx.spec().tile_width, 0) << "tiled";
  EXPECT_EQ(tx.nmiplevels(), 4) << "8, 4, 2 and 1 texels a side";
}

TEST(BakeJob, AStoppedBakeLeavesNoFile) {
  const std::filesystem::path dir = test::scratch();
  BakeJob job;
  job.settings.grid = {512, 2};
  job.settings.maps = {MapKind::color, MapKind::normal};
  BakeProgress progress;
  // Stops the bake once it has begun.
  std::thread stopper([&] {
    while (progress.samples == 0) {
      std::this_thread::yield();
    }
    progress.stop = true;
  });
  EXPECT_THROW(bake_look(STRATAMIX_EXAMPLE_MESH, "baseColor = noise(4)\n", job, dir, &progress),
               BakeInterrupted);
  stopper.join();
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

#if defined(STRATAMIX_TOOL)
TEST(BakeJob, TheToolStoppedBySignalLeavesNoFileAndSaysSo) {
  // stratamix bake as a user stops it: once its progress shows it shading,
  // either signal ends it with status 130 and nothing in its folder.
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number == SIGINT ? "SIGINT" : "SIGTERM");
    const std::filesystem::path dir = test::scratch() / std::to_string(signal_number);
    std::filesystem::create_directories(dir);
    const std::string preset = test::write_file(dir / "look.preset", "baseColor = noise(4)\n");
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::string words[] = {
        STRATAMIX_TOOL, "bake", preset, "--mesh", STRATAMIX_EXAMPLE_MESH, "--size",
        "2048",         "--aa", "2",    "--out",  (dir / "out").string()};
    std::vector<char*> argv;
    for (std::string& w : words) {
      argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, STRATAMIX_TOOL, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    FILE* said = fdopen(err[0], "r");
    char line[256] = {};
    const bool shading =
        std::fgets(line, sizeof line, said) != nullptr && std::string(line).rfind("bake ", 0) == 0;
    EXPECT_TRUE(shading) << "its first line: '" << line << "'";
    ASSERT_EQ(kill(pid, signal_number), 0);
    std::string rest;
    while (std::fgets(line, sizeof line, said) != nullptr) {
      rest += line;
    }
    std::fclose(said);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_NE(rest.find("stratamix bake: interrupted; no map written\n"), std::string::npos)
        << rest;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
  }
}
#endif

}  // namespace
}  // namespace strata::bake
