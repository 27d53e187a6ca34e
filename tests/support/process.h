#pragma once

#include <sys/types.h>

#include <cstdint>

#include <string>
#include <vector>

namespace morlane::test {

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal; -1 when it could not be run
  bool timedOut = false;
  std::string out;
  std::string err;
};

// Runs a program to its end (killed after timeoutSeconds) with its output captured; input,
// when given, is its standard input (else /dev/null).
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& workDir = "",
                         int timeoutSeconds = 120, const std::string& input = "");

// Runs a program with a terminal (a pseudo-terminal) as its stdin, stdout and stderr, as a
// technician's shell gives it; everything it wrote to the terminal is in out.
ProcessResult RunOnTerminal(const std::vector<std::string>& argv, int timeoutSeconds = 120);

// morlane-unit-sim in the background: started with its fault switches, its
// pseudo-terminal path read from its first line; stopped when this goes.
class SimProcess {
 public:
  explicit SimProcess(const std::string& program, const std::vector<std::string>& switches = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool Running() const { return pid_ > 0 && !path_.empty(); }
  const std::string& Path() const { return path_; }
  // Stops it (SIGTERM) and returns what it printed on stderr.
  std::string Stop();
  // One control line on its standard input: "out" takes the unit out, "in" puts it back.
  bool Control(const std::string& line);

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  int inFd_ = -1;
  std::string path_;
  std::string err_;
};

class TempDir;

// A program in the background, as an operator runs it in dir: its standard input a pipe the
// test types into, its stdout and stderr in the files "stdout" and "stderr" of dir, so that a
// test can press Ctrl-C while it works and read what it said so far. Killed when this goes.
class Background {
 public:
  Background(std::vector<std::string> argv, const TempDir& dir);
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  // A line typed, with its line feed.
  bool Type(const std::string& line);
  void EndInput();
  // What the file holds so far.
  std::string Text(const std::string& file) const;
  // Waits until the file holds the text; false after seconds.
  bool WaitFor(const std::string& file, const std::string& text, int seconds);
  void Interrupt();
  void HangUp();
  // The exit status, or -1 when it had not ended after seconds.
  int Wait(int seconds);

 private:
  const TempDir& dir_;
  pid_t pid_ = -1;
  int inFd_ = -1;
  int status_ = -1;
};

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  void Write(const std::string& name, const std::string& text) const;
  std::vector<uint8_t> Read(const std::string& name) const;

 private:
  std::string path_;
};

// Splits text into lines at line feeds (the last line without one is kept when not empty).
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace morlane::test
