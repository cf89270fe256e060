// The main window on the offscreen platform: start state and enabling rules,
// the edit rules of its boxes, runs on the worker thread (state, cancel,
// boxes), whole analyses compared byte for byte with stravex-cli, batch mode.
#include "CliSupport.h"
#include "Controls.h"
#include "CustomGeodrellDialogs.h"
#include "GraphicOps.h"
#include "MapWindow.h"
#include "TestSupport.h"
#include "base/FileLock.h"
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
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
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
  bool cancelAtWarning = false;
  // The answer to a report that would be replaced, and what was asked.
  TdlgConnectivity::tReplaceAnswer replaceAnswer = TdlgConnectivity::tReplaceAnswer::Replace;
  QStringList replaceAsked, resumeRefusals;
  // Set: the window's own question box opens and this button is clicked.
  QString replaceBoxClick;
  QStringList replaceBoxButtons;

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
  void ShowWarningBox(const QString& m) override {
    warnings << m;
    // The run waits for this box before its first pair: a cancel that cannot come too late.
    if (cancelAtWarning) btCancelClick();
  }
  tReplaceAnswer AskReplace(const QString& report, const QString& resumeRefusal) override {
    replaceAsked << QFileInfo(report).fileName();
    resumeRefusals << resumeRefusal;
    if (replaceBoxClick.isEmpty()) return replaceAnswer;
    // The window's own box: its buttons are noted and one is clicked.
    auto* poll = new QTimer(this);
    QObject::connect(poll, &QTimer::timeout, this, [this, poll] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      poll->deleteLater();
      replaceBoxButtons.clear();
      for (QAbstractButton* b : box->buttons()) replaceBoxButtons << b->text();
      replaceBoxButtons.sort();
      for (QAbstractButton* b : box->buttons())
        if (b->text() == replaceBoxClick) b->click();
    });
    poll->start(20);
    return TdlgConnectivity::AskReplace(report, resumeRefusal);
  }
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
    // WorkDir.ini of the tests stays in the scratch folder, and so do the
    // settings remembered between sessions: each test starts without any.
    qputenv("STRAVEX_PROGRAM_DIR", fTemp->path().string().c_str());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((fTemp->path() / "config").string()));
    fSavedCwd = QDir::currentPath();
    QDir::setCurrent(fOut);
  }
  // Every setting away from its default, as a study would set them.
  static stravex::TAnalysisSettings Unusual(const QString& land) {
    stravex::TAnalysisSettings s;
    s.DataStructure = stravex::dsLocationSequence;
    s.Connectivity = stravex::caLeastCostPath;
    s.PathWidth = 7;
    s.Seed = 4242;
    s.Minimise = 2;
    s.FrictionWeight = "2.5";
    s.LengthWeight = "1e-3";
    s.FrictionMapFile = (land + "/friction.rst").toStdString();
    s.CorridorMapName = "corridors, wide";
    s.OneMapPerPair = true;
    s.Direction = -1;
    s.ElevationTolerance = "0.5";
    s.DelaunayUse = stravex::duRestrict;
    s.PairDistanceThreshold = 5000;
    s.IgnoreTime = 12;
    s.IgnoreUnit = 1;
    s.Bootstraps = 300;
    s.DistanceDistribution = true;
    s.ProjectName = "Study A; north";
    s.DataFile = (land + "/tracks.txt").toStdString();
    s.EchoSamplePoints = true;
    s.EchoMatrices = false;
    s.CellRule = stravex::crRounded;
    s.PairMatrices = true;
    s.FittingFunction = 1;
    s.Stepwise = true;
    s.FrequencyThreshold = 5;
    s.SignificantOnly = true;
    s.SignificanceThreshold = 7;
    s.IncludeGeographicDistance = false;
    s.Replicates = 50;
    s.Iterations = 3;
    s.ConnectivityDataset = false;
    s.EcoDistanceMatrix = true;
    return s;
  }

  static QStringList Items(TdlgConnectivity& w, const char* list) {
    QStringList items;
    auto* cb = Ctl<QComboBox>(w, list);
    for (int i = 0; i < cb->count(); ++i) items << cb->itemText(i);
    return items;
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

  // The fifth connectivity item: its project name, the friction map
  // required, value 4 in the settings and the batch command.
  void resistanceDistanceItem() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst"}, {}, {}, "samples.txt");
    QCOMPARE(Ctl<QComboBox>(w, "cbDistance")->count(), 5);
    QCOMPARE(Ctl<QComboBox>(w, "cbDistance")->itemText(4), QString("Resistance distance"));
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caResistanceDistance);
    QCOMPARE(Ctl<QLineEdit>(w, "edOutput")->text(), QString("Friction-Resistance"));
    QVERIFY(Visible(Ctl<QLineEdit>(w, "edFirstFriction")));
    QVERIFY(!Ctl<QPushButton>(w, "btOK")->isEnabled()); // no friction map yet
    QVERIFY(!Ctl<QSpinBox>(w, "sePathWidth")->isEnabled() &&
            !Ctl<QSpinBox>(w, "seLeastCostSeed")->isEnabled());
    QVERIFY(Ctl<QSpinBox>(w, "sePathWidth")->toolTip().contains("resistance distance"));
    ChooseFriction(w);
    QVERIFY(Ctl<QPushButton>(w, "btOK")->isEnabled());
    QCOMPARE(w.ReadSettings().Connectivity, stravex::caResistanceDistance);
    w.answers[tDlg::SaveList] = QStringList{fOut + "/list.txt"};
    w.Batchcommand1Click();
    const std::string line = w.LogLines().back();
    QVERIFY2(line.find("\"Friction-Resistance\" 4 0 0 \"") != std::string::npos, line.c_str());

    // A run writes the report of the command line.
    Ctl<QLineEdit>(w, "edOutput")->setText("R");
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty());
    const std::string L = fLand.toStdString() + "/";
    QCOMPARE(Cli({"matrix", "--binary", L + "forest_BL.rst", "--data", L + "samples.txt",
                  "--algorithm", "resistance", "--friction", L + "friction.rst", "--project", "R",
                  "--workdir", Cout("")}),
             0);
    QCOMPARE(ReadFileBytes(Out("R-MatrixAnalysis.txt")),
             ReadFileBytes(Cout("R-MatrixAnalysis.txt")));
    // The sequence analysis refuses it: the run ends with the message.
    Ctl<QRadioButton>(w, "rbSequence")->click();
    w.answers[tDlg::OpenMatrix] = QStringList{fLand + "/tracks.txt"};
    w.btBrowseDataClick();
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QCOMPARE(w.errors.size(), 1);
    QVERIFY2(w.errors[0].contains("population matrix analysis only"), qPrintable(w.errors[0]));
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
    // Not "Ready" as if nothing had happened: the status and the log say
    // where the run stopped and what its report holds.
    QCOMPARE(Ctl<QLabel>(w, "lbTask")->text(), QString("Cancelled"));
    const std::string report = ReadFileBytes(Out("Friction-LeastCost-MatrixAnalysis.txt"));
    const auto rows = std::count(report.begin(), report.end(), '\n') - 1;
    QVERIFY(rows >= 1 && rows < 28);
    const QString end = QString("Cancelled after %1 of 28 pairs \u2014 the report holds %1 row%2")
                            .arg(rows)
                            .arg(rows == 1 ? "" : "s");
    QCOMPARE(w.RunEndText(), end);
    QCOMPARE(QString::fromStdString(w.LogLines().back()), end);
    QCOMPARE(Ctl<QProgressBar>(w, "pbTache")->format(), QString("pair %1 of 28").arg(rows));
    QVERIFY(w.replaceAsked.isEmpty()); // there was no report to replace
    // Cancel while idle does nothing.
    w.btCancelClick();
    QVERIFY(!w.Running());
  }

  // A report that exists is replaced, resumed or kept only as the user says;
  // a resumed report is the one an uninterrupted run writes.
  void replaceResumeOrKeep() {
    tTestWindow w{QStringList()};
    // Its significance matrix does not read: a warning box before the first pair.
    std::string data = ReadFileBytes((kLandscape / "samples.txt").string());
    data.replace(data.find("[Significance]"), 14, "[Nonsense]");
    stravex::test::WriteFileBytes((fLand + "/badsig.txt").toStdString(), data);
    Load(w, {"forest_BL.rst", "roads_NB.rst"}, {"cover_QT.rst"}, {}, "badsig.txt");
    Ctl<QLineEdit>(w, "edOutput")->setText("R");
    const std::string report = Out("R-MatrixAnalysis.txt");
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty() && w.replaceAsked.isEmpty());
    const std::string whole = ReadFileBytes(report);
    QCOMPARE(std::count(whole.begin(), whole.end(), '\n'), 29);

    // Cancel: nothing is touched, not even an edited report.
    stravex::test::WriteFileBytes(report, "kept by hand\r\n");
    w.replaceAnswer = TdlgConnectivity::tReplaceAnswer::Cancel;
    w.btOKClick();
    QVERIFY(!w.Running());
    QCOMPARE(w.replaceAsked, QStringList{"R-MatrixAnalysis.txt"});
    QCOMPARE(ReadFileBytes(report), std::string("kept by hand\r\n"));
    // Its rows are not the journal's: resuming is not offered, and an answer
    // Resume all the same starts nothing.
    QVERIFY(!w.resumeRefusals.back().isEmpty());
    w.replaceBoxClick = "Cancel";
    w.btOKClick();
    QCOMPARE(w.replaceBoxButtons, (QStringList{"Cancel", "Replace"}));
    QVERIFY(!w.Running());
    w.replaceBoxClick.clear();
    w.replaceAnswer = TdlgConnectivity::tReplaceAnswer::Resume;
    w.btOKClick();
    QVERIFY(!w.Running());
    QCOMPARE(ReadFileBytes(report), std::string("kept by hand\r\n"));
    // Replace: a new run rewrites it.
    w.replaceAnswer = TdlgConnectivity::tReplaceAnswer::Replace;
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QCOMPARE(ReadFileBytes(report), whole);
    QVERIFY(w.RunEndText().startsWith("Done: 28 pairs in "));

    // Cancelled after its first pair, then resumed: the missing rows only.
    w.cancelAtWarning = true;
    w.btOKClick();
    QVERIFY(WaitRun(w));
    w.cancelAtWarning = false;
    const std::string cut = ReadFileBytes(report);
    QCOMPARE(std::count(cut.begin(), cut.end(), '\n'), 2L);
    QCOMPARE(w.RunEndText(),
             QString("Cancelled after 1 of 28 pairs \u2014 the report holds 1 row"));
    w.replaceBoxClick = "Resume";
    w.btOKClick();
    w.replaceBoxClick.clear();
    QCOMPARE(w.replaceBoxButtons, (QStringList{"Cancel", "Replace", "Resume"}));
    QVERIFY(w.resumeRefusals.back().isEmpty());
    QVERIFY(w.Running());
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(ReadFileBytes(report), whole);
    QVERIFY(w.RunEndText().startsWith("Done: 28 pairs (27 new, 1 kept) in "));

    // Other settings than the journal's: resuming is not offered.
    Ctl<QSpinBox>(w, "sePathWidth")->setValue(5);
    w.replaceAnswer = TdlgConnectivity::tReplaceAnswer::Cancel;
    w.btOKClick();
    QVERIFY(!w.Running());
    QVERIFY(!w.resumeRefusals.back().isEmpty());
    QCOMPARE(ReadFileBytes(report), whole);
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
    QCOMPARE(Ctl<QLabel>(w, "lbTask")->text(), QString("Failed"));
    QVERIFY(w.RunEndText().startsWith("Failed after "));
    QVERIFY(w.RunEndText().endsWith(w.errors[2]));
  }

  // A window run goes through the same output checks and locks as the
  // command line: refused in one error box, the inputs and the folder as
  // they were.
  void outputClashesAndLocksRefuseWindowRuns() {
    tTestWindow w{QStringList()};
    Load(w, {"forest_BL.rst"}, {}, {}, "samples.txt");
    Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
    ChooseFriction(w);
    const std::string friction = fLand.toStdString() + "/friction.rst";
    const std::string before = ReadFileBytes(friction);
    Ctl<QLineEdit>(w, "edCorridorMap")->setText(fLand + "/friction");
    Ctl<QLineEdit>(w, "edOutput")->setText("P");
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QCOMPARE(w.errors.size(), 1);
    QVERIFY2(w.errors[0].contains("\"corridor map\" would replace input \"friction map\""),
             qPrintable(w.errors[0]));
    QVERIFY(ReadFileBytes(friction) == before);
    QVERIFY(QDir(fOut).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // Another process's run holds the corridor map.
    Ctl<QLineEdit>(w, "edCorridorMap")->setText("corr");
    stravex::tLockHolder holder;
    const auto lock = stravex::tFileLock::TryLock((fOut + "/corr.rst").toStdString(), holder);
    QVERIFY(lock);
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QCOMPARE(w.errors.size(), 2);
    QVERIFY2(w.errors[1].contains("is being written by process"), qPrintable(w.errors[1]));
    QVERIFY(!QFileInfo::exists(fOut + "/P-MatrixAnalysis.txt"));
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
    QVERIFY(w.RunEndText().startsWith("Done: 28 pairs in "));
    QVERIFY(w.RunEndText().endsWith(" \u2014 report P-MatrixAnalysis.txt"));
    QCOMPARE(QString::fromStdString(w.LogLines().back()), w.RunEndText());
    QCOMPARE(Ctl<QLabel>(w, "lbTask")->text(), QString("Done"));
    QCOMPARE(Ctl<QProgressBar>(w, "pbTache")->value(), 100);
    QCOMPARE(Ctl<QProgressBar>(w, "pbTache")->format(), QString("pair 28 of 28"));
    // Its map window ("Fire" palette) once the run has ended, offered at once.
    w.ViewMap(Ctl<QLineEdit>(w, "edCorridorMap"));
    QCOMPARE(w.mapsShown, QStringList{"corr*"});
    QVERIFY(Visible(Ctl<QPushButton>(w, "btViewMap")));
    QTest::mouseClick(Ctl<QPushButton>(w, "btViewMap"), Qt::LeftButton);
    QCOMPARE(w.mapsShown, (QStringList{"corr*", "corr*"}));
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
    QVERIFY(w.RunEndText().startsWith("Done: "));
    QVERIFY(w.RunEndText().contains(" segments in "));
    // Strips write no corridor map: none is offered.
    QVERIFY(!Visible(Ctl<QPushButton>(w, "btViewMap")));

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
    QVERIFY(w.replaceAsked.isEmpty());
    w.btOKClick();
    QVERIFY(WaitRun(w));
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(ReadFileBytes(Out("S-SequenceAnalysis.txt")), report);
    // The first run kept a journal: the report could have been resumed.
    QCOMPARE(w.replaceAsked, QStringList{"S-SequenceAnalysis.txt"});
    QCOMPARE(w.resumeRefusals, QStringList{QString()});
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
    // Two individuals with 5 replicates each.
    QVERIFY(w.RunEndText().startsWith("Done: 10 walks in "));
    w.btBootstrapClick();
    QVERIFY(WaitRun(w));
    QVERIFY(ReadFileBytes(Out("B-Bootstraps.txt")) != first);
    // Asked before the walks were replaced; a bootstrap cannot be resumed.
    QCOMPARE(w.replaceAsked, QStringList{"B-Bootstraps.txt"});
    QVERIFY(!w.resumeRefusals[0].isEmpty());
  }

  void batchRunsSavesLogAndQuits() {
    const std::string L = fLand.toStdString() + "/";
    const QStringList line{
        "x", fLand + "/maps.txt", "win-log.txt", "samples.txt", "none", "2", "0", "0", "friction",
        "3"};
    // A batch never waits for a person: the report of an earlier run is replaced.
    stravex::test::WriteFileBytes(L + "Friction-FixedStrip-MatrixAnalysis.txt", "earlier\r\n");
    tTestWindow w(line);
    w.replaceAnswer = TdlgConnectivity::tReplaceAnswer::Cancel;
    w.show();
    QTRY_VERIFY(w.BatchStarted());
    QVERIFY(WaitRun(w));
    QCOMPARE(w.quits, 1);
    QVERIFY(w.replaceAsked.isEmpty());
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

  void settingsKeptBetweenSessions() {
    // The tests' settings live in their scratch folder, never in the user's.
    const auto ini = TCustomGeodrellDialog::UserSettings();
    QVERIFY(ini->fileName().startsWith(QString::fromStdString(fTemp->path().string())));
    QVERIFY(QStandardPaths::isTestModeEnabled());
    stravex::TAnalysisSettings saved;
    tWindowChoices choices;
    {
      tTestWindow w{QStringList()};
      w.show();
      QVERIFY(w.RemembersSettings());
      Load(w, {"forest_BL.rst", "roads_NB.rst"}, {"cover_QT.rst"}, "dem.rst", "samples.txt");
      Ctl<QComboBox>(w, "cbDistance")->setCurrentIndex(stravex::caLeastCostPath);
      ChooseFriction(w);
      Ctl<QSpinBox>(w, "sePathWidth")->setValue(5);
      Ctl<QLineEdit>(w, "edOutput")->setText("Kept");
      Ctl<QCheckBox>(w, "ckPairMatrices")->setChecked(true);
      Ctl<QCheckBox>(w, "ckFitModel")->setChecked(true);
      w.resize(640, 600);
      saved = w.ReadSettings();
      choices = w.ReadChoices();
      QCOMPARE(choices.BinaryMaps.size(), 2);
      w.close();
    }
    const std::string text = ReadFileBytes(ini->fileName().toStdString());
    QVERIFY(text.find("[Paths]\nAlgorithm=Least-cost path\n") != std::string::npos);
    QVERIFY(text.find("Name=Kept\n") != std::string::npos);
    QVERIFY(text.find("Maps=" + fLand.toStdString() + "\n") != std::string::npos);

    tTestWindow again{QStringList()};
    QVERIFY(again.ReadSettings() == saved);
    QVERIFY(again.ReadChoices() == choices);
    QCOMPARE(Items(again, "cbVarBinary"), (QStringList{"forest_BL", "roads_NB"}));
    QCOMPARE(again.size(), QSize(640, 600));
    QCOMPARE(again.LastFolder(tDlg::OpenImage), fLand);
    QCOMPARE(again.LastFolder(tDlg::OpenMatrix), fLand);
    QCOMPARE(again.LastFolder(tDlg::OpenSettings), QString());
    again.show();
    QApplication::processEvents();
    QVERIFY(again.warnings.isEmpty() && again.errors.isEmpty());
    QVERIFY(Ctl<QPushButton>(again, "btOK")->isEnabled());

    // A map gone since: one box at the first show names it; the rest comes back.
    fs::remove(fs::path(fLand.toStdString()) / "roads_NB.rst");
    tTestWindow third{QStringList()};
    QCOMPARE(Items(third, "cbVarBinary"), QStringList{"forest_BL"});
    QCOMPARE(third.ReadSettings().ProjectName, std::string("Kept"));
    third.show();
    QTRY_COMPARE(third.warnings.size(), 1);
    QVERIFY(third.warnings[0].contains(QDir::toNativeSeparators(ini->fileName()) +
                                       ": [Maps] Binary: "));
    QVERIFY(third.warnings[0].contains("roads_NB"));
  }

  void batchLeavesRememberedSettingsAlone() {
    {
      tTestWindow w{QStringList()};
      w.show();
      Load(w, {"landuse_CL.rst"});
      Ctl<QSpinBox>(w, "sePathWidth")->setValue(9);
      Ctl<QSpinBox>(w, "seLeastCostSeed")->setValue(999);
      Ctl<QLineEdit>(w, "edOutput")->setText("Mine");
      w.close();
    }
    const std::string remembered =
        ReadFileBytes(TCustomGeodrellDialog::UserSettings()->fileName().toStdString());
    QVERIFY(remembered.find("Seed=999") != std::string::npos);
    tTestWindow batch(QStringList{"x", fLand + "/maps.txt", "win-log.txt", "samples.txt", "none",
                                  "2", "0", "0", "friction", "3"});
    QVERIFY(!batch.RemembersSettings());
    batch.show();
    QTRY_VERIFY(batch.BatchStarted());
    QVERIFY(WaitRun(batch));
    QVERIFY(batch.errors.isEmpty());
    // The line and the defaults, nothing of the last session.
    const stravex::TAnalysisSettings s = batch.ReadSettings();
    QCOMPARE(s.PathWidth, 3);
    QCOMPARE(s.Seed, stravex::TAnalysisSettings().Seed);
    QCOMPARE(s.ProjectName, std::string("Friction-FixedStrip"));
    QCOMPARE(Items(batch, "cbVarBinary"), (QStringList{"forest_BL", "roads_NB"}));
    batch.close();
    QCOMPARE(ReadFileBytes(TCustomGeodrellDialog::UserSettings()->fileName().toStdString()),
             remembered);
  }

  void settingsFileRoundTrip() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst", "roads_NB.rst"}, {"cover_QT.rst"}, "dem.rst");
    const stravex::TAnalysisSettings s = Unusual(fLand);
    w.WriteSettings(s);
    for (const char* box :
         {"ckFitModel", "ckFrictionMap", "ckTemporary", "ckJackKnifeResults", "ckJackKnife"})
      Ctl<QCheckBox>(w, box)->setChecked(true);
    Ctl<QSpinBox>(w, "seJackknife")->setValue(17);
    const stravex::TAnalysisSettings saved = w.ReadSettings();
    const tWindowChoices choices = w.ReadChoices();
    QVERIFY(saved == s);
    QVERIFY(choices.JackKnife && choices.Partitions == 17 && choices.KeepTemporaryMaps);

    const QString file = fOut + "/study.ini";
    QCOMPARE(w.SaveSettingsFile(file), QString());
    // Readable names and values.
    const std::string text = ReadFileBytes(file.toStdString());
    for (const std::string& line :
         {"[Maps]\nBinary=" + fLand.toStdString() + "/forest_BL.rst, " + fLand.toStdString() +
              "/roads_NB.rst\n",
          std::string("Algorithm=Least-cost path\n"), std::string("Minimise=Friction SD\n"),
          std::string("Movement=Downhill movement only\n"),
          std::string("CellRule=Rounded (earlier versions)\n"), std::string("IgnoreUnit=Minutes\n"),
          std::string("Structure=Location sequence\n"), std::string("OneMapPerPair=true\n")})
      QVERIFY2(text.find(line) != std::string::npos, line.c_str());

    // Back to a window as it starts, then the file: the same settings and maps.
    w.RemoveMaps(tMapBox::Binary, true);
    w.RemoveMaps(tMapBox::Quantitative, true);
    w.RemoveMaps(tMapBox::Topography, false);
    w.WriteSettings(stravex::TAnalysisSettings());
    for (const char* box :
         {"ckFitModel", "ckFrictionMap", "ckTemporary", "ckJackKnifeResults", "ckJackKnife"})
      Ctl<QCheckBox>(w, box)->setChecked(false);
    QVERIFY(!(w.ReadSettings() == saved));
    QVERIFY(!(w.ReadChoices() == choices));
    w.OpenSettingsFile(file);
    QVERIFY(w.warnings.isEmpty() && w.errors.isEmpty());
    QVERIFY(w.ReadSettings() == saved);
    QVERIFY(w.ReadChoices() == choices);
    QCOMPARE(Ctl<QLineEdit>(w, "edVarTopo")->text(), QString("dem"));
    QVERIFY(TabVisible(w, Ctl<QWidget>(w, "tabSeqBootstraps")));
    QVERIFY(w.Sequence().LocationsLoaded); // the tracks were read for the data view

    // The menu items, with their own dialogs' folder.
    auto* saveAs = w.findChild<QAction*>("SaveSettings1");
    auto* open = w.findChild<QAction*>("OpenSettings1");
    QVERIFY(saveAs && open && saveAs->isEnabled() && open->isEnabled());
    QCOMPARE(saveAs->text(), QString("Save settings &as..."));
    fs::create_directories(fTemp->path() / "studies");
    const QString other = QString::fromStdString((fTemp->path() / "studies" / "b.ini").string());
    w.answers[tDlg::SaveSettings] = {other};
    saveAs->trigger();
    QCOMPARE(ReadFileBytes(other.toStdString()), text);
    QCOMPARE(w.LastFolder(tDlg::OpenSettings), QFileInfo(other).absolutePath());
    // Saved over: replaced whole, not merged with what the file held.
    std::ofstream(other.toStdString()) << "[Other]\nKey=1\n";
    saveAs->trigger();
    QCOMPARE(ReadFileBytes(other.toStdString()), text);
    w.answers[tDlg::OpenSettings] = {other};
    w.WriteSettings(stravex::TAnalysisSettings());
    open->trigger();
    QVERIFY(w.ReadSettings() == saved);
    // A folder in the way: the error names the file.
    QVERIFY(w.SaveSettingsFile(fOut).contains(QDir::toNativeSeparators(fOut)));
    QVERIFY(fs::is_directory(fOut.toStdString()));
  }

  void settingsFileProblems() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst"}, {"cover_QT.rst"});
    const QString file = fOut + "/bad.ini";
    std::ofstream(file.toStdString())
        << "[Maps]\nBinary=" << fLand.toStdString() << "/roads_NB.rst, gone.rst, "
        << fLand.toStdString() << "/forest_BL.rst\n"
        << "[Paths]\nAlgorithm=Teleport\nWidth=abc\nSeed=77\nOneMapPerPair=maybe\n"
        << "FrictionMap=shifted.rst\n[Project]\nName=Trial\n[Data]\nFile=nothere.txt\n";
    // A friction map that does not overlay the maps.
    fs::copy(fs::path(fLand.toStdString()) / "friction.rst",
             fs::path(fOut.toStdString()) / "shifted.rst");
    std::string doc = ReadFileBytes(fLand.toStdString() + "/friction.rdc");
    doc.replace(doc.find("min. X      : 500000"), 20, "min. X      : 500010");
    std::ofstream(fOut.toStdString() + "/shifted.rdc", std::ios::binary) << doc;
    w.OpenSettingsFile(file);
    QVERIFY(w.errors.isEmpty());
    QCOMPARE(w.warnings.size(), 1);
    const QString box = w.warnings[0];
    const QString at = QDir::toNativeSeparators(file) + ": ";
    for (const char* key : {"[Maps] Binary: ", "[Paths] Algorithm: \"Teleport\" is not one of",
                            "[Paths] Width: \"abc\" is not a whole number from 1 to 99999",
                            "[Paths] OneMapPerPair: \"maybe\"",
                            "[Data] File: ", "[Paths] FrictionMap: shifted cannot be overlaid"})
      QVERIFY2(box.contains(at + key), key);
    QVERIFY(box.contains("gone"));
    // The rest applies; the bad values keep what the window had.
    const stravex::TAnalysisSettings s = w.ReadSettings();
    QCOMPARE(s.Seed, 77);
    QCOMPARE(s.ProjectName, std::string("Trial"));
    QCOMPARE(s.Connectivity, stravex::caFixedWidthStrip);
    QCOMPARE(s.PathWidth, 1);
    QCOMPARE(s.DataFile, std::string());
    QCOMPARE(s.FrictionMapFile, std::string());
    QCOMPARE(Items(w, "cbVarBinary"), (QStringList{"roads_NB", "forest_BL"}));
    QCOMPARE(Items(w, "cbVarQuant"), QStringList{"cover_QT"}); // not in the file: kept
    QCOMPARE(w.Maps().MapCount(), 3);

    // Not a settings file, or no file: an error box and nothing changes.
    std::ofstream((fOut + "/notes.ini").toStdString()) << "[Notes]\nText=hello\n";
    w.OpenSettingsFile(fOut + "/notes.ini");
    w.OpenSettingsFile(fOut + "/none.ini");
    QCOMPARE(w.errors.size(), 2);
    QVERIFY(w.errors[0].contains("holds no Stravex settings"));
    QCOMPARE(w.errors[1], QDir::toNativeSeparators(fOut + "/none.ini") + " cannot be opened.");
    QVERIFY(w.ReadSettings() == s);
    QCOMPARE(w.warnings.size(), 1);
  }

  void mapListsAddAndKeepOnFailure() {
    tTestWindow w{QStringList()};
    w.show();
    Load(w, {"forest_BL.rst"});
    // "+" adds to the list, which keeps its maps.
    auto* add = Ctl<QPushButton>(w, "btAddBinary");
    QCOMPARE(add->accessibleName(), QString("Add binary and count maps"));
    w.answers[tDlg::OpenImage] = {fLand + "/roads_NB.rst"};
    add->click();
    QCOMPARE(Items(w, "cbVarBinary"), (QStringList{"forest_BL", "roads_NB"}));
    const QStringList two{"forest_BL", "roads_NB"};

    // A picked map that cannot be read: the list is as it was, replaced or added to.
    w.answers[tDlg::OpenImage] = {fLand + "/landuse_CL.rst", fLand + "/gone.rst"};
    w.btVarBinaryClick();
    QCOMPARE(Items(w, "cbVarBinary"), two);
    w.btAddBinaryClick();
    QCOMPARE(Items(w, "cbVarBinary"), two);
    QCOMPARE(w.errors.size(), 2);
    QCOMPARE(w.Maps().BinaryMaps.size(), size_t(2));

    // A map list naming a missing map, and one that does not exist.
    const std::string list = (fOut + "/list.txt").toStdString();
    std::ofstream(list) << fLand.toStdString() << "/landuse_CL.rst\r\n"
                        << fLand.toStdString() << "/gone.rst\r\n";
    w.answers[tDlg::OpenList] = {QString::fromStdString(list)};
    w.Openecomaplist1Click();
    QCOMPARE(Items(w, "cbVarBinary"), two);
    w.answers[tDlg::OpenList] = {fOut + "/nolist.txt"};
    w.Openecomaplist1Click();
    QCOMPARE(Items(w, "cbVarBinary"), two);
    QCOMPARE(w.errors.size(), 4);

    // Every picked map refused: each has its box, the list stays.
    fs::copy(fs::path(fLand.toStdString()) / "forest_BL.rst",
             fs::path(fOut.toStdString()) / "text.rst");
    std::string doc = ReadFileBytes(fLand.toStdString() + "/forest_BL.rdc");
    doc.replace(doc.find("file type   : binary"), 20, "file type   : ascii ");
    std::ofstream(fOut.toStdString() + "/text.rdc", std::ios::binary) << doc;
    w.answers[tDlg::OpenImage] = {fOut + "/text.rst"};
    w.btVarBinaryClick();
    QCOMPARE(w.errors.size(), 5);
    QCOMPARE(w.errors.last(), QString("text is not in binary format."));
    QCOMPARE(Items(w, "cbVarBinary"), two);

    // A list that loads still replaces the maps, as "..." does.
    std::ofstream(list) << fLand.toStdString() << "/landuse_CL.rst\r\n";
    w.answers[tDlg::OpenList] = {QString::fromStdString(list)};
    w.Openecomaplist1Click();
    QCOMPARE(Items(w, "cbVarBinary"), QStringList{"landuse_CL"});
    // Quantitative maps are added the same way, also from the list's context menu.
    Load(w, {}, {"cover_QT.rst"});
    w.answers[tDlg::OpenImage] = {fLand + "/dem.rst"};
    Ctl<QPushButton>(w, "btAddQuant")->click();
    QCOMPARE(Items(w, "cbVarQuant"), (QStringList{"cover_QT", "dem"}));
    QStringList offered;
    QTimer::singleShot(0, &w, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      QVERIFY(menu);
      for (QAction* a : menu->actions()) {
        if (!a->isSeparator()) offered << a->text();
        if (a->text() == "Add maps...") menu->setActiveAction(a);
      }
      QTest::keyClick(menu, Qt::Key_Return);
    });
    w.answers[tDlg::OpenImage] = {fLand + "/friction.rst"};
    emit Ctl<QComboBox>(w, "cbVarQuant")->customContextMenuRequested(QPoint(4, 4));
    QCOMPARE(offered,
             (QStringList{"View map", "Add maps...", "Remove this map", "Clear the list"}));
    QCOMPARE(Items(w, "cbVarQuant"), (QStringList{"cover_QT", "dem", "friction"}));
    QCOMPARE(w.errors.size(), 5);
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
  // Nothing the tests do reaches the user's own configuration.
  QStandardPaths::setTestModeEnabled(true);
  QTemporaryDir config;
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
  QApplication app(argc, argv);
  if (argc == 3 && QByteArray(argv[1]) == "--screenshots")
    return TakeScreenshots(QString::fromLocal8Bit(argv[2]));
  WindowTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "WindowTest.moc"
