#include "gui/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace morlane::gui {

QPixmap AppIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;

  QLinearGradient tile(0, 0, 0, s);
  tile.setColorAt(0, QColor(0x2f, 0x6f, 0xb3));
  tile.setColorAt(1, QColor(0x16, 0x3d, 0x6b));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18, s * 0.18);

  const qreal line = std::max<qreal>(1.0, s / 16);
  QRectF box(s * 0.16, s * 0.16, s * 0.68, s * 0.68);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(Qt::white, line, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawRect(box);
  painter.drawLine(box.bottomLeft(), box.topRight());

  // Direct current, upper left: a solid bar over a dashed one.
  const qreal dcLeft = box.left() + box.width() * 0.12;
  const qreal dcRight = box.left() + box.width() * 0.46;
  const qreal dcTop = box.top() + box.height() * 0.2;
  painter.setPen(QPen(QColor(0xff, 0xd2, 0x3f), line, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(dcLeft, dcTop), QPointF(dcRight, dcTop));
  if (size >= 24) {
    painter.setPen(QPen(QColor(0xff, 0xd2, 0x3f), line, Qt::DashLine, Qt::FlatCap));
  }
  painter.drawLine(QPointF(dcLeft, dcTop + box.height() * 0.12),
                   QPointF(dcRight, dcTop + box.height() * 0.12));

  // Alternating current, lower right: one period of a sine.
  QPainterPath wave;
  const qreal waveLeft = box.left() + box.width() * 0.52;
  const qreal waveWidth = box.width() * 0.38;
  const qreal waveMid = box.top() + box.height() * 0.76;
  const qreal amplitude = box.height() * 0.1;
  for (int step = 0; step <= 24; ++step) {
    qreal t = step / 24.0;
    QPointF point(waveLeft + t * waveWidth, waveMid - amplitude * std::sin(t * 2 * M_PI));
    if (step == 0) {
      wave.moveTo(point);
    } else {
      wave.lineTo(point);
    }
  }
  painter.setPen(QPen(QColor(0xff, 0xd2, 0x3f), line, Qt::SolidLine, Qt::RoundCap));
  painter.drawPath(wave);
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(AppIconPixmap(size));
  return icon;
}

}  // namespace morlane::gui
