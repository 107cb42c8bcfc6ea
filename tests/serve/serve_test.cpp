// stratamix serve's API against a server on a free port of this machine: a
// render gives stratamix preview's pixels for the same preset; each refusal
// has its status and message; renders sent at once each get their own
// picture, and those beyond the queue 503; the tool starts from the build
// tree and stops on SIGINT and SIGTERM.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin.h"
#include "server.h"

extern char** environ;

namespace strata::serve {
namespace {

const host::Plugin& plugin() {
  static const host::Plugin p(STRATAMIX_PLUGIN_PATH);
  return p;
}

// A server on a free port, answering on a thread of its own while it lives.
class Running {
 public:
  explicit Running(Options options = {})
      : server_(plugin().shader(), on_a_free_port(std::move(options))),
        thread_([this] { server_.run(); }) {}
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
  ~Running() {
    server_.stop();
    thread_.join();
  }
  httplib::Client client() const {
    httplib::Client c("127.0.0.1", server_.port());
    c.set_read_timeout(120);
    return c;
  }

 private:
  static Options on_a_free_port(Options o) {
    o.port = 0;
    return o;
  }
  Server server_;
  std::thread thread_;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};

Picture decoded(OIIO::ImageBuf image) {
  EXPECT_TRUE(image.read(0, 0, true, OIIO::TypeDesc::UINT8)) << image.geterror();
  Picture p{image.spec().width, image.spec().height, {}};
  EXPECT_EQ(image.spec().nchannels, 3);
  p.rgb.resize(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) * 3);
  image.get_pixels(image.roi(), OIIO::TypeDesc::UINT8, p.rgb.data());
  return p;
}

Picture png_picture(const std::string& png) {
  OIIO::Filesystem::IOMemReader reader(png.data(), png.size());
  return decoded(OIIO::ImageBuf("picture.png", 0, 0, nullptr, nullptr, &reader));
}

// How many places of `whole` hold `part`, pixel for pixel.
int places(const Picture& whole, const Picture& part) {
  const auto row = static_cast<std::size_t>(part.width) * 3;
  int found = 0;
  for (int y = 0; y + part.height <= whole.height; ++y) {
    for (int x = 0; x + part.width <= whole.width; ++x) {
      bool same = true;
      for (int r = 0; r < part.height && same; ++r) {
        const auto at = (static_cast<std::size_t>(y + r) * static_cast<std::size_t>(whole.width) +
                         static_cast<std::size_t>(x)) *
                        3;
        same = std::memcmp(&whole.rgb[at], &part.rgb[static_cast<std::size_t>(r) * row], row) == 0;
      }
      found += same ? 1 : 0;
    }
  }
  return found;
}

TEST(Serve, RenderGivesThePreviewToolsPixels) {
  const Running server;
  httplib::Client client = server.client();
  struct Case {
    const char* preset;
    const char* shape;
    int width;  // one panel, or two with the lit normal 256 / 32 pixels apart
  };
  for (const Case c :
       {Case{"overlay-checker", "sphere", 256}, Case{"layered-bumps", "swatch", 520}}) {
    SCOPED_TRACE(c.preset);
    const std::string preset = std::string(STRATAMIX_EXAMPLE_PRESETS) + "/" + c.preset + ".preset";
    const std::string out = std::string(STRATAMIX_ACTUAL_DIR) + "/preview-" + c.shape;
    std::string command = STRATAMIX_TOOL;
    command.append(" preview --out ").append(out).append(" --shape ").append(c.shape);
    command.append(" ").append(preset).append(" > /dev/null");
    ASSERT_EQ(std::system(command.c_str()), 0);
    const auto res = client.Post("/api/render?size=256&aa=2&shape=" + std::string(c.shape),
                                 read_file(preset), "text/plain");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    const Picture served = png_picture(res->body);
    EXPECT_EQ(served.width, c.width);
    EXPECT_EQ(served.height, 256);
    // The tool's picture is the same frame on a sheet, under a title and
    // above a label.
    EXPECT_EQ(places(decoded(OIIO::ImageBuf(out + "/" + c.preset + ".png")), served), 1);
  }
}

TEST(Serve, RefusesWhatItWillNotServeAndServesOn) {
  const Running server;
  httplib::Client client = server.client();
  const std::string over(64 * 1024 + 1, '#');
  const std::string too_long = R"({"error":"the request body is over 65536 bytes"})";
  struct Row {
    const char* method;
    std::string path;
    std::string body;
    int status;
    std::string answer;
    bool chunked = false;
  };
  const Row rows[] = {
      {"POST", "/api/render", over, 413, too_long},
      {"POST", "/api/render", over, 413, too_long, true},
      {"POST", "/api/render?size=2049", "", 400,
       R"({"error":"size (pixels a side) must be a whole number from 8 to 2048, not '2049'"})"},
      {"POST", "/api/render?aa=9", "", 400,
       R"({"error":"aa (samples per pixel along each axis) must be a whole number from 1 to 8, not '9'"})"},
      {"POST", "/api/render?size=2048&aa=2", "", 400,
       R"({"error":"size 2048 at aa 2 is 16777216 shader calls, over the limit of 16000000"})"},
      {"POST", "/api/render?shape=cube", "", 400,
       R"({"error":"shape is sphere or swatch, not 'cube'"})"},
      {"POST", "/api/render?ray=shadow", "", 400,
       R"({"error":"ray is eye, reflection, refraction, photon or final-gather, not 'shadow'"})"},
      {"POST", "/api/render?colour=red", "", 400,
       R"j({"error":"unknown render option 'colour' (shape, size, aa, ray)"})j"},
      {"POST", "/api/render", "blendEnable = on\nblendMod = 15\n", 400,
       R"({"error":"line 2: unknown parameter 'blendMod'","line":2})"},
      {"POST", "/api/parse", "gamma = abc\n", 400,
       R"({"error":"line 1: 'abc' is not a number","line":1})"},
      {"GET", "/../serve/page/app.js", "", 404,
       R"({"error":"no such page: /../serve/page/app.js"})"},
      {"GET", "/%2e%2e/%2e%2e/README.md", "", 404, R"({"error":"no such page: /../../README.md"})"},
      {"GET", "/%2E%2E%2Fapp.js", "", 404, R"({"error":"no such page: /../app.js"})"},
      {"GET", "/app.js/", "", 404, R"({"error":"no such page: /app.js/"})"},
      {"GET", "/index.html", "", 404, R"({"error":"no such page: /index.html"})"},
      {"POST", "/api/fields", "", 404, R"({"error":"no such page: /api/fields"})"},
      {"DELETE", "/api/render", "", 404, R"({"error":"no such page: /api/render"})"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.path + (row.chunked ? " (chunked)" : ""));
    const httplib::Result res = [&] {
      if (row.method == std::string("GET")) {
        return client.Get(row.path);
      }
      if (row.method == std::string("DELETE")) {
        return client.Delete(row.path);
      }
      if (row.chunked) {
        return client.Post(
            row.path,
            [&](std::size_t, httplib::DataSink& sink) {
              sink.write(row.body.data(), row.body.size());
              sink.done();
              return true;
            },
            "text/plain");
      }
      return client.Post(row.path, row.body, "text/plain");
    }();
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->status, row.status);
    EXPECT_EQ(res->body, row.answer);
  }
  const auto fields = client.Get("/api/fields");
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->status, 200);
}

