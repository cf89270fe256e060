// The main window on the offscreen platform: start state and enabling rules,
// the edit rules of its boxes, runs on the worker thread (state, cancel,
// boxes), whole analyses compared byte for byte with stravex-cli, batch mode.
#include "CliSupport.h"
#include "Controls.h"
#include "CustomGeodrellDialogs.h"
#include "GraphicOps.h"
#include "MapWindow.h"
#include "TestSupport.h"
#include "dlgConnectivity.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <map>
#include <memory>

namespace fs = std::filesystem;
using namespace stravex::gui;
using stravex::test::ReadFileBytes;
using stravex::test::TempDir;
using tDlg = TdlgConnectivity::tFileDialog;

namespace {

const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";

// Nothing waits for a person: dialogs answer from a table, boxes are recorded.
class tTestWindow : public TdlgConnectivity {
public:
  using TdlgConnectivity::TdlgConnectivity;
  std::map<tDlg, QStringList> answers;
  // Set: the window's own dialog opens; its filters are kept and it is cancelled.
  bool realDialog = false;
  QStringList dialogFilters;
  QString dialogTitle;
  QStringList errors, warnings;
  int quits = 0;
  QStringList mapsShown;

protected:
  QStringList AskFiles(tDlg which) override {
    if (!realDialog) return answers[which];
    auto* poll = new QTimer(this);
    QObject::connect(poll, &QTimer::timeout, this, [this, poll] {
      if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
        dialogFilters = d->nameFilters();
        dialogTitle = d->windowTitle();
        poll->deleteLater();
        d->reject();
      }
    });
    poll->start(20);
    return TdlgConnectivity::AskFiles(which);
  }
  void ShowErrorBox(const QString& m) override { errors << m; }
  void ShowWarningBox(const QString& m) override { warnings << m; }
  void QuitProgram() override { ++quits; }
  void ShowMap(const QString& mapFile, bool corridor) override {
    mapsShown << QFileInfo(mapFile).completeBaseName() + (corridor ? "*" : "");
    TdlgConnectivity::ShowMap(mapFile, corridor);
  }
};

QString Land(const QString& dir, const char* name) { return dir + "/" + name; }

// stravex-cli with the given arguments; its exit status.
int Cli(const std::vector<std::string>& args) {
  return stravex::test::RunCli(args, QDir::currentPath().toStdString()).status;
}

bool Visible(QWidget* w) { return !w->isHidden(); }

bool TabVisible(TdlgConnectivity& w, QWidget* page) {
  return Ctl<QTabWidget>(w, "pcPages")->isTabVisible(Ctl<QTabWidget>(w, "pcPages")->indexOf(page));
}

} // namespace

class WindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TempDir> fTemp;
  QString fLand, fOut;
  QString fSavedCwd;

  // Maps, data and (optionally) the friction map chosen through the dialogs.
  void Load(tTestWindow& w, const QStringList& binary, const QStringList& quant = {},
            const QString& topo = {}, const QString& data = {}) {
    auto all = [&](const QStringList& names) {
      QStringList out;
      for (const QString& n : names) out << fLand + "/" + n;
      return out;
    };
    if (!binary.isEmpty()) {
      w.answers[tDlg::OpenImage] = all(binary);
      w.btVarBinaryClick();
    }
    if (!quant.isEmpty()) {
      w.answers[tDlg::OpenImage] = all(quant);
      w.btVarQuantClick();
    }
    if (!topo.isEmpty()) {
      w.answers[tDlg::OpenImage] = all({topo});
      w.btVarTopoClick();
    }
    if (!data.isEmpty()) {
      w.answers[tDlg::OpenMatrix] = all({data});
      w.btBrowseDataClick();
    }
  }

  void ChooseFriction(tTestWindow& w) {
    w.answers[tDlg::OpenImage] = QStringList{fLand + "/friction.rst"};
    w.btBrowseFirstClick();
  }

  static bool WaitRun(TdlgConnectivity& w, int ms = 240000) {
    if (!w.Running()) return true;
    QSignalSpy spy(&w, &TdlgConnectivity::RunEnded);
    return spy.wait(ms);
  }

  std::string Out(const char* name) const { return (fOut + "/" + name).toStdString(); }
  std::string Cout(const char* name) const { return (fOut + "/cli/" + name).toStdString(); }

