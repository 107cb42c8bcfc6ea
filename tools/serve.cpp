#include "serve.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "image_commands.h"
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

// The write end of SignalWatch's pipe, for the handler.
std::atomic<int> signal_pipe{-1};

extern "C" void on_stop_signal(int signal_number) {
  const auto byte = static_cast<unsigned char>(signal_number);
  const int fd = signal_pipe.load();
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
  }
}

// Stops the server at SIGINT or SIGTERM. The handler only writes the
// signal's number to a pipe, and a thread of its own stops the server, so
// that stopping runs as ordinary code rather than in a handler. A handler,
// not a blocked signal taken with sigwait: libraries start threads of their
// own (OpenImageIO's log4cplus does, when it is loaded), where the signal
// would be left unblocked and end the program at once.
class SignalWatch {
 public:
  explicit SignalWatch(serve::Server& server) {
    if (pipe2(pipe_, O_CLOEXEC) != 0) {
      throw std::runtime_error("cannot make a pipe for the signals");
    }
    signal_pipe = pipe_[1];
    // A shell starts a background job with SIGINT ignored; the handler
    // replaces that too.
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
    thread_ = std::thread([this, &server] {
      unsigned char byte = 0;
      while (read(pipe_[0], &byte, 1) == 1 && byte != 0) {
        caught_ = byte;
        server.stop();
      }
    });
  }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  ~SignalWatch() {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    const unsigned char done = 0;
    [[maybe_unused]] const ssize_t n = write(pipe_[1], &done, 1);
    thread_.join();
    signal_pipe = -1;
    close(pipe_[0]);
    close(pipe_[1]);
  }
  int caught() const { return caught_; }

 private:
  int pipe_[2] = {-1, -1};
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
  std::atomic<int> caught_{0};
  std::thread thread_;
};

int run_serve(const CLI::App& app, const Settings& s, std::ostream& out, std::ostream& err) {
  return with_session(app, s.plugin, err, [&](const host::Session& session) {
    try {
      int caught = 0;
      {
        serve::Server server(session.shader(), s.server);
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
  CLI::App* app = add_image_subcommand(root, ImageCommandId::serve);
  auto s = std::make_shared<Settings>();
  add_value(app, "--port", &s->server.port, "the port (0: any free port)")
      ->type_name("N")
      ->check(whole_number(0, 65535))
      ->capture_default_str();
  add_value(app, "--bind", &s->server.bind,
            "the address to listen on (by default this machine alone)")
      ->type_name("ADDRESS")
      ->capture_default_str();
  add_value(app, "--scenes", &s->server.scenes,
            "a folder of scenes (.mi) the page may open, each by its name inside it")
      ->type_name("DIR")
      ->check(existing_folder());
  add_value(app, "-I", &s->server.include_dirs,
            "a folder a scene's $include looks in (repeatable, in order)")
      ->type_name("DIR");
  add_value(app, "--textures", &s->server.textures,
            "the folder the page's textures come from (none without it)")
      ->type_name("DIR");
  add_plugin_option(app, &s->plugin);
  return {app, [app, s, &out, &err] { return run_serve(*app, *s, out, err); }};
}

}  // namespace strata::tools
