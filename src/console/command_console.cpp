#include "console/command_console.h"

namespace morlane {

CommandConsole::CommandConsole(DialogContext& context) : context_(context) {}

CommandConsole::~CommandConsole() { Shutdown(); }

void CommandConsole::InitCommandTable() {}

int CommandConsole::OnSend() { return 0; }

void CommandConsole::OnStart() {}

void CommandConsole::OnStop() {}

bool CommandConsole::TestRunning() const { return false; }

void CommandConsole::Shutdown() {}

}  // namespace morlane
