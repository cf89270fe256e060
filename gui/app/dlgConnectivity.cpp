#include "dlgConnectivity.h"

#include "AboutBox.h"
#include "DataViews.h"
#include "FileFilters.h"
#include "Help.h"
#include "InputPage.h"
#include "LogPage.h"
#include "MatrixParametersPage.h"
#include "PageKit.h"
#include "RunController.h"
#include "SequencePages.h"
#include "analysis/BatchLine.h"
#include "analysis/RunLog.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <exception>
#include <filesystem>
#include <utility>

namespace stravex::gui {

using kit::Named;
using kit::Q;
using kit::Std;

namespace {

// A status line longer than the window keeps its start and its end (the
// report's name); the whole line is its tooltip.
class tElidedLabel : public QLabel {
protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QRect r = contentsRect();
    p.drawText(r, static_cast<int>(alignment()),
               fontMetrics().elidedText(text(), Qt::ElideMiddle, r.width()));
  }
};

} // namespace

// Map loading, data view and other work done on the window's own thread:
// log lines and refusal boxes appear at once.
class TdlgConnectivity::tWindowReporter : public tReporter {
public:
  explicit tWindowReporter(TdlgConnectivity& w) : fW(w) {}
  void Log(const std::string& line) override { fW.AppendLog(Q(line)); }
  void TaskLabel(const std::string& label) override { fW.lbTask->setText(Q(label)); }
  void Progress(int percent) override {
    fW.pbTache->setValue(percent);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  void Warning(const std::string& message) override { fW.ShowWarningBox(Q(message)); }
  void ErrorBox(const std::string& message) override { fW.ShowError(Q(message)); }

private:
  TdlgConnectivity& fW;
};

TdlgConnectivity::TdlgConnectivity(const QStringList& args, QWidget* parent)
    : TCustomGeodrellDialog(args, parent), fArgs(args) {
  fRun = std::make_unique<tRunController>(fMaps, fSequence, fRandom, this);
  setWindowTitle(QStringLiteral("Stravex"));
  resize(496, 540);
  setMinimumSize(455, 425);
  BuildPages();
  BuildMenus();
  Connect();
  UpdateControls();
  // A batch line sets every setting itself; the user's are neither read nor overwritten.
  fRemember = !IsBatchCommandLine(ProgramArguments());
  if (fRemember) RestoreSession();
}

TdlgConnectivity::~TdlgConnectivity() {
  // Boxes raised by a run still going must not wait for a window being destroyed.
  fClosing = true;
  if (fRun->Running()) {
    fRun->RequestCancel();
    fRun->WaitForEnd();
  }
  for (QPointer<QWidget>& v : fViews) delete v.data();
}

void TdlgConnectivity::BuildPages() {
  auto* central = new QWidget;
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  pcPages = Named(new QTabWidget, "pcPages");
  pcPages->setAccessibleName(QStringLiteral("Settings pages"));
  outer->addWidget(pcPages, 1);

  fInput = new tInputPage;
  fBootstraps = new tBootstrapsPage;
  fSeqParameters = new tSequenceParametersPage;
  fMatrixParameters = new tMatrixParametersPage;
  fLog = new tLogPage;
  fPageOrder = {{fInput, QStringLiteral("Input")},
                {fBootstraps, QStringLiteral("Bootstraps")},
                {fSeqParameters, QStringLiteral("Parameters")},
                {fMatrixParameters, QStringLiteral("Parameters")},
                {fLog, QStringLiteral("Log")}};
  for (const auto& [page, title] : fPageOrder) pcPages->addTab(page, title);

  // ---- Button strip, anchored right
  auto* buttons = new QWidget;
  buttons->setFixedHeight(41);
  auto* hb = new QHBoxLayout(buttons);
  hb->setContentsMargins(6, 6, 6, 6);
  hb->addStretch();
  btOK = Named(new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton),
                               QStringLiteral("Compute")),
               "btOK");
  btOK->setToolTip(QStringLiteral("May the Force be with you"));
  btOK->setDefault(true);
  btCancel = Named(new QPushButton(QStringLiteral("Cancel")), "btCancel");
  btCancel->setToolTip(QStringLiteral("Interrupt a running computation"));
  btHelp = Named(new QPushButton(QStringLiteral("Help")), "btHelp");
  hb->addWidget(btOK);
  hb->addWidget(btCancel);
  hb->addWidget(btHelp);
  outer->addWidget(buttons);

  // ---- Status strip
  auto* status = new QWidget;
  status->setFixedHeight(24);
  auto* hs = new QHBoxLayout(status);
  hs->setContentsMargins(2, 2, 2, 2);
  lbTask = Named(new QLabel(QStringLiteral("Task :")), "lbTask");
  lbTask->setFixedWidth(120);
  lbTask->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbTask->setToolTip(QStringLiteral("Running task"));
  pbTache = Named(new QProgressBar, "pbTache");
  pbTache->setRange(0, 100);
  pbTache->setValue(0);
  pbTache->setToolTip(QStringLiteral("Progression of the analysis. Keep cool man !"));
  pbTache->setAccessibleName(QStringLiteral("Progress"));
  hs->addWidget(lbTask);
  hs->addWidget(pbTache, 1);
  outer->addWidget(status);

  // How the last run ended, and the corridor map it wrote offered at once.
  lbRunEnd = Named(new tElidedLabel, "lbRunEnd");
  lbRunEnd->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lbRunEnd->setAccessibleName(QStringLiteral("Last run"));
  btViewMap = Named(new QPushButton(QStringLiteral("View map")), "btViewMap");
  btViewMap->setToolTip(QStringLiteral("Show the corridor map the run has written"));
  btViewMap->hide();
  statusBar()->setSizeGripEnabled(false);
  statusBar()->addWidget(lbRunEnd, 1);
  statusBar()->addPermanentWidget(btViewMap);

  setCentralWidget(central);
}

