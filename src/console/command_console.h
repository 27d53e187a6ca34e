#pragma once

#include "link/dialog_context.h"

namespace morlane {

// The service commands: the command table, "Send", and the automatic command test.
class CommandConsole {
 public:
  explicit CommandConsole(DialogContext& context);
  ~CommandConsole();

  void InitCommandTable();
  // 1 when the unit's answer was logged.
  int OnSend();
  void OnStart();
  void OnStop();
  bool TestRunning() const;
  // However the dialog ends: stops the worker and waits for it, serving its window
  // requests meanwhile, and closes MCUlog.txt.
  void Shutdown();

 private:
  DialogContext& context_;
};

}  // namespace morlane