TEST(Serve, TexturesComeFromItsFolderAlone) {
  // A folder with one image and a link out of it; the server started with
  // it renders the image, and refuses every name that leads elsewhere.
  const std::string dir = std::string(STRATAMIX_ACTUAL_DIR) + "/textures";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir + "/inside/sub");
  OIIO::ImageBuf grey(OIIO::ImageSpec(2, 2, 3, OIIO::TypeDesc::UINT8));
  ASSERT_TRUE(grey.write(dir + "/inside/sub/grey.png"));
  ASSERT_TRUE(grey.write(dir + "/outside.png"));
  std::filesystem::create_symlink(dir + "/outside.png", dir + "/inside/link.png");
  Options with;
  with.textures = dir + "/inside";
  const Running server(with);
  const Running without;
  httplib::Client client = server.client();
  const std::string render = "/api/render?size=8&aa=1";
  struct Row {
    const Running* server;
    std::string preset;
    int status;
    std::string answer;  // for a refusal
  };
  const Row rows[] = {
      {&server, "baseColor = texture(\"sub/grey.png\")", 200, ""},
      {&server, "baseColor = texture(\"link.png\")", 400,
       R"({"error":"line 1: texture \"link.png\": leads outside the textures folder","line":1})"},
      {&server, "gamma = 1\nbaseColor = texture(\"../outside.png\")", 400,
       R"({"error":"line 2: texture \"../outside.png\": leads outside the textures folder","line":2})"},
      {&server, "baseColor = texture(\"sub\")", 400,
       R"j({"error":"line 1: texture \"sub\": not a regular file (a folder)","line":1})j"},
      {&server, "baseColor = texture(\"none.png\")", 400,
       R"({"error":"line 1: texture \"none.png\": Could not open file \"none.png\"","line":1})"},
      {&without, "baseColor = texture(\"sub/grey.png\")", 400,
       R"j({"error":"line 1: texture \"sub/grey.png\": this server reads no textures (stratamix serve --textures DIR names the folder they come from)","line":1})j"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.preset);
    const auto res = r.server->client().Post(render, r.preset, "text/plain");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, r.status);
    if (r.status != 200) {
      EXPECT_EQ(res->body, r.answer);
    }
  }
  // The field list names what the folder holds: its images, not the link
  // that leads out.
  const auto fields = client.Get("/api/fields");
  ASSERT_TRUE(fields);
  EXPECT_NE(fields->body.find(R"("textures":["sub/grey.png"])"), std::string::npos);
  const auto parsed =
      client.Post("/api/parse", "baseColor = texture(\"a.png\", clamp, srgb)", "text/plain");
  ASSERT_TRUE(parsed);
  EXPECT_NE(
      parsed->body.find(
          R"("texture":{"colorspace":"srgb","kind":"texture","path":"a.png","wrap":"clamp"})"),
      std::string::npos)
      << parsed->body;
}

