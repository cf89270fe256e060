// The stravex program: the settings window, then the help and about windows.
// "stravex x MAPLIST LOG DATA NAME [6..22]" runs a batch analysis and ends.
#include "AboutBox.h"
#include "Help.h"
#include "StravexIcon.h"
#include "dlgConnectivity.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>

using namespace stravex::gui;

int main(int argc, char** argv) {
  QElapsedTimer clock;
  clock.start();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Stravex"));
  QApplication::setApplicationDisplayName(QStringLiteral("Stravex"));
  QApplication::setWindowIcon(StravexIcon());

  QStringList args = QApplication::arguments();
  args.removeFirst();
  // Measurement hook: show the window, then quit as soon as the loop runs.
  const bool quitAfterStart = args.value(0) == QLatin1String("--quit-after-start");
  if (quitAfterStart) args.removeFirst();

  TdlgConnectivity window(args);
  TfHelp help;
  TfAboutBox about(&window);
  window.SetHelpWindow(&help);
  window.SetAboutBox(&about);
  QObject::connect(&window, &TdlgConnectivity::Closed, &app, &QApplication::quit);
  window.show();
  if (quitAfterStart) {
    QTimer::singleShot(0, &app, [&] {
      std::fprintf(stderr, "window shown after %lld ms\n", static_cast<long long>(clock.elapsed()));
      window.close();
    });
  }
  return QApplication::exec();
}
