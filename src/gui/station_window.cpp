#include "gui/station_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/text_convert.h"
#include "station/station_look.h"

namespace morlane::gui {

namespace {

constexpr int kRefreshMs = 200;
constexpr int kLastRunsEvery = 10;  // refreshes: the records are read every two seconds
constexpr int kLastRuns = 8;
constexpr int kLastRunsShown = 5;  // lines seen without scrolling
// One row of tiles up to this many slots, more rows beyond: a tile narrower than a quarter
// of the screen could no longer show its verdict large.
constexpr int kTileColumns = 4;

void SetPixelSize(QWidget* widget, int px) {
  QFont font = widget->font();
  font.setPixelSize(px);
  widget->setFont(font);
}

}  // namespace

StationWindow::StationWindow(Station& station, RecordStore& store, const std::string& title)
    : station_(station), store_(store) {
  setWindowTitle(ToQString("Station " + title));
  beep = [] { QApplication::beep(); };
  auto* layout = new QVBoxLayout(this);

  // The station's fault holds for the shift: once shown, the banner stays until the window
  // is closed.
  banner_ = new QLabel;
  banner_->setWordWrap(true);
  banner_->setAlignment(Qt::AlignCenter);
  banner_->setStyleSheet(QStringLiteral("color: white; background: #b91c1c; padding: 8px;"));
  QFont bold = banner_->font();
  bold.setBold(true);
  banner_->setFont(bold);
  banner_->hide();
  layout->addWidget(banner_);

  auto* grid = new QGridLayout;
  const std::vector<SlotView> views = station_.View();
  const int columns = std::clamp(static_cast<int>(views.size()), 1, kTileColumns);
  for (size_t i = 0; i < views.size(); ++i) {
    auto* tile = new SlotTile(ToQString(views[i].name));
    const int row = static_cast<int>(i) / columns, column = static_cast<int>(i) % columns;
    grid->addWidget(tile, row, column);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(column, 1);
    tiles_.push_back(tile);
    // A window opened on a station that already ran units sounds only what ends from now.
    runsHeard_.push_back(views[i].runsEnded);
  }
  layout->addLayout(grid, 1);

  auto* scanRow = new QHBoxLayout;
  scanRow->addWidget(new QLabel(QStringLiteral("Scan:")));
  scan_ = new QLineEdit;
  scan_->setPlaceholderText(QStringLiteral("UNIT_ID or SLOT UNIT_ID, then Enter"));
  scanRow->addWidget(scan_, 1);
  layout->addLayout(scanRow);
  message_ = new QLabel;
  message_->setWordWrap(true);
  layout->addWidget(message_);
  auto* shiftRow = new QHBoxLayout;
  counters_ = new QLabel;
  operator_ = new QLabel;
  status_ = new QLabel;
  status_->setFont(bold);
  shiftRow->addWidget(counters_);
  shiftRow->addSpacing(40);
  shiftRow->addWidget(operator_);
  shiftRow->addStretch(1);
  shiftRow->addWidget(status_);
  layout->addLayout(shiftRow);
  lastRuns_ = new QListWidget;
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

void StationWindow::StopStation() {
  station_.Finish();
  stopping_ = true;
  status_->setText(QStringLiteral("Stopping: the running units finish first"));
  Refresh();
}

void StationWindow::Refresh() {
  const std::vector<SlotView> views = station_.View();
  for (size_t i = 0; i < views.size() && i < tiles_.size(); ++i) {
    tiles_[i]->Show(LookOf(views[i]), views[i].percent);
  }
  SoundFailures(views);
  if (const std::string fault = station_.Fault(); !fault.empty() && banner_->isHidden()) {
    banner_->setText(ToQString(FaultBanner(fault)));
    banner_->show();
  }
  counters_->setText(ToQString(CountersLine(station_.Tally())));
  // "-" as a tile's missing unit id: the runs start without an operator until a badge.
  operator_->setText(ToQString("Operator: " + station_.Operator().value_or("-")));
  // What the station says beside the tiles (a unit waiting for its label, the line's
  // database out of reach) replaces the last scan's answer.
  if (const Station::LastRemark remark = station_.NewestRemark(); remark.number != shownRemark_) {
    shownRemark_ = remark.number;
    message_->setStyleSheet(QString());
    message_->setText(ToQString(remark.text));
  }
  if (++ticks_ % kLastRunsEvery == 0) ShowLastRuns();
  if (stopping_ && !stoppedSaid_ && !station_.Busy()) {
    stoppedSaid_ = true;
    ShowLastRuns();
    status_->setText(QStringLiteral("Stopped: the last verdicts stay until the window is closed"));
    if (onStopped) onStopped();
  }
  if (closing_ && !station_.Busy()) close();
}

void StationWindow::SoundFailures(const std::vector<SlotView>& views) {
  for (size_t i = 0; i < views.size() && i < runsHeard_.size(); ++i) {
    if (views[i].runsEnded <= runsHeard_[i]) continue;
    runsHeard_[i] = views[i].runsEnded;
    // Only a failure calls the operator over; an aborted run was stopped by someone who
    // knows, and a pass needs nobody.
    if (views[i].result == "fail" && beep) beep();
  }
}

void StationWindow::ShowLastRuns() {
  RunFilter newest;
  newest.limit = kLastRuns;
  std::string why;
  const std::vector<RunRecord> runs = store_.Summaries(newest, &why);
  lastRuns_->clear();
  for (const RunRecord& run : runs) lastRuns_->addItem(ToQString(LastRunLine(run)));
}

void StationWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The tiles size their own texts; the lines around them grow with the window too, within
  // bounds that keep the tiles the most room.
  const int side = std::clamp(height() / 40, 13, 26);
  SetPixelSize(scan_, side);
  // The scan field's caption, the message, the counters, the operator and the stop.
  for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (label != banner_) SetPixelSize(label, side);
  }
  SetPixelSize(banner_, std::clamp(height() / 36, 16, 30));
  const int listed = std::clamp(height() / 60, 12, 18);
  SetPixelSize(lastRuns_, listed);
  lastRuns_->setMaximumHeight(lastRuns_->fontMetrics().lineSpacing() * kLastRunsShown +
                              2 * lastRuns_->frameWidth() + 6);
}

void StationWindow::closeEvent(QCloseEvent* event) {
  // No unit starts any more; the window goes once the running ones have finished.
  station_.Finish();
  if (station_.Busy()) {
    closing_ = true;
    status_->setText(QStringLiteral("Stopping: the running units finish first"));
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace morlane::gui
