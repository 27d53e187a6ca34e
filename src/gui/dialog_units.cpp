#include "gui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>

namespace morlane::gui {

namespace {

// a * b / c rounded half away from zero, for the non-negative values of a layout.
int MulDiv(int a, int b, int c) {
  long long product = static_cast<long long>(a) * b;
  return static_cast<int>((product + c / 2) / c);
}

}  // namespace

QFont DialogFont(const DialogTemplate& dialog) {
  QString face = QString::fromLatin1(dialog.fontFace);
  if (QFontDatabase::families().contains(face, Qt::CaseInsensitive)) {
    return QFont(face, dialog.fontPoints);
  }
  QFont font = QGuiApplication::font();
  font.setPointSize(dialog.fontPoints);
  return font;
}

DialogUnits DialogUnits::ForFont(const QFont& font) {
  QFontMetrics metrics(font);
  const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  DialogUnits units;
  units.baseX = MulDiv(metrics.horizontalAdvance(alphabet), 1, 52);
  units.baseY = metrics.height();
  return units;
}

int DialogUnits::X(int units) const {
  return MulDiv(units, baseX, 4);
}

int DialogUnits::Y(int units) const {
  return MulDiv(units, baseY, 8);
}

QRect DialogUnits::Map(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QRect DialogUnits::Map(const ControlSpec& control) const {
  return Map(control.x, control.y, control.width, control.height);
}

}  // namespace morlane::gui
