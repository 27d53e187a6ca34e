#include "gui/log_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "gui/text_convert.h"

namespace morlane::gui {

int QtTextMeasurer::TextExtent(std::string_view text) const {
  return metrics_.horizontalAdvance(DisplayText(text));
}

LogView::LogView(const QFont& font, QWidget* parent)
    : QAbstractScrollArea(parent), measurer_(font), rowHeight_(QFontMetrics(font).height()) {
  setFont(font);
  viewport()->setFont(font);
  list_.SetMeasurer(&measurer_);
  list_.SetObserver(this);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  horizontalScrollBar()->setSingleStep(std::max(1, QFontMetrics(font).averageCharWidth()));
  verticalScrollBar()->setSingleStep(1);
  // Scrolling moves whole rows; a paint draws from the top row, so nothing is scrolled
  // pixel by pixel.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
          qOverload<>(&QWidget::update));
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
          qOverload<>(&QWidget::update));
  syncTimer_.setSingleShot(true);
  sinceSync_.start();
  connect(&syncTimer_, &QTimer::timeout, this, &LogView::SyncNow);
  UpdateRanges();
}

LogView::~LogView() {
  list_.SetObserver(nullptr);
}

void LogView::Schedule() {
  if (syncTimer_.isActive()) return;
  syncTimer_.start(static_cast<int>(std::max<qint64>(0, kMinSyncGapMs - sinceSync_.elapsed())));
}

void LogView::ItemInserted(int) {
  Schedule();
}

void LogView::ItemRemoved(int) {
  SyncNow();
}

void LogView::ContentReset() {
  SyncNow();
}

void LogView::SelectionChanged(int) {
  selectionMoved_ = true;
  Schedule();
}

void LogView::HorizontalExtentChanged(int) {
  Schedule();
}

void LogView::SyncNow() {
  syncTimer_.stop();
  sinceSync_.restart();
  rows_ = list_.GetCount();
  selection_ = list_.GetCurSel();
  UpdateRanges();
  if (selectionMoved_ && selection_ >= 0) ScrollToRow(selection_);
  selectionMoved_ = false;
  viewport()->update();
}

int LogView::FullRows() const {
  return std::max(1, viewport()->height() / rowHeight_);
}

int LogView::TopRow() const {
  return verticalScrollBar()->value();
}

void LogView::UpdateRanges() {
  const int fullRows = FullRows();
  verticalScrollBar()->setPageStep(fullRows);
  verticalScrollBar()->setRange(0, std::max(0, rows_ - fullRows));
  // The extent is the widest line's width; the view scrolls sideways over what does not
  // fit, as the list box's horizontal extent does.
  const int width = viewport()->width();
  horizontalScrollBar()->setPageStep(std::max(1, width));
  horizontalScrollBar()->setRange(0, std::max(0, list_.GetHorizontalExtent() - width));
}

void LogView::ScrollToRow(int row) {
  const int top = TopRow();
  if (row < top) {
    verticalScrollBar()->setValue(row);
  } else if (row >= top + FullRows()) {
    verticalScrollBar()->setValue(row - FullRows() + 1);
  }
}

QRect LogView::RowRect(int row) const {
  return QRect(-horizontalScrollBar()->value(), (row - TopRow()) * rowHeight_,
               std::max({list_.GetHorizontalExtent(), viewport()->width(), 1}), rowHeight_);
}

QString LogView::RowText(int row) const {
  if (row < 0 || row >= rows_) return {};
  return DisplayText(list_.TextAt(row));
}

int LogView::RowAt(int y) const {
  if (y < 0) return -1;
  const int row = TopRow() + y / rowHeight_;
  return row < rows_ ? row : -1;
}

void LogView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QRect area = event->rect();
  const QPalette::ColorGroup group = !isEnabled() ? QPalette::Disabled
                                     : hasFocus() ? QPalette::Active
                                                  : QPalette::Inactive;
  painter.fillRect(area, palette().brush(group, QPalette::Base));
  const int first = TopRow() + std::max(0, area.top()) / rowHeight_;
  const int last = std::min(rows_ - 1, TopRow() + area.bottom() / rowHeight_);
  for (int row = first; row <= last; ++row) {
    QRect rect = RowRect(row);
    const bool selected = row == selection_;
    // A selected line is marked across the whole row, however short it is.
    if (selected) {
      painter.fillRect(rect.united(QRect(0, rect.top(), viewport()->width(), rowHeight_)),
                       palette().brush(group, QPalette::Highlight));
    }
    painter.setPen(palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    // The extent is the text's width plus 3 pixels: the text starts 2 pixels in.
    painter.drawText(rect.adjusted(2, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                     RowText(row));
  }
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateRanges();
  // The horizontal bar coming or going changes the rows that fit: the newest line, when
  // selected, stays in view.
  if (selection_ >= 0 && selection_ == rows_ - 1) ScrollToRow(selection_);
}

void LogView::Select(int row) {
  if (row < 0 || row >= rows_) return;
  // The user picked a line; the list's selection follows, as a click on a list box does.
  list_.SetCurSel(row);
  SyncNow();
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Select(RowAt(event->position().toPoint().y()));
  event->accept();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) Select(RowAt(event->position().toPoint().y()));
  event->accept();
}

void LogView::keyPressEvent(QKeyEvent* event) {
  const int current = std::max(selection_, 0);
  int row;
  switch (event->key()) {
    case Qt::Key_Up:
      row = current - 1;
      break;
    case Qt::Key_Down:
      row = selection_ < 0 ? 0 : current + 1;
      break;
    case Qt::Key_PageUp:
      row = current - FullRows() + 1;
      break;
    case Qt::Key_PageDown:
      row = current + FullRows() - 1;
      break;
    case Qt::Key_Home:
      row = 0;
      break;
    case Qt::Key_End:
      row = rows_ - 1;
      break;
    case Qt::Key_Left:
    case Qt::Key_Right:
      QAbstractScrollArea::keyPressEvent(event);
      return;
    default:
      // Enter and Escape belong to the dialog.
      event->ignore();
      return;
  }
  Select(std::clamp(row, 0, std::max(rows_ - 1, 0)));
  event->accept();
}

}  // namespace morlane::gui
