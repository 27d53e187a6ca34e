#include "gui/text_convert.h"

#include <QStringDecoder>

namespace morlane::gui {

QString ToQString(std::string_view text) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded =
      decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!decoder.hasError()) return decoded;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromQString(const QString& text) {
  return text.toStdString();
}

QString DisplayText(std::string_view text) {
  QString shown = ToQString(text);
  for (QChar& c : shown) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = QLatin1Char(' ');
  }
  return shown;
}

}  // namespace morlane::gui
