// The one set of worker threads that every render shares. A render is cut
// into pieces (the server's are rows); the workers take pieces from the
// renders holding places in the pool, oldest render first, so that a lone
// render has every core and a second one only waits for the first's last
// pieces. A few renders hold places at once ("running"), a bounded number
// queue behind them in arrival order ("waiting"), and any beyond those are
// turned away at once. A render can be cancelled: the pieces not yet begun
// are dropped and its place goes to the next in line.
#ifndef STRATAMIX_SERVE_RENDER_POOL_H
#define STRATAMIX_SERVE_RENDER_POOL_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace strata::serve {

class RenderPool {
 public:
  enum class Outcome {
    finished,   // every piece ran
    cancelled,  // some pieces were dropped
  };

  struct Work {
    int pieces = 0;
    // Runs one piece, on a worker; each piece once, in any order, several
    // at once on different workers.
    std::function<void(int piece)> run;
    // Called once, after the last piece that ran has returned: on a worker,
    // or on the thread that cancelled a render none of whose pieces was
    // running. Never with the pool's lock held.
    std::function<void(Outcome)> done;
  };

  struct Job;
  using Handle = std::shared_ptr<Job>;

  struct Counts {
    unsigned running = 0;
    unsigned waiting = 0;
    std::uint64_t pieces_begun = 0;  // over the pool's life
  };

  // `workers` threads (at least 1); renders beyond `running` wait, up to
  // `waiting` of them.
  RenderPool(unsigned workers, unsigned running, unsigned waiting);
  // Cancels what is left and joins the workers.
  ~RenderPool();
  RenderPool(const RenderPool&) = delete;
  RenderPool& operator=(const RenderPool&) = delete;

  // A place among the renders running or waiting; null when the line is
  // full or the pool is closed.
  Handle submit(Work work);
  // Drops the render's pieces not yet begun (or the render from the line).
  // Safe from any thread, for a render in any state, more than once.
  void cancel(const Handle& job);
  // Takes no more renders and cancels those waiting; the running go on.
  void close();
  // Cancels every render, running or waiting.
  void cancel_all();

  Counts counts() const;

 private:
  void work_loop();
  // Takes the job out of the pool's lists and lets the next one in; the
  // caller then calls its done with the lock released.
  void finish_locked(const Handle& job);

  const unsigned max_running_;
  const unsigned max_waiting_;
  mutable std::mutex mutex_;
  std::condition_variable pieces_ready_;
  std::vector<Handle> running_;  // oldest first
  std::deque<Handle> waiting_;
  std::uint64_t pieces_begun_ = 0;
  bool closed_ = false;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_RENDER_POOL_H
