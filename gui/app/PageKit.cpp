#include "PageKit.h"

#include "StudySettings.h"

#include <QGridLayout>
#include <QKeyEvent>

namespace stravex::gui::kit {

std::pair<QGroupBox*, QComboBox*> CellRuleGroup(const char* name) {
  auto* grp = new QGroupBox(QStringLiteral("Points to cells"));
  auto* g = new QGridLayout(grp);
  auto* cb = Named(new QComboBox, name);
  for (const char* rule : kCellRuleNames) cb->addItem(QLatin1String(rule));
  cb->setToolTip(QStringLiteral(
      "How a sample point or location becomes a map cell: the cell that contains it, as GIS "
      "software reads a map, or the rounded rule of earlier versions, to reproduce earlier "
      "studies"));
  g->addWidget(Caption(QStringLiteral("Ce&ll rule:"), cb), 0, 0);
  g->addWidget(cb, 0, 1);
  g->setColumnStretch(2, 1);
  return {grp, cb};
}

bool tRealNumberFilter::Discards(const QKeyEvent& key) {
  // Keys without a character (arrows, Home, Delete) and dialog navigation
  // never reach the character filter.
  if (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab || key.key() == Qt::Key_Escape ||
      key.key() == Qt::Key_Delete)
    return false;
  for (const QChar c : key.text()) {
    const ushort u = c.unicode();
    const bool allowed = (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.' || u == 'E' ||
                         u == 'e' || u == 8 || u == 13 || u == 16;
    if (!allowed) return true;
  }
  return false;
}

bool tRealNumberFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) return Discards(*static_cast<QKeyEvent*>(event));
  return QObject::eventFilter(watched, event);
}

} // namespace stravex::gui::kit
