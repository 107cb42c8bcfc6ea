#include "server.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <httplib.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "api.h"
#include "assets.h"
#include "compositor.h"
#include "preset.h"
#include "render.h"
#include "render_queue.h"
#include "textures.h"

namespace strata::serve {
namespace {

// A request that cannot be answered as asked: its status and message.
struct Refusal {
  int status;
  std::string message;
  int line = 0;
};

void refuse(httplib::Response& res, const Refusal& r) {
  res.status = r.status;
  res.set_content(error_json(r.message, r.line), "application/json");
}

// The body, read up to kMaxBody. httplib refuses a longer Content-Length
// itself; a chunked body is counted here, so that neither is held in full.
std::optional<Refusal> read_body(const httplib::Response& res, const httplib::ContentReader& reader,
                                 std::string* body) {
  bool too_long = false;
  const bool read = reader([&](const char* data, std::size_t n) {
    if (body->size() + n > kMaxBody) {
      too_long = true;
      return false;
    }
    body->append(data, n);
    return true;
  });
  if (too_long || res.status == 413) {
    return Refusal{413, "the request body is over " + std::to_string(kMaxBody) + " bytes"};
  }
  if (!read) {
    return Refusal{400, "the request body could not be read"};
  }
  return std::nullopt;
}

int whole_number(const std::string& text, int low, int high, const std::string& what) {
  int n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (error != std::errc() || end != text.data() + text.size() || n < low || n > high) {
    throw Refusal{400, what + " must be a whole number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not '" + text + "'"};
  }
  return n;
}

// The view a render request asks for: shape, size, aa and ray, each
// optional; anything else, or too much, is refused.
preview::View requested_view(const httplib::Request& req) {
  preview::View view;
  view.shape = preview::Shape::sphere;
  view.width = view.height = 256;
  view.aa = 2;
  for (const auto& [name, value] : req.params) {
    if (name == "shape") {
      if (!preview::shape_named(value, &view.shape)) {
        throw Refusal{400, "shape is sphere or swatch, not '" + value + "'"};
      }
    } else if (name == "size") {
      view.width = view.height = whole_number(value, 8, kMaxSize, "size (pixels a side)");
    } else if (name == "aa") {
      view.aa = whole_number(value, 1, kMaxAa, "aa (samples per pixel along each axis)");
    } else if (name == "ray") {
      if (!ray_type_named(value, &view.ray_type)) {
        throw Refusal{
            400, "ray is eye, reflection, refraction, photon or final-gather, not '" + value + "'"};
      }
    } else {
      throw Refusal{400, "unknown render option '" + name + "' (shape, size, aa, ray)"};
    }
  }
  const std::uint64_t side = static_cast<std::uint64_t>(view.width) * view.aa;
  if (side * side > kMaxCalls) {
    throw Refusal{400, "size " + std::to_string(view.width) + " at aa " + std::to_string(view.aa) +
                           " is " + std::to_string(side * side) +
                           " shader calls, over the limit of " + std::to_string(kMaxCalls)};
  }
  return view;
}

preview::Preset parsed(const std::string& text) {
  try {
    return preview::parse_preset(text);
  } catch (const preview::PresetError& e) {
    throw Refusal{400, e.what(), e.line};
  }
}

// Where a server started without a textures folder sends texture calls.
class NoTextures final : public preview::TextureSource {
 public:
  host::Connection connect(const preview::TextureInput& input, FieldType, int line) override {
    throw preview::PresetError(line, "texture \"" + input.path +
                                         "\": this server reads no textures (stratamix serve "
                                         "--textures DIR names the folder they come from)");
  }
};

std::string encode_png(OIIO::ImageBuf image) {
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput out(bytes);
  image.set_write_format(OIIO::TypeDesc::UINT8);
  image.set_write_ioproxy(&out);
  if (!image.write("picture.png", OIIO::TypeDesc::UNKNOWN, "png")) {
    throw std::runtime_error("cannot encode the picture: " + image.geterror());
  }
  return {bytes.begin(), bytes.end()};
}

const char* status_message(int status) {
  switch (status) {
    case 400:
      return "bad request";
    case 404:
      return "no such page";
    case 413:
      return "the request body is too long";
    default:
      return "the request failed";
  }
}

}  // namespace

struct Server::Impl {
  Impl(host::ShaderFn shader_fn, const Options& options)
      : shader(shader_fn),
        textures(options.textures),
        renders(options.renders != 0 ? options.renders : preview::render_threads()),
        queue(renders, options.waiting) {}

  void render(const httplib::Request& req, httplib::Response& res,
              const httplib::ContentReader& reader) const;
  void parse(const httplib::Request& req, httplib::Response& res,
             const httplib::ContentReader& reader) const;

