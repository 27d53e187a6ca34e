#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "station/station.h"
#include "win/win32.h"

namespace morlane::win {

// The operator's screen of a production station in the Windows window: a tile per slot
// (its name, the unit, the step, a bar, the time and a large state), one scan field that
// keeps the keyboard focus (a barcode scanner types its label and presses Enter), the
// shift's counters and the last runs from the records. It draws what the station's engine
// says and holds no procedure; closing it lets the running units finish first.
class StationView {
 public:
  StationView(Station& station, RecordStore& store, const std::string& title);
  ~StationView();
  StationView(const StationView&) = delete;
  StationView& operator=(const StationView&) = delete;

  HWND Handle() const { return window_; }
  void Show(int how);
  // A line into the scan field and Enter, as a scanner types it.
  void Type(const std::string& line);
  // Draws the slots, counters and last runs as they are now (a timer calls it).
  void Refresh();
  // Runs action once on the window's thread after ms.
  void RunLater(int ms, std::function<void()> action);
  void RequestClose();
  // Until the window is gone; 0.
  int RunMessageLoop();

 private:
  struct Tile {
    HWND name, unit, step, bar, time, state;
    COLORREF color = RGB(107, 114, 128);
  };

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK ScanProc(HWND edit, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                   DWORD_PTR self);
  LRESULT OnMessage(UINT message, WPARAM w, LPARAM l);
  void Build();
  void OnScan();
  void ShowLastRuns();
  HBRUSH BrushOf(COLORREF color);

  Station& station_;
  RecordStore& store_;
  std::string title_;
  HWND window_ = nullptr;
  HWND scan_ = nullptr;
  HWND message_ = nullptr;
  HWND counters_ = nullptr;
  HWND lastRuns_ = nullptr;
  HFONT nameFont_ = nullptr;
  HFONT stateFont_ = nullptr;
  HFONT textFont_ = nullptr;
  std::vector<Tile> tiles_;
  std::map<COLORREF, HBRUSH> brushes_;
  std::map<UINT_PTR, std::function<void()>> later_;
  UINT_PTR nextTimer_ = 100;
  int ticks_ = 0;
  int shownRemark_ = 0;
  bool closing_ = false;
  bool messageIsRefusal_ = false;
};

}  // namespace morlane::win
