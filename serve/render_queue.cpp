#include "render_queue.h"

namespace strata::serve {

RenderQueue::Ticket::~Ticket() {
  if (queue_ != nullptr) {
    queue_->leave();
  }
}

RenderQueue::RenderQueue(unsigned running, unsigned waiting)
    : max_running_(running < 1 ? 1 : running), max_waiting_(waiting) {}

RenderQueue::Ticket RenderQueue::enter() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (line_.empty() && running_ < max_running_) {
    ++running_;
    return Ticket(this);
  }
  if (line_.size() >= max_waiting_) {
    return Ticket(nullptr);
  }
  const std::uint64_t number = next_number_++;
  line_.push_back(number);
  turn_.wait(lock, [&] { return running_ < max_running_ && line_.front() == number; });
  line_.pop_front();
  ++running_;
  // The next in line may find a place free too.
  turn_.notify_all();
  return Ticket(this);
}

void RenderQueue::leave() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    --running_;
  }
  turn_.notify_all();
}

unsigned RenderQueue::running() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

unsigned RenderQueue::waiting() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<unsigned>(line_.size());
}

}  // namespace strata::serve
