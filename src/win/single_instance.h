#pragma once

#include <string>

#include "win/win32.h"

namespace morlane::win {

// One tool window per desktop: the running window carries the property "Kestrum" = 1, and
// a later start that finds such a window brings it to the front and ends without one.
// A tag keeps separate groups apart (tests, screenshots): a tagged window also carries
// the tag's mark, and only windows with the same mark, or none for the untagged group,
// count.
inline constexpr const char* kInstanceProperty = "Kestrum";
inline constexpr const char* kInstanceTagProperty = "Kestrum.Tag";

void MarkInstance(HWND window, const std::string& tag);
void UnmarkInstance(HWND window);
// The first top-level window marked as a running instance of the group; null when none.
HWND FindRunningInstance(const std::string& tag);
// Restored when minimised, then brought to the front; withOptions: the start that raises
// it was given options, and the window is told that they were not applied.
void RaiseInstance(HWND window, bool withOptions = false);

// Holds the group's starts one after another from the search for a running window until
// the new window carries its mark, so that two starts at once cannot both find none.
// Waits a few seconds at most; a start that cannot have it goes on without it.
class StartupLock {
 public:
  explicit StartupLock(const std::string& tag);
  ~StartupLock();
  StartupLock(const StartupLock&) = delete;
  StartupLock& operator=(const StartupLock&) = delete;
  void Release();

  static constexpr DWORD kWaitMs = 5000;

 private:
  HANDLE mutex_ = nullptr;
  bool held_ = false;
};

}  // namespace morlane::win
