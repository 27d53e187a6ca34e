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
// (its name, the unit, the step, a bar, the time and a large state; a failed unit's reason
// in words and the line's instruction), a banner across the top while the station has a
// fault, one scan field that keeps the keyboard focus (a barcode scanner types its label
// and presses Enter), the shift's counters with the operator, and the last runs from the
// records. The tiles share the window's width and their texts grow with them, so that a
// maximised window reads from a few metres. It draws what the station's engine says and
// holds no procedure; closing it lets the running units finish first.
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

  // Sounded once for every unit that failed; MessageBeep by default.
  std::function<void()> onFailure;
  // The pixel heights of a tile's unit id and state texts now.
  int UnitTextHeight() const { return unitHeight_; }
  int StateTextHeight() const { return stateHeight_; }

 private:
  struct Tile {
    HWND frame, name, unit, step, bar, time, state, reason, instruction;
    COLORREF color = RGB(107, 114, 128);
    int runsEnded = 0;  // of the slot's runs, those already shown (and sounded)
  };

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l);
  static LRESULT CALLBACK ScanProc(HWND edit, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                   DWORD_PTR self);
  LRESULT OnMessage(UINT message, WPARAM w, LPARAM l);
  void Build();
  // Places every control for the client area now; the tiles' fonts follow their size.
  void Layout();
  void SizeFonts(int tileWidth, int tileHeight);
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
  HWND banner_ = nullptr;
  HWND scanLabel_ = nullptr;
  HFONT nameFont_ = nullptr;
  HFONT unitFont_ = nullptr;
  HFONT stateFont_ = nullptr;
  HFONT tileFont_ = nullptr;  // a tile's step, time, reason and instruction
  HFONT textFont_ = nullptr;  // the scan field and the lines below the tiles
  HFONT bannerFont_ = nullptr;
  int nameHeight_ = 0;
  int unitHeight_ = 0;
  int stateHeight_ = 0;
  int tileTextHeight_ = 0;
  bool bannerShown_ = false;
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
