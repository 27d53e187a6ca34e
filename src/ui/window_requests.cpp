#include "ui/window_requests.h"

#include <chrono>

namespace morlane {

bool WindowRequests::Submit(const std::function<void()>& request,
                            const std::function<void()>& wake) {
  Pending pending{&request};
  std::unique_lock lock(mutex_);
  if (closed_) return false;
  queue_.push_back(&pending);
  arrived_.notify_all();
  if (wake) wake();
  done_.wait(lock, [&pending] { return pending.done; });
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
  std::lock_guard lock(mutex_);
  closed_ = true;
  for (Pending* pending : queue_) pending->done = true;
  queue_.clear();
  done_.notify_all();
}

}  // namespace morlane
