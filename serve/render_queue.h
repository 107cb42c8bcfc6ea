// Admission for renders: a few run at once, a bounded number wait their
// turn in arrival order, and any beyond those are turned away at once, so
// that a burst of requests can neither oversubscribe the cores nor pile up
// without limit.
#ifndef STRATAMIX_SERVE_RENDER_QUEUE_H
#define STRATAMIX_SERVE_RENDER_QUEUE_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace strata::serve {

class RenderQueue {
 public:
  // A place among the renders running; it is given back when the ticket goes.
  class Ticket {
   public:
    explicit Ticket(RenderQueue* queue) : queue_(queue) {}
    Ticket(Ticket&& other) noexcept : queue_(other.queue_) { other.queue_ = nullptr; }
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    Ticket& operator=(Ticket&&) = delete;
    ~Ticket();
    // False for a request that was turned away.
    explicit operator bool() const { return queue_ != nullptr; }

   private:
    RenderQueue* queue_;
  };

  RenderQueue(unsigned running, unsigned waiting);

  // Returns at once with a place, or after the requests that came before
  // have been given theirs; an empty ticket when the waiting line is full.
  Ticket enter();

  unsigned running() const;
  unsigned waiting() const;

 private:
  void leave();

  const unsigned max_running_;
  const unsigned max_waiting_;
  mutable std::mutex mutex_;
  std::condition_variable turn_;
  unsigned running_ = 0;
  std::deque<std::uint64_t> line_;
  std::uint64_t next_number_ = 0;
};

}  // namespace strata::serve

#endif  // STRATAMIX_SERVE_RENDER_QUEUE_H
