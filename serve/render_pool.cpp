#include "render_pool.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <stdexcept>

namespace strata::serve {

struct RenderPool::Job {
  enum class State { waiting, running, over };
  explicit Job(Work w) : work(std::move(w)) {}
  Work work;
  State state = State::waiting;
  bool cancelled = false;
  int next = 0;     // the next piece to hand out
  int in_hand = 0;  // pieces running now
  int ran = 0;      // pieces that have returned
};

RenderPool::RenderPool(unsigned workers, unsigned running, unsigned waiting)
    : max_running_(std::max(1u, running)), max_waiting_(waiting) {
  for (unsigned i = 0, n = std::max(1u, workers); i < n; ++i) {
    workers_.emplace_back([this] { work_loop(); });
  }
}

RenderPool::~RenderPool() {
  cancel_all();
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  pieces_ready_.notify_all();
  for (std::thread& t : workers_) {
    t.join();
  }
}

RenderPool::Handle RenderPool::submit(Work work) {
  if (work.pieces < 1) {
    throw std::invalid_argument("a render has at least one piece");
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  if (closed_) {
    return nullptr;
  }
  if (running_.size() < max_running_) {
    auto job = std::make_shared<Job>(std::move(work));
    job->state = Job::State::running;
    running_.push_back(job);
    pieces_ready_.notify_all();
    return job;
  }
  if (waiting_.size() < max_waiting_) {
    auto job = std::make_shared<Job>(std::move(work));
    waiting_.push_back(job);
    return job;
  }
  return nullptr;
}

void RenderPool::finish_locked(const Handle& job) {
  job->state = Job::State::over;
  running_.erase(std::find(running_.begin(), running_.end(), job));
  while (running_.size() < max_running_ && !waiting_.empty()) {
    waiting_.front()->state = Job::State::running;
    running_.push_back(std::move(waiting_.front()));
    waiting_.pop_front();
  }
  pieces_ready_.notify_all();
}

void RenderPool::cancel(const Handle& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!job || job->state == Job::State::over || job->cancelled) {
    return;
  }
  job->cancelled = true;
  if (job->state == Job::State::waiting) {
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), job));
    job->state = Job::State::over;
  } else if (job->in_hand == 0) {
    finish_locked(job);
  } else {
    // The worker that returns the last piece in hand finishes it.
    return;
  }
  lock.unlock();
  job->work.done(Outcome::cancelled);
}

void RenderPool::close() {
  std::deque<Handle> dropped;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(waiting_);
    for (const Handle& job : dropped) {
      job->cancelled = true;
      job->state = Job::State::over;
    }
  }
  for (const Handle& job : dropped) {
    job->work.done(Outcome::cancelled);
  }
}

void RenderPool::cancel_all() {
  close();
  std::vector<Handle> idle;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (const Handle& job : std::vector<Handle>(running_)) {
      job->cancelled = true;
      if (job->in_hand == 0) {
        finish_locked(job);
        idle.push_back(job);
      }
    }
  }
  for (const Handle& job : idle) {
    job->work.done(Outcome::cancelled);
  }
}

RenderPool::Counts RenderPool::counts() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return {static_cast<unsigned>(running_.size()), static_cast<unsigned>(waiting_.size()),
          pieces_begun_};
}

void RenderPool::work_loop() {
  // Signals are the program's to take, on a thread of its choosing; a
  // worker never takes one.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Handle job;
    pieces_ready_.wait(lock, [&] {
      for (const Handle& j : running_) {
        if (!j->cancelled && j->next < j->work.pieces) {
          job = j;
          return true;
        }
      }
      return stopping_;
    });
    if (!job) {
      return;
    }
    const int piece = job->next++;
    ++job->in_hand;
    ++pieces_begun_;
    lock.unlock();
    job->work.run(piece);
    lock.lock();
    --job->in_hand;
    ++job->ran;
    const bool all_ran = job->ran == job->work.pieces;
    if (job->in_hand == 0 && (all_ran || job->cancelled)) {
      finish_locked(job);
      lock.unlock();
      job->work.done(all_ran ? Outcome::finished : Outcome::cancelled);
      lock.lock();
    }
  }
}

}  // namespace strata::serve
