#include "gui/slot_tile.h"

#include <QFontMetrics>
#include <QResizeEvent>

#include <algorithm>
#include <utility>
#include <vector>

#include "gui/text_convert.h"

namespace morlane::gui {

namespace {

// Smaller than this a text is cut rather than shrunk further; the tile's minimum size keeps
// every text the station shows above it.
constexpr int kLeastPixels = 9;
constexpr int kMarginPixels = 8;
constexpr int kGapPixels = 2;

// Whether text drawn at px fits box: on one line, or wrapped at its spaces as a word-wrapped
// label draws it.
bool Fits(QFont font, int px, const QString& text, const QSize& box, bool wrap) {
  font.setPixelSize(px);
  const QFontMetrics metrics(font);
  if (!wrap) {
    return metrics.height() <= box.height() && metrics.horizontalAdvance(text) <= box.width();
  }
  const QRect used =
      metrics.boundingRect(QRect(0, 0, box.width(), 1 << 20), Qt::TextWordWrap, text);
  return used.width() <= box.width() && used.height() <= box.height();
}

// The largest pixel size, up to most, at which text fits box on one line.
int FittingPixels(const QFont& font, const QString& text, int most, const QSize& box) {
  int low = kLeastPixels, high = std::max(most, kLeastPixels);
  if (Fits(font, high, text, box, false)) return high;
  while (high - low > 1) {
    const int middle = (low + high) / 2;
    (Fits(font, middle, text, box, false) ? low : high) = middle;
  }
  return low;
}

// A word-wrapped label breaks lines only between words: a long one (a digest, a port's
// path) would make the whole text shrink to fit. A zero-width space every so many letters
// lets it break there too, unseen.
constexpr int kLongestUnbroken = 16;

QString Breakable(const QString& text) {
  QString out;
  int run = 0;
  for (const QChar c : text) {
    out += c;
    run = c.isSpace() ? 0 : run + 1;
    if (run == kLongestUnbroken) {
      out += QChar(0x200B);
      run = 0;
    }
  }
  return out;
}

QLabel* NewLabel(QWidget* parent, bool bold) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);  // unit ids come from labels: never markup
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
  return label;
}

}  // namespace

SlotTile::SlotTile(const QString& name, QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  setMinimumSize(kMinimumWidth, kMinimumHeight);
  name_ = NewLabel(this, true);
  name_->setText(name);
  unit_ = NewLabel(this, true);
  step_ = NewLabel(this, false);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  time_ = NewLabel(this, false);
  state_ = NewLabel(this, true);
  state_->setAlignment(Qt::AlignCenter);
  reason_.label = NewLabel(this, true);
  instruction_.label = NewLabel(this, false);
  for (const Note* note : {&reason_, &instruction_}) {
    note->label->setWordWrap(true);
    note->label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  Arrange();
}

void SlotTile::Show(const TileLook& look, int percent) {
  bool changed = false;
  auto put = [&changed](QLabel* label, const std::string& text) {
    const QString shown = ToQString(text);
    if (label->text() == shown) return;
    label->setText(shown);
    changed = true;
  };
  put(unit_, look.unit);
  put(step_, look.step);
  put(time_, look.time);
  put(state_, look.state);
  for (auto [note, text] :
       {std::pair{&reason_, &look.reason}, {&instruction_, &look.instruction}}) {
    const QString said = Breakable(ToQString(*text));
    if (note->said == said) continue;
    note->said = said;
    changed = true;
  }
  bar_->setValue(percent);
  if (look.color != color_) {
    color_ = look.color;
    state_->setStyleSheet(
        QStringLiteral("color: white; background: #%1;").arg(look.color, 6, 16, QLatin1Char('0')));
  }
  // The sizes depend on the texts: a longer state gets a smaller font to stay whole.
  if (changed) Arrange();
}

void SlotTile::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Arrange();
}

