#include "server.h"

#include <OpenImageIO/imageio.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "api.h"
#include "preset.h"
#include "render.h"
#include "scenes.h"

namespace strata::serve {
namespace {

using Clock = std::chrono::steady_clock;
constexpr Clock::time_point kNever = Clock::time_point::max();

// How often run() closes connections past their deadlines and looks for
// renders whose clients have gone (a suspended connection is not watched by
// the library).
constexpr auto kSweep = std::chrono::milliseconds(50);
// After stop(): how long the renders running may go on before they are
// cancelled, and by when the answers given must have gone out.
constexpr auto kGrace = std::chrono::milliseconds(1200);
constexpr auto kFlush = std::chrono::milliseconds(1700);
// A connection's memory: its head, its read and write buffers. A head that
// does not fit (about 32 KB) gets 431 from the library.
constexpr std::size_t kConnectionMemory = std::size_t{32} * 1024;
// Connections the kernel holds for us while we are at the limit or busy.
constexpr int kBacklog = 1024;
// File descriptors kept back from connections, for everything else.
constexpr rlim_t kSpareFiles = 64;

struct Request;

// What the server keeps of one connection, from its start to its close.
struct Connection {
  int fd;
  // When the request being read (or the answer being taken) must be done;
  // kNever while a render is done for it.
  Clock::time_point deadline;
  // The request suspended while the pool renders it.
  Request* rendering = nullptr;
};

// A render in the pool: the record, the view and the frame its pieces
// (rows) share.
struct RenderJob {
  std::unique_ptr<host::Host> host;
  host::ShaderFn shader = nullptr;
  preview::View view;
  Format format = Format::png;
  preview::Frame frame;
  std::atomic<std::uint64_t> calls{0};
  std::once_flag started;
  Clock::time_point start;
};

// One request, from its head to its answer.
struct Request {
  MHD_Connection* mhd = nullptr;
  Connection* connection = nullptr;
  std::string body;
  bool too_long = false;
  bool answered = false;  // an answer is queued
  // A render, from its start in the pool to its resumption; the flags and
  // the answer are the pool's, under Server::Impl::mutex.
  RenderPool::Handle job;
  std::string token;
  bool replaced = false;
  bool client_gone = false;
  std::optional<Answer> answer;
};

// A Content-Length over kMaxBody; an unreadable one the library refuses
// itself.
bool declared_too_long(const char* length) {
  if (length == nullptr) {
    return false;
  }
  const std::string_view text(length);
  std::uint64_t n = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  return error == std::errc::result_out_of_range || (error == std::errc() && n > kMaxBody);
}

Query query_of(MHD_Connection* c) {
  Query query;
  MHD_get_connection_values_n(
      c, MHD_GET_ARGUMENT_KIND,
      [](void* cls, MHD_ValueKind, const char* key, std::size_t key_size, const char* value,
         std::size_t value_size) {
        static_cast<Query*>(cls)->emplace_back(
            std::string(key, key_size),
            value == nullptr ? std::string() : std::string(value, value_size));
        return MHD_YES;
      },
      &query);
  return query;
}

MHD_Result queue(MHD_Connection* c, const Answer& a) {
  MHD_Response* response = MHD_create_response_from_buffer(
      a.body.size(), const_cast<char*>(a.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) {
    return MHD_NO;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, a.type.c_str());
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Content-Security-Policy",
                          "default-src 'self'; img-src 'self' blob:; object-src 'none'");
  for (const auto& [name, value] : a.headers) {
    MHD_add_response_header(response, name.c_str(), value.c_str());
  }
  const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(a.status), response);
  MHD_destroy_response(response);
  return queued;
}

// Whether the client of a suspended connection has closed it or gone.
bool peer_gone(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// Connections need file descriptors: as many as the hard limit allows.
rlim_t open_files() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    return 1024;
  }
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 65536);
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur;
}

// A listening socket on the address; -1 when there is none.
int listen_on(const std::string& address, int port, bool* v6) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return -1;
  }
  int fd = -1;
  for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      continue;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (a->ai_family == AF_INET6) {
      setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, kBacklog) != 0) {
      close(fd);
      fd = -1;
      continue;
    }
    *v6 = a->ai_family == AF_INET6;
  }
  freeaddrinfo(found);
  return fd;
}

int bound_port(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return -1;
  }
  if (address.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  }
  return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

}  // namespace

