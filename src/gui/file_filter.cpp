#include "gui/file_filter.h"

#include "gui/text_convert.h"

namespace morlane::gui {

namespace {

QString PatternsOf(const QString& field) {
  QStringList patterns;
  for (QString pattern : field.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    pattern = pattern.trimmed();
    if (pattern.isEmpty()) continue;
    patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
  }
  return patterns.join(QLatin1Char(' '));
}

QString NameWithoutPatterns(QString name) {
  name = name.trimmed();
  if (name.endsWith(QLatin1Char(')'))) {
    qsizetype open = name.lastIndexOf(QLatin1Char('('));
    if (open >= 0) name = name.left(open).trimmed();
  }
  return name;
}

}  // namespace

QStringList FileDialogFilters(std::string_view filter) {
  const QStringList fields = ToQString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
    QString patterns = PatternsOf(fields[i + 1]);
    if (patterns.isEmpty()) continue;
    QString name = NameWithoutPatterns(fields[i]);
    if (name.isEmpty()) name = patterns;
    filters << QStringLiteral("%1 (%2)").arg(name, patterns);
  }
  if (filters.isEmpty()) filters << QStringLiteral("All Files (*)");
  return filters;
}

}  // namespace morlane::gui
