#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "console/command_table.h"
#include "console/mcu_log.h"
#include "console/test_workers.h"
#include "link/dialog_context.h"

namespace morlane {

// The service commands: the command table, "Send", and the automatic command test, the
// one worker thread of the tool.
class CommandConsole {
 public:
  explicit CommandConsole(DialogContext& context);
  ~CommandConsole();
  CommandConsole(const CommandConsole&) = delete;
  CommandConsole& operator=(const CommandConsole&) = delete;

  void InitCommandTable();
  // 1 when the unit's answer was logged.
  int OnSend();
  void OnStart();
  void OnStop();
  // The check boxes into the command table.
  void PrepareCommandTest();
  // A worker is alive: running, or finishing the command in hand after "Stop".
  bool TestRunning() const { return running_.load(); }
  // However the dialog ends: stops the worker and waits for it, serving its window
  // requests meanwhile, and closes MCUlog.txt. On the window thread; safe to repeat.
  void Shutdown();

  // Where the test writes MCUlog.txt: the dialog's working directory unless told otherwise.
  void SetLogPath(std::string path) { logPath_ = std::move(path); }
  std::string LogPath() const;
  const CommandTable& Table() const { return table_; }
  const TestCounters& Counters() const { return counters_; }
  // The most recent answer the serial worker read; only meaningful once it has ended.
  const std::string& LastSerialAnswer() const { return lastSerialAnswer_; }

 private:
  void StartWorker(int (*body)(TestRun&));
  void JoinEndedWorker();

  DialogContext& context_;
  CommandTable table_;
  McuLog log_;
  std::string logPath_;
  // true = no test is to run. Starts raised, as the dialog initialises it.
  std::atomic<bool> stopFlag_{true};
  std::atomic<bool> running_{false};
  std::mutex linkMutex_;
  TestCounters counters_;
  std::string lastSerialAnswer_;
  std::thread worker_;
};

}  // namespace morlane