void TdlgConnectivity::BuildMenus() {
  QMenu* program = menuBar()->addMenu(QStringLiteral("&Program"));
  program->setToolTipsVisible(true);
  Openecomaplist1 = program->addAction(QStringLiteral("&Open eco. map list..."));
  Saveecomapslist1 = program->addAction(QStringLiteral("&Save eco. map list..."));
  OpenSettings1 = program->addAction(QStringLiteral("Open se&ttings..."));
  OpenSettings1->setToolTip(QStringLiteral("Apply the settings and maps of a settings file"));
  SaveSettings1 = program->addAction(QStringLiteral("Save settings &as..."));
  SaveSettings1->setToolTip(
      QStringLiteral("Write every setting and the maps to a settings file, for a named study"));
  Batchcommand1 = program->addAction(QStringLiteral("&Batch command..."));
  Batchcommand1->setToolTip(
      QStringLiteral("Display the batch command corresponding to the current settings"));
  program->addSeparator();
  Exit1 = program->addAction(QStringLiteral("E&xit"));
  QMenu* help = menuBar()->addMenu(QStringLiteral("?"));
  Help1 = help->addAction(QStringLiteral("&Help"));
  Help1->setShortcut(QKeySequence(Qt::Key_F1));
  About1 = help->addAction(QStringLiteral("&About..."));
  Openecomaplist1->setObjectName(QStringLiteral("Openecomaplist1"));
  Saveecomapslist1->setObjectName(QStringLiteral("Saveecomapslist1"));
  Batchcommand1->setObjectName(QStringLiteral("Batchcommand1"));
  Exit1->setObjectName(QStringLiteral("Exit1"));
  Help1->setObjectName(QStringLiteral("Help1"));
  About1->setObjectName(QStringLiteral("About1"));
  OpenSettings1->setObjectName(QStringLiteral("OpenSettings1"));
  SaveSettings1->setObjectName(QStringLiteral("SaveSettings1"));
}

void TdlgConnectivity::Connect() {
  connect(btOK, &QPushButton::clicked, this, &TdlgConnectivity::btOKClick);
  connect(btCancel, &QPushButton::clicked, this, &TdlgConnectivity::btCancelClick);
  connect(btHelp, &QPushButton::clicked, this, &TdlgConnectivity::btHelpClick);
  connect(fInput, &tInputPage::RulesInputChanged, this, &TdlgConnectivity::UpdateControls);
  connect(fMatrixParameters, &tMatrixParametersPage::RulesInputChanged, this,
          &TdlgConnectivity::UpdateControls);
  connect(fInput, &tInputPage::LoadBinaryRequested, this, &TdlgConnectivity::btVarBinaryClick);
  connect(fInput, &tInputPage::LoadQuantitativeRequested, this, &TdlgConnectivity::btVarQuantClick);
  connect(fInput, &tInputPage::LoadTopographyRequested, this, &TdlgConnectivity::btVarTopoClick);
  connect(fInput, &tInputPage::AddBinaryRequested, this, &TdlgConnectivity::btAddBinaryClick);
  connect(fInput, &tInputPage::AddQuantitativeRequested, this, &TdlgConnectivity::btAddQuantClick);
  connect(fInput, &tInputPage::BrowseDataRequested, this, &TdlgConnectivity::btBrowseDataClick);
  connect(fInput, &tInputPage::ViewDataRequested, this, &TdlgConnectivity::btViewDataClick);
  connect(fInput, &tInputPage::BrowseFrictionRequested, this,
          &TdlgConnectivity::btBrowseFirstClick);
  connect(fInput, &tInputPage::MapMenuRequested, this, &TdlgConnectivity::MapContextMenu);
  connect(fBootstraps, &tBootstrapsPage::BootstrapRequested, this,
          &TdlgConnectivity::btBootstrapClick);
  // One cell rule, offered on both Parameters pages.
  connect(fMatrixParameters, &tMatrixParametersPage::CellRuleChanged, fSeqParameters,
          &tSequenceParametersPage::SetCellRule);
  connect(fSeqParameters, &tSequenceParametersPage::CellRuleChanged, fMatrixParameters,
          &tMatrixParametersPage::SetCellRule);
  connect(Openecomaplist1, &QAction::triggered, this, &TdlgConnectivity::Openecomaplist1Click);
  connect(Saveecomapslist1, &QAction::triggered, this, &TdlgConnectivity::Saveecomapslist1Click);
  connect(Batchcommand1, &QAction::triggered, this, &TdlgConnectivity::Batchcommand1Click);
  connect(OpenSettings1, &QAction::triggered, this, &TdlgConnectivity::OpenSettingsClick);
  connect(SaveSettings1, &QAction::triggered, this, &TdlgConnectivity::SaveSettingsAsClick);
  connect(Exit1, &QAction::triggered, this, &TdlgConnectivity::Exit1Click);
  connect(Help1, &QAction::triggered, this, &TdlgConnectivity::btHelpClick);
  connect(About1, &QAction::triggered, this, &TdlgConnectivity::About1Click);

  connect(fRun.get(), &tRunController::LogLine, this, &TdlgConnectivity::AppendLog);
  connect(fRun.get(), &tRunController::TaskLabel, lbTask, &QLabel::setText);
  connect(fRun.get(), &tRunController::Progress, pbTache, &QProgressBar::setValue);
  connect(fRun.get(), &tRunController::Items, this, &TdlgConnectivity::RunItems);
  connect(btViewMap, &QPushButton::clicked, this, [this] {
    if (fRun->Running() || fLastCorridorMap.isEmpty()) return;
    Guarded([&] { ShowMap(fLastCorridorMap, true); });
  });
  connect(fRun.get(), &tRunController::Message, this, &TdlgConnectivity::ShowRunMessage,
          Qt::BlockingQueuedConnection);
  connect(fRun.get(), &tRunController::Finished, this, &TdlgConnectivity::RunEndedSlot);
}

