#pragma once
// A control of a window by its object name; a missing or renamed control
// fails the test at once rather than crashing it later.
#include <QTest>
#include <QWidget>

template <typename T>
T* Ctl(QWidget& window, const char* name) {
  T* c = window.findChild<T*>(QLatin1String(name));
  if (!c) qFatal("no control %s", name);
  return c;
}
