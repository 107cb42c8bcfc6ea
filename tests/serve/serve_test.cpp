// stratamix serve's API against a server on a free port of this machine,
// spoken to byte for byte as a client writes it: a render gives stratamix
// preview's pixels for the same preset; each refusal has its status and
// message; renders sent at once each get their own picture, and those
// beyond the queue 503; a burst gets only answers, never resets; held and
// trickling connections neither starve the others nor hold off a signal;
// the render pool drops a cancelled render's pieces; the tool starts from
// the build tree and stops on SIGINT and SIGTERM.
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plugin.h"
#include "render_pool.h"
#include "server.h"

extern char** environ;

namespace strata::serve {
namespace {

using Clock = std::chrono::steady_clock;

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
  int port() const { return server_.port(); }
  const Server& server() const { return server_; }

 private:
  static Options on_a_free_port(Options o) {
    o.port = 0;
    return o;
  }
  Server server_;
  std::thread thread_;
};

struct Reply {
  int status = 0;  // 0: the connection ended, or the time ran out, first
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// One connection to the server on loopback, written and read as bytes.
class Connection {
 public:
  explicit Connection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { close(fd_); }

  bool connected() const { return connected_; }
  // False once the server has closed the connection.
  bool send(const std::string& bytes) {
    std::size_t sent = 0;
    while (connected_ && sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) {
        return false;
      }
      sent += static_cast<std::size_t>(n);
    }
    return connected_;
  }
  // The next answer, its body by its Content-Length.
  Reply reply(int seconds = 120) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    std::size_t head_end = 0;
    while ((head_end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill(deadline)) {
        return {};
      }
    }
    Reply r;
    std::istringstream head(buffer_.substr(0, head_end));
    std::string line;
    std::getline(head, line);
    if (std::sscanf(line.c_str(), "HTTP/1.%*d %d", &r.status) != 1) {
      return {};
    }
    while (std::getline(head, line)) {
      const std::size_t colon = line.find(':');
      std::string name = line.substr(0, colon);
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      r.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
      if (!r.headers[name].empty() && r.headers[name].back() == '\r') {
        r.headers[name].pop_back();
      }
    }
    const std::size_t length = std::stoul(r.headers["content-length"]);
    buffer_.erase(0, head_end + 4);
    while (buffer_.size() < length) {
      if (!fill(deadline)) {
        return {};
      }
    }
    r.body = buffer_.substr(0, length);
    buffer_.erase(0, length);
    return r;
  }
  // Whether the server has closed the connection (or sent something
  // unasked) within `ms` milliseconds.
  bool closed_within(int ms) {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
  }

 private:
  bool fill(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) {
      return false;
    }
    char chunk[65536];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  int fd_;
  bool connected_ = false;
  std::string buffer_;
};

// A request as a client writes it; a POST says its body's length unless
// `extra` gives another framing.
std::string request(const std::string& method, const std::string& path,
                    const std::string& body = "", const std::string& extra = "") {
  std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra;
  if (method == "POST" && extra.find("Transfer-Encoding") == std::string::npos) {
    text += "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  }
  return text + "\r\n" + body;
}

// The body in chunks of 4096 bytes, as a client without a length sends it.
std::string chunked(const std::string& body) {
  std::string text;
  for (std::size_t at = 0; at < body.size(); at += 4096) {
    const std::string part = body.substr(at, 4096);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", part.size());
    text += size + part + "\r\n";
  }
  return text + "0\r\n\r\n";
}

// One request on a connection of its own.
Reply ask(int port, const std::string& bytes) {
  Connection c(port);
  c.send(bytes);
  return c.reply();
}

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

// The threads this process runs now.
int threads_now() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) {
      return std::stoi(line.substr(8));
    }
  }
  return -1;
}

TEST(Serve, RenderGivesThePreviewToolsPixels) {
  const Running server;
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
    const Reply res = ask(server.port(),
                          request("POST", "/api/render?size=256&aa=2&shape=" + std::string(c.shape),
                                  read_file(preset)));
    ASSERT_EQ(res.status, 200) << res.body;
    EXPECT_EQ(res.headers.at("content-type"), "image/png");
    const Picture served = png_picture(res.body);
    EXPECT_EQ(served.width, c.width);
    EXPECT_EQ(served.height, 256);
    // The tool's picture is the same frame on a sheet, under a title and
    // above a label.
    EXPECT_EQ(places(decoded(OIIO::ImageBuf(out + "/" + c.preset + ".png")), served), 1);
  }
}