// ---------------------------------------------------------------------------
// Settings

TDataStructure TdlgConnectivity::SelectedDataStructure() const { return fInput->DataStructure(); }

TAnalysisSettings TdlgConnectivity::ReadSettings() const {
  TAnalysisSettings s;
  fInput->ReadSettings(s);
  fMatrixParameters->ReadSettings(s);
  fSeqParameters->ReadSettings(s);
  fBootstraps->ReadSettings(s);
  s.NameOnCommandLine = fNameOnCommandLine;
  return s;
}

void TdlgConnectivity::WriteSettings(const TAnalysisSettings& s) {
  fInput->WriteSettings(s);
  fMatrixParameters->WriteSettings(s);
  fSeqParameters->WriteSettings(s);
  fBootstraps->WriteSettings(s);
  fNameOnCommandLine = s.NameOnCommandLine;
  UpdateControls();
}

bool TdlgConnectivity::Running() const { return fRun->Running(); }

void TdlgConnectivity::WaitForRun() { fRun->WaitForEnd(); }

void TdlgConnectivity::UpdateControls() {
  tWindowInputs in;
  in.Running = fRun->Running();
  in.CancelPending = fRun->CancelPending();
  in.MapCount = fMaps.MapCount();
  in.HasQuantitativeMaps = !fMaps.QuantitativeMaps.empty();
  fInput->ReadInputs(in);
  fMatrixParameters->ReadInputs(in);
  const tWindowView v = ComputeWindowView(in);

  // How the last run ended stays shown until the next one starts.
  if (!in.Running && lbRunEnd->text().isEmpty()) {
    lbTask->setText(QStringLiteral("Ready"));
    pbTache->setValue(0);
  }
  btOK->setEnabled(v.ComputeEnabled);
  btOK->setToolTip(v.ComputeMissing.empty() ? QStringLiteral("May the Force be with you")
                                            : Q(v.ComputeMissing));
  btCancel->setEnabled(v.CancelEnabled);
  ShowPage(fMatrixParameters, v.MatrixPagesVisible);
  ShowPage(fSeqParameters, v.SequencePagesVisible);
  ShowPage(fBootstraps, v.SequencePagesVisible);
  fInput->ApplyView(v);
  fMatrixParameters->ApplyView(v);
  fBootstraps->ApplyView(v);
  // The settings' groups as a whole, so that each control keeps its own
  // state for the end of the run; the pages still scroll.
  for (QWidget* page : {static_cast<QWidget*>(fInput), static_cast<QWidget*>(fMatrixParameters),
                        static_cast<QWidget*>(fSeqParameters), static_cast<QWidget*>(fBootstraps)})
    for (QGroupBox* group : page->findChildren<QGroupBox*>()) group->setEnabled(v.SettingsEnabled);
  Openecomaplist1->setEnabled(v.ChoicesEnabled);
  Saveecomapslist1->setEnabled(v.ChoicesEnabled);
  OpenSettings1->setEnabled(v.ChoicesEnabled);
  SaveSettings1->setEnabled(v.ChoicesEnabled);
  Batchcommand1->setEnabled(v.ChoicesEnabled && v.BatchCommandEnabled);
  Batchcommand1->setToolTip(
      v.BatchCommandMissing.empty()
          ? QStringLiteral("Display the batch command corresponding to the current settings")
          : Q(v.BatchCommandMissing));
}

void TdlgConnectivity::ShowPage(QWidget* page, bool shown) {
  const int at = pcPages->indexOf(page);
  if (shown == (at >= 0)) return;
  if (!shown) {
    pcPages->removeTab(at);
    return;
  }
  int place = 0;
  for (const auto& [other, title] : fPageOrder) {
    if (other == page) {
      pcPages->insertTab(place, page, title);
      return;
    }
    if (pcPages->indexOf(other) >= 0) ++place;
  }
}

// ---------------------------------------------------------------------------
// Errors

QString TdlgConnectivity::CaughtError(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return Q(e.what());
  }
  return {};
}

void TdlgConnectivity::ShowError(const QString& message) {
  if (!message.isEmpty()) ShowErrorBox(message);
}

bool TdlgConnectivity::Guarded(const std::function<void()>& action) {
  const QString error = CaughtError(action);
  ShowError(error);
  return error.isEmpty();
}

// ---------------------------------------------------------------------------
// Handlers

void TdlgConnectivity::edOutputDblClick() { fInput->SetDefaultProjectName(); }

void TdlgConnectivity::keyPressEvent(QKeyEvent* e) {
  // Enter runs the default button, Escape the cancel button.
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
      e->modifiers() == Qt::NoModifier) {
    if (btOK->isEnabled()) btOKClick();
    return;
  }
  if (e->key() == Qt::Key_Escape) {
    btCancelClick();
    return;
  }
  TCustomGeodrellDialog::keyPressEvent(e);
}

// ---------------------------------------------------------------------------
// Maps, data and map lists

