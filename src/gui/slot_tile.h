#pragma once

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QString>

#include <cstdint>

#include "station/station_look.h"

namespace morlane::gui {

// One slot's tile on the operator's screen: its name, the unit id large, the step, a bar,
// the time, the state larger still, and for a failed unit why and what to do with it. The
// texts are placed and sized from the tile's own size, not by a layout, on every resize:
// on a large screen the unit id and the verdict are read from a few metres away, and at
// the smallest size every text still fits its place, none cut and none over another.
class SlotTile : public QFrame {
 public:
  // Below this a wrapped reason would no longer be readable.
  static constexpr int kMinimumWidth = 240;
  static constexpr int kMinimumHeight = 300;

  explicit SlotTile(const QString& name, QWidget* parent = nullptr);

  void Show(const TileLook& look, int percent);

  QString State() const { return state_->text(); }
  QString Unit() const { return unit_->text(); }
  // As the station said them, without the breaks allowed in long words.
  QString Reason() const { return Unbroken(reason_.label->text()); }
  QString Instruction() const { return Unbroken(instruction_.label->text()); }
  int UnitPixelSize() const { return unit_->font().pixelSize(); }
  int StatePixelSize() const { return state_->font().pixelSize(); }
  int ReasonPixelSize() const { return reason_.label->font().pixelSize(); }
  // Whether every text is whole inside its place, inside the tile and over no other.
  bool TextsFit() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  static QString Unbroken(QString text) { return text.remove(QChar(0x200B)); }
  // A wrapped text under the verdict: what the station said, and the label that shows as
  // much of it as fits.
  struct Note {
    QLabel* label = nullptr;
    QString said;
  };

  // Places the texts and sizes their fonts for the tile's size and what they say.
  void Arrange();
  void ArrangeNotes(const QRect& area);

  QLabel* name_;
  QLabel* unit_;
  QLabel* step_;
  QProgressBar* bar_;
  QLabel* time_;
  QLabel* state_;
  Note reason_;
  Note instruction_;
  uint32_t color_ = 0xffffffff;  // none yet: the first look always paints
};

}  // namespace morlane::gui
