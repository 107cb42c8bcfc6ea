// The look-development server behind `stratamix serve`: one page with a
// control for every parameter, and a small API that renders a preset with
// the preview's own parser and renderer, so that the page and `stratamix
// preview` give the same pixels.
//
//   GET  /                 the page (its script and style at /app.js, /style.css)
//   GET  /api/fields       the field list, the modes, patterns, ray types, limits and
//                          the images of the textures folder (JSON)
//   POST /api/parse        a preset -> its assignments (JSON), or 400 with the message
//   POST /api/block?name=N a preset -> its shader block (JSON)
//   GET  /api/scenes       the scenes of the --scenes folder (JSON)
//   GET  /api/scene?name=SCENE[&shader=INSTANCE]
//                          a scene's strataMix instances, or one of them
//                          as a preset's assignments (JSON)
//   POST /api/render?shape=sphere&size=256&aa=2&ray=eye&token=T
//                          a preset -> the picture (PNG), with its figures in
//                          X-Render-Seconds and X-Samples; a newer render
//                          with the same token replaces this one (409)
//
// Errors are JSON, {"error": message} ("line" for a preset's line): 400 for a
// bad preset or render option (a texture outside the textures folder too),
// 404 for any other path, 413 for a body over
// kMaxBody, 431 for over kMaxHeaders header fields, 503 when the renders
// running and waiting are as many as allowed.
//
// The server is libmicrohttpd's, in its epoll mode: one thread carries every
// connection, so that an idle or slow client costs a small buffer, never a
// thread; a render is suspended there while the render pool's workers do it.
// Each request has a deadline for its whole head and body, and each answer
// one for being taken; a connection past its deadline is closed.
#ifndef STRATAMIX_SERVE_SERVER_H
#define STRATAMIX_SERVE_SERVER_H

#include <memory>
#include <string>
#include <vector>

#include "host.h"
#include "render_pool.h"

namespace strata::serve {

struct Options {
  // Loopback by default: the page renders on this machine for whoever can
  // reach it.
  std::string bind = "127.0.0.1";
  // 0: whichever port is free.
  int port = 8077;
  // Renders holding pieces in the pool at once; 0: one per core. The pool
  // has one worker per core whatever this says.
  unsigned renders = 0;
  // Renders that may wait for a place; beyond them a render gets 503.
  unsigned waiting = 32;
  // The folder textures come from (the page names them relative to it);
  // empty: none do.
  std::string textures;
  // Connections at once; beyond them new ones wait in the listen backlog.
  unsigned connections = 1000;
  // Seconds for a whole request, head and body, from its connection's
  // start or the previous answer; an idle connection closes after as long.
  unsigned request_seconds = 10;
  // Seconds for the client to take an answer.
  unsigned answer_seconds = 30;
  // The folder whose scenes the page may open (empty: none), and the
  // folders their includes are looked for in.
  std::string scenes;
  std::vector<std::string> include_dirs;
};

class Server {
 public:
  // Binds the address; throws std::runtime_error when it cannot, or when
  // the textures folder is not a folder. `shader` must stay loaded while the
  // server runs.
  Server(host::ShaderFn shader, const Options& options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int port() const;
  // "http://127.0.0.1:8077/"
  std::string url() const;

  // Answers requests until stop() is called.
  void run();
  // Safe from any thread, before or during run(). run() then stops taking
  // connections, answers the renders running (503 for those waiting, and
  // for those still running after a grace of about a second) and returns
  // within about 2 seconds, whatever the clients do.
  void stop();

  // The render pool's figures, for whoever watches the server.
  RenderPool::Counts renders() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_SERVER_H
