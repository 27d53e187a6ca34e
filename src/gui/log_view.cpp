#include "gui/log_view.h"

#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "gui/text_convert.h"

namespace morlane::gui {

int QtTextMeasurer::TextExtent(std::string_view text) const {
  return metrics_.horizontalAdvance(DisplayText(text));
}

LogListModel::LogListModel(CHScrollListBox& list, int rowHeight, QObject* parent)
    : QAbstractListModel(parent),
      list_(list),
      rows_(list.GetCount()),
      rowHeight_(rowHeight),
      extent_(list.GetHorizontalExtent()) {
  list_.SetObserver(this);
}

LogListModel::~LogListModel() {
  list_.SetObserver(nullptr);
}

int LogListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

// The view asks for an index per row whenever it lays them out: no detour through the
// generic checks.
QModelIndex LogListModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || column != 0 || row < 0 || row >= rows_) return {};
  return createIndex(row, 0);
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  switch (role) {
    case Qt::DisplayRole:
      return DisplayText(list_.TextAt(index.row()));
    case Qt::SizeHintRole:
      return QSize(std::max(extent_, 1), rowHeight_);
    default:
      return {};
  }
}

Qt::ItemFlags LogListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void LogListModel::ShowPending() {
  if (pending_ == 0) return;
  changing_ = true;
  beginInsertRows(QModelIndex(), rows_, rows_ + pending_ - 1);
  rows_ += pending_;
  pending_ = 0;
  endInsertRows();
  changing_ = false;
}

// The list has already changed when it reports; the row count the view sees moves
// between the begin and the end of each change, as the view expects.
void LogListModel::ItemInserted(int index) {
  if (index == rows_ + pending_) {
    ++pending_;
    emit updateRequested();
    return;
  }
  ShowPending();
  changing_ = true;
  beginInsertRows(QModelIndex(), index, index);
  ++rows_;
  endInsertRows();
  changing_ = false;
  emit updateRequested();
}

void LogListModel::ItemRemoved(int index) {
  ShowPending();
  changing_ = true;
  beginRemoveRows(QModelIndex(), index, index);
  --rows_;
  endRemoveRows();
  changing_ = false;
}

void LogListModel::ContentReset() {
  changing_ = true;
  beginResetModel();
  rows_ = list_.GetCount();
  pending_ = 0;
  endResetModel();
  changing_ = false;
  emit updateRequested();
}

void LogListModel::SelectionChanged(int) {
  emit updateRequested();
}

void LogListModel::HorizontalExtentChanged(int extent) {
  extent_ = extent;
  emit extentChanged();
}

void LogItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
  const bool selected = option.state & QStyle::State_Selected;
  QPalette::ColorGroup group = QPalette::Active;
  if (!(option.state & QStyle::State_Enabled)) {
    group = QPalette::Disabled;
  } else if (!(option.state & QStyle::State_Active)) {
    group = QPalette::Inactive;
  }
  // A selected line is marked across the whole row of the list, however short it is.
  QRect row = option.rect;
  if (option.widget) row.setRight(std::max(row.right(), option.widget->width()));
  if (selected) painter->fillRect(row, option.palette.brush(group, QPalette::Highlight));
  painter->setPen(
      option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
  // The extent is the text's width plus 3 pixels: the text starts 2 pixels in.
  painter->drawText(option.rect.adjusted(2, 0, 0, 0),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip,
                    index.data(Qt::DisplayRole).toString());
}

QSize LogItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const {
  return index.data(Qt::SizeHintRole).toSize();
}

LogView::LogView(const QFont& font, QWidget* parent) : QListView(parent), measurer_(font) {
  setFont(font);
  list_.SetMeasurer(&measurer_);
  model_ = new LogListModel(list_, QFontMetrics(font).height(), this);
  delegate_ = new LogItemDelegate(this);
  setItemDelegate(delegate_);
  setModel(model_);
  setUniformItemSizes(true);
  setGridSize(QSize(1, QFontMetrics(font).height()));  // follows the extent
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setTextElideMode(Qt::ElideNone);
  setWordWrap(false);
  horizontalScrollBar()->setSingleStep(std::max(1, QFontMetrics(font).averageCharWidth()));

  updateTimer_.setSingleShot(true);
  connect(&updateTimer_, &QTimer::timeout, this, &LogView::SyncNow);
  clock_.start();
  connect(model_, &LogListModel::updateRequested, this, &LogView::ScheduleUpdate);
  connect(model_, &LogListModel::extentChanged, this, &LogView::FollowExtent);
  connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { OnCurrentChanged(current); });
}

LogView::~LogView() {
  // The model reads the list, which goes with this object, before the model would go
  // with the view's children.
  delete model_;
  model_ = nullptr;
}

void LogView::ScheduleUpdate() {
  if (updateTimer_.isActive()) return;
  updateTimer_.start(static_cast<int>(std::max<qint64>(0, nextUpdateMs_ - clock_.elapsed())));
}

void LogView::SyncNow() {
  updateTimer_.stop();
  qint64 started = clock_.elapsed();
  model_->ShowPending();
  executeDelayedItemsLayout();
  syncing_ = true;
  int selected = list_.GetCurSel();
  if (selected >= 0 && selected < model_->rowCount()) {
    QModelIndex index = model_->index(selected, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index, QAbstractItemView::EnsureVisible);
  } else {
    selectionModel()->clear();
  }
  syncing_ = false;
  // Laying out the rows is the cost that grows with the log; the next update waits so
  // that updating stays a small share of the thread's time.
  qint64 cost = clock_.elapsed() - started;
  nextUpdateMs_ = clock_.elapsed() + std::min<qint64>(cost * (kUpdateShare - 1), kMaxUpdateGapMs);
}

void LogView::FollowExtent() {
  // The rows are as wide as the extent. A grid of that width spares the view asking
  // every row for its size when it lays them out; it does so at the next update.
  setGridSize(QSize(std::max(model_->Extent(), 1), QFontMetrics(font()).height()));
}

void LogView::OnCurrentChanged(const QModelIndex& current) {
  if (syncing_ || model_->Changing()) return;
  // The user picked a line; the list's selection follows, as a click on a list box does.
  list_.SetCurSel(current.isValid() ? current.row() : -1);
}

}  // namespace morlane::gui
