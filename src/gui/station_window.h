#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

#include "records/record_store.h"
#include "station/station.h"

namespace morlane::gui {

// The operator's screen of a production station: a tile per slot (its name, the unit, the
// step, a bar, the time and a large state), one scan field that keeps the keyboard focus
// (a barcode scanner types its label and presses Enter), the shift's counters and the last
// runs from the records. It only draws what the station's engine says; closing it lets the
// running units finish first.
class StationWindow : public QWidget {
 public:
  StationWindow(Station& station, RecordStore& store, const std::string& title);

  // Draws the slots, counters and last runs as they are now (a timer calls it).
  void Refresh();
  // A line into the scan field and Enter, as a scanner types it.
  void Type(const std::string& line);
  QLineEdit* ScanField() { return scan_; }
  // What the operator is told of the last scan or of the station ("" when nothing).
  QString Message() const { return message_->text(); }
  QString StateOf(size_t slot) const { return tiles_[slot].state->text(); }
  QString Counters() const { return counters_->text(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Tile {
    QFrame* frame;
    QLabel* unit;
    QLabel* step;
    QProgressBar* bar;
    QLabel* time;
    QLabel* state;
  };

  void OnScan();
  void ShowLastRuns();

  Station& station_;
  RecordStore& store_;
  std::vector<Tile> tiles_;
  QLineEdit* scan_;
  QLabel* message_;
  QLabel* counters_;
  QListWidget* lastRuns_;
  QTimer timer_;
  int ticks_ = 0;
  int shownRemark_ = 0;
  bool closing_ = false;
};

}  // namespace morlane::gui
