#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace morlane {

// The application object: it keeps one tool window per user. The running instance holds
// a local socket in the abstract namespace named after its window property "Kestrum" and
// the user id; a later start finds that name taken, asks the holder to restore and raise
// its window, and ends without one. No toolkit is involved: the window side only hands in
// what "restore and raise" means.
class CKestrumApp {
 public:
  enum class Start {
    First,      // this process is the running instance
    Second,     // another instance runs and was asked to come to the front
    Unguarded,  // the name is held by another user's process: run, but without the rule
  };

  // A tag keeps separate sets of instances apart (tests, training rooms): instances
  // with different tags never see each other.
  explicit CKestrumApp(std::string tag = {});
  ~CKestrumApp();
  CKestrumApp(const CKestrumApp&) = delete;
  CKestrumApp& operator=(const CKestrumApp&) = delete;

  // Decides which start this is; every wait inside is bounded (a few seconds at most).
  // withOptions: this start was given options that only a window of its own could apply;
  // a running instance is told so, to say it in its window.
  Start InitInstance(bool withOptions = false);

  // Runs on the listener's own thread for every later start. A start that came before
  // the handler was set is handed on as soon as it is.
  void SetActivateHandler(std::function<void()> handler);
  // Runs on the listener's thread, before the activate handler, for every later start that
  // was given options; as with activation, a start that came early is handed on later.
  void SetOptionsNotAppliedHandler(std::function<void()> handler);

  // Gives the name up; a later start becomes the running instance.
  void Stop();

  // The socket's name without the leading NUL of the abstract namespace.
  const std::string& Name() const { return name_; }

  // What a later start sends and what it waits for.
  static constexpr const char* kRequest = "raise\n";
  static constexpr const char* kRequestWithOptions = "raise with-options\n";
  static constexpr const char* kAnswer = "ok\n";
  // How long a later start waits for the answer; an instance that is too busy to answer
  // still counts as running.
  static constexpr int kAnswerWaitMs = 2000;
  // How long the running instance waits for a request after a connection.
  static constexpr int kRequestWaitMs = 500;

 private:
  enum class Ask { Asked, Gone, Foreign };
  bool Bind();
  Ask AskRunningInstance(bool withOptions);
  void Serve();
  void ServeOne(int client);
  void Activate(bool withOptions);

  std::string name_;
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread listener_;

  std::mutex mutex_;
  std::function<void()> handler_;
  std::function<void()> optionsHandler_;
  int pending_ = 0;
  int pendingOptions_ = 0;
};

}  // namespace morlane
