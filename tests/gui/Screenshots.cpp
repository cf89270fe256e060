// test_gui --screenshots DIR: the window's pages, the data view, map
// windows of a corridor and a current map, help and about rendered offscreen to PNG files in DIR.
#include "AboutBox.h"
#include "Controls.h"
#include "CustomGeodrellDialogs.h"
#include "GraphicOps.h"
#include "Help.h"
#include "MapWindow.h"
#include "TestSupport.h"
#include "dlgConnectivity.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>

#include <cstdio>
#include <filesystem>

using namespace stravex::gui;

namespace {

namespace fs = std::filesystem;

class tShotWindow : public TdlgConnectivity {
public:
  using TdlgConnectivity::TdlgConnectivity;
  QStringList next;

protected:
  QStringList AskFiles(tFileDialog) override { return next; }
  void ShowErrorBox(const QString& m) override {
    std::fprintf(stderr, "error box: %s\n", qPrintable(m));
  }
  void ShowWarningBox(const QString& m) override {
    std::fprintf(stderr, "warning box: %s\n", qPrintable(m));
  }
};

bool Save(QWidget* w, const QString& file) {
  QApplication::processEvents();
  const bool ok = w->grab().save(file);
  std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
  return ok;
}

QWidget* TopLevel(const char* className) {
  for (QWidget* t : QApplication::topLevelWidgets())
    if (t->isVisible() && t->inherits(className)) return t;
  return nullptr;
}

} // namespace

int TakeScreenshots(const QString& folder) {
  const QString dir = QDir(folder).absolutePath(); // the current folder changes below
  QDir().mkpath(dir);
  stravex::test::TempDir temp;
  const fs::path land = temp.path() / "landscape";
  fs::copy(fs::path(STRAVEX_EXAMPLES_DIR) / "landscape", land);
  qputenv("STRAVEX_PROGRAM_DIR", temp.path().string().c_str());
  const QString L = QString::fromStdString(land.string()) + "/";
  QDir::setCurrent(L);
  int failures = 0;

  tShotWindow w{QStringList()};
  w.show();
  w.next = {L + "forest_BL.rst", L + "roads_NB.rst"};
  w.btVarBinaryClick();
  w.next = {L + "cover_QT.rst"};
  w.btVarQuantClick();
  w.next = {L + "dem.rst"};
  w.btVarTopoClick();
  w.next = {L + "samples.txt"};
  w.btBrowseDataClick();
  Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
  w.next = {L + "friction.rst"};
  w.btBrowseFirstClick();
  Ctl<QSpinBox>(w, "sePathWidth")->setValue(5);
  Ctl<QLineEdit>(w, "edCorridorMap")->setText("corridors");
  Ctl<QTabWidget>(w, "pcPages")->setCurrentWidget(Ctl<QWidget>(w, "tabInput"));
  failures += !Save(&w, dir + "/window-input.png");
  Ctl<QTabWidget>(w, "pcPages")->setCurrentWidget(Ctl<QWidget>(w, "tabParametersMatrix"));
  failures += !Save(&w, dir + "/window-parameters.png");

  QSignalSpy ended(&w, &TdlgConnectivity::RunEnded);
  w.btOKClick();
  if (w.Running() && !ended.wait(600000)) ++failures;
  Ctl<QTabWidget>(w, "pcPages")->setCurrentWidget(Ctl<QWidget>(w, "tabLog"));
  failures += !Save(&w, dir + "/window-log.png");

  w.btViewDataClick();
  if (QWidget* chart = TopLevel("stravex::gui::tGraphicChart")) {
    failures += !Save(chart, dir + "/data-view.png");
    chart->close();
  } else {
    ++failures;
  }
  w.ViewMap(Ctl<QLineEdit>(w, "edCorridorMap"));
  if (QWidget* map = TopLevel("stravex::gui::TMapWindow")) {
    failures += !Save(map, dir + "/map-window.png");
    map->close();
  } else {
    ++failures;
  }

  // The same study by resistance distance: its cumulative current map.
  Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caResistanceDistance);
  Ctl<QLineEdit>(w, "edCorridorMap")->setText("current");
  w.btOKClick();
  if (w.Running() && !ended.wait(600000)) ++failures;
  w.ViewMap(Ctl<QLineEdit>(w, "edCorridorMap"));
  if (QWidget* map = TopLevel("stravex::gui::TMapWindow")) {
    map->resize(560, 440);
    failures += !Save(map, dir + "/current-map.png");
    map->close();
  } else {
    ++failures;
  }

  tShotWindow seq{QStringList()};
  seq.show();
  Ctl<QRadioButton>(seq, "rbSequence")->click();
  seq.next = {L + "forest_BL.rst", L + "roads_NB.rst"};
  seq.btVarBinaryClick();
  seq.next = {L + "tracks.txt"};
  seq.btBrowseDataClick();
  Ctl<QTabWidget>(seq, "pcPages")->setCurrentWidget(Ctl<QWidget>(seq, "tabSeqBootstraps"));
  failures += !Save(&seq, dir + "/window-bootstraps.png");
  seq.btViewDataClick();
  if (QWidget* chart = TopLevel("stravex::gui::tGraphicChart"))
    failures += !Save(chart, dir + "/tracks-view.png");
  else
    ++failures;

  TfHelp help;
  help.show();
  failures += !Save(&help, dir + "/help.png");
  TfAboutBox about;
  about.show();
  failures += !Save(&about, dir + "/about.png");
  about.hide();
  qunsetenv("STRAVEX_PROGRAM_DIR");
  return failures == 0 ? 0 : 1;
}
