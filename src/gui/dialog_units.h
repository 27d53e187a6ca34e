#pragma once

#include <QFont>
#include <QRect>

#include "ui/control_table.h"

namespace morlane::gui {

// The dialog template's font: its face where it is installed, otherwise the default
// family at the template's point size, so that the window keeps the proportions the
// template was drawn for.
QFont DialogFont(const DialogTemplate& dialog);

// Dialog units to pixels, from the font's base units: the horizontal unit is the average
// width of "A".."Z" and "a".."z" (the advance of all 52, divided by 52 and rounded), the
// vertical one the font's height. A dialog unit is a quarter of the first and an eighth
// of the second.
struct DialogUnits {
  int baseX = 0;
  int baseY = 0;

  static DialogUnits ForFont(const QFont& font);
  // Rounded to the nearest pixel, as the dialog manager multiplies and divides.
  int X(int units) const;
  int Y(int units) const;
  QRect Map(int x, int y, int width, int height) const;
  QRect Map(const ControlSpec& control) const;
};

}  // namespace morlane::gui
