// The look-development server behind `stratamix serve`: one page with a
// control for every parameter, and a small API that renders a preset with
// the preview's own parser and renderer, so that the page and `stratamix
// preview` give the same pixels.
//
//   GET  /                 the page (its script and style at /app.js, /style.css)
//   GET  /api/fields       the field list, the modes, patterns, ray types, limits and
//                          the images of the textures folder (JSON)
//   POST /api/parse        a preset -> its assignments (JSON), or 400 with the message
//   POST /api/render?shape=sphere&size=256&aa=2&ray=eye
//                          a preset -> the picture (PNG), with its figures in
//                          X-Render-Seconds and X-Samples
//
// Errors are JSON, {"error": message} ("line" for a preset's line): 400 for a
// bad preset or render option (a texture outside the textures folder too),
// 404 for any other path, 413 for a body over
// kMaxBody, 503 when the renders running and waiting are as many as allowed.
#ifndef STRATAMIX_SERVE_SERVER_H
#define STRATAMIX_SERVE_SERVER_H

#include <memory>
#include <string>

#include "host.h"

namespace strata::serve {

struct Options {
  // Loopback by default: the page renders on this machine for whoever can
  // reach it.
  std::string bind = "127.0.0.1";
  // 0: whichever port is free.
  int port = 8077;
  // Renders at once; 0: one per core.
  unsigned renders = 0;
  // Renders that may wait for a place; beyond them a render gets 503.
  unsigned waiting = 32;
  // The folder textures come from (the page names them relative to it);
  // empty: none do.
  std::string textures;
};

class Server {
 public:
  // Binds the address; throws std::runtime_error when it cannot, or when
  // the textures folder is not a folder. `shader`
  // must stay loaded while the server runs.
  Server(host::ShaderFn shader, const Options& options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const;
  // "http://127.0.0.1:8077/"
  std::string url() const;

  // Answers requests until stop() is called.
  void run();
  // Safe from any thread, before or during run(); run() returns once the
  // requests in hand are answered.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_SERVER_H
