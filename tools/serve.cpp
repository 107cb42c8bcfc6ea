#include "serve.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "plugin.h"
#include "server.h"

namespace strata::tools {

const char kServeUsage[] =
    "usage: stratamix serve [--port N] [--bind ADDRESS] [--textures DIR] [--plugin PATH]\n"
    "  Serves the look-development page: a control for every parameter and the\n"
    "  preview's picture, rendered live. Stops on Ctrl-C (SIGINT) or SIGTERM.\n"
    "  --port N        the port (default 8077; 0: any free port)\n"
    "  --bind ADDRESS  the address to listen on (default 127.0.0.1, this machine\n"
    "                  alone)\n"
    "  --textures DIR  the folder the page's textures come from (none without it)\n"
    "  --plugin PATH   the plug-in to load\n";

namespace {

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct Settings {
  serve::Options server;
  std::string plugin;
};

Settings parse_settings(const std::vector<std::string>& args, const std::string& default_plugin) {
  Settings s;
  s.plugin = default_plugin;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a != "--port" && a != "--bind" && a != "--textures" && a != "--plugin") {
      throw UsageError(a.rfind("--", 0) == 0 ? "unknown option " + a
                                             : "unexpected argument '" + a + "'");
    }
    if (i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0) {
      throw UsageError(a + " needs a value");
    }
    const std::string& value = args[++i];
    if (a == "--port") {
      int port = 0;
      const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
      if (error != std::errc() || end != value.data() + value.size() || port < 0 || port > 65535) {
        throw UsageError("--port takes a whole number from 0 to 65535, not '" + value + "'");
      }
      s.server.port = port;
    } else if (a == "--bind") {
      s.server.bind = value;
    } else if (a == "--textures") {
      s.server.textures = value;
    } else {
      s.plugin = value;
    }
  }
  return s;
}

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

}  // namespace

int run_serve(const std::vector<std::string>& args, const std::string& default_plugin,
              std::ostream& out, std::ostream& err) {
  Settings s;
  try {
    s = parse_settings(args, default_plugin);
  } catch (const UsageError& e) {
    err << "stratamix serve: " << e.what() << '\n' << kServeUsage;
    return 2;
  }
  try {
    const host::Plugin plugin(s.plugin);
    if (plugin.version() != nullptr && plugin.version()() != 1) {
      throw std::runtime_error(s.plugin + " follows interface version " +
                               std::to_string(plugin.version()()) + "; the server knows 1");
    }
    if (plugin.init() != nullptr) {
      std::int32_t init_request = 0;
      plugin.init()(nullptr, nullptr, &init_request);
    }
    int caught = 0;
    {
      serve::Server server(plugin.shader(), s.server);
      SignalWatch watch(server);
      if (!loopback(s.server.bind)) {
        err << "stratamix serve: listening on " << s.server.bind
            << ": whoever can reach it can render on this machine\n";
      }
      out << "stratamix serve: " << server.url() << std::endl;
      server.run();
      caught = watch.caught();
    }
    if (plugin.exit() != nullptr) {
      plugin.exit()();
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
}

}  // namespace strata::tools