void TdlgConnectivity::FillMapLists() {
  // Each map by its name, with the file it came from as its tooltip (a
  // .tif and a .rst of one name look alike otherwise).
  const auto names = [](const std::vector<std::unique_ptr<tLiveRaster>>& maps) {
    QList<QPair<QString, QString>> out;
    for (const auto& m : maps) out.append({Q(m->MapName()), Q(MapFile(*m))});
    return out;
  };
  fInput->ShowMapNames(names(fMaps.BinaryMaps), names(fMaps.QuantitativeMaps),
                       fMaps.TopographyMap ? Q(fMaps.TopographyMap->MapName()) : QString());
}

void TdlgConnectivity::LoadMaps(bool binary, const QStringList& names, bool add) {
  if (names.isEmpty() || fRun->Running()) return;
  std::vector<std::string> list;
  for (const QString& n : names) list.push_back(Std(n));
  QApplication::setOverrideCursor(Qt::WaitCursor);
  tWindowReporter reporter(*this);
  auto& role = binary ? fMaps.BinaryMaps : fMaps.QuantitativeMaps;
  const std::size_t before = role.size();
  // A list is only replaced by maps that loaded: the old ones wait aside, and
  // come back when the load fails or refuses every map.
  std::vector<std::unique_ptr<tLiveRaster>> previous;
  fMaps.AllMaps.clear();
  if (!add) previous.swap(role);
  bool loaded = false;
  const QString error = CaughtError([&] {
    if (add)
      binary ? fMaps.AddBinaryMaps(list, reporter) : fMaps.AddQuantitativeMaps(list, reporter);
    else
      binary ? fMaps.LoadBinaryMaps(list, reporter) : fMaps.LoadQuantitativeMaps(list, reporter);
    loaded = add ? role.size() > before : !role.empty();
  });
  if (!add && !loaded) role = std::move(previous);
  FillMapLists();
  if (loaded) edOutputDblClick();
  QApplication::restoreOverrideCursor();
  UpdateControls();
  ShowError(error);
}

void TdlgConnectivity::btVarBinaryClick() {
  if (fRun->Running()) return;
  LoadMaps(true, PickFiles(tFileDialog::OpenImage));
}

void TdlgConnectivity::btVarQuantClick() {
  if (fRun->Running()) return;
  LoadMaps(false, PickFiles(tFileDialog::OpenImage));
}

void TdlgConnectivity::btAddBinaryClick() {
  if (fRun->Running()) return;
  LoadMaps(true, PickFiles(tFileDialog::OpenImage), true);
}

void TdlgConnectivity::btAddQuantClick() {
  if (fRun->Running()) return;
  LoadMaps(false, PickFiles(tFileDialog::OpenImage), true);
}