// The little-endian 32-bit word at `at` of an answer's body.
std::uint32_t word_at(const std::string& body, std::size_t at) {
  std::uint32_t w = 0;
  for (int i = 3; i >= 0; --i) {
    w = (w << 8) | static_cast<unsigned char>(body.at(at + static_cast<std::size_t>(i)));
  }
  return w;
}

TEST(Serve, FloatsAreTheShadersNumbers) {
  const Running server;
  struct Row {
    const char* what;
    const char* options;
    const char* preset;
    std::uint32_t size;
    std::uint32_t flags;  // bit 0 the normal stage ran; bits 8-15 what the result holds
    int x, y;             // a pixel, and its words
    std::array<std::uint32_t, 4> rgba;
    std::uint32_t coverage;
    std::array<std::uint32_t, 3> normal;  // where the normal stage ran
  };
  const Row rows[] = {
      {"a colour as given",
       "shape=swatch&size=8&aa=1",
       "baseColor = 0.25 0.5 0.75 0.125\n",
       8,
       0,
       3,
       5,
       {0x3e800000, 0x3f000000, 0x3f400000, 0x3e000000},
       0x3f800000,
       {}},
      {"a value over 1 and a negative one",
       "shape=swatch&size=8&aa=2",
       "baseColor = 4 -2 0.5 1\n",
       8,
       0,
       7,
       0,
       {0x40800000, 0xc0000000, 0x3f000000, 0x3f800000},
       0x3f800000,
       {}},
      {"NaN and infinity as they came",
       "shape=swatch&size=8&aa=1",
       "baseColor = nan inf -inf 1\n",
       8,
       0,
       0,
       0,
       {0x7fc00000, 0x7f800000, 0xff800000, 0x3f800000},
       0x3f800000,
       {}},
      {"the normal stage ran",
       "shape=swatch&size=16&aa=1",
       "normalEnable = on\n",
       16,
       1,
       8,
       8,
       {0x3f000000, 0x3f000000, 0x3f000000, 0x3f800000},
       0x3f800000,
       {0, 0, 0x3f800000}},
      {"the normal as the result",
       "shape=swatch&size=16&aa=1",
       "normalEnable = on\noutputNormal = on\n",
       16,
       0x101,
       8,
       8,
       {0, 0, 0x3f800000, 0x3f800000},
       0x3f800000,
       {0, 0, 0x3f800000}},
      {"off the sphere every number is 0",
       "shape=sphere&size=8&aa=1",
       "",
       8,
       0,
       0,
       0,
       {0, 0, 0, 0},
       0,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Reply res =
        ask(server.port(),
            request("POST", std::string("/api/render?format=f32&") + row.options, row.preset));
    ASSERT_EQ(res.status, 200) << res.body;
    EXPECT_EQ(res.headers.at("content-type"), "application/octet-stream");
    const std::size_t pixels = std::size_t{row.size} * row.size;
    const bool normal_stage = (row.flags & 1) != 0;
    // The result, the coverage, the brightness, and the normal where the
    // stage ran.
    ASSERT_EQ(res.body.size(), 16 + pixels * (normal_stage ? 36 : 24));
    EXPECT_EQ(res.body.substr(0, 4), "SMF1");
    EXPECT_EQ(word_at(res.body, 4), row.size);
    EXPECT_EQ(word_at(res.body, 8), row.size);
    EXPECT_EQ(word_at(res.body, 12), row.flags);
    const std::size_t p =
        static_cast<std::size_t>(row.y) * row.size + static_cast<std::size_t>(row.x);
    for (std::size_t c = 0; c < 4; ++c) {
      EXPECT_EQ(word_at(res.body, 16 + (p * 4 + c) * 4), row.rgba[c]) << "channel " << c;
    }
    EXPECT_EQ(word_at(res.body, 16 + (pixels * 4 + p) * 4), row.coverage);
    if (row.coverage == 0) {
      EXPECT_EQ(word_at(res.body, 16 + (pixels * 5 + p) * 4), 0U) << "no light off the surface";
    }
    for (std::size_t c = 0; normal_stage && c < 3; ++c) {
      EXPECT_EQ(word_at(res.body, 16 + (pixels * 6 + p * 3 + c) * 4), row.normal[c])
          << "axis " << c;
    }
  }
}

// A folder of scenes for the page, made afresh: inner.mi and sub/deep.mi;
// alias.mi, a link to inner.mi; outside.mi, a link out of the folder;
// dir.mi, a folder; notes.txt, no scene; big.mi, 65 MiB of comments.
std::string scenes_folder() {
  namespace fs = std::filesystem;
  const fs::path root = fs::path(STRATAMIX_ACTUAL_DIR) / "scenes";
  fs::remove_all(root);
  fs::create_directories(root / "sub");
  fs::create_directories(root / "dir.mi");
  std::ofstream(root / "inner.mi")
      << "shader \"one\" \"strataMix\" ( \"baseColor\" 0.5 0.5 0.5, \"gamma\" 2 )\n";
  std::ofstream(root / "sub" / "deep.mi") << "$include \"../inner.mi\"\n";
  std::ofstream(root / "notes.txt") << "shader \"two\" \"strataMix\" ( )\n";
  fs::create_symlink("inner.mi", root / "alias.mi");
  fs::create_symlink(fs::path(STRATAMIX_PAGE_DIR) / ".." / ".." / "tests" / "scene" / "looks.mi",
                     root / "outside.mi");
  std::ofstream big(root / "big.mi");
  const std::string line = "#" + std::string(1022, 'x') + "\n";
  for (int i = 0; i < 65 * 1024; ++i) {
    big << line;
  }
  return root.string();
}

TEST(Serve, RefusesWhatItWillNotServeAndServesOn) {
  Options options;
  options.scenes = scenes_folder();
  const Running server(options);
  const std::string over(64 * 1024 + 1, '#');
  const std::string too_long = R"({"error":"the request body is over 65536 bytes"})";
  std::string fields_101;
  for (int i = 0; i < 100; ++i) {
    fields_101 += "X-Field-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
  }
  const std::string app_js = read_file(std::string(STRATAMIX_PAGE_DIR) + "/app.js");
  std::string ranges = "Range: bytes=0-";
  for (int i = 1; i < 2700; ++i) {
    ranges += ",0-";
  }
  struct Row {
    const char* what;
    std::string bytes;
    int status;
    std::optional<std::string> answer;  // none: the library's own words
  };
  const Row rows[] = {
      {"a body over the limit", request("POST", "/api/render", over), 413, too_long},
      {"a chunked body over the limit",
       request("POST", "/api/render", chunked(over), "Transfer-Encoding: chunked\r\n"), 413,
       too_long},
      {"a chunked body within it",
       request("POST", "/api/parse", chunked("gamma = 2\n"), "Transfer-Encoding: chunked\r\n"), 200,
       R"({"assignments":[{"line":1,"name":"gamma","slot":null,"value":"2"}]})"},
      {"a POST without a length has an empty body",
       "POST /api/parse HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 200, R"({"assignments":[]})"},
      {"size", request("POST", "/api/render?size=2049"), 400,
       R"({"error":"size (pixels a side) must be a whole number from 8 to 2048, not '2049'"})"},
      {"aa", request("POST", "/api/render?aa=9"), 400,
       R"({"error":"aa (samples per pixel along each axis) must be a whole number from 1 to 8, not '9'"})"},
      {"calls", request("POST", "/api/render?size=2048&aa=2"), 400,
       R"({"error":"size 2048 at aa 2 is 16777216 shader calls, over the limit of 16000000"})"},
      {"shape", request("POST", "/api/render?shape=cube"), 400,
       R"({"error":"shape is sphere or swatch, not 'cube'"})"},
      {"ray", request("POST", "/api/render?ray=shadow"), 400,
       R"({"error":"ray is eye, reflection, refraction, photon or final-gather, not 'shadow'"})"},
      {"token", request("POST", "/api/render?token=a%20b"), 400,
       R"({"error":"token is 1 to 64 letters, digits, '-' or '_', not 'a b'"})"},
      {"an unknown option", request("POST", "/api/render?colour=red"), 400,
       R"j({"error":"unknown render option 'colour' (shape, size, aa, ray, token, format)"})j"},
      {"format", request("POST", "/api/render?format=exr"), 400,
       R"({"error":"format is png or f32, not 'exr'"})"},
      {"a bad preset", request("POST", "/api/render", "blendEnable = on\nblendMod = 15\n"), 400,
       R"({"error":"line 2: unknown parameter 'blendMod'","line":2})"},
      {"a bad value", request("POST", "/api/parse", "gamma = abc\n"), 400,
       R"({"error":"line 1: 'abc' is not a number","line":1})"},
      {"..", request("GET", "/../serve/page/app.js"), 404,
       R"({"error":"no such page: /../serve/page/app.js"})"},
      {"%2e%2e", request("GET", "/%2e%2e/%2e%2e/README.md"), 404,
       R"({"error":"no such page: /../../README.md"})"},
      {"%2E%2E%2F", request("GET", "/%2E%2E%2Fapp.js"), 404,
       R"({"error":"no such page: /../app.js"})"},
      {"a trailing /", request("GET", "/app.js/"), 404, R"({"error":"no such page: /app.js/"})"},
      {"index.html", request("GET", "/index.html"), 404,
       R"({"error":"no such page: /index.html"})"},
      {"POST /api/fields", request("POST", "/api/fields"), 404,
       R"({"error":"no such page: /api/fields"})"},
      {"DELETE", request("DELETE", "/api/render"), 404, R"({"error":"no such page: /api/render"})"},
      {"101 header fields", request("GET", "/api/fields", "", fields_101), 431,
       R"({"error":"the request has 101 header fields, over the limit of 100"})"},
      {"a head of 40 KB",
       request("GET", "/api/fields", "", "X-Big: " + std::string(40000, 'a') + "\r\n"), 431,
       std::nullopt},
      {"2,700 ranges get the whole file once", request("GET", "/app.js", "", ranges + "\r\n"), 200,
       app_js},
      {"the scenes, each once, none outside", request("GET", "/api/scenes"), 200,
       R"({"scenes":["big.mi","inner.mi","sub/deep.mi"]})"},
      {"scenes with options", request("GET", "/api/scenes?all=1"), 400,
       R"({"error":"scenes takes no options"})"},
      {"a scene through a link inside the folder", request("GET", "/api/scene?name=alias.mi"), 200,
       R"({"diagnostics":[],"errors":0,"instances":[{"connected":[],"errors":0,"name":"one","place":"alias.mi:1:1","warnings":0}],"scene":"alias.mi","warnings":0})"},
      {"a scene's include", request("GET", "/api/scene?name=sub/deep.mi"), 200,
       R"({"diagnostics":[],"errors":0,"instances":[{"connected":[],"errors":0,"name":"one","place":"inner.mi:1:1","warnings":0}],"scene":"sub/deep.mi","warnings":0})"},
      {"a scene's instance", request("GET", "/api/scene?name=inner.mi&shader=nothing"), 404,
       R"({"error":"inner.mi holds no strataMix instance \"nothing\""})"},
      {"a link out of the folder", request("GET", "/api/scene?name=outside.mi"), 404,
       R"({"error":"no scene 'outside.mi' in the scenes folder"})"},
      {"a scene that is not there", request("GET", "/api/scene?name=gone.mi"), 404,
       R"({"error":"no scene 'gone.mi' in the scenes folder"})"},
      {"a scene up and out", request("GET", "/api/scene?name=sub/../../x.mi"), 400,
       R"({"error":"'sub/../../x.mi' is no scene's name: a path inside the scenes folder, without '..', ending in .mi"})"},
      {"an absolute scene", request("GET", "/api/scene?name=%2Fetc%2Fx.mi"), 400,
       R"({"error":"'/etc/x.mi' is no scene's name: a path inside the scenes folder, without '..', ending in .mi"})"},
      {"a scene that is no .mi", request("GET", "/api/scene?name=notes.txt"), 400,
       R"({"error":"'notes.txt' is no scene's name: a path inside the scenes folder, without '..', ending in .mi"})"},
      {"a folder named as a scene", request("GET", "/api/scene?name=dir.mi"), 400,
       R"({"error":"'dir.mi' is not a file"})"},
      {"a scene without its name", request("GET", "/api/scene"), 400,
       R"({"error":"scene needs name=SCENE"})"},
      {"a scene with an unknown option", request("GET", "/api/scene?name=inner.mi&at=1"), 400,
       R"j({"error":"unknown scene option 'at' (name, shader)"})j"},
      {"a scene over the bytes the page reads", request("GET", "/api/scene?name=big.mi"), 400,
       R"({"diagnostics":["big.mi: error: the scene and its includes are over 64 MiB, more than the page opens: read no further"],"error":"big.mi: error: the scene and its includes are over 64 MiB, more than the page opens: read no further"})"},
      {"a block with an unknown option", request("POST", "/api/block?colour=red", "gamma = 2\n"),
       400, R"j({"error":"unknown block option 'colour' (name)"})j"},
      {"a block without a name", request("POST", "/api/block?name=", "gamma = 2\n"), 400,
       R"({"error":"name is 1 to 256 bytes"})"},
      {"a block of a bad preset", request("POST", "/api/block", "gamma = abc\n"), 400,
       R"({"error":"line 1: 'abc' is not a number","line":1})"},
      {"GET /api/block", request("GET", "/api/block"), 404,
       R"({"error":"no such page: /api/block"})"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Reply res = ask(server.port(), row.bytes);
    EXPECT_EQ(res.status, row.status);
    if (row.answer) {
      EXPECT_EQ(res.body, *row.answer);
    }
  }
  EXPECT_EQ(ask(server.port(), request("GET", "/api/fields")).status, 200);
  const Running without_scenes;
  EXPECT_EQ(ask(without_scenes.port(), request("GET", "/api/scenes")).body,
            R"j({"error":"the server opens no scenes (stratamix serve --scenes DIR)"})j");
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
    const Reply res = ask(r.server->port(), request("POST", render, r.preset));
    EXPECT_EQ(res.status, r.status);
    if (r.status != 200) {
      EXPECT_EQ(res.body, r.answer);
    }
  }
  // The field list names what the folder holds: its images, not the link
  // that leads out; a server without a folder lists none.
  const Reply fields = ask(server.port(), request("GET", "/api/fields"));
  const std::size_t listed = fields.body.find(R"("textures": [)");
  ASSERT_NE(listed, std::string::npos) << fields.body;
  const std::string list = fields.body.substr(listed, fields.body.find(']', listed) - listed);
  EXPECT_NE(list.find(R"("sub/grey.png")"), std::string::npos) << list;
  EXPECT_EQ(list.find("link.png"), std::string::npos) << list;
  // and the wraps a texture call takes, for the page's menus.
  EXPECT_EQ(nlohmann::json::parse(fields.body)["textureWraps"],
            nlohmann::json({"periodic", "clamp", "black", "mirror"}));
  const Reply none = ask(without.port(), request("GET", "/api/fields"));
  EXPECT_NE(none.body.find(R"("textures": [])"), std::string::npos);
  const Reply parsed = ask(
      server.port(), request("POST", "/api/parse", "baseColor = texture(\"a.png\", clamp, srgb)"));
  EXPECT_NE(
      parsed.body.find(
          R"("texture":{"colorspace":"srgb","kind":"texture","path":"a.png","wrap":"clamp"})"),
      std::string::npos)
      << parsed.body;
}

TEST(Serve, AnswersPipelinedRequestsInOrder) {
  const Running server;
  Connection c(server.port());
  ASSERT_TRUE(c.send(request("GET", "/style.css") + request("GET", "/api/fields") +
                     request("POST", "/api/parse", "gamma = 2\n")));
  const Reply first = c.reply();
  const Reply second = c.reply();
  const Reply third = c.reply();
  EXPECT_EQ(first.status, 200);
  EXPECT_EQ(first.headers.at("content-type"), "text/css; charset=utf-8");
  EXPECT_EQ(second.status, 200);
  // The description of the contract, as stratamix describe prints it.
  EXPECT_EQ(second.body.rfind("{\n \"contract\": \"strataMix\",\n \"interface\": 1,", 0), 0U)
      << second.body.substr(0, 80);
  EXPECT_EQ(third.body, R"({"assignments":[{"line":1,"name":"gamma","slot":null,"value":"2"}]})");
}

// The presets rendered at `path`, each sent on a connection of its own,
// all written before any answer is read; `split` writes every head before
// any body.
std::vector<Reply> at_once(int port, const std::string& path,
                           const std::vector<std::string>& presets, bool split = false) {
  std::vector<std::unique_ptr<Connection>> connections;
  for (const std::string& preset : presets) {
    connections.push_back(std::make_unique<Connection>(port));
    const std::string bytes = request("POST", path, preset);
    connections.back()->send(split ? bytes.substr(0, bytes.size() - preset.size()) : bytes);
  }
  if (split) {
    for (std::size_t i = 0; i < presets.size(); ++i) {
      connections[i]->send(presets[i]);
    }
  }
  std::vector<Reply> answers;
  answers.reserve(connections.size());
  for (const auto& c : connections) {
    answers.push_back(c->reply());
  }
  return answers;
}

TEST(Serve, SixteenRendersAtOnceEachGetTheirOwnPicture) {
  const Running server;
  const std::string path = "/api/render?size=128&aa=2";
  std::vector<std::string> presets;
  std::vector<std::string> alone;
  for (int i = 0; i < 16; ++i) {
    presets.push_back("blendEnable = on\nlayerColor = 0.9 0.3 0.1 1\nblendMode = " +
                      std::to_string(i) + "\nbaseColor = checker(" + std::to_string(i + 1) + ")\n");
    const Reply res = ask(server.port(), request("POST", path, presets.back()));
    ASSERT_EQ(res.status, 200);
    alone.push_back(res.body);
  }
  // Their rows are shared out among the pool's workers, each render's in a
  // different order from alone.
  const std::vector<Reply> together = at_once(server.port(), path, presets);
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
  for (const Reply& answer : at_once(server.port(), "/api/render?size=2048&aa=1", presets)) {
    rendered += answer.status == 200 ? 1 : 0;
    if (answer.status == 503) {
      ++busy;
      EXPECT_EQ(
          answer.body,
          R"({"error":"busy: every render place is taken and the queue is full; try again"})");
      EXPECT_EQ(answer.headers.at("retry-after"), "1");
    }
  }
  EXPECT_EQ(rendered, 2);
  EXPECT_EQ(busy, 4);
}

TEST(Serve, ABurstOfEightyRendersGetsOnly200And503) {
  const Running server;
  const std::vector<std::string> presets(80, "baseColor = noise(9)\nblendEnable = on\n");
  std::map<int, int> statuses;  // 0: reset or closed without an answer
  for (const Reply& answer : at_once(server.port(), "/api/render?size=256&aa=2", presets, true)) {
    ++statuses[answer.status];
  }
  EXPECT_EQ(statuses[200] + statuses[503], 80) << "no answer: " << statuses[0];
  // One render runs on each core and 32 wait: at least those are rendered.
  EXPECT_GE(statuses[200], 33);
}

TEST(Serve, HeldConnectionsHoldNoThreadAndStarveNoOne) {
  Options options;
  options.request_seconds = 600;  // the held connections outlast the test
  const Running server(options);
  // Once it has answered, every thread the server keeps has started.
  ASSERT_EQ(ask(server.port(), request("GET", "/api/fields")).status, 200);
  const int threads_before = threads_now();
  std::vector<std::unique_ptr<Connection>> held;
  for (int i = 0; i < 200; ++i) {
    held.push_back(std::make_unique<Connection>(server.port()));
    ASSERT_TRUE(held.back()->send("POST /api/render HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Le"));
  }
  const Reply fields = ask(server.port(), request("GET", "/api/fields"));
  EXPECT_EQ(fields.status, 200);
  // None more: a thread the libraries started for their own set-up may
  // have ended meanwhile.
  EXPECT_LE(threads_now(), threads_before);
  int open = 0;
  for (const auto& c : held) {
    open += c->closed_within(0) ? 0 : 1;
  }
  EXPECT_EQ(open, 200);
}

TEST(Serve, ConnectionsBeyondTheLimitWaitInTheBacklog) {
  Options options;
  options.connections = 4;
  options.request_seconds = 600;
  const Running server(options);
  std::vector<std::unique_ptr<Connection>> held;
  for (int i = 0; i < 4; ++i) {
    held.push_back(std::make_unique<Connection>(server.port()));
    ASSERT_TRUE(held.back()->send("GET /api/fields HTTP/1.1\r\n"));
  }
  // The kernel takes the fifth connection into the backlog; the server
  // reads it only when a place is free, and then answers it.
  Connection fifth(server.port());
  ASSERT_TRUE(fifth.connected());
  ASSERT_TRUE(fifth.send(request("GET", "/api/fields")));
  EXPECT_FALSE(fifth.closed_within(300)) << "answered or closed while the server was full";
  held.pop_back();
  EXPECT_EQ(fifth.reply().status, 200);
}

TEST(Serve, ClosesATricklingHeadAtItsDeadline) {
  Options options;
  options.request_seconds = 1;
  const Running server(options);
  Connection c(server.port());
  ASSERT_TRUE(c.send("GET /api/fields HTTP/1.1\r\nHost: 127.0.0.1\r\n"));
  // A header line every 100 ms keeps any idle timeout away; the deadline for
  // the whole head closes it all the same.
  bool closed = false;
  for (int i = 0; i < 300 && !closed; ++i) {
    closed = !c.send("X-Trickle-" + std::to_string(i) + ": 1\r\n") || c.closed_within(100);
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(ask(server.port(), request("GET", "/api/fields")).status, 200);
}

// A render's pieces wait for the test to let them return, so that what
// runs and what is dropped does not depend on the machine's speed.
class Gate {
 public:
  void open() {
    const std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
  }
  void wait_for_waiting(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return waiting_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int waiting_ = 0;
};

struct Outcomes {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<RenderPool::Outcome> seen;
  void add(RenderPool::Outcome o) {
    const std::lock_guard<std::mutex> lock(mutex);
    seen.push_back(o);
    changed.notify_all();
  }
  RenderPool::Outcome wait_for(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return seen.size() >= n; });
    return seen[n - 1];
  }
};

TEST(Serve, ACancelledRenderFreesItsPieces) {
  // Two workers, one render at a time, none waiting.
  RenderPool pool(2, 1, 0);
  Gate gate;
  Outcomes outcomes;
  std::atomic<int> ran{0};
  const RenderPool::Handle big = pool.submit({1000,
                                              [&](int) {
                                                gate.pass();
                                                ++ran;
                                              },
                                              [&](RenderPool::Outcome o) { outcomes.add(o); }});
  ASSERT_TRUE(big);
  gate.wait_for_waiting(2);  // a piece in each worker's hand
  const auto small = [&] {
    return pool.submit({3, [&](int) { ++ran; }, [&](RenderPool::Outcome o) { outcomes.add(o); }});
  };
  EXPECT_FALSE(small()) << "the pool's one place is taken";
  pool.cancel(big);
  EXPECT_EQ(pool.counts().running, 1U) << "cancelled, its two pieces in hand still run";
  gate.open();
  EXPECT_EQ(outcomes.wait_for(1), RenderPool::Outcome::cancelled);
  EXPECT_EQ(ran, 2) << "the 998 pieces not begun were dropped";
  EXPECT_EQ(pool.counts().running, 0U);
  ASSERT_TRUE(small());
  EXPECT_EQ(outcomes.wait_for(2), RenderPool::Outcome::finished);
  EXPECT_EQ(ran, 5);
  EXPECT_EQ(pool.counts().pieces_begun, 5U);
}

TEST(Serve, ANewerRenderWithTheSameTokenOrAGoneClientCancelsARender) {
  Options options;
  options.renders = 1;
  options.waiting = 1;
  const Running server(options);
  // 16 million shader calls: seconds, long after the other requests.
  const std::string big = request("POST", "/api/render?size=2000&aa=2&token=page-1",
                                  "baseColor = noise(40)\nlayerColor = noise(7)\n");
  const std::string small = request("POST", "/api/render?size=16&token=page-1", "gamma = 2\n");
  Connection older(server.port());
  ASSERT_TRUE(older.send(big));
  // Answered after the older render's request was read, which came first.
  ASSERT_EQ(ask(server.port(), request("GET", "/api/fields")).status, 200);
  EXPECT_EQ(ask(server.port(), small).status, 200);
  const Reply replaced = older.reply();
  EXPECT_EQ(replaced.status, 409);
  EXPECT_EQ(replaced.body, R"({"error":"replaced by a newer render with the same token"})");

  // A client that goes away: its render's pieces not begun are dropped.
  const std::uint64_t begun = server.server().renders().pieces_begun;
  {
    Connection gone(server.port());
    ASSERT_TRUE(gone.send(big));
    ASSERT_EQ(ask(server.port(), request("GET", "/api/fields")).status, 200);
  }
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(120);
  while (server.server().renders().running != 0 && Clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(server.server().renders().running, 0U);
  EXPECT_LT(server.server().renders().pieces_begun - begun, 2000U);
}

// The tool started as a user starts it, and what it said on its first line.
struct Tool {
  pid_t pid = 0;
  FILE* said = nullptr;
  int port = 0;
};

Tool start_tool() {
  Tool tool;
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string words[] = {STRATAMIX_TOOL, "serve", "--port", "0"};
  char* argv[] = {words[0].data(), words[1].data(), words[2].data(), words[3].data(), nullptr};
  EXPECT_EQ(posix_spawn(&tool.pid, STRATAMIX_TOOL, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  tool.said = fdopen(out[0], "r");
  char line[256] = {};
  if (std::fgets(line, sizeof line, tool.said) == nullptr ||
      std::sscanf(line, "stratamix serve: http://127.0.0.1:%d/", &tool.port) != 1) {
    ADD_FAILURE() << "stratamix serve said '" << line << "'";
  }
  return tool;
}

// The tool's exit status, or -1 when it has not ended within `seconds` (it
// is killed then).
int wait_for_exit(pid_t pid, int seconds) {
  const Clock::time_point give_up = Clock::now() + std::chrono::seconds(seconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > give_up) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

// The tool as a user starts it: it says where it listens, serves the page
// and stops cleanly on either signal, with and without clients that
// trickle their heads.
TEST(Serve, ToolServesAndStopsOnSigintAndSigterm) {
  for (const int trickling : {0, 20}) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
      SCOPED_TRACE(std::string(signal_number == SIGINT ? "SIGINT" : "SIGTERM") + ", " +
                   std::to_string(trickling) + " trickling");
      const Tool tool = start_tool();
      ASSERT_NE(tool.port, 0);
      const Reply page = ask(tool.port, request("GET", "/"));
      EXPECT_EQ(page.status, 200);
      EXPECT_EQ(page.body.rfind("<!doctype html>", 0), 0U);
      std::vector<std::unique_ptr<Connection>> clients;
      for (int i = 0; i < trickling; ++i) {
        clients.push_back(std::make_unique<Connection>(tool.port));
        clients.back()->send("GET /api/fields HTTP/1.1\r\nHost: 127.0.0.1\r\n");
      }
      std::atomic<bool> done{false};
      std::thread drip([&] {
        for (int n = 0; !done; ++n) {
          for (const auto& c : clients) {
            c->send("X-Trickle-" + std::to_string(n) + ": 1\r\n");
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      });
      ASSERT_EQ(kill(tool.pid, signal_number), 0);
      // A hang guard, not a timing: the tool is stopping, not slow.
      const int status = wait_for_exit(tool.pid, 60);
      done = true;
      drip.join();
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      char line[256] = {};
      ASSERT_NE(std::fgets(line, sizeof line, tool.said), nullptr);
      EXPECT_EQ(std::string(line), std::string("stratamix serve: stopped (") +
                                       (signal_number == SIGINT ? "SIGINT" : "SIGTERM") + ")\n");
      std::fclose(tool.said);
    }
  }
}

}  // namespace
}  // namespace strata::serve