void SlotTile::Arrange() {
  const QRect inside =
      contentsRect().adjusted(kMarginPixels, kMarginPixels, -kMarginPixels, -kMarginPixels);
  const int width = std::max(inside.width(), 1);
  const int height = std::max(inside.height(), 1);

  // Each line's share of the tile's height in hundredths, top to bottom: the verdict takes
  // the most, the unit id next. The rest, a third, is for why a unit failed and what to do
  // with it (kept empty on other tiles, so that nothing moves when a unit fails).
  struct Place {
    QWidget* widget;
    int share;
  };
  const std::vector<Place> places = {{name_, 8}, {unit_, 12}, {step_, 7},
                                     {bar_, 5},  {time_, 7},  {state_, 25}};
  int top = inside.top();
  for (const Place& place : places) {
    const int band = height * place.share / 100;
    const QRect rect(inside.left(), top, width, std::max(band - kGapPixels, 1));
    top += band;
    if (place.widget == bar_) {
      bar_->setGeometry(rect);
      QFont font = bar_->font();
      font.setPixelSize(std::max(rect.height() * 3 / 5, kLeastPixels));
      bar_->setFont(font);
      continue;
    }
    auto* label = static_cast<QLabel*>(place.widget);
    label->setGeometry(rect);
    // The verdict's coloured field leaves the text some room at its sides.
    const QSize box =
        label == state_ ? QSize(width - 2 * kMarginPixels, rect.height()) : rect.size();
    QFont font = label->font();
    font.setPixelSize(FittingPixels(font, label->text(), rect.height() * 3 / 4, box));
    label->setFont(font);
  }
  ArrangeNotes(QRect(inside.left(), top, width, std::max(inside.bottom() + 1 - top, 1)));
}

void SlotTile::ArrangeNotes(const QRect& area) {
  // One size for both, the largest at which both are whole, up to a fifth of the area (two
  // lines of each); the reason first, the instruction under it.
  auto heightAt = [&area](const QLabel* label, const QString& text, int px) {
    if (text.isEmpty()) return 0;
    QFont font = label->font();
    font.setPixelSize(px);
    const QRect used =
        QFontMetrics(font).boundingRect(QRect(0, 0, area.width(), 1 << 20), Qt::TextWordWrap, text);
    return used.width() <= area.width() ? used.height() : 1 << 20;
  };
  auto fits = [&](int px) {
    return heightAt(reason_.label, reason_.said, px) + px / 2 +
               heightAt(instruction_.label, instruction_.said, px) <=
           area.height();
  };
  int low = kLeastPixels, high = std::max(area.height() / 5, kLeastPixels);
  if (fits(high)) {
    low = high;
  } else {
    while (high - low > 1) {
      const int middle = (low + high) / 2;
      (fits(middle) ? low : high) = middle;
    }
  }
  // Too long to be whole even at the least size (a digest in a refusal): each is cut at a
  // break with an ellipsis, the reason within half the area; the window's message line has
  // the whole text.
  QRect rest = area;
  for (Note* note : {&reason_, &instruction_}) {
    QFont font = note->label->font();
    font.setPixelSize(low);
    note->label->setFont(font);
    const QSize box(area.width(),
                    note == &reason_ && !fits(low) ? rest.height() / 2 : rest.height());
    QString shown = note->said;
    while (!shown.isEmpty() && !Fits(font, low, shown, box, true)) {
      const qsizetype from = shown.size() - 3;
      shown.truncate(std::max({shown.lastIndexOf(QChar(' '), from),
                               shown.lastIndexOf(QChar(0x200B), from), qsizetype{0}}));
      if (!shown.isEmpty()) shown += QChar(0x2026);
    }
    note->label->setText(shown);
    const int used = std::min(heightAt(note->label, shown, low), box.height());
    note->label->setGeometry(QRect(rest.left(), rest.top(), rest.width(), std::max(used, 0)));
    rest.setTop(rest.top() + used + low / 2);
  }
}

bool SlotTile::TextsFit() const {
  QList<QLabel*> labels = findChildren<QLabel*>();
  // An empty text has nothing to cut, and its place may be empty too.
  labels.removeIf([](const QLabel* label) { return label->text().isEmpty(); });
  for (const QLabel* label : labels) {
    if (!rect().contains(label->geometry())) return false;
    for (const QLabel* other : labels) {
      if (other != label && label->geometry().intersects(other->geometry())) return false;
    }
    const QSize box = label == state_ ? QSize(label->width() - 2 * kMarginPixels, label->height())
                                      : label->size();
    if (!Fits(label->font(), label->font().pixelSize(), label->text(), box, label->wordWrap())) {
      return false;
    }
  }
  return true;
}

}  // namespace morlane::gui