void TdlgConnectivity::btVarTopoClick() {
  if (fRun->Running()) return;
  const QStringList names = PickFiles(tFileDialog::OpenImage);
  if (names.isEmpty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  tWindowReporter reporter(*this);
  bool loaded = false;
  const QString error =
      CaughtError([&] { loaded = fMaps.LoadTopographyMap(Std(names.first()), reporter); });
  FillMapLists();
  if (loaded) edOutputDblClick();
  QApplication::restoreOverrideCursor();
  UpdateControls();
  ShowError(error);
}

void TdlgConnectivity::btBrowseFirstClick() {
  if (fRun->Running()) return;
  fMaps.BuildMapList();
  const QStringList names = PickFiles(tFileDialog::OpenImage);
  if (names.isEmpty()) return;
  tWindowReporter reporter(*this);
  Guarded([&] {
    if (fMaps.CheckFrictionMap(Std(names.first()), reporter)) fInput->SetFrictionMap(names.first());
  });
  UpdateControls();
}

void TdlgConnectivity::btBrowseDataClick() {
  if (fRun->Running()) return;
  const QStringList names = PickFiles(tFileDialog::OpenMatrix);
  if (names.isEmpty()) return;
  fInput->SetDataFile(names.first());
  QString error;
  if (SelectedDataStructure() == dsLocationSequence) {
    fSequenceFile = names.first();
    error = CaughtError([&] { ReadLocationSequence(Std(names.first()), fSequence); });
  }
  UpdateControls();
  ShowError(error);
}

bool TdlgConnectivity::SequenceMatchesDataFile() {
  // A file chosen while the window was set to a population matrix was not
  // read as a sequence: the run must not analyse the previous file's
  // locations under the new file's name.
  if (fSequenceFile == fInput->DataFile()) return true;
  fSequenceFile = fInput->DataFile();
  return Guarded([&] { ReadLocationSequence(Std(fSequenceFile), fSequence); });
}

void TdlgConnectivity::btViewDataClick() {
  if (fInput->DataFile().isEmpty()) return;
  if (SelectedDataStructure() == dsLocationSequence) {
    if (fSequence.LocationsLoaded) fViews.emplace_back(ShowTracksView(fSequence.Locations));
    return;
  }
  // The run echoes the data to the log; viewing it does not, so that the
  // log holds it once per run.
  TAnalysisSettings s = ReadSettings();
  s.EchoMatrices = false;
  s.EchoSamplePoints = false;
  tReporter silent;
  if (!Guarded([&] { ReadPopulationFile(s, fPopulation, silent); })) return;
  if (fMaps.BinaryMaps.empty())
    AppendLog(Q(s.DataFile + ": " + std::to_string(fPopulation.SamplePoints.size()) +
                " sample points read; load a binary map to see them on the patch map"));
  if (!fMaps.BinaryMaps.empty()) fViews.emplace_back(ShowPatchMapView(fPopulation.SamplePoints));
}

void TdlgConnectivity::Saveecomapslist1Click() {
  if (fRun->Running()) return;
  const QStringList names = PickFiles(tFileDialog::SaveList);
  if (names.isEmpty()) return;
  fLastSaveListName = names.first();
  Guarded([&] { fMaps.SaveMapList(Std(fLastSaveListName)); });
}

void TdlgConnectivity::Openecomaplist1Click() {
  if (fRun->Running()) return;
  const QStringList names = PickFiles(tFileDialog::OpenList);
  if (names.isEmpty()) return;
  std::vector<std::string> files;
  if (!Guarded([&] { files = tMapSet::ReadMapList(Std(names.first())); })) return;
  QStringList list;
  for (const std::string& n : files) list << Q(n);
  LoadMaps(true, list);
}

void TdlgConnectivity::Batchcommand1Click() {
  Saveecomapslist1Click();
  TAnalysisSettings s = ReadSettings();
  // "none" at position 5 gives the fixed-width default; any other name must be
  // written out or the line would not reproduce the reports' names.
  s.NameOnCommandLine = s.NameOnCommandLine ||
                        s.ProjectName != DefaultProjectName(caFixedWidthStrip);
  for (const std::string& line : BatchCommandLogLines(
           s, Std(QCoreApplication::applicationFilePath()), Std(fLastSaveListName)))
    AppendLog(Q(line));
}

// ---------------------------------------------------------------------------
// Runs

bool TdlgConnectivity::StartRun(tAnalysisKind kind, TAnalysisSettings settings,
                                const QString& workDir, const std::string& logFile, bool journal,
                                bool resume) {
  tRunInput in;
  in.LogFile = logFile;
  // A batch run's map list is one of its inputs.
  if (!logFile.empty() && fBatchJob) in.MapListFile = fBatchJob->MapListFile;
  in.Journal = journal;
  in.Resume = resume;
  in.Kind = kind;
  in.Settings = std::move(settings);
  in.WorkDir = Std(workDir);
  // The reports do not depend on the thread count; the bootstrap's walks
  // continue one generator, so it stays on one thread.
  in.Threads = kind == tAnalysisKind::Bootstrap ? 1 : 0;
  if (kind != tAnalysisKind::PopulationMatrix && !SequenceMatchesDataFile()) return false;
  fMaps.BuildMapList();
  fLastCorridorMap.clear();
  if (!fRun->Start(std::move(in))) return false;
  fRunClock.start();
  fTimeLeft = {};
  lbTask->setText(QStringLiteral("Ready"));
  pbTache->setValue(0);
  pbTache->setFormat(QStringLiteral("%p%"));
  lbRunEnd->clear();
  lbRunEnd->setToolTip({});
  btViewMap->hide();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  UpdateControls();
  return true;
}

void TdlgConnectivity::StartAskedRun(tAnalysisKind kind) {
  if (fRun->Running()) return;
  TAnalysisSettings s = ReadSettings();
  const QString workDir = WorkDir();
  const bool bootstrap = kind == tAnalysisKind::Bootstrap;
  QString existing;
  for (const std::string& report : PlannedReports(s, bootstrap, Std(workDir))) {
    std::error_code ec;
    if (std::filesystem::exists(report, ec)) {
      existing = Q(report);
      break;
    }
  }
  bool resume = false;
  if (!existing.isEmpty()) {
    // The run's own checks decide whether the report can be continued.
    if (ReadsSequence(kind) && !SequenceMatchesDataFile()) return;
    fMaps.BuildMapList();
    const QString refusal = Q(ResumeRefusal(kind, s, fMaps, Std(workDir), fSequence));
    switch (AskReplace(existing, refusal)) {
    case tReplaceAnswer::Cancel: return;
    case tReplaceAnswer::Resume:
      if (!refusal.isEmpty()) return;
      resume = true;
      break;
    case tReplaceAnswer::Replace: break;
    }
  }
  // Interrupted matrix and sequence runs can be resumed, as on the command line.
  StartRun(kind, std::move(s), workDir, {}, !bootstrap, resume);
}

void TdlgConnectivity::btOKClick() {
  StartAskedRun(SelectedDataStructure() == dsLocationSequence ? tAnalysisKind::Sequence
                                                              : tAnalysisKind::PopulationMatrix);
}

void TdlgConnectivity::btBootstrapClick() { StartAskedRun(tAnalysisKind::Bootstrap); }

void TdlgConnectivity::RunItems(quint64 done, quint64 total) {
  if (!fRun->Running()) return;
  fTimeLeft.Note(done, total, static_cast<double>(fRunClock.elapsed()) / 1000.0);
  QString text = Q(ItemsText(fRun->LastInput().Kind, done, total));
  if (const std::optional<double> left = fTimeLeft.SecondsLeft())
    text += QStringLiteral(" \u2014 ") + Q(TimeLeftText(*left));
  pbTache->setFormat(text);
}

QString TdlgConnectivity::RunEndText() const { return lbRunEnd->text(); }

void TdlgConnectivity::btCancelClick() {
  if (fRun->RequestCancel()) btCancel->setEnabled(false);
}

void TdlgConnectivity::ShowRunMessage(bool error, const QString& text) {
  // While the window closes, boxes of the run being cancelled are answered.
  if (fClosing) return;
  if (error)
    ShowError(text);
  else
    ShowWarningBox(text);
}

void TdlgConnectivity::RunEndedSlot() {
  QApplication::restoreOverrideCursor();
  const tRunEnd& end = fRun->LastEnd();
  if (!end.CorridorMap.empty()) fLastCorridorMap = Q(end.CorridorMap);
  // Not "Ready 0%" as if nothing had happened: how the run ended, and what it left.
  tRunSummary summary;
  summary.Kind = fRun->LastInput().Kind;
  summary.Outcome = end.Outcome;
  summary.ItemsKnown = end.ItemsKnown;
  summary.Done = end.Done;
  summary.Total = end.Total;
  summary.Kept = end.Kept;
  summary.Seconds = end.Seconds;
  if (!end.Report.empty()) summary.Report = std::filesystem::path(end.Report).filename().string();
  summary.Rows = end.Rows;
  summary.Error = end.Error;
  const QString line = Q(RunEndLine(summary));
  lbRunEnd->setText(line);
  lbRunEnd->setToolTip(line);
  lbTask->setText(end.Outcome == tRunOutcome::Completed   ? QStringLiteral("Done")
                  : end.Outcome == tRunOutcome::Cancelled ? QStringLiteral("Cancelled")
                                                          : QStringLiteral("Failed"));
  pbTache->setValue(end.Outcome == tRunOutcome::Completed ? 100
                    : end.Total > 0 ? static_cast<int>(end.Done * 100 / end.Total)
                                    : 0);
  pbTache->setFormat(end.ItemsKnown ? Q(ItemsText(summary.Kind, end.Done, end.Total))
                                    : QStringLiteral("%p%"));
  btViewMap->setVisible(!end.CorridorMap.empty());
  // A batch run's saved log stays as it was.
  if (fBatch.Step() != tBatchStep::Run) AppendLog(line);
  UpdateControls();
  if (end.Outcome == tRunOutcome::Failed && !fClosing) ShowError(Q(end.Error));
  if (fBatch.Step() == tBatchStep::Run) {
    // A cancelled batch run still saves its log.
    fBatch.Advance(end.Outcome != tRunOutcome::Failed);
    StepBatch();
    if (fBatch.Step() == tBatchStep::Quit) {
      emit RunEnded();
      QuitProgram();
      return;
    }
  }
  emit RunEnded();
}

std::vector<std::string> TdlgConnectivity::ProgramArguments() const {
  std::vector<std::string> args{Std(QCoreApplication::applicationFilePath())};
  for (const QString& a : fArgs) args.push_back(Std(a));
  return args;
}

void TdlgConnectivity::FormActivate() {
  if (fBatch.Started()) return;
  if (fBatch.Begin(IsBatchCommandLine(ProgramArguments()))) StepBatch();
}

void TdlgConnectivity::StepBatch() {
  const std::vector<std::string> args = ProgramArguments();
  while (fBatch.Active()) {
    switch (fBatch.Step()) {
    case tBatchStep::Prepare: {
      bool ok = Guarded([&] { fBatchJob = PrepareBatch(args); });
      // A batch line without its required positions is an error like any
      // other batch error: the window stays for interactive use.
      if (ok && !fBatchJob) {
        ShowError(Q(MissingBatchPositionsMessage(args)));
        ok = false;
      }
      fBatch.Advance(ok);
      break;
    }
    case tBatchStep::LoadMaps: {
      // Refused maps have had their boxes; the run goes on with the others.
      QStringList names;
      for (const std::string& n : fBatchJob->MapFiles) names << Q(n);
      LoadMaps(true, names);
      fBatch.Advance(true);
      break;
    }
    case tBatchStep::Apply: {
      fBatchSettings = ReadSettings();
      fBatchSettings.DataStructure = dsPopulationMatrix;
      const bool ok = Guarded([&] { ApplyBatch(*fBatchJob, args, fBatchSettings); });
      if (ok) WriteSettings(fBatchSettings);
      fBatch.Advance(ok);
      break;
    }
    case tBatchStep::Run:
      // Goes on in RunEndedSlot once the run has ended.
      if (StartRun(tAnalysisKind::PopulationMatrix, fBatchSettings, Q(fBatchJob->WorkDir),
                   fBatchJob->LogFile))
        return;
      fBatch.Advance(false);
      break;
    case tBatchStep::SaveLog:
      fBatch.Advance(Guarded([&] { SaveLogLines(fBatchJob->LogFile, LogLines()); }));
      break;
    default: return;
    }
  }
}

// ---------------------------------------------------------------------------
// Log

void TdlgConnectivity::AppendLog(const QString& text) { fLog->Append(text); }

std::vector<std::string> TdlgConnectivity::LogLines() const { return fLog->Lines(); }

// ---------------------------------------------------------------------------
// Dialogs, boxes and secondary windows

QStringList TdlgConnectivity::AskFiles(tFileDialog which) {
  QFileDialog dlg(this);
  switch (which) {
  case tFileDialog::OpenImage:
    dlg.setWindowTitle(QStringLiteral("Select input maps"));
    // IDRISI maps first (the dialog opens on them), then the formats read through GDAL.
    dlg.setNameFilters(Q(QtFileFilter(AnyMapFileFilter())).split(QStringLiteral(";;")));
    dlg.setDefaultSuffix(Q(ImageExt()).remove(0, ImageExt().rfind('.') == 0 ? 1 : 0));
    dlg.setFileMode(QFileDialog::ExistingFiles);
    break;
  case tFileDialog::OpenMatrix:
    dlg.setWindowTitle(QStringLiteral("Select distance matrix file"));
    dlg.setNameFilters(
        Q(QtFileFilter("Text files (*.txt)|*.txt|Matrix files (*.mat)|*.mat|All files (*.*)|*.*"))
            .split(QStringLiteral(";;")));
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setSizeGripEnabled(true);
    break;
  case tFileDialog::OpenList:
  case tFileDialog::SaveList:
    dlg.setWindowTitle(which == tFileDialog::OpenList
                           ? QStringLiteral("Open ecogeographic map list")
                           : QStringLiteral("Save ecogeographic map list"));
    dlg.setNameFilters(Q(QtFileFilter("Text files (*.txt)|*.txt|All files (*.*)|*.*"))
                           .split(QStringLiteral(";;")));
    dlg.setDefaultSuffix(QStringLiteral("txt"));
    if (which == tFileDialog::SaveList) {
      dlg.setAcceptMode(QFileDialog::AcceptSave);
      dlg.setFileMode(QFileDialog::AnyFile);
    } else {
      dlg.setFileMode(QFileDialog::ExistingFile);
    }
    break;
  case tFileDialog::OpenSettings:
  case tFileDialog::SaveSettings:
    dlg.setWindowTitle(which == tFileDialog::OpenSettings ? QStringLiteral("Open settings")
                                                          : QStringLiteral("Save settings"));
    dlg.setNameFilters(Q(QtFileFilter("Settings files (*.ini)|*.ini|All files (*.*)|*.*"))
                           .split(QStringLiteral(";;")));
    dlg.setDefaultSuffix(QStringLiteral("ini"));
    dlg.setAcceptMode(which == tFileDialog::SaveSettings ? QFileDialog::AcceptSave
                                                         : QFileDialog::AcceptOpen);
    dlg.setFileMode(which == tFileDialog::SaveSettings ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    break;
  }
  if (const QString folder = LastFolder(which); !folder.isEmpty()) dlg.setDirectory(folder);
  if (dlg.exec() != QDialog::Accepted) return {};
  return dlg.selectedFiles();
}

void TdlgConnectivity::ShowErrorBox(const QString& message) {
  QMessageBox::critical(this, QStringLiteral("Stravex"), message, QMessageBox::Ok);
}

void TdlgConnectivity::ShowWarningBox(const QString& message) {
  QMessageBox::information(this, QStringLiteral("Stravex"), message, QMessageBox::Ok);
}

TdlgConnectivity::tReplaceAnswer TdlgConnectivity::AskReplace(const QString& report,
                                                              const QString& resumeRefusal) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Stravex"),
                  QStringLiteral("The report %1 exists already.").arg(QFileInfo(report).fileName()),
                  QMessageBox::NoButton, this);
  box.setInformativeText(
      resumeRefusal.isEmpty()
          ? QStringLiteral("Replace it with a new run, or resume the run that wrote it: only the "
                           "rows it lacks are computed.")
          : QStringLiteral("Replace it with a new run? It cannot be resumed: ") + resumeRefusal);
  QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
  QPushButton* resume = resumeRefusal.isEmpty()
                            ? box.addButton(QStringLiteral("Resume"), QMessageBox::AcceptRole)
                            : nullptr;
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  box.setDefaultButton(resume ? resume : cancel);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == replace) return tReplaceAnswer::Replace;
  if (resume && box.clickedButton() == resume) return tReplaceAnswer::Resume;
  return tReplaceAnswer::Cancel;
}

