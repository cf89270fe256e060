// Widgets need an application object; the tests run on the offscreen platform.
#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  // Nothing the tests do reaches the user's own configuration.
  QStandardPaths::setTestModeEnabled(true);
  QTemporaryDir config;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("stravex-test"));
  return RUN_ALL_TESTS();
}
