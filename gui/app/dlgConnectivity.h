#pragma once
// The settings window: its pages (Input, Bootstraps, the two Parameters
// pages, Log), the Compute/Cancel/Help buttons, the task label and progress
// bar, and the menus. A view over the core: the maps, the location sequence
// and the analyses' generator live here, the work is done by the core on a
// worker thread (tRunController); what is enabled is decided by
// ComputeWindowView.
#include "CoreRun.h"
#include "CustomGeodrellDialogs.h"
#include "InputPage.h"
#include "StudySettings.h"
#include "WindowState.h"
#include "analysis/BatchRun.h"
#include "analysis/PopulationFile.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QWidget;

namespace stravex::gui {

class TfHelp;
class TfAboutBox;
class tRunController;
struct tMapViewInput;
class tInputPage;
class tBootstrapsPage;
class tSequenceParametersPage;
class tMatrixParametersPage;
class tLogPage;

class TdlgConnectivity : public TCustomGeodrellDialog {
  Q_OBJECT
public:
  // args: the program's arguments without the program itself.
  explicit TdlgConnectivity(const QStringList& args, QWidget* parent = nullptr);
  ~TdlgConnectivity() override;

  // The window's file dialogs.
  enum class tFileDialog { OpenImage, OpenMatrix, OpenList, SaveList, OpenSettings, SaveSettings };
  // What to do with the report a run would replace.
  enum class tReplaceAnswer { Replace, Resume, Cancel };

  TAnalysisSettings ReadSettings() const;
  // Puts a settings record into the controls (batch mode).
  void WriteSettings(const TAnalysisSettings& s);
  TDataStructure SelectedDataStructure() const;
  // The map files of the lists and the hidden check boxes.
  tWindowChoices ReadChoices() const;

  // Settings kept between sessions (not in batch mode, whose line sets
  // everything): restored when the window is made, saved when it closes.
  bool RemembersSettings() const { return fRemember; }
  void SaveSession();
  // Every setting and the map files to a named INI file; empty on success,
  // else the reason naming the file.
  QString SaveSettingsFile(const QString& file);
  // Applies a named INI file; what cannot be applied is named in one box,
  // the rest applies.
  void OpenSettingsFile(const QString& file);
  // The folder a file dialog opens in: where the last file of its kind was.
  QString LastFolder(tFileDialog which) const;
  // Applies the enabling rules to the controls.
  void UpdateControls();
  bool Running() const;
  // Waits for a running analysis to end while serving the window's events.
  void WaitForRun();
  // Text of the Log page as lines.
  std::vector<std::string> LogLines() const;
  void AppendLog(const QString& text);

  tMapSet& Maps() { return fMaps; }
  const tLocationSequence& Sequence() const { return fSequence; }
  tRandomGenerator& AnalysesRandom() { return fRandom; }
  bool BatchStarted() const { return fBatch.Started(); }
  // File of the last least-cost run's corridor map (empty when none).
  const QString& LastCorridorMap() const { return fLastCorridorMap; }
  // The end line of the last run, as the status line shows it (empty before any).
  QString RunEndText() const;

public slots:
  void btOKClick();
  void btCancelClick();
  void btHelpClick();
  // The project name the algorithm gives.
  void edOutputDblClick();
  void btVarBinaryClick();
  void btVarQuantClick();
  // Maps added to a list, which keeps its maps.
  void btAddBinaryClick();
  void btAddQuantClick();
  void SaveSettingsAsClick();
  void OpenSettingsClick();
  void btVarTopoClick();
  void btBrowseFirstClick();
  void btBrowseDataClick();
  void btViewDataClick();
  void btBootstrapClick();
  void Openecomaplist1Click();
  void Saveecomapslist1Click();
  void Batchcommand1Click();
  void Exit1Click();
  void About1Click();
  // Starts the batch mode once, when the command line is a batch line.
  void FormActivate();
  // "View map" of a map list, the topography box or the corridor map box.
  void ViewMap(QWidget* source);
  // "Remove this map" / "Clear the list" of a map box's context menu: the
  // shown map of the list (or every map of it) leaves the run's maps.
  void RemoveMaps(tMapBox box, bool all);

  // The help and about windows made at start-up (made on demand otherwise).
  void SetHelpWindow(TfHelp* help) { fHelp = help; }
  void SetAboutBox(TfAboutBox* about) { fAbout = about; }
  TfHelp* HelpWindow();
  TfAboutBox* AboutBox();

signals:
  // A run (analysis, bootstrap or batch) has ended and the window is idle.
  void RunEnded();
  // The window has closed: the program ends.
  void Closed();

protected:
  // Overridden by tests so that nothing waits for a person.
  virtual QStringList AskFiles(tFileDialog which);
  // The one place error boxes are shown.
  virtual void ShowErrorBox(const QString& message);
  virtual void ShowWarningBox(const QString& message);
  // Before a run replaces an existing report: Replace, Resume (offered only
  // when resumeRefusal is empty) or Cancel.
  virtual tReplaceAnswer AskReplace(const QString& report, const QString& resumeRefusal);
  // Ends the program (batch mode).
  virtual void QuitProgram();
  // The map window of one map file; corridor maps get the "Fire" palette.
  virtual void ShowMap(const QString& mapFile, bool corridor);
  // A failed save of the working folder at close is an error like the others.
  void ShowSaveError(const QString& message) override { ShowErrorBox(message); }

