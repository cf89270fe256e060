#pragma once
// Small builders shared by the main window's pages.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QSpinBox>

#include <string>
#include <utility>

namespace stravex::gui::kit {

inline std::string Std(const QString& s) { return s.toStdString(); }
inline QString Q(const std::string& s) { return QString::fromStdString(s); }

template <typename T>
T* Named(T* w, const char* name) {
  w->setObjectName(QLatin1String(name));
  return w;
}

inline QLabel* Caption(const QString& text, QWidget* buddy, const char* name = nullptr) {
  auto* l = new QLabel(text);
  l->setBuddy(buddy);
  if (name) l->setObjectName(QLatin1String(name));
  return l;
}

inline QSpinBox* Spin(const char* name, int value, int min, int max, int step = 1) {
  auto* s = Named(new QSpinBox, name);
  s->setRange(min, max);
  s->setSingleStep(step);
  s->setValue(value);
  return s;
}

inline QPushButton* Browse(const char* name, const QString& accessible) {
  auto* b = Named(new QPushButton(QStringLiteral("...")), name);
  b->setAccessibleName(accessible);
  b->setFixedWidth(28);
  return b;
}

// "window colour" when on, "button-face colour" when off.
inline void SetFace(QWidget* w, bool windowColour) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base,
             QApplication::palette().color(windowColour ? QPalette::Base : QPalette::Button));
  w->setPalette(p);
}

// Both Parameters pages offer the cell rule: its group and its list.
std::pair<QGroupBox*, QComboBox*> CellRuleGroup(const char* name);

// Lets through only the characters of a real number (and editing keys):
// the weights and the elevation tolerance.
class tRealNumberFilter : public QObject {
public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // True when the key must not reach the box.
  static bool Discards(const class QKeyEvent& key);
};

} // namespace stravex::gui::kit
