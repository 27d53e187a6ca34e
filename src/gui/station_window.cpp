#include "gui/station_window.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "gui/text_convert.h"
#include "station/station_look.h"

namespace morlane::gui {

namespace {

constexpr int kRefreshMs = 200;
constexpr int kLastRunsEvery = 10;  // refreshes: the records are read every two seconds
constexpr int kLastRuns = 8;
constexpr int kTileColumns = 4;

}  // namespace

StationWindow::StationWindow(Station& station, RecordStore& store, const std::string& title)
    : station_(station), store_(store) {
  setWindowTitle(ToQString("Station " + title));
  auto* layout = new QVBoxLayout(this);

  auto* grid = new QGridLayout;
  const std::vector<SlotView> views = station_.View();
  for (size_t i = 0; i < views.size(); ++i) {
    Tile tile{};
    tile.frame = new QFrame;
    tile.frame->setFrameShape(QFrame::StyledPanel);
    tile.frame->setMinimumWidth(220);
    auto* box = new QVBoxLayout(tile.frame);
    auto* name = new QLabel(ToQString(views[i].name));
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    tile.unit = new QLabel;
    tile.step = new QLabel;
    tile.bar = new QProgressBar;
    tile.bar->setRange(0, 100);
    tile.time = new QLabel;
    tile.state = new QLabel;
    QFont huge = tile.state->font();
    huge.setPointSizeF(huge.pointSizeF() * 2.4);
    huge.setBold(true);
    tile.state->setFont(huge);
    tile.state->setAlignment(Qt::AlignCenter);
    tile.state->setMinimumHeight(60);
    box->addWidget(name);
    box->addWidget(tile.unit);
    box->addWidget(tile.step);
    box->addWidget(tile.bar);
    box->addWidget(tile.time);
    box->addWidget(tile.state);
    grid->addWidget(tile.frame, static_cast<int>(i) / kTileColumns,
                    static_cast<int>(i) % kTileColumns);
    tiles_.push_back(tile);
  }
  layout->addLayout(grid);

  auto* scanRow = new QHBoxLayout;
  scanRow->addWidget(new QLabel(QStringLiteral("Scan:")));
  scan_ = new QLineEdit;
  scan_->setPlaceholderText(QStringLiteral("UNIT_ID or SLOT UNIT_ID, then Enter"));
  scanRow->addWidget(scan_, 1);
  layout->addLayout(scanRow);
  message_ = new QLabel;
  layout->addWidget(message_);
  counters_ = new QLabel;
  layout->addWidget(counters_);
  lastRuns_ = new QListWidget;
  lastRuns_->setMaximumHeight(150);
  layout->addWidget(lastRuns_);

  // Unit ids and messages come from labels and scanners: shown as the text they are, never
  // as markup.
  for (QLabel* label : findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  // Keyboard only: the scanner's keystrokes must always land in the scan field, so nothing
  // else takes the focus.
  for (QWidget* child : findChildren<QWidget*>()) {
    if (child != scan_) child->setFocusPolicy(Qt::NoFocus);
  }
  setFocusProxy(scan_);
  scan_->setFocus();
  QObject::connect(scan_, &QLineEdit::returnPressed, this, [this] { OnScan(); });
  QObject::connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
  timer_.start(kRefreshMs);
  Refresh();
  ShowLastRuns();
}

void StationWindow::Type(const std::string& line) {
  scan_->setText(ToQString(line));
  OnScan();
}

void StationWindow::OnScan() {
  const std::string line = FromQString(scan_->text());
  scan_->clear();
  const std::string refused = station_.Scan(line);
  message_->setStyleSheet(refused.empty() ? QString() : QStringLiteral("color: #b91c1c;"));
  message_->setText(refused.empty() ? QString() : ToQString(refused));
  Refresh();
}

void StationWindow::Refresh() {
  const std::vector<SlotView> views = station_.View();
  for (size_t i = 0; i < views.size() && i < tiles_.size(); ++i) {
    const TileLook look = LookOf(views[i]);
    Tile& tile = tiles_[i];
    tile.unit->setText(ToQString(look.unit));
    tile.step->setText(ToQString(look.step));
    tile.bar->setValue(views[i].percent);
    tile.time->setText(ToQString(look.time));
    tile.state->setText(ToQString(look.state));
    tile.state->setStyleSheet(
        QStringLiteral("color: white; background: #%1;").arg(look.color, 6, 16, QLatin1Char('0')));
  }
  counters_->setText(ToQString(CountersLine(station_.Tally())));
  // What the station says beside the tiles (a unit waiting for its label, the line's
  // database out of reach) replaces the last scan's answer.
  if (const Station::LastRemark remark = station_.NewestRemark(); remark.number != shownRemark_) {
    shownRemark_ = remark.number;
    message_->setStyleSheet(QString());
    message_->setText(ToQString(remark.text));
  }
  if (++ticks_ % kLastRunsEvery == 0) ShowLastRuns();
  if (closing_ && !station_.Busy()) close();
}

void StationWindow::ShowLastRuns() {
  RunFilter newest;
  newest.limit = kLastRuns;
  std::string why;
  const std::vector<RunRecord> runs = store_.Summaries(newest, &why);
  lastRuns_->clear();
  for (const RunRecord& run : runs) lastRuns_->addItem(ToQString(LastRunLine(run)));
}

void StationWindow::closeEvent(QCloseEvent* event) {
  // No unit starts any more; the window goes once the running ones have finished.
  station_.Finish();
  if (station_.Busy()) {
    closing_ = true;
    message_->setText(QStringLiteral("Stopping: the running units finish first"));
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace morlane::gui
