#include "win/single_instance.h"

#include <cstdint>

#include "win/win_clock.h"

namespace morlane::win {

namespace {

// The tag's mark: a hash of it, never 0 (which is "no tag").
uintptr_t TagMark(const std::string& tag) {
  if (tag.empty()) return 0;
  uint32_t hash = 2166136261u;
  for (unsigned char c : tag) hash = (hash ^ c) * 16777619u;
  return (static_cast<uintptr_t>(hash) << 1) | 1;
}

struct Search {
  uintptr_t mark;
  HWND found;
};

BOOL CALLBACK Consider(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  if (reinterpret_cast<uintptr_t>(GetPropA(window, kInstanceProperty)) != 1) return TRUE;
  if (reinterpret_cast<uintptr_t>(GetPropA(window, kInstanceTagProperty)) != search->mark) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

}  // namespace

void MarkInstance(HWND window, const std::string& tag) {
  SetPropA(window, kInstanceProperty, reinterpret_cast<HANDLE>(1));
  if (uintptr_t mark = TagMark(tag)) {
    SetPropA(window, kInstanceTagProperty, reinterpret_cast<HANDLE>(mark));
  }
}

void UnmarkInstance(HWND window) {
  RemovePropA(window, kInstanceProperty);
  RemovePropA(window, kInstanceTagProperty);
}

HWND FindRunningInstance(const std::string& tag) {
  Search search{TagMark(tag), nullptr};
  EnumWindows(Consider, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void RaiseInstance(HWND window, bool withOptions) {
  if (withOptions) PostMessageA(window, kOptionsNotAppliedMessage, 0, 0);
  if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

StartupLock::StartupLock(const std::string& tag) {
  std::string name("Local\\Kestrum.start.");
  name.append(std::to_string(TagMark(tag)));
  mutex_ = CreateMutexA(nullptr, FALSE, name.c_str());
  if (!mutex_) return;
  DWORD waited = WaitForSingleObject(mutex_, kWaitMs);
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

StartupLock::~StartupLock() {
  Release();
  if (mutex_) CloseHandle(mutex_);
}

void StartupLock::Release() {
  if (held_) ReleaseMutex(mutex_);
  held_ = false;
}

}  // namespace morlane::win
