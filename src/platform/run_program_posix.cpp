#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/run_program.h"

extern char** environ;

namespace morlane {

ProgramEnd RunProgram(const std::vector<std::string>& arguments, int timeoutMs) {
  ProgramEnd end;
  if (arguments.empty()) return end;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return end;
  end.started = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return end;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      end.timedOut = true;
      return end;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // A program that could not be executed after the spawn ends with 127, as a shell's does.
  end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (end.exitCode == 127) end.started = false;
  return end;
}

}  // namespace morlane