void TdlgConnectivity::QuitProgram() { close(); }

void TdlgConnectivity::ShowMap(const QString& mapFile, bool corridor) {
  tMapViewInput view;
  view.MapFile = Std(mapFile);
  view.Corridor = corridor;
  view.Anchor = this;
  SamplePointsForMap(view);
  // The friction map of the settings underneath; any loaded map may replace it.
  const QString friction = Q(ReadSettings().FrictionMapFile);
  if (!friction.isEmpty()) {
    const std::string path = Std(QDir(WorkDir()).absoluteFilePath(friction));
    if (StripExtension(path) != StripExtension(Std(QFileInfo(mapFile).absoluteFilePath())))
      view.BackgroundFile = path;
  }
  for (const auto* maps : {&fMaps.BinaryMaps, &fMaps.QuantitativeMaps})
    for (const auto& m : *maps) view.BackgroundChoices.push_back(m->FileName);
  if (fMaps.TopographyMap) view.BackgroundChoices.push_back(fMaps.TopographyMap->FileName);
  fViews.emplace_back(ShowMapView(view));
}

void TdlgConnectivity::SamplePointsForMap(tMapViewInput& view) {
  if (SelectedDataStructure() == dsLocationSequence) {
    // An individual's ID at its first location.
    if (fSequence.LocationsLoaded)
      for (std::size_t i = 0; i < fSequence.Locations.size(); ++i) {
        const tLocation& l = fSequence.Locations[i];
        view.Points.emplace_back(l.X, l.Y);
        const bool first = i == 0 || fSequence.Locations[i - 1].ID != l.ID;
        view.Labels.push_back(first ? std::to_string(l.ID) : std::string());
      }
    return;
  }
  if (fInput->DataFile().isEmpty()) return;
  TAnalysisSettings s = ReadSettings();
  s.EchoMatrices = false;
  s.EchoSamplePoints = false;
  tReporter silent;
  tPopulationData data;
  // The map alone is still worth showing: no box.
  if (!CaughtError([&] { ReadPopulationFile(s, data, silent); }).isEmpty()) return;
  // Points are numbered in file order, as the reports number them.
  for (const auto& p : data.SamplePoints) {
    view.Points.emplace_back(p.x, p.y);
    view.Labels.push_back(std::to_string(view.Points.size()));
  }
}