struct Server::Impl {
  Impl(host::ShaderFn shader_fn, const Options& o)
      : shader(shader_fn),
        options(o),
        scene_folder{o.scenes, o.include_dirs},
        pool(preview::render_threads(), o.renders != 0 ? o.renders : preview::render_threads(),
             o.waiting) {}
  ~Impl() {
    if (daemon != nullptr) {
      MHD_stop_daemon(daemon);
    }
    if (listen_fd >= 0) {
      close(listen_fd);
    }
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // The library's callbacks, all on its one thread.
  static MHD_Result on_request(void* cls, MHD_Connection* c, const char* url, const char* method,
                               const char* version, const char* upload, std::size_t* upload_size,
                               void** slot);
  static void on_completed(void* cls, MHD_Connection* c, void** slot,
                           MHD_RequestTerminationCode why);
  static void on_connection(void* cls, MHD_Connection* c, void** socket_context,
                            MHD_ConnectionNotificationCode what);

  MHD_Result handle(MHD_Connection* c, std::string_view url, std::string_view method,
                    const char* upload, std::size_t* upload_size, Request* r);
  MHD_Result answer(Request* r, const Answer& a);
  MHD_Result start_render(Request* r);
  MHD_Result answer_render(Request* r);
  // On a worker, or on the thread that cancelled the render.
  void render_done(Request* r, RenderJob& job, RenderPool::Outcome outcome);
  void sweep(std::unique_lock<std::mutex>& lock);
  void shut_down(Clock::time_point stop_at);

  host::ShaderFn shader;
  Options options;
  SceneFolder scene_folder;
  std::string host;
  int port = -1;
  int listen_fd = -1;
  bool v6 = false;
  MHD_Daemon* daemon = nullptr;

  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  std::unordered_set<Connection*> connections;
  std::map<std::string, Request*> tokens;
  // Renders whose connections wait for the pool, not yet resumed: the
  // library must not be stopped while there are any.
  unsigned suspended = 0;
  // Answers queued (or due from a resumed render) and not yet taken.
  unsigned answering = 0;
  // Last, so that its workers stop before anything they call into goes.
  RenderPool pool;
};

MHD_Result Server::Impl::on_request(void* cls, MHD_Connection* c, const char* url,
                                    const char* method, const char* /*version*/, const char* upload,
                                    std::size_t* upload_size, void** slot) {
  Impl& m = *static_cast<Impl*>(cls);
  auto* r = static_cast<Request*>(*slot);
  if (r == nullptr) {
    // The head is in: the body, if any, comes in the next calls.
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    r = new Request;
    r->mhd = c;
    r->connection = static_cast<Connection*>(info->socket_context);
    *slot = r;
    const int fields = MHD_get_connection_values(c, MHD_HEADER_KIND, nullptr, nullptr);
    if (fields > static_cast<int>(kMaxHeaders)) {
      return m.answer(r, refusal_answer(too_many_headers(static_cast<std::size_t>(fields))));
    }
    // Refused before it is read; the library drops the body and closes the
    // connection after the answer.
    if (declared_too_long(
            MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH))) {
      return m.answer(r, refusal_answer(body_too_long()));
    }
    return MHD_YES;
  }
  try {
    return m.handle(c, url, method, upload, upload_size, r);
  } catch (const std::exception& e) {
    return m.answer(r, refusal_answer({500, std::string("the request failed: ") + e.what()}));
  }
}

MHD_Result Server::Impl::handle(MHD_Connection* /*c*/, std::string_view url,
                                std::string_view method, const char* upload,
                                std::size_t* upload_size, Request* r) {
  if (*upload_size != 0) {
    // A chunked body is counted here, so that none is held beyond kMaxBody;
    // the rest of a long one is read and dropped within the deadline.
    if (!r->too_long && r->body.size() + *upload_size <= kMaxBody) {
      r->body.append(upload, *upload_size);
    } else {
      r->too_long = true;
      r->body.clear();
    }
    *upload_size = 0;
    return MHD_YES;
  }
  if (r->job) {
    return answer_render(r);
  }
  // The whole request is in; a POST without a length has an empty body.
  {
    const std::lock_guard<std::mutex> lock(mutex);
    r->connection->deadline = kNever;
  }
  if (method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD) {
    if (url == "/api/scenes") {
      return answer(r, scenes_answer(scene_folder, query_of(r->mhd)));
    }
    if (url == "/api/scene") {
      return answer(r, scene_answer(scene_folder, query_of(r->mhd)));
    }
    return answer(r, get_answer(url, options.textures));
  }
  if (method != MHD_HTTP_METHOD_POST ||
      (url != "/api/render" && url != "/api/parse" && url != "/api/block")) {
    return answer(r, no_page_answer(url));
  }
  if (r->too_long) {
    return answer(r, refusal_answer(body_too_long()));
  }
  if (url == "/api/parse") {
    return answer(r, parse_answer(query_of(r->mhd), r->body));
  }
  if (url == "/api/block") {
    return answer(r, block_answer(query_of(r->mhd), r->body));
  }
  return start_render(r);
}

