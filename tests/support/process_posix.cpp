#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace morlane::test {

namespace {

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// inFd, when given, gets the writing end of a pipe that is the program's standard input;
// without it the program reads /dev/null.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& workDir, int* outFd,
            int* errFd, int* inFd = nullptr) {
  int out[2], err[2], in[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return -1;
  if (pipe2(err, O_CLOEXEC) != 0 || (inFd && pipe2(in, O_CLOEXEC) != 0)) {
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    return -1;
  }
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(inFd ? in[0] : devnull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  *outFd = out[0];
  *errFd = err[0];
  if (inFd) {
    close(in[0]);
    *inFd = in[1];
  }
  return pid;
}

void Drain(int fd, std::string& into) {
  char buffer[4096];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) into.append(buffer, static_cast<size_t>(n));
}

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir,
                         int timeoutSeconds, const std::string& input) {
  ProcessResult result;
  int outFd = -1, errFd = -1, inFd = -1;
  pid_t pid = Spawn(argv, workDir, &outFd, &errFd, input.empty() ? nullptr : &inFd);
  if (pid < 0) return result;
  if (inFd >= 0) {
    // Small enough for the pipe's buffer: written whole, then the input ends.
    signal(SIGPIPE, SIG_IGN);
    if (write(inFd, input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
      result.err = "input not written";
    }
    close(inFd);
  }
  int64_t deadline = NowMs() + int64_t{timeoutSeconds} * 1000;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    int64_t left = deadline - NowMs();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outOpen ? outFd : -1, POLLIN, 0}, {errOpen ? errFd : -1, POLLIN, 0}};
    if (poll(fds, 2, static_cast<int>(std::min<int64_t>(left, 200))) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      std::string& into = i == 0 ? result.out : result.err;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        into.append(buffer, static_cast<size_t>(n));
      } else {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  close(outFd);
  close(errFd);
  result.status = result.timedOut ? -1 : StatusOf(raw);
  return result;
}

ProcessResult RunOnTerminal(const std::vector<std::string>& argv, int timeoutSeconds) {
  ProcessResult result;
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return result;
  if (pid == 0) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int64_t deadline = NowMs() + int64_t{timeoutSeconds} * 1000;
  for (;;) {
    int64_t left = deadline - NowMs();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd in{master, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(std::min<int64_t>(left, 200))) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    // The terminal reports an error once the program and every holder of it are gone.
    if (n <= 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  close(master);
  result.status = result.timedOut ? -1 : StatusOf(raw);
  return result;
}

SimProcess::SimProcess(const std::string& program, const std::vector<std::string>& switches) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), switches.begin(), switches.end());
  pid_ = Spawn(argv, "", &outFd_, &errFd_, &inFd_);
  if (pid_ < 0) return;
  std::string out;
  int64_t deadline = NowMs() + 10000;
  while (out.find('\n') == std::string::npos && NowMs() < deadline) {
    pollfd fd{outFd_, POLLIN, 0};
    if (poll(&fd, 1, 100) > 0) {
      char buffer[256];
      ssize_t n = read(outFd_, buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
  }
  size_t end = out.find('\n');
  if (end != std::string::npos) path_ = out.substr(0, end);
}

SimProcess::~SimProcess() {
  Stop();
}

std::string SimProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int64_t deadline = NowMs() + 5000;
    int raw = 0;
    while (waitpid(pid_, &raw, WNOHANG) == 0) {
      if (NowMs() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &raw, 0);
        break;
      }
      pollfd fd{errFd_, POLLIN, 0};
      if (poll(&fd, 1, 20) > 0) Drain(errFd_, err_);
    }
    pollfd fd{errFd_, POLLIN, 0};
    while (poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN)) {
      size_t before = err_.size();
      Drain(errFd_, err_);
      if (err_.size() == before) break;
    }
    close(outFd_);
    close(errFd_);
    close(inFd_);
    pid_ = -1;
  }
  return err_;
}

bool SimProcess::Control(const std::string& line) {
  signal(SIGPIPE, SIG_IGN);
  const std::string text = line + "\n";
  return pid_ > 0 && write(inFd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

Background::Background(std::vector<std::string> argv, const TempDir& dir) : dir_(dir) {
  // A line typed after the program ended must fail, not end the test.
  signal(SIGPIPE, SIG_IGN);
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    int out = open(dir.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(dir.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in[0], 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(dir.Path().c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  inFd_ = in[1];
}

Background::~Background() {
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  EndInput();
}

bool Background::Type(const std::string& line) {
  const std::string text = line + "\n";
  return inFd_ >= 0 && write(inFd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void Background::EndInput() {
  if (inFd_ >= 0) close(inFd_);
  inFd_ = -1;
}

std::string Background::Text(const std::string& file) const {
  std::ifstream in(dir_.File(file), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Background::WaitFor(const std::string& file, const std::string& text, int seconds) {
  const int64_t end = NowMs() + int64_t{seconds} * 1000;
  while (NowMs() < end) {
    if (Text(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void Background::Interrupt() {
  kill(pid_, SIGINT);
}

void Background::HangUp() {
  kill(pid_, SIGHUP);
}

int Background::Wait(int seconds) {
  const int64_t end = NowMs() + int64_t{seconds} * 1000;
  while (NowMs() < end) {
    int raw = 0;
    if (waitpid(pid_, &raw, WNOHANG) == pid_) {
      status_ = StatusOf(raw);
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

}  // namespace morlane::test
