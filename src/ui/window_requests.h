#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace morlane {

// The requests that worker threads hand to the window thread. A worker waits until its
// request has been carried out, or until the window has gone, in which case the request
// is dropped rather than run against a window that no longer exists.
class WindowRequests {
 public:
  // From a worker: queues the request, calls wake (which may nudge the window thread's
  // event loop) and waits. Returns false when the window had already gone.
  bool Submit(const std::function<void()>& request, const std::function<void()>& wake = {});
  // On the window thread: carries out every queued request; returns how many.
  int Serve();
  // On the window thread: waits at most ms for a request to arrive.
  bool WaitForRequest(int ms);
  int Waiting();
  // The window is going: waiting workers are let go and later requests refused. Returns
  // once every worker let go has left Submit.
  void Close();

 private:
  struct Pending {
    const std::function<void()>* work;
    bool done = false;
  };

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable done_;
  std::condition_variable left_;
  int inside_ = 0;
  std::deque<Pending*> queue_;
  bool closed_ = false;
};

}  // namespace morlane
