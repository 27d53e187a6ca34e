#include <windows.h>

#include "platform/run_program.h"
#include "platform/utf8_path.h"

namespace morlane {
namespace {

// One argument quoted as the C runtime's parser reads it back: backslashes are literal
// unless they come before a quote.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

}  // namespace

ProgramEnd RunProgram(const std::vector<std::string>& arguments, int timeoutMs) {
  ProgramEnd end;
  if (arguments.empty()) return end;
  std::wstring commandLine;
  for (const std::string& argument : arguments) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += Quoted(PathFromUtf8(argument).wstring());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return end;
  }
  end.started = true;
  CloseHandle(process.hThread);
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    end.timedOut = true;
  } else {
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) end.exitCode = static_cast<int>(code);
  }
  CloseHandle(process.hProcess);
  return end;
}

}  // namespace morlane
