#include "serve.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "server.h"

namespace strata::tools {

namespace {

struct Settings {
  serve::Options server;
  std::string plugin;
};

bool loopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

// Stops the server at SIGINT or SIGTERM. The signals are blocked in every
// thread and taken here, so that stopping runs as ordinary code rather than
// in a handler.
class SignalWatch {
 public:
  explicit SignalWatch(serve::Server& server) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    // A shell starts a background job with SIGINT ignored, and an ignored
    // signal is never pending for sigtimedwait to take.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    thread_ = std::thread([this, &server] {
      const timespec wait{0, 100'000'000};
      while (!done_) {
        const int signal = sigtimedwait(&signals_, nullptr, &wait);
        if (signal > 0) {
          caught_ = signal;
          server.stop();
          return;
        }
      }
    });
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  ~SignalWatch() {
    done_ = true;
    thread_.join();
    pthread_sigmask(SIG_UNBLOCK, &signals_, nullptr);
  }
  int caught() const { return caught_; }

 private:
  sigset_t signals_{};
  std::atomic<bool> done_{false};
  std::atomic<int> caught_{0};
  std::thread thread_;
};

int run_serve(const CLI::App& app, const Settings& s, std::ostream& out, std::ostream& err) {
  return with_session(app, s.plugin, err, [&](const host::Session& session) {
    try {
      int caught = 0;
      {
        serve::Server server(session.shader(), s.server);
        // Before the server starts its threads, which inherit the blocked
        // signals.
        SignalWatch watch(server);
        if (!loopback(s.server.bind)) {
          err << "stratamix serve: listening on " << s.server.bind
              << ": whoever can reach it can render on this machine\n";
        }
        out << "stratamix serve: " << server.url() << std::endl;
        server.run();
        caught = watch.caught();
      }
      out << "stratamix serve: stopped"
          << (caught == SIGINT    ? " (SIGINT)"
              : caught == SIGTERM ? " (SIGTERM)"
                                  : "")
          << std::endl;
    } catch (const std::runtime_error& e) {
      err << "stratamix serve: " << e.what() << '\n';
      return 1;
    }
    return 0;
  });
}

}  // namespace

Command add_serve_command(CLI::App& root, std::ostream& out, std::ostream& err) {
  CLI::App* app = root.add_subcommand(
      "serve",
      "Serves the look-development page: a control for every parameter and the preview's "
      "picture, rendered live. Stops on Ctrl-C (SIGINT) or SIGTERM.");
  auto s = std::make_shared<Settings>();
  add_value(app, "--port", &s->server.port, "the port (0: any free port)")
      ->type_name("N")
      ->check(whole_number(0, 65535))
      ->capture_default_str();
  add_value(app, "--bind", &s->server.bind,
            "the address to listen on (by default this machine alone)")
      ->type_name("ADDRESS")
      ->capture_default_str();
  add_plugin_option(app, &s->plugin);
  return {app, [app, s, &out, &err] { return run_serve(*app, *s, out, err); }};
}

}  // namespace strata::tools