QString TdlgConnectivity::MapFileOf(QWidget* source) const {
  const auto pick = [](int i, const std::vector<std::unique_ptr<tLiveRaster>>& maps) {
    return i >= 0 && i < static_cast<int>(maps.size()) ? Q(maps[static_cast<size_t>(i)]->FileName)
                                                       : QString();
  };
  switch (fInput->MapBoxOf(source)) {
  case tMapBox::Binary: return pick(fInput->BinaryIndex(), fMaps.BinaryMaps);
  case tMapBox::Quantitative: return pick(fInput->QuantitativeIndex(), fMaps.QuantitativeMaps);
  case tMapBox::Topography:
    return fMaps.TopographyMap ? Q(fMaps.TopographyMap->FileName) : QString();
  // The corridor map is read only once its run has ended.
  case tMapBox::Corridor: return fRun->Running() ? QString() : fLastCorridorMap;
  case tMapBox::None: break;
  }
  return {};
}

void TdlgConnectivity::ViewMap(QWidget* source) {
  const QString file = MapFileOf(source);
  if (file.isEmpty()) return;
  Guarded([&] { ShowMap(file, fInput->MapBoxOf(source) == tMapBox::Corridor); });
}

void TdlgConnectivity::MapContextMenu(QWidget* source, const QPoint& at) {
  std::unique_ptr<QMenu> menu;
  if (auto* edit = qobject_cast<QLineEdit*>(source))
    menu.reset(edit->createStandardContextMenu());
  else
    menu = std::make_unique<QMenu>();
  if (!menu->isEmpty()) menu->addSeparator();
  QAction* view = menu->addAction(QStringLiteral("View map"));
  view->setEnabled(!MapFileOf(source).isEmpty());
  // The lists can lose one map or all of theirs without a new choice of files.
  QAction* remove = nullptr;
  QAction* clear = nullptr;
  const tMapBox box = fInput->MapBoxOf(source);
  QAction* addMaps = nullptr;
  if (box == tMapBox::Binary || box == tMapBox::Quantitative) {
    addMaps = menu->addAction(QStringLiteral("Add maps..."));
    addMaps->setEnabled(!fRun->Running());
  }
  if (box == tMapBox::Binary || box == tMapBox::Quantitative || box == tMapBox::Topography) {
    remove = menu->addAction(QStringLiteral("Remove this map"));
    remove->setEnabled(!fRun->Running() && !MapFileOf(source).isEmpty());
    if (box != tMapBox::Topography) {
      clear = menu->addAction(QStringLiteral("Clear the list"));
      clear->setEnabled(!fRun->Running() && !MapFileOf(source).isEmpty());
    }
  }
  QAction* chosen = menu->exec(source->mapToGlobal(at));
  if (chosen == view) ViewMap(source);
  if (chosen && chosen == addMaps) box == tMapBox::Binary ? btAddBinaryClick() : btAddQuantClick();
  if (chosen && (chosen == remove || chosen == clear)) RemoveMaps(box, chosen == clear);
}