private slots:
  void init() {
    fTemp = std::make_unique<TempDir>();
    const fs::path land = fTemp->path() / "land";
    fs::copy(kLandscape, land);
    fs::create_directories(fTemp->path() / "out" / "cli");
    fLand = QString::fromStdString(land.string());
    fOut = QString::fromStdString((fTemp->path() / "out").string());
    // WorkDir.ini of the tests stays in the scratch folder.
    qputenv("STRAVEX_PROGRAM_DIR", fTemp->path().string().c_str());
    fSavedCwd = QDir::currentPath();
    QDir::setCurrent(fOut);
  }
  void cleanup() {
    QDir::setCurrent(fSavedCwd);
    qunsetenv("STRAVEX_PROGRAM_DIR");
    fTemp.reset();
  }

  void startState() {
    tTestWindow w{QStringList()};
    w.show();
    QCOMPARE(w.size(), QSize(496, 540));
    QCOMPARE(w.minimumSize(), QSize(455, 425));
    QVERIFY(!Ctl<QPushButton>(w, "btOK")->isEnabled());
    QCOMPARE(Ctl<QPushButton>(w, "btOK")->toolTip(),
             QString("Compute needs a map to scan and a data file"));
    QVERIFY(!Ctl<QPushButton>(w, "btCancel")->isEnabled());
    QVERIFY(!Ctl<QPushButton>(w, "btViewData")->isEnabled());
    QVERIFY(TabVisible(w, Ctl<QWidget>(w, "tabInput")) &&
            TabVisible(w, Ctl<QWidget>(w, "tabParametersMatrix")) &&
            TabVisible(w, Ctl<QWidget>(w, "tabLog")));
    QVERIFY(!TabVisible(w, Ctl<QWidget>(w, "tabSeqBootstraps")) &&
            !TabVisible(w, Ctl<QWidget>(w, "tabSeqParameters")));
    QCOMPARE(Ctl<QLabel>(w, "lblPath")->text(), QString("&Strip width:"));
    QVERIFY(Visible(Ctl<QComboBox>(w, "cbDistance")) && Visible(Ctl<QSpinBox>(w, "sePathWidth")) &&
            Visible(Ctl<QCheckBox>(w, "ckOneMapPerPair")));
    for (QWidget* hidden : {static_cast<QWidget*>(Ctl<QLineEdit>(w, "edFirstFriction")),
                            static_cast<QWidget*>(Ctl<QSpinBox>(w, "seLeastCostSeed")),
                            static_cast<QWidget*>(Ctl<QComboBox>(w, "cbMinimise")),
                            static_cast<QWidget*>(Ctl<QLineEdit>(w, "edCorridorMap")),
                            static_cast<QWidget*>(Ctl<QLineEdit>(w, "edWFriction")),
                            static_cast<QWidget*>(Ctl<QLineEdit>(w, "edWLength")),
                            static_cast<QWidget*>(Ctl<QGroupBox>(w, "grpTopography"))})
      QVERIFY2(!Visible(hidden), qPrintable(hidden->objectName()));
    QCOMPARE(Ctl<QLineEdit>(w, "edOutput")->text(), QString("Friction"));
    QCOMPARE(Ctl<QLabel>(w, "lbTask")->text(), QString("Ready"));
    // The never-shown groups carry the reserved settings at their defaults.
    QVERIFY(!Ctl<QGroupBox>(w, "grpOutput")->isVisibleTo(&w) &&
            !Ctl<QGroupBox>(w, "grpModelFit")->isVisibleTo(&w));
    const stravex::TAnalysisSettings s = w.ReadSettings();
    const stravex::TAnalysisSettings d;
    QCOMPARE(s.EchoMatrices, d.EchoMatrices);
    QCOMPARE(s.IncludeGeographicDistance, d.IncludeGeographicDistance);
    QCOMPARE(s.Replicates, d.Replicates);
    QCOMPARE(s.IgnoreUnit, d.IgnoreUnit);
    QCOMPARE(s.PairDistanceThreshold, d.PairDistanceThreshold);
    // Every label's accelerator reaches a control.
    for (QLabel* l : w.findChildren<QLabel*>())
      if (l->text().contains('&') && l != Ctl<QLabel>(w, "lbTask"))
        QVERIFY2(l->buddy(), qPrintable(l->text()));
  }

  // Every control a user can reach says what it is for to a screen reader,
  // on every page of both data structures, with strips and least-cost paths.
  void accessibleNames() {
    tTestWindow w{QStringList()};
    w.show();
    QStringList unnamed;
    auto* pages = Ctl<QTabWidget>(w, "pcPages");
    for (const int algorithm : {stravex::caFixedWidthStrip, stravex::caLeastCostPath})
      for (const char* mode : {"rbMatrix", "rbSequence"})
        for (int page = 0; page < pages->count(); ++page) {
          pages->setCurrentIndex(0);
          Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(algorithm);
          Ctl<QRadioButton>(w, mode)->click();
          if (!pages->isTabVisible(page)) continue;
          pages->setCurrentIndex(page);
          for (QWidget* c : w.findChildren<QWidget*>()) {
            if (c->focusPolicy() == Qt::NoFocus || !c->isVisibleTo(&w) ||
                qobject_cast<QScrollBar*>(c) || c->objectName().startsWith("qt_"))
              continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
            QString name = a ? a->text(QAccessible::Name).trimmed() : QString();
            // A list's name is its current item, which says nothing of its
            // purpose: a list is announced with its label.
            if (a && qobject_cast<QComboBox*>(c)) {
              name.clear();
              for (const auto& [label, relation] : a->relations(QAccessible::Label))
                name += label->text(QAccessible::Name).trimmed();
            }
            if (name.isEmpty())
              unnamed << QString(c->metaObject()->className()) + " " + c->objectName();
          }
        }
    unnamed.removeDuplicates();
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
  }

  void enablingRules() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst"}, {}, {}, "samples.txt");
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->currentText(), QString("forest_BL"));
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled());
    QVERIFY(Ctl<QPushButton>(w, "btViewData")->isEnabled());

    // Least-cost without a friction map: no Compute; the default name follows.
    Ctl<QLineEdit>(w, "edOutput")->setText("typed by hand");
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    QCOMPARE(Ctl<QLineEdit>(w, "edOutput")->text(), QString("Friction-LeastCost"));
    QVERIFY(!Ctl<QPushButton>(w, "btOK")->isEnabled());
    QVERIFY(!Ctl<QCheckBox>(w, "ckGeographicDist")->isChecked() &&
            !Ctl<QCheckBox>(w, "ckGeographicDist")->isEnabled());
    QCOMPARE(Ctl<QLabel>(w, "lblPath")->text(), QString("&Path #:"));
    QVERIFY(Visible(Ctl<QLineEdit>(w, "edFirstFriction")) &&
            Visible(Ctl<QLineEdit>(w, "edCorridorMap")) && Visible(Ctl<QLineEdit>(w, "edWLength")));
    QVERIFY(!Visible(Ctl<QGroupBox>(w, "grpTopography"))); // no DEM yet
    ChooseFriction(w);
    QVERIFY(Ctl<QLineEdit>(w, "edFirstFriction")->text().endsWith("friction.rst"));
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled());
    Ctl<QLineEdit>(w, "edOutput")->clear();
    QVERIFY(!Ctl<QPushButton>(w, "btOK")->isEnabled());
    w.edOutputDblClick();
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled());

    // Topography group: only with a DEM and least-cost paths.
    Load(w, {}, {}, "dem.rst");
    QCOMPARE(Ctl<QLineEdit>(w, "edVarTopo")->text(), QString("dem"));
    QVERIFY(Visible(Ctl<QGroupBox>(w, "grpTopography")));
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caRatioStrip);
    QVERIFY(!Visible(Ctl<QGroupBox>(w, "grpTopography")));
    QCOMPARE(Ctl<QLabel>(w, "lblPath")->text(), QString("&Length:width ratio:"));
    // Back to a strip: enabled again, but left unchecked.
    QVERIFY(Ctl<QCheckBox>(w, "ckGeographicDist")->isEnabled() &&
            !Ctl<QCheckBox>(w, "ckGeographicDist")->isChecked());

    // Sequence pages.
    // Pages that do not apply are out of the tab bar, not hidden tabs a
    // screen reader would still offer; they come back in their place.
    const auto titles = [&w] {
      QStringList t;
      auto* pages = Ctl<QTabWidget>(w, "pcPages");
      for (int i = 0; i < pages->count(); ++i) t << pages->tabText(i);
      return t;
    };
    QCOMPARE(titles(), (QStringList{"Input", "Parameters", "Log"}));
    Ctl<QRadioButton>(w, "rbSequence")->click();
    QCOMPARE(titles(), (QStringList{"Input", "Bootstraps", "Parameters", "Log"}));
    QVERIFY(TabVisible(w, Ctl<QWidget>(w, "tabSeqBootstraps")) &&
            TabVisible(w, Ctl<QWidget>(w, "tabSeqParameters")));
    QVERIFY(!TabVisible(w, Ctl<QWidget>(w, "tabParametersMatrix")));
    QCOMPARE(w.SelectedDataStructure(), stravex::dsLocationSequence);

    // A refused map: its box, and the role keeps only the accepted maps.
    w.answers[tDlg::OpenImage] = QStringList{Land(fLand, "forest_BL.rst"),
                                             Land(fLand, "missing_map.rst")};
    w.btVarBinaryClick();
    QCOMPARE(w.errors.size(), 1);
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->count(), 1);
    // A cancelled dialog changes nothing.
    w.answers[tDlg::OpenImage] = {};
    w.btVarQuantClick();
    QCOMPARE(w.Maps().BinaryMaps.size(), size_t{1});
  }

  void gdalMaps() {
    tTestWindow w{QStringList()};
    // The map dialog lists the GDAL formats after the IDRISI entries.
    w.realDialog = true;
    w.btVarQuantClick();
    QCOMPARE(w.dialogTitle, QString("Select input maps"));
    QVERIFY(!w.dialogFilters.isEmpty());
    QVERIFY(w.dialogFilters.first().startsWith("All maps (*.rst)"));
    const QStringList tail = w.dialogFilters.mid(w.dialogFilters.size() - 5);
    QCOMPARE(tail, QStringList({"GeoTIFF (*.tif *.tiff)", "ERDAS Imagine (*.img)",
                                "Arc/Info ASCII grid (*.asc)", "GDAL virtual raster (*.vrt)",
                                "All files (*.*)"}));
    QCOMPARE(w.Maps().QuantitativeMaps.size(), size_t{0});
    w.realDialog = false;

    // GeoTIFF maps load as binary maps and as the friction map.
    if (!stravex::test::HaveProgram("gdal_translate")) QSKIP("no gdal_translate");
    for (const char* name : {"forest_BL", "friction"}) {
      const QString from = Land(fLand, name) + ".rst";
      const QString to = Land(fLand, name) + ".tif";
      QCOMPARE(
          stravex::test::RunProgram(
              "/usr/bin/env", {"gdal_translate", "-q", from.toStdString(), to.toStdString()}, "/")
              .status,
          0);
    }
    w.answers[tDlg::OpenImage] = QStringList{Land(fLand, "forest_BL.tif"),
                                             Land(fLand, "roads_NB.rst")};
    w.btVarBinaryClick();
    QCOMPARE(w.errors, QStringList());
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->count(), 2);
    // Both show as their names; each item's tooltip tells the files apart.
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->itemData(0, Qt::ToolTipRole).toString(),
             QDir::cleanPath(Land(fLand, "forest_BL.tif")));
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->itemData(1, Qt::ToolTipRole).toString(),
             QDir::cleanPath(Land(fLand, "roads_NB.rst")));
    // One map leaves the list, then the rest: Compute then waits for a map.
    Ctl<QComboBox>(w, "cbVarBinary")->setCurrentIndex(0);
    w.RemoveMaps(stravex::gui::tMapBox::Binary, false);
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->count(), 1);
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->itemText(0), QString("roads_NB"));
    QCOMPARE(w.Maps().BinaryMaps.size(), size_t{1});
    w.RemoveMaps(stravex::gui::tMapBox::Binary, true);
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->count(), 0);
    QVERIFY(w.Maps().BinaryMaps.empty() && w.Maps().AllMaps.empty());
    w.answers[tDlg::OpenImage] = QStringList{Land(fLand, "forest_BL.tif"),
                                             Land(fLand, "roads_NB.rst")};
    w.btVarBinaryClick();
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->itemText(0), QString("forest_BL"));
    w.answers[tDlg::OpenImage] = QStringList{Land(fLand, "friction.tif")};
    w.btBrowseFirstClick();
    QCOMPARE(w.errors, QStringList());
    QCOMPARE(Ctl<QLineEdit>(w, "edFirstFriction")->text(), Land(fLand, "friction.tif"));
  }

  void editRules() {
    tTestWindow w{QStringList()};
    w.show();
    // Letters and the decimal comma are discarded; the real number's characters stay.
    for (QLineEdit* e : {Ctl<QLineEdit>(w, "edWFriction"), Ctl<QLineEdit>(w, "edWLength"),
                         Ctl<QLineEdit>(w, "edElevationTolerance")}) {
      e->clear();
      QTest::keyClicks(e, "1a,5x.2E-3e+");
      QCOMPARE(e->text(), QString("15.2E-3e+"));
      QTest::keyClick(e, Qt::Key_Backspace);
      QCOMPARE(e->text(), QString("15.2E-3e"));
    }
    // Odd path width, typed or set.
    Ctl<QSpinBox>(w, "sePathWidth")->setValue(6);
    QCOMPARE(Ctl<QSpinBox>(w, "sePathWidth")->value(), 7);
    // Typed numbers are made odd when entered, not digit by digit.
    QSpinBox* width = Ctl<QSpinBox>(w, "sePathWidth");
    width->selectAll();
    QTest::keyClicks(width, "301");
    QTest::keyClick(width, Qt::Key_Return);
    QCOMPARE(width->value(), 301);
    width->selectAll();
    QTest::keyClicks(width, "24");
    QTest::keyClick(width, Qt::Key_Return);
    QCOMPARE(width->value(), 25);
    QCOMPARE(w.ReadSettings().PathWidth, 25);
    // Double-click defaults.
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    Ctl<QComboBox>(w, "cbMinimise")->setCurrentIndex(2);
    QTest::mouseDClick(Ctl<QLineEdit>(w, "edCorridorMap"), Qt::LeftButton);
    QCOMPARE(Ctl<QLineEdit>(w, "edCorridorMap")->text(), QString("Corridors-MinFriction SD"));
    Ctl<QLineEdit>(w, "edOutput")->setText("mine");
    QTest::mouseDClick(Ctl<QLineEdit>(w, "edOutput"), Qt::LeftButton);
    QCOMPARE(Ctl<QLineEdit>(w, "edOutput")->text(), QString("Friction-LeastCost"));
    // The friction box drops surrounding blanks.
    Ctl<QLineEdit>(w, "edFirstFriction")->setText("  f.rst ");
    QCOMPARE(Ctl<QLineEdit>(w, "edFirstFriction")->text(), QString("f.rst"));
    // The echo switches follow the hidden model-fit rule.
    Ctl<QCheckBox>(w, "ckFitModel")->click();
    QVERIFY(Ctl<QCheckBox>(w, "ckFrictionMap")->isEnabled());
    Ctl<QCheckBox>(w, "ckFrictionMap")->click();
    QVERIFY(!Ctl<QCheckBox>(w, "ckGeographicDist")->isChecked() &&
            !Ctl<QCheckBox>(w, "ckGeographicDist")->isEnabled());
  }

  void batchCommand() {
    tTestWindow w{QStringList()};
    Load(w, {"forest_BL.rst", "roads_NB.rst"}, {}, {}, "samples.txt");
    Ctl<QSpinBox>(w, "sePathWidth")->setValue(3);
    const QString list = fOut + "/list.txt";
    w.answers[tDlg::SaveList] = QStringList{list};
    w.Batchcommand1Click();
    QCOMPARE(ReadFileBytes(list.toStdString()), std::string("forest_BL\r\nroads_NB\r\n"));
    std::vector<std::string> log = w.LogLines();
    QVERIFY(log.size() >= 3);
    QCOMPARE(log[log.size() - 3], std::string());
    QCOMPARE(log[log.size() - 2], std::string("Batch command for the current settings:"));
    const std::string program = QCoreApplication::applicationFilePath().toStdString();
    const std::string expected = "\"" + program + "\" x \"" + list.toStdString() +
                                 "\" \"Stravex.txt\" \"" + (fLand + "/samples.txt").toStdString() +
                                 "\" none 0 0 0 \"\" 3 0 0 0 1 0 1000 1 1 0 1 0";
    QCOMPARE(log.back(), expected);
    // A name that "none" would not give back is written out.
    Ctl<QLineEdit>(w, "edOutput")->setText("My project");
    w.answers[tDlg::SaveList] = {};
    w.Batchcommand1Click();
    log = w.LogLines();
    QVERIFY(log.back().find(" \"My project\" 0 0 0 ") != std::string::npos);
    // The rounded cell rule, chosen on either Parameters page, is position 22.
    Ctl<QComboBox>(w, "cbSeqCellRule")->setCurrentIndex(stravex::crRounded);
    QCOMPARE(Ctl<QComboBox>(w, "cbCellRule")->currentIndex(), static_cast<int>(stravex::crRounded));
    QCOMPARE(w.ReadSettings().CellRule, stravex::crRounded);
    w.Batchcommand1Click();
    QVERIFY(log.back() != w.LogLines().back());
    QCOMPARE(w.LogLines().back().substr(w.LogLines().back().size() - 4), std::string(" 0 1"));
    Ctl<QComboBox>(w, "cbCellRule")->setCurrentIndex(stravex::crContaining);
    QCOMPARE(Ctl<QComboBox>(w, "cbSeqCellRule")->currentIndex(),
             static_cast<int>(stravex::crContaining));
  }

  // The fourth connectivity item: friction controls shown, the number of
  // paths disabled with a reason, value 3 in the settings and batch command.
  void exactLeastCostItem() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst"}, {}, {}, "samples.txt");
    QCOMPARE(Ctl<QComboBox>(w, "cbDistance")->count(), 4);
    QCOMPARE(Ctl<QComboBox>(w, "cbDistance")->itemText(3), QString("Exact least-cost path"));
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caExactLeastCost);
    QCOMPARE(Ctl<QLineEdit>(w, "edOutput")->text(), QString("Friction-ExactLeastCost"));
    QVERIFY(Visible(Ctl<QLineEdit>(w, "edFirstFriction")) &&
            Visible(Ctl<QComboBox>(w, "cbMinimise")) && Visible(Ctl<QLineEdit>(w, "edWLength")));
    QVERIFY(!Ctl<QPushButton>(w, "btOK")->isEnabled()); // no friction map yet
    QVERIFY(!Ctl<QSpinBox>(w, "sePathWidth")->isEnabled() &&
            !Ctl<QLabel>(w, "lblPath")->isEnabled());
    QVERIFY(Ctl<QSpinBox>(w, "sePathWidth")->toolTip().contains("exact least-cost"));
    QVERIFY(!Ctl<QSpinBox>(w, "seLeastCostSeed")->isEnabled() &&
            Ctl<QComboBox>(w, "cbMinimise")->toolTip().contains("friction sum"));
    ChooseFriction(w);
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled());
    QCOMPARE(w.ReadSettings().Connectivity, stravex::caExactLeastCost);
    w.answers[tDlg::SaveList] = QStringList{fOut + "/list.txt"};
    w.Batchcommand1Click();
    const std::string line = w.LogLines().back();
    QVERIFY2(line.find("\"Friction-ExactLeastCost\" 3 0 0 \"") != std::string::npos, line.c_str());
    // Back to the Monte-Carlo search: the number of paths applies again.
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    QVERIFY(Ctl<QSpinBox>(w, "sePathWidth")->isEnabled() && Ctl<QLabel>(w, "lblPath")->isEnabled());
    QVERIFY(Ctl<QSpinBox>(w, "seLeastCostSeed")->isEnabled());
    QCOMPARE(Ctl<QSpinBox>(w, "sePathWidth")->toolTip(), QString("Width of the scanned path band"));
  }

  // Controls are disabled while a run is under way; Cancel stops it.
  void runStateAndCancel() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst"}, {}, {}, "samples.txt");
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    ChooseFriction(w);
    Ctl<QSpinBox>(w, "sePathWidth")->setValue(51);
    w.btOKClick();
    QVERIFY(w.Running());
    for (QWidget* off : {static_cast<QWidget*>(Ctl<QPushButton>(w, "btOK")),
                         static_cast<QWidget*>(Ctl<QPushButton>(w, "btBootstrap")),
                         static_cast<QWidget*>(Ctl<QPushButton>(w, "btVarBinary")),
                         static_cast<QWidget*>(Ctl<QPushButton>(w, "btVarQuant")),
                         static_cast<QWidget*>(Ctl<QPushButton>(w, "btVarTopo")),
                         static_cast<QWidget*>(Ctl<QPushButton>(w, "btBrowseData")),
                         static_cast<QWidget*>(Ctl<QPushButton>(w, "btBrowseFirst"))})
      QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    QVERIFY(!Ctl<QAction>(w, "Openecomaplist1")->isEnabled() &&
            !Ctl<QAction>(w, "Saveecomapslist1")->isEnabled());
    // The settings are locked too: the run has read them.
    const QList<QWidget*> settings{Ctl<QComboBox>(w, "cbDistance"), Ctl<QSpinBox>(w, "sePathWidth"),
                                   Ctl<QLineEdit>(w, "edOutput"), Ctl<QComboBox>(w, "cbCellRule")};
    for (QWidget* setting : settings)
      QVERIFY2(!setting->isEnabled(), qPrintable(setting->objectName()));
    QVERIFY(Ctl<QPushButton>(w, "btCancel")->isEnabled());
    // A double-click on a map list does not replace the running maps.
    w.answers[tDlg::OpenImage] = QStringList{Land(fLand, "roads_NB.rst")};
    QTest::mouseDClick(Ctl<QLineEdit>(w, "edVarTopo"), Qt::LeftButton);
    QVERIFY(Ctl<QLineEdit>(w, "edVarTopo")->text().isEmpty());
    w.btOKClick(); // no second run
    QTest::mouseClick(Ctl<QPushButton>(w, "btCancel"), Qt::LeftButton);
    QVERIFY(!Ctl<QPushButton>(w, "btCancel")->isEnabled());
    QVERIFY(WaitRun(w));
    QVERIFY(!w.Running());
    QVERIFY(w.errors.isEmpty());
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled() &&
            !Ctl<QPushButton>(w, "btCancel")->isEnabled());
    for (QWidget* setting : settings)
      QVERIFY2(setting->isEnabled(), qPrintable(setting->objectName()));
    QCOMPARE(Ctl<QLabel>(w, "lbTask")->text(), QString("Ready"));
    // Stopped early: fewer rows than the 28 pairs.
    const std::string report = ReadFileBytes(Out("Friction-LeastCost-MatrixAnalysis.txt"));
    QVERIFY(std::count(report.begin(), report.end(), '\n') < 29);
    // Cancel while idle does nothing.
    w.btCancelClick();
    QVERIFY(!w.Running());
  }

  // Closing during a run cancels it and waits for its end.
  void closeDuringRun() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst"}, {}, {}, "samples.txt");
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    ChooseFriction(w);
    Ctl<QSpinBox>(w, "sePathWidth")->setValue(51);
    w.btOKClick();
    QVERIFY(w.Running());
    QVERIFY(w.close());
    QVERIFY(!w.Running());

    // A box the run raises while the window closes is answered, not shown:
    // the worker waits for it until the window's loop serves it.
    tTestWindow v{QStringList()};
    std::string data = ReadFileBytes((kLandscape / "samples.txt").string());
    data.replace(data.find("[Significance]"), 14, "[Nonsense]");
    stravex::test::WriteFileBytes((fLand + "/badsig.txt").toStdString(), data);
    Load(v, {"forest_BL.rst"}, {}, {}, "badsig.txt");
    Ctl<QComboBox>(v, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    ChooseFriction(v);
    Ctl<QSpinBox>(v, "sePathWidth")->setValue(51);
    v.btOKClick();
    QVERIFY(v.close());
    QVERIFY(!v.Running());
    QVERIFY(v.warnings.isEmpty() && v.errors.isEmpty());
  }

  // A warning raised on the worker waits for the box, then the run goes on.
  void boxesFromTheWorker() {
    tTestWindow w{QStringList()};
    std::string data = ReadFileBytes((kLandscape / "samples.txt").string());
    data.replace(data.find("[Significance]"), 14, "[Nonsense]");
    stravex::test::WriteFileBytes((fLand + "/badsig.txt").toStdString(), data);
    Load(w, {"forest_BL.rst"}, {}, {}, "badsig.txt");
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QCOMPARE(w.warnings,
             QStringList{"Significance matrix could not be read. File is perhaps corrupt."});
    QVERIFY(w.errors.isEmpty());
    const std::string report = ReadFileBytes(Out("Friction-FixedStrip-MatrixAnalysis.txt"));
    QCOMPARE(std::count(report.begin(), report.end(), '\n'), 29L);
    // An error box raised on the worker: a sequence file that did not read.
    Ctl<QRadioButton>(w, "rbSequence")->click();
    w.answers[tDlg::OpenMatrix] = QStringList{fLand + "/badsig.txt"};
    w.btBrowseDataClick();
    QCOMPARE(w.errors.size(), 1); // the read's own error
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QCOMPARE(w.errors.size(), 2);
    // The run's message says why the read failed.
    QVERIFY(w.errors[0].startsWith("Invalid numeric input: " + fLand + "/badsig.txt line 3: "));
    QCOMPARE(w.errors[1], "Sequence file badly formatted. Process interrupted. " + w.errors[0]);
    // A failed run ends in one error box with its message.
    Ctl<QRadioButton>(w, "rbMatrix")->click();
    Ctl<QLineEdit>(w, "edOutput")->setText("no-such-folder/P");
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QCOMPARE(w.errors.size(), 3);
    QVERIFY(w.errors[2].contains("no-such-folder"));
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled());
  }

  void leastCostMatrixLikeCli() {
    tTestWindow w{QStringList()};
    Load(w, {"forest_BL.rst", "roads_NB.rst"}, {"cover_QT.rst"}, {}, "samples.txt");
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    ChooseFriction(w);
    Ctl<QSpinBox>(w, "sePathWidth")->setValue(3);
    Ctl<QSpinBox>(w, "seLeastCostSeed")->setValue(7);
    Ctl<QComboBox>(w, "cbMinimise")->setCurrentIndex(1);
    Ctl<QLineEdit>(w, "edWLength")->setText("0.5");
    Ctl<QLineEdit>(w, "edCorridorMap")->setText("corr");
    Ctl<QRadioButton>(w, "rbDelaunayInclude")->setChecked(true);
    QVERIFY(Visible(Ctl<QCheckBox>(w, "ckPairMatrices")) &&
            !Ctl<QCheckBox>(w, "ckPairMatrices")->isChecked());
    Ctl<QCheckBox>(w, "ckPairMatrices")->setChecked(true);
    Ctl<QLineEdit>(w, "edOutput")->setText("P");
    QTest::keyClick(Ctl<QLineEdit>(w, "edOutput"), Qt::Key_Return); // Enter: the default button
    QVERIFY(w.Running());
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty());
    const std::string L = fLand.toStdString() + "/";
    QCOMPARE(Cli({"matrix",
                  "--binary",
                  L + "forest_BL.rst",
                  L + "roads_NB.rst",
                  "--quantitative",
                  L + "cover_QT.rst",
                  "--data",
                  L + "samples.txt",
                  "--algorithm",
                  "least-cost",
                  "--friction",
                  L + "friction.rst",
                  "--width",
                  "3",
                  "--seed",
                  "7",
                  "--minimise",
                  "mean",
                  "--length-weight",
                  "0.5",
                  "--corridor",
                  "corr",
                  "--delaunay",
                  "include",
                  "--pair-matrices",
                  "--project",
                  "P",
                  "--workdir",
                  Cout("")}),
             0);
    const std::string report = ReadFileBytes(Out("P-MatrixAnalysis.txt"));
    QVERIFY(std::count(report.begin(), report.end(), '\n') == 29);
    QCOMPARE(report, ReadFileBytes(Cout("P-MatrixAnalysis.txt")));
    for (const char* column : {"GenDist", "roads_NB_Cost", "cover_QT_Mean"}) {
      const std::string name = std::string("P-") + column + "-matrix.csv";
      QVERIFY2(std::filesystem::exists(Out(name.c_str())), column);
      QCOMPARE(ReadFileBytes(Out(name.c_str())), ReadFileBytes(Cout(name.c_str())));
    }
    QCOMPARE(ReadFileBytes(Out("corr.rst")), ReadFileBytes(Cout("corr.rst")));
    QCOMPARE(w.LastCorridorMap(), fOut + "/corr");
    // Its map window ("Fire" palette) once the run has ended.
    w.ViewMap(Ctl<QLineEdit>(w, "edCorridorMap"));
    QCOMPARE(w.mapsShown, QStringList{"corr*"});
  }

  void sequenceLikeCli() {
    tTestWindow w{QStringList()};
    Ctl<QRadioButton>(w, "rbSequence")->click();
    Load(w, {"forest_BL.rst"}, {"cover_QT.rst"}, "dem.rst", "tracks.txt");
    QVERIFY(w.Sequence().LocationsLoaded);
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caRatioStrip);
    Ctl<QSpinBox>(w, "sePathWidth")->setValue(3);
    Ctl<QSpinBox>(w, "seIgnoreTime")->setValue(2);
    Ctl<QComboBox>(w, "cbIgnoreUnit")->setCurrentIndex(2);
    Ctl<QLineEdit>(w, "edOutput")->setText("S");
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty());
    const std::string L = fLand.toStdString() + "/";
    QCOMPARE(Cli({"sequence",
                  "--binary",
                  L + "forest_BL.rst",
                  "--quantitative",
                  L + "cover_QT.rst",
                  "--topography",
                  L + "dem.rst",
                  "--data",
                  L + "tracks.txt",
                  "--algorithm",
                  "ratio",
                  "--width",
                  "3",
                  "--ignore-time",
                  "2",
                  "--ignore-unit",
                  "hours",
                  "--project",
                  "S",
                  "--workdir",
                  Cout("")}),
             0);
    const std::string report = ReadFileBytes(Out("S-SequenceAnalysis.txt"));
    QVERIFY(std::count(report.begin(), report.end(), '\n') > 1);
    QCOMPARE(report, ReadFileBytes(Cout("S-SequenceAnalysis.txt")));

    // Each data structure keeps its own data file: the tracks are not shown
    // as population data, nor a population file taken for tracks.
    auto* data = Ctl<QLineEdit>(w, "edData");
    const QString tracks = data->text();
    QVERIFY(tracks.endsWith("tracks.txt"));
    Ctl<QRadioButton>(w, "rbMatrix")->click();
    QCOMPARE(data->text(), QString());
    QVERIFY(!Ctl<QPushButton>(w, "btOK")->isEnabled());
    w.answers[tDlg::OpenMatrix] = QStringList{fLand + "/samples.txt"};
    w.btBrowseDataClick();
    Ctl<QRadioButton>(w, "rbSequence")->click();
    QCOMPARE(data->text(), tracks);
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled());
    Ctl<QRadioButton>(w, "rbMatrix")->click();
    QCOMPARE(data->text(), fLand + "/samples.txt");
    Ctl<QRadioButton>(w, "rbSequence")->click();
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(ReadFileBytes(Out("S-SequenceAnalysis.txt")), report);
  }

  // Right after start-up the window's generator is in the program's start-up
  // state; a second bootstrap continues it.
  void bootstrapLikeCli() {
    tTestWindow w{QStringList()};
    Ctl<QRadioButton>(w, "rbSequence")->click();
    Load(w, {"forest_BL.rst", "roads_NB.rst"}, {"cover_QT.rst"}, {}, "tracks.txt");
    Ctl<QSpinBox>(w, "seSeqBootstraps")->setValue(5);
    Ctl<QCheckBox>(w, "ckSeqDistanceDistribution")->setChecked(true);
    Ctl<QLineEdit>(w, "edOutput")->setText("B");
    w.btBootstrapClick();
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty());
    const std::string L = fLand.toStdString() + "/";
    QCOMPARE(Cli({"bootstrap", "--binary", L + "forest_BL.rst", L + "roads_NB.rst",
                  "--quantitative", L + "cover_QT.rst", "--data", L + "tracks.txt", "--replicates",
                  "5", "--distance-distribution", "--project", "B", "--workdir", Cout("")}),
             0);
    const std::string first = ReadFileBytes(Out("B-Bootstraps.txt"));
    QVERIFY(std::count(first.begin(), first.end(), '\n') > 5);
    QCOMPARE(first, ReadFileBytes(Cout("B-Bootstraps.txt")));
    QCOMPARE(ReadFileBytes(Out("B-Distances.txt")), ReadFileBytes(Cout("B-Distances.txt")));
    w.btBootstrapClick();
    QVERIFY(WaitRun(w));
    QVERIFY(ReadFileBytes(Out("B-Bootstraps.txt")) != first);
  }

  void batchRunsSavesLogAndQuits() {
    const std::string L = fLand.toStdString() + "/";
    const QStringList line{
        "x", fLand + "/maps.txt", "win-log.txt", "samples.txt", "none", "2", "0", "0", "friction",
        "3"};
    tTestWindow w(line);
    w.show();
    QTRY_VERIFY(w.BatchStarted());
    QVERIFY(WaitRun(w));
    QCOMPARE(w.quits, 1);
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->count(), 2);
    QCOMPARE(Ctl<QLineEdit>(w, "edOutput")->text(), QString("Friction-FixedStrip"));
    // The same line through stravex-cli, on a second copy of the maps.
    const fs::path cliLand = fTemp->path() / "cli-land";
    fs::copy(kLandscape, cliLand);
    QCOMPARE(Cli({"x", (cliLand / "maps.txt").string(), "win-log.txt", "samples.txt", "none", "2",
                  "0", "0", "friction", "3"}),
             0);
    const std::string report = ReadFileBytes(L + "Friction-FixedStrip-MatrixAnalysis.txt");
    QVERIFY(std::count(report.begin(), report.end(), '\n') == 29);
    QCOMPARE(report, ReadFileBytes((cliLand / "Friction-FixedStrip-MatrixAnalysis.txt").string()));
    // The same log but for the maps' folder, the start time and what was written where.
    std::string log = ReadFileBytes(L + "win-log.txt");
    QVERIFY(log.find("\r\nFiles written:\r\n- report:\t" + L +
                     "Friction-FixedStrip-MatrixAnalysis.txt\r\n- log:\t" + L +
                     "win-log.txt\r\nRun completed in ") != std::string::npos);
    for (size_t at = log.find(L); at != std::string::npos; at = log.find(L, at))
      log.replace(at, L.size(), (cliLand / "").string());
    QCOMPARE(stravex::test::WithoutRunTimes(log),
             stravex::test::WithoutRunTimes(ReadFileBytes((cliLand / "win-log.txt").string())));
    // Activated again: the batch is not started twice.
    w.FormActivate();
    QVERIFY(!w.Running());
    QCOMPARE(w.quits, 1);
  }

  void batchErrorKeepsWindowOpen() {
    tTestWindow w(QStringList{"x", fLand + "/maps.txt", "log.txt", "samples.txt", "none", "two"});
    w.show();
    QTRY_VERIFY(w.BatchStarted());
    QVERIFY(WaitRun(w));
    QCOMPARE(w.errors.size(), 1);
    QVERIFY(w.errors[0].contains("two"));
    QCOMPARE(w.quits, 0);
    QVERIFY(!fs::exists(fLand.toStdString() + "/log.txt"));
    // Interactive use goes on; the batch is not started again.
    w.FormActivate();
    QCOMPARE(w.errors.size(), 1);
    QVERIFY(!w.Running() && w.isVisible());
    QCOMPARE(Ctl<QComboBox>(w, "cbVarBinary")->count(), 2);

    // A map list that does not exist: error box, window stays.
    tTestWindow missing(QStringList{"x", fLand + "/nolist.txt", "log.txt", "samples.txt", "none"});
    missing.show();
    QTRY_VERIFY(missing.BatchStarted());
    QCOMPARE(missing.errors.size(), 1);
    QCOMPARE(missing.quits, 0);

    // Fewer than five arguments after the program: an error box that says
    // what the line lacks; the window stays.
    tTestWindow shortLine(QStringList{"x", fLand + "/maps.txt"});
    shortLine.show();
    QTRY_COMPARE(shortLine.errors.size(), 1);
    QVERIFY(shortLine.errors[0].startsWith("x needs MAPLIST LOG DATA NAME"));
    QVERIFY(shortLine.errors[0].endsWith("1 was given"));
    QCOMPARE(shortLine.quits, 0);
  }

  // Data view and map windows through the chart library.
  void dataViewAndMapWindows() {
    const auto topLevel = [](const QString& title) {
      int n = 0;
      for (QWidget* t : QApplication::topLevelWidgets())
        if (t->isVisible() && t->windowTitle() == title) ++n;
      return n;
    };
    {
      tTestWindow w{QStringList()};
      Load(w, {}, {"cover_QT.rst"}, {}, "samples.txt");
      // Population data without binary maps: read, no chart; the log says
      // why, and leaves the echo of the data to the run.
      w.btViewDataClick();
      QCOMPARE(topLevel("Patch map"), 0);
      QVERIFY(Ctl<QPlainTextEdit>(w, "mmOutput")->toPlainText().contains("8 sample points read"));
      QVERIFY(
          !Ctl<QPlainTextEdit>(w, "mmOutput")->toPlainText().contains("Genetic distance matrix"));
      Load(w, {"forest_BL.rst"});
      w.btViewDataClick();
      QCOMPARE(topLevel("Patch map"), 1);
      w.ViewMap(Ctl<QComboBox>(w, "cbVarQuant"));
      w.ViewMap(Ctl<QLineEdit>(w, "edVarTopo"));     // no topography map: nothing
      w.ViewMap(Ctl<QLineEdit>(w, "edCorridorMap")); // no least-cost run yet: nothing
      QCOMPARE(w.mapsShown, QStringList{"cover_QT"});
      TMapWindow* map = nullptr;
      for (QWidget* t : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<TMapWindow*>(t)) map = m;
      QVERIFY(map);
      QCOMPARE(map->PointCells().size(), size_t{8}); // the sample points on top
      // Numbered in file order, as the reports number them.
      QCOMPARE(map->PointLabels().front(), std::string("1"));
      QCOMPARE(map->PointLabels().back(), std::string("8"));
      QVERIFY(!map->Corridor());
      // Unreadable data: its error box.
      w.answers[tDlg::OpenMatrix] = QStringList{fLand + "/tracks.txt"};
      w.btBrowseDataClick();
      w.btViewDataClick();
      QCOMPARE(w.errors.size(), 1);
    }
    // The window's views close with it.
    QCOMPARE(topLevel("Patch map"), 0);

    tTestWindow w{QStringList()};
    Ctl<QRadioButton>(w, "rbSequence")->click();
    Load(w, {"forest_BL.rst"}, {}, {}, "tracks.txt");
    w.btViewDataClick();
    tGraphicChart* tracks = nullptr;
    for (QWidget* t : QApplication::topLevelWidgets())
      if (auto* c = qobject_cast<tGraphicChart*>(t); c && c->isVisible()) tracks = c;
    QVERIFY(tracks);
    QVERIFY(tracks->chart()->series().size() >= 2);
  }
};

int TakeScreenshots(const QString& dir);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc == 3 && QByteArray(argv[1]) == "--screenshots")
    return TakeScreenshots(QString::fromLocal8Bit(argv[2]));
  WindowTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "WindowTest.moc"