  void closeEvent(QCloseEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

private:
  void BuildPages();
  void BuildMenus();
  void Connect();
  // Runs from the window's thread with boxes shown directly.
  class tWindowReporter;
  // Runs action; the message of what it throws goes to the error box.
  // False when it threw.
  bool Guarded(const std::function<void()>& action);
  // The message of what action throws, empty when it does not; for callers
  // that tidy up before the box (ShowError).
  static QString CaughtError(const std::function<void()>& action);
  void ShowError(const QString& message);
  // A failed load, or one that accepts no map, leaves the list as it was.
  void LoadMaps(bool binary, const QStringList& names, bool add = false);
  // AskFiles, remembering the folder of the chosen files.
  QStringList PickFiles(tFileDialog which);
  void RestoreSession();
  // Maps, settings and hidden choices of a settings file (source names it in
  // the messages); problems are appended.
  void ApplyStudy(const TAnalysisSettings& s, const tWindowChoices& c, const QString& source,
                  QStringList& problems);
  // The messages of settings that could not be applied, in one warning box.
  void ShowSettingsProblems(const QStringList& problems);
  void FillMapLists();
  // logFile: the file a batch run saves the log to. False when no run started.
  bool StartRun(tAnalysisKind kind, TAnalysisSettings settings, const QString& workDir,
                const std::string& logFile = {}, bool journal = false, bool resume = false);
  // A run started from the window: a report it would replace is first
  // offered to be kept, replaced or resumed.
  void StartAskedRun(tAnalysisKind kind);
  void RunItems(quint64 done, quint64 total);
  void RunEndedSlot();
  // Goes through the batch steps until the run starts or the sequence ends.
  void StepBatch();
  std::vector<std::string> ProgramArguments() const;
  void ShowRunMessage(bool error, const QString& text);
  void MapContextMenu(QWidget* source, const QPoint& at);
  // The map behind a list or box ("View map"): file name, empty when none.
  QString MapFileOf(QWidget* source) const;
  // Reads the data file as the sequence when the sequence in memory came
  // from another file; false (after its error box) when that read fails.
  bool SequenceMatchesDataFile();
  // Sample points of the data file for the map window, with their labels
  // (none when unreadable).
  void SamplePointsForMap(tMapViewInput& view);
  // Puts a page in the tab bar, in its place, or takes it out: a page that
  // does not apply is removed, not only hidden, so screen readers skip it.
  void ShowPage(QWidget* page, bool shown);

  QTabWidget* pcPages = nullptr;
  tInputPage* fInput = nullptr;
  tBootstrapsPage* fBootstraps = nullptr;
  tSequenceParametersPage* fSeqParameters = nullptr;
  tMatrixParametersPage* fMatrixParameters = nullptr;
  tLogPage* fLog = nullptr;
  // Every page in tab order, with its title.
  std::vector<std::pair<QWidget*, QString>> fPageOrder;
  QLabel* lbTask = nullptr;
  QProgressBar* pbTache = nullptr;
  QLabel* lbRunEnd = nullptr;
  QPushButton* btViewMap = nullptr; // the corridor map a run has just written
  QElapsedTimer fRunClock;
  tTimeLeft fTimeLeft;
  QPushButton *btOK = nullptr, *btCancel = nullptr, *btHelp = nullptr;
  QAction *Openecomaplist1 = nullptr, *Saveecomapslist1 = nullptr, *Batchcommand1 = nullptr,
          *Exit1 = nullptr, *Help1 = nullptr, *About1 = nullptr, *OpenSettings1 = nullptr,
          *SaveSettings1 = nullptr;

  QStringList fArgs; // without the program
  tMapSet fMaps;
  tLocationSequence fSequence;
  QString fSequenceFile; // the file fSequence was last read from
  tPopulationData fPopulation;
  tRandomGenerator fRandom;
  std::unique_ptr<tRunController> fRun;
  tBatchSequence fBatch;
  std::optional<tBatchJob> fBatchJob;
  TAnalysisSettings fBatchSettings;
  bool fNameOnCommandLine = false;
  bool fClosing = false;
  bool fRemember = false;
  // What the last session's settings could not restore, shown at the first show.
  QStringList fRestoreProblems;
  // Last folder of each kind of file dialog ("Maps", "Data", "Lists", "Settings").
  std::map<QString, QString> fLastFolders;
  QString fLastSaveListName;
  QString fLastCorridorMap;
  TfHelp* fHelp = nullptr;
  TfAboutBox* fAbout = nullptr;
  std::unique_ptr<TfHelp> fOwnHelp;
  std::unique_ptr<TfAboutBox> fOwnAbout;
  // Chart and map windows opened from here; closed with the main window.
  std::vector<QPointer<QWidget>> fViews;
};

} // namespace stravex::gui