MHD_Result Server::Impl::answer(Request* r, const Answer& a) {
  {
    const std::lock_guard<std::mutex> lock(mutex);
    r->connection->deadline = Clock::now() + std::chrono::seconds(options.answer_seconds);
    if (!r->answered) {
      r->answered = true;
      ++answering;
    }
  }
  return queue(r->mhd, a);
}

MHD_Result Server::Impl::start_render(Request* r) {
  RenderRequest asked;
  auto job = std::make_shared<RenderJob>();
  job->host = std::make_unique<host::Host>();
  try {
    asked = render_request(query_of(r->mhd), r->body);
    apply_request(asked, options.textures, job->host.get());
  } catch (const Refusal& refusal) {
    return answer(r, refusal_answer(refusal));
  }
  job->shader = shader;
  job->view = asked.view;
  job->format = asked.format;

  // A newer render from the same page takes the older one's place, before
  // this one asks for a place of its own.
  RenderPool::Handle older;
  if (!asked.token.empty()) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = tokens.find(asked.token); it != tokens.end()) {
      it->second->replaced = true;
      older = it->second->job;
      tokens.erase(it);
    }
  }
  pool.cancel(older);

  RenderPool::Work work;
  work.pieces = job->view.height;
  work.run = [job](int y) {
    // The frame is made when the render's first piece begins, so that the
    // renders waiting hold no more than their records.
    std::call_once(job->started, [&] {
      job->start = Clock::now();
      job->frame = preview::blank_frame(*job->host, job->shader, job->view);
    });
    host::Sample sample = job->host->make_sample(job->view.ray_type, {0.0f, 0.0f, 1.0f});
    job->calls += preview::render_row(*job->host, job->shader, job->view, y, &sample, &job->frame);
  };
  work.done = [this, r, job](RenderPool::Outcome outcome) { render_done(r, *job, outcome); };

  std::unique_lock<std::mutex> lock(mutex);
  if (!stopping) {
    r->job = pool.submit(std::move(work));
  }
  if (!r->job) {
    lock.unlock();
    return answer(r, stopping ? stopping_answer() : busy_answer());
  }
  if (!asked.token.empty()) {
    r->token = asked.token;
    tokens[r->token] = r;
  }
  r->connection->rendering = r;
  ++suspended;
  // Under the lock, so that the pool's resumption comes after it.
  MHD_suspend_connection(r->mhd);
  return MHD_YES;
}

void Server::Impl::render_done(Request* r, RenderJob& job, RenderPool::Outcome outcome) {
  std::optional<Answer> a;
  if (outcome == RenderPool::Outcome::finished) {
    job.frame.samples = job.calls;
    const double seconds = std::chrono::duration<double>(Clock::now() - job.start).count();
    try {
      a = render_answer(job.frame, seconds, job.format);
    } catch (const std::exception& e) {
      a = refusal_answer({500, std::string("the request failed: ") + e.what()});
    }
  }
  MHD_Connection* c = nullptr;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    if (!a && !r->client_gone) {
      a = r->replaced ? replaced_answer() : stopping_answer();
    }
    r->answer = std::move(a);
    if (const auto it = tokens.find(r->token); it != tokens.end() && it->second == r) {
      tokens.erase(it);
    }
    r->connection->rendering = nullptr;
    // Counted from here, so that shut_down() waits for it to go out.
    r->answered = true;
    ++answering;
    c = r->mhd;
  }
  // The library calls the handler again, which queues the answer; the
  // request lives on until then.
  MHD_resume_connection(c);
  {
    const std::lock_guard<std::mutex> lock(mutex);
    --suspended;
  }
  changed.notify_all();
}

MHD_Result Server::Impl::answer_render(Request* r) {
  std::optional<Answer> a;
  {
    const std::lock_guard<std::mutex> lock(mutex);
    a = std::move(r->answer);
  }
  if (!a) {
    // Its client has gone: close.
    return MHD_NO;
  }
  return answer(r, *a);
}

void Server::Impl::on_completed(void* cls, MHD_Connection* /*c*/, void** slot,
                                MHD_RequestTerminationCode /*why*/) {
  Impl& m = *static_cast<Impl*>(cls);
  auto* r = static_cast<Request*>(*slot);
  if (r == nullptr) {
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    // The next request on the connection has as long as the first.
    r->connection->deadline = Clock::now() + std::chrono::seconds(m.options.request_seconds);
    if (r->answered) {
      --m.answering;
    }
  }
  m.changed.notify_all();
  delete r;
  *slot = nullptr;
}

