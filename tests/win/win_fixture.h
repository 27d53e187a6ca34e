#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "ui/control_ids.h"
#include "win/win32.h"
#include "win/win_window.h"

namespace morlane::win::test {

// A click as the button takes it from the mouse.
inline void Click(Win32Window& window, int id) {
  HWND control = window.Control(id);
  ASSERT_NE(control, nullptr) << id;
  SendMessageA(control, BM_CLICK, 0, 0);
}

// Serves the window as its message loop does, until done() holds or ms have passed.
template <typename Done>
bool PumpUntil(Win32Window& window, Done done, int ms = 3000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (window.PreTranslate(msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
}

// Whether the box's selected line, if any, is one of the rows it shows whole.
inline bool SelectionInView(HWND box) {
  const auto selected = static_cast<int>(SendMessageA(box, LB_GETCURSEL, 0, 0));
  if (selected < 0) return true;
  const auto top = static_cast<int>(SendMessageA(box, LB_GETTOPINDEX, 0, 0));
  const auto height = static_cast<int>(SendMessageA(box, LB_GETITEMHEIGHT, 0, 0));
  RECT client{};
  GetClientRect(box, &client);
  const int rows = height > 0 ? std::max<int>(client.bottom / height, 1) : 1;
  return top <= selected && selected < top + rows;
}

// Serves the window until the log box shows what the log list holds: its lines, its
// selection (scrolled into view) and its extent.
inline bool LogShown(Win32Window& window) {
  HWND box = window.Control(ctl::kLogList);
  const CHScrollListBox& log = window.LogList();
  return PumpUntil(window, [&] {
    return SendMessageA(box, LB_GETCOUNT, 0, 0) == log.GetCount() &&
           SendMessageA(box, LB_GETCURSEL, 0, 0) == log.GetCurSel() &&
           SendMessageA(box, LB_GETHORIZONTALEXTENT, 0, 0) == log.GetHorizontalExtent() &&
           SelectionInView(box);
  });
}

inline std::string TextOf(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

inline std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

inline LONG StyleOf(HWND window) {
  return GetWindowLongA(window, GWL_STYLE);
}

// Where a control stands in its dialog's client area.
inline RECT PlaceOf(HWND control) {
  RECT place{};
  GetWindowRect(control, &place);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

// A template rectangle in pixels as the dialog manager places a control: position and
// size each converted from dialog units.
inline RECT Mapped(HWND dialog, int x, int y, int width, int height) {
  RECT at{x, y, width, height};
  MapDialogRect(dialog, &at);
  return RECT{at.left, at.top, at.left + at.right, at.top + at.bottom};
}

// Answers the next modal box the window opens, from a timer of the window (which the
// box's own loop delivers), calling inspect on it first.
template <typename Inspect>
void CloseNextModal(Win32Window& window, Inspect inspect, WORD answer = IDOK) {
  window.RunLater(50, [&window, inspect, answer] {
    HWND box = GetLastActivePopup(window.Handle());
    if (box == window.Handle() || !IsWindowVisible(box)) {
      CloseNextModal(window, inspect, answer);
      return;
    }
    inspect(box);
    PostMessageA(box, WM_COMMAND, answer, 0);
  });
}

inline std::string InstanceTag(const char* name) {
  return std::string(name) + "." + std::to_string(GetCurrentProcessId());
}

}  // namespace morlane::win::test
