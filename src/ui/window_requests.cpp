#include "ui/window_requests.h"

#include <chrono>

namespace morlane {

bool WindowRequests::Submit(const std::function<void()>& request,
                            const std::function<void()>& wake) {
  Pending pending{&request};
  std::unique_lock lock(mutex_);
  if (closed_) return false;
  ++inside_;
  queue_.push_back(&pending);
  arrived_.notify_all();
  if (wake) wake();
  done_.wait(lock, [&pending] { return pending.done; });
  if (--inside_ == 0) left_.notify_all();
  return true;
}

int WindowRequests::Serve() {
  int served = 0;
  std::unique_lock lock(mutex_);
  while (!queue_.empty()) {
    Pending* next = queue_.front();
    queue_.pop_front();
    lock.unlock();
    (*next->work)();
    lock.lock();
    next->done = true;
    ++served;
    done_.notify_all();
  }
  return served;
}

bool WindowRequests::WaitForRequest(int ms) {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(ms < 0 ? 0 : ms),
                           [this] { return !queue_.empty(); });
}

int WindowRequests::Waiting() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(queue_.size());
}

void WindowRequests::Close() {
  std::unique_lock lock(mutex_);
  closed_ = true;
  for (Pending* pending : queue_) pending->done = true;
  queue_.clear();
  done_.notify_all();
  // A worker that was let go still has to wake and leave Submit; the window, and this
  // queue with it, may go only once it has.
  left_.wait(lock, [this] { return inside_ == 0; });
}

}  // namespace morlane
