#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "gui/slot_tile.h"
#include "records/record_store.h"
#include "station/station.h"

namespace morlane::gui {

// The operator's screen of a production station: a red banner across the top while the
// station has a fault, a tile per slot (see SlotTile) sharing the window's width, one scan
// field that keeps the keyboard focus (a barcode scanner types its label and presses
// Enter), the shift's counters, the operator and the last runs from the records. It only
// draws what the station's engine says. Closing it lets the running units finish first.
class StationWindow : public QWidget {
 public:
  StationWindow(Station& station, RecordStore& store, const std::string& title);

  // Draws the slots, counters and last runs as they are now (a timer calls it).
  void Refresh();
  // A line into the scan field and Enter, as a scanner types it.
  void Type(const std::string& line);
  // The operator's stop (Ctrl-C in the terminal): no unit starts any more and the running
  // ones finish; the window stays, with the last verdicts, until it is closed.
  void StopStation();
  bool Stopping() const { return stopping_; }

  QLineEdit* ScanField() { return scan_; }
  // What the operator is told of the last scan or of the station ("" when nothing).
  QString Message() const { return message_->text(); }
  QString StateOf(size_t slot) const { return tiles_[slot]->State(); }
  const SlotTile& Tile(size_t slot) const { return *tiles_[slot]; }
  QString Counters() const { return counters_->text(); }
  QString OperatorLine() const { return operator_->text(); }
  QString Status() const { return status_->text(); }
  // The fault banner's text; "" while it is hidden.
  QString Banner() const { return banner_->isHidden() ? QString() : banner_->text(); }

  // Sounds a unit's failure, once per failed run: QApplication::beep unless replaced.
  std::function<void()> beep;
  // Once, when the station was stopped and the last running unit has ended.
  std::function<void()> onStopped;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnScan();
  void ShowLastRuns();
  // Sounds each run that ended in a failure since the last refresh.
  void SoundFailures(const std::vector<SlotView>& views);

  Station& station_;
  RecordStore& store_;
  std::vector<SlotTile*> tiles_;
  std::vector<int> runsHeard_;  // per slot, the runs ended already sounded or passed over
  QLabel* banner_;
  QLineEdit* scan_;
  QLabel* message_;
  QLabel* counters_;
  QLabel* operator_;
  QLabel* status_;
  QListWidget* lastRuns_;
  QTimer timer_;
  int ticks_ = 0;
  int shownRemark_ = 0;
  bool closing_ = false;
  bool stopping_ = false;
  bool stoppedSaid_ = false;
};

}  // namespace morlane::gui
