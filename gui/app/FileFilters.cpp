#include "FileFilters.h"

#include <QString>

QStringList QtFilterList(const std::string& pipeFilter) {
  const QStringList parts = QString::fromStdString(pipeFilter).split(QLatin1Char('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& p : patterns) {
      p = p.trimmed();
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    }
    // The description keeps its text; Qt reads the patterns from the parentheses.
    const qsizetype open = description.lastIndexOf(QLatin1Char('('));
    if (open >= 0) description = description.left(open).trimmed();
    out << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return out;
}