void TdlgConnectivity::RemoveMaps(tMapBox box, bool all) {
  if (fRun->Running()) return;
  const auto drop = [all](std::vector<std::unique_ptr<tLiveRaster>>& maps, int index) {
    if (all)
      maps.clear();
    else if (index >= 0 && index < static_cast<int>(maps.size()))
      maps.erase(maps.begin() + index);
  };
  if (box == tMapBox::Binary) drop(fMaps.BinaryMaps, fInput->BinaryIndex());
  if (box == tMapBox::Quantitative) drop(fMaps.QuantitativeMaps, fInput->QuantitativeIndex());
  if (box == tMapBox::Topography) fMaps.TopographyMap.reset();
  fMaps.BuildMapList();
  FillMapLists();
  UpdateControls();
}

TfHelp* TdlgConnectivity::HelpWindow() {
  if (!fHelp) {
    fOwnHelp = std::make_unique<TfHelp>();
    fHelp = fOwnHelp.get();
  }
  return fHelp;
}

TfAboutBox* TdlgConnectivity::AboutBox() {
  if (!fAbout) {
    fOwnAbout = std::make_unique<TfAboutBox>(this);
    fAbout = fOwnAbout.get();
  }
  return fAbout;
}

// Not modal: the main window stays usable.
void TdlgConnectivity::btHelpClick() {
  TfHelp* help = HelpWindow();
  help->show();
  help->raise();
  help->activateWindow();
}

void TdlgConnectivity::About1Click() { AboutBox()->exec(); }

void TdlgConnectivity::Exit1Click() { close(); }

// ---------------------------------------------------------------------------
// Window events

void TdlgConnectivity::showEvent(QShowEvent* e) {
  TCustomGeodrellDialog::showEvent(e);
  // What the last session left that could not be restored, once the window is up.
  if (!fRestoreProblems.isEmpty())
    QMetaObject::invokeMethod(
        this, [this] { ShowSettingsProblems(std::exchange(fRestoreProblems, {})); },
        Qt::QueuedConnection);
  // Batch mode starts once the window is up and the loop runs.
  QMetaObject::invokeMethod(this, &TdlgConnectivity::FormActivate, Qt::QueuedConnection);
}

void TdlgConnectivity::changeEvent(QEvent* e) {
  TCustomGeodrellDialog::changeEvent(e);
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TdlgConnectivity::closeEvent(QCloseEvent* e) {
  if (fRun->Running()) {
    fClosing = true;
    fRun->RequestCancel();
    fRun->WaitForEnd();
  }
  SaveSession();
  TCustomGeodrellDialog::closeEvent(e);
  if (e->isAccepted()) emit Closed();
  fClosing = false;
}

} // namespace stravex::gui