void Server::Impl::on_connection(void* cls, MHD_Connection* c, void** socket_context,
                                 MHD_ConnectionNotificationCode what) {
  Impl& m = *static_cast<Impl*>(cls);
  if (what == MHD_CONNECTION_NOTIFY_STARTED) {
    const int fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD)->connect_fd;
    // An answer goes out as soon as it is written, not after the client's
    // delayed acknowledgement of the last one.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto* connection =
        new Connection{fd, Clock::now() + std::chrono::seconds(m.options.request_seconds)};
    *socket_context = connection;
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.connections.insert(connection);
    return;
  }
  auto* connection = static_cast<Connection*>(*socket_context);
  if (connection == nullptr) {
    return;
  }
  {
    // The library calls this before it closes the socket, so that sweep()
    // never touches a descriptor that may have been reused.
    const std::lock_guard<std::mutex> lock(m.mutex);
    m.connections.erase(connection);
  }
  delete connection;
  *socket_context = nullptr;
}

void Server::Impl::sweep(std::unique_lock<std::mutex>& lock) {
  const Clock::time_point now = Clock::now();
  std::vector<RenderPool::Handle> abandoned;
  for (Connection* connection : connections) {
    if (Request* r = connection->rendering) {
      if (!r->client_gone && peer_gone(connection->fd)) {
        r->client_gone = true;
        abandoned.push_back(r->job);
      }
    } else if (connection->deadline <= now) {
      // The library sees the connection end at its next read and closes it.
      shutdown(connection->fd, SHUT_RDWR);
      connection->deadline = kNever;
    }
  }
  lock.unlock();
  for (const RenderPool::Handle& job : abandoned) {
    pool.cancel(job);
  }
  lock.lock();
}

void Server::Impl::shut_down(Clock::time_point stop_at) {
  // No new connections; those open may still ask, and renders are refused.
  MHD_quiesce_daemon(daemon);
  pool.close();
  {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_until(lock, stop_at + kGrace, [&] { return pool.counts().running == 0; });
  }
  pool.cancel_all();
  {
    // Each worker returns its piece in hand, and every suspended request is
    // resumed with its answer; then the answers go out, as far as the
    // clients take them in time.
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return suspended == 0; });
    changed.wait_until(lock, stop_at + kFlush, [&] { return answering == 0; });
  }
  MHD_stop_daemon(daemon);
  daemon = nullptr;
}

Server::Server(host::ShaderFn shader, const Options& options)
    : impl_(std::make_unique<Impl>(shader, options)) {
  Impl& m = *impl_;
  // The picture of a render is made on the pool's worker that finishes it;
  // OpenImageIO would otherwise start a pool of its own for it.
  OIIO::attribute("threads", 1);
  std::error_code ec;
  if (!options.textures.empty() && !std::filesystem::is_directory(options.textures, ec)) {
    throw std::runtime_error("the textures folder " + options.textures + " is not a folder");
  }
  m.host = options.bind;
  m.listen_fd = listen_on(options.bind, options.port, &m.v6);
  m.port = m.listen_fd < 0 ? -1 : bound_port(m.listen_fd);
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

RenderPool::Counts Server::renders() const { return impl_->pool.counts(); }

void Server::run() {
  Impl& m = *impl_;
  {
    const std::lock_guard<std::mutex> lock(m.mutex);
    if (m.stopping || m.daemon != nullptr) {
      return;
    }
  }
  const rlim_t files = open_files();
  const unsigned connections = static_cast<unsigned>(std::min<rlim_t>(
      m.options.connections, files > 2 * kSpareFiles ? files - kSpareFiles : kSpareFiles));
  unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
  if (m.v6) {
    flags |= MHD_USE_IPv6;
  }
  m.daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Impl::on_request, &m, MHD_OPTION_LISTEN_SOCKET, m.listen_fd,
      MHD_OPTION_CONNECTION_LIMIT, connections, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      kConnectionMemory, MHD_OPTION_CONNECTION_TIMEOUT, m.options.request_seconds,
      MHD_OPTION_NOTIFY_COMPLETED, &Impl::on_completed, &m, MHD_OPTION_NOTIFY_CONNECTION,
      &Impl::on_connection, &m, MHD_OPTION_END);
  if (m.daemon == nullptr) {
    throw std::runtime_error("cannot start the HTTP server on " + url());
  }
  std::unique_lock<std::mutex> lock(m.mutex);
  while (!m.stopping) {
    m.changed.wait_for(lock, kSweep);
    m.sweep(lock);
  }
  const Clock::time_point stop_at = Clock::now();
  lock.unlock();
  m.shut_down(stop_at);
}

void Server::stop() {
  {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->changed.notify_all();
}

}  // namespace strata::serve