  host::ShaderFn shader;
  std::string textures;  // the folder, or empty
  unsigned renders;
  mutable RenderQueue queue;
  httplib::Server http;
  std::string host;
  int port = 0;
  std::mutex stop_mutex;
  bool stopping = false;
  std::atomic<bool> running{false};
};

void Server::Impl::render(const httplib::Request& req, httplib::Response& res,
                          const httplib::ContentReader& reader) const {
  std::string body;
  try {
    if (const std::optional<Refusal> r = read_body(res, reader, &body)) {
      throw *r;
    }
    const preview::View view = requested_view(req);
    const preview::Preset preset = parsed(body);
    const RenderQueue::Ticket ticket = queue.enter();
    if (!ticket) {
      res.set_header("Retry-After", "1");
      throw Refusal{503, "busy: every render place is taken and the queue is full; try again"};
    }
    const auto h = std::make_unique<host::Host>();
    preview::set_preview_defaults(&h->params());
    // A texture is opened before the render: a bad one is the preset's 400.
    preview::TextureFiles files({textures, true});
    NoTextures none;
    try {
      preview::apply_preset(
          preset, h.get(), textures.empty() ? static_cast<preview::TextureSource*>(&none) : &files);
    } catch (const preview::PresetError& e) {
      throw Refusal{400, e.what(), e.line};
    }
    const auto start = std::chrono::steady_clock::now();
    const preview::Frame frame = preview::render_frame(*h, shader, view, preview::render_threads());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.6f", seconds);
    res.set_header("X-Render-Seconds", figure);
    res.set_header("X-Samples", std::to_string(frame.samples));
    res.set_header("Cache-Control", "no-store");
    res.set_content(encode_png(preview::frame_display(frame)), "image/png");
  } catch (const Refusal& r) {
    refuse(res, r);
  }
}

void Server::Impl::parse(const httplib::Request& req, httplib::Response& res,
                         const httplib::ContentReader& reader) const {
  std::string body;
  try {
    if (const std::optional<Refusal> r = read_body(res, reader, &body)) {
      throw *r;
    }
    if (!req.params.empty()) {
      throw Refusal{400, "parse takes no options"};
    }
    res.set_content(preset_json(parsed(body)), "application/json");
  } catch (const Refusal& r) {
    refuse(res, r);
  }
}

Server::Server(host::ShaderFn shader, const Options& options)
    : impl_(std::make_unique<Impl>(shader, options)) {
  Impl& m = *impl_;
  httplib::Server& http = m.http;
  // Every render that may wait has a thread to wait on, and the page's
  // other requests still find one free; the queue, not httplib's own
  // unbounded list, decides who waits.
  const std::size_t threads = m.renders + options.waiting + 4;
  http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  http.set_payload_max_length(kMaxBody);
  // An idle connection holds a thread; let it go soon.
  http.set_keep_alive_timeout(2);
  http.set_default_headers(
      {{"X-Content-Type-Options", "nosniff"},
       {"Content-Security-Policy", "default-src 'self'; img-src 'self' blob:; object-src 'none'"}});

  // The folder's images as they are now: one added while the page is open
  // shows at its next reading.
  http.Get("/api/fields", [&m](const httplib::Request&, httplib::Response& res) {
    res.set_content(fields_json(m.textures.empty() ? std::vector<std::string>{}
                                                   : preview::texture_names(m.textures)),
                    "application/json");
  });
  http.Post("/api/render",
            [&m](const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader) { m.render(req, res, reader); });
  http.Post("/api/parse",
            [&m](const httplib::Request& req, httplib::Response& res,
                 const httplib::ContentReader& reader) { m.parse(req, res, reader); });
  // Any other path, by any method, is no page: not a 400 or a 405 that would
  // tell a prober which paths exist.
  const auto no_page = [](const httplib::Request& req, httplib::Response& res) {
    refuse(res, {404, "no such page: " + req.path});
  };
  // The page's own files by their exact paths; httplib has already decoded
  // the path, so "/%2e%2e/" and its kind are no asset's path either.
  http.Get(".*", [no_page](const httplib::Request& req, httplib::Response& res) {
    const Asset* asset = find_asset(req.path);
    if (asset == nullptr) {
      no_page(req, res);
      return;
    }
    res.set_content(std::string(asset->body), std::string(asset->type).c_str());
  });
  http.Post(".*", no_page);
  http.Put(".*", no_page);
  http.Patch(".*", no_page);
  http.Delete(".*", no_page);
  http.Options(".*", no_page);
  http.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (res.body.empty()) {
      const std::string message =
          res.status == 404 ? "no such page: " + req.path : status_message(res.status);
      res.set_content(error_json(message), "application/json");
    }
  });
  http.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, const std::exception_ptr& error) {
        std::string message = "the request failed";
        try {
          std::rethrow_exception(error);
        } catch (const std::exception& e) {
          message += std::string(": ") + e.what();
        } catch (...) {
        }
        refuse(res, {500, message});
      });

  std::error_code ec;
  if (!options.textures.empty() && !std::filesystem::is_directory(options.textures, ec)) {
    throw std::runtime_error("the textures folder " + options.textures + " is not a folder");
  }
  m.host = options.bind;
  if (options.port == 0) {
    m.port = http.bind_to_any_port(options.bind);
  } else {
    m.port = http.bind_to_port(options.bind, options.port) ? options.port : -1;
  }
  if (m.port < 0) {
    throw std::runtime_error("cannot listen on " + options.bind + " port " +
                             std::to_string(options.port) +
                             " (in use, or not an address of this machine)");
  }
}

Server::~Server() { stop(); }

int Server::port() const { return impl_->port; }

std::string Server::url() const {
  const bool v6 = impl_->host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + impl_->host + "]" : impl_->host) + ":" +
         std::to_string(impl_->port) + "/";
}

void Server::run() {
  {
    const std::lock_guard<std::mutex> lock(impl_->stop_mutex);
    if (impl_->stopping) {
      return;
    }
    impl_->running = true;
  }
  impl_->http.listen_after_bind();
  impl_->running = false;
}

void Server::stop() {
  const std::lock_guard<std::mutex> lock(impl_->stop_mutex);
  impl_->stopping = true;
  // httplib's stop() does nothing until listening has begun.
  while (impl_->running && !impl_->http.is_running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  impl_->http.stop();
}

}  // namespace strata::serve
