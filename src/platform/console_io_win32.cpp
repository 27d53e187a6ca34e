#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <mutex>

#include "platform/console_io.h"

namespace morlane {

namespace {

std::atomic<std::atomic<int>*> stopCount{nullptr};
// Held while a handler counts and while the counter is taken away, so that a console event
// that comes as the StopRequests goes never counts into a counter already gone. Never held
// while a handler waits.
std::mutex& CountGuard() {
  static std::mutex guard;
  return guard;
}

// Counts the presses into the live counter; false when none counts any more.
bool Count(int presses) {
  std::lock_guard lock(CountGuard());
  std::atomic<int>* counter = stopCount.load();
  if (!counter) return false;
  counter->fetch_add(presses);
  return true;
}

// Set when the StopRequests that counts goes away; made once and kept for the process's
// life, so that a handler still waiting never waits on a closed handle.
HANDLE Finished() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

// Runs on a thread the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return Count(1) ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: everything stops now, and the return waits
      // until the records are kept.
      if (!Count(2)) return FALSE;
      if (HANDLE finished = Finished()) {
        WaitForSingleObject(finished, StopRequests::kConsoleCloseWaitMs);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

namespace {

HANDLE ConsoleOf(std::FILE* stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

int TerminalColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(ConsoleOf(stream), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool EnableTerminalEscapes(std::FILE* stream) {
  HANDLE console = ConsoleOf(stream);
  DWORD mode = 0;
  if (!GetConsoleMode(console, &mode)) return false;
  if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
  return SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void IgnoreClosedPipes() {}

bool WindowsConventions() {
  return true;
}

void UseBinaryStdio() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n > 1 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, utf8.data(), n, nullptr, nullptr);
    arguments.push_back(std::move(utf8));
  }
  LocalFree(wide);
  return arguments;
}

StopRequests::StopRequests(std::atomic<int>& presses) {
  presses.store(0);
  if (HANDLE finished = Finished()) ResetEvent(finished);
  stopCount.store(&presses);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  {
    std::lock_guard lock(CountGuard());
    stopCount.store(nullptr);
  }
  if (HANDLE finished = Finished()) SetEvent(finished);
}

bool DeliverConsoleEvent(unsigned long event) {
  return OnConsoleEvent(event) == TRUE;
}

}  // namespace morlane