struct Answer {
  int status = 0;  // 0: no answer
  std::string body;
};

// The presets rendered at `path`, each sent on a connection of its own, all
// at once.
std::vector<Answer> at_once(const Running& server, const std::string& path,
                            const std::vector<std::string>& presets) {
  std::vector<Answer> answers(presets.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < presets.size(); ++i) {
    threads.emplace_back([&, i] {
      httplib::Client client = server.client();
      if (const auto res = client.Post(path, presets[i], "text/plain")) {
        answers[i] = {res->status, res->body};
      }
    });
  }
  for (std::thread& t : threads) {
    t.join();
  }
  return answers;
}

TEST(Serve, SixteenRendersAtOnceEachGetTheirOwnPicture) {
  const Running server;
  const std::string path = "/api/render?size=128&aa=2";
  std::vector<std::string> presets;
  std::vector<std::string> alone;
  httplib::Client client = server.client();
  for (int i = 0; i < 16; ++i) {
    presets.push_back("blendEnable = on\nlayerColor = 0.9 0.3 0.1 1\nblendMode = " +
                      std::to_string(i) + "\nbaseColor = checker(" + std::to_string(i + 1) + ")\n");
    const auto res = client.Post(path, presets.back(), "text/plain");
    ASSERT_TRUE(res && res->status == 200);
    alone.push_back(res->body);
  }
  const std::vector<Answer> together = at_once(server, path, presets);
  for (std::size_t i = 0; i < presets.size(); ++i) {
    EXPECT_EQ(together[i].status, 200) << i;
    EXPECT_EQ(together[i].body, alone[i]) << i;
  }
}

TEST(Serve, RendersBeyondTheQueueGet503) {
  Options options;
  options.renders = 1;
  options.waiting = 1;
  const Running server(options);
  // Slow enough that all six are in before the first is done: one renders,
  // one waits, four are turned away.
  const std::vector<std::string> presets(6, "baseColor = noise(40)\nlayerColor = noise(7)\n");
  int rendered = 0;
  int busy = 0;
  for (const Answer& answer : at_once(server, "/api/render?size=2048&aa=1", presets)) {
    rendered += answer.status == 200 ? 1 : 0;
    if (answer.status == 503) {
      ++busy;
      EXPECT_EQ(
          answer.body,
          R"({"error":"busy: every render place is taken and the queue is full; try again"})");
    }
  }
  EXPECT_EQ(rendered, 2);
  EXPECT_EQ(busy, 4);
}

// The tool as a user starts it: it says where it listens, serves the page
// and stops cleanly on either signal.
TEST(Serve, ToolServesAndStopsOnSigintAndSigterm) {
  for (const int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number == SIGINT ? "SIGINT" : "SIGTERM");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string words[] = {STRATAMIX_TOOL, "serve", "--port", "0"};
    char* argv[] = {words[0].data(), words[1].data(), words[2].data(), words[3].data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, STRATAMIX_TOOL, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* said = fdopen(out[0], "r");
    char line[256] = {};
    ASSERT_NE(std::fgets(line, sizeof line, said), nullptr);
    int port = 0;
    ASSERT_EQ(std::sscanf(line, "stratamix serve: http://127.0.0.1:%d/", &port), 1) << line;
    httplib::Client client("127.0.0.1", port);
    const auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->body.rfind("<!doctype html>", 0), 0U);
    client.stop();
    ASSERT_EQ(kill(pid, signal_number), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_NE(std::fgets(line, sizeof line, said), nullptr);
    EXPECT_EQ(std::string(line), std::string("stratamix serve: stopped (") +
                                     (signal_number == SIGINT ? "SIGINT" : "SIGTERM") + ")\n");
    std::fclose(said);
  }
}

}  // namespace
}  // namespace strata::serve
