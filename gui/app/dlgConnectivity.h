#pragma once
// The settings window: every parameter of an analysis on tabbed pages, the
// Compute/Cancel/Help buttons, the task label and progress bar, the Log page
// and the menus. A view over the core: the maps, the location sequence and
// the analyses' generator live here, the work is done by the core on a
// worker thread (tRunController).
#include "CoreRun.h"
#include "CustomGeodrellDialogs.h"
#include "analysis/PopulationFile.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QWidget;
class TfHelp;
class TfAboutBox;

namespace stravex::gui {
class tRunController;
}

class TdlgConnectivity : public TCustomGeodrellDialog {
  Q_OBJECT
public:
  // args: the program's arguments without the program itself.
  explicit TdlgConnectivity(const QStringList& args, QWidget* parent = nullptr);
  ~TdlgConnectivity() override;

  // The window's file dialogs.
  enum class tFileDialog { OpenImage, OpenMatrix, OpenList, SaveList };

  stravex::TAnalysisSettings ReadSettings() const;
  // Puts a settings record into the controls (batch mode).
  void WriteSettings(const stravex::TAnalysisSettings& s);
  stravex::TDataStructure SelectedDataStructure() const;
  void UpdateControls();
  bool Running() const;
  // Waits for a running analysis to end while serving the window's events.
  void WaitForRun();
  // Text of the Log page as lines.
  std::vector<std::string> LogLines() const;
  void AppendLog(const QString& text);

  stravex::tMapSet& Maps() { return fMaps; }
  const stravex::tLocationSequence& Sequence() const { return fSequence; }
  stravex::tRandomGenerator& AnalysesRandom() { return fRandom; }
  bool BatchStarted() const { return fBatchStarted; }
  // File of the last least-cost run's corridor map (empty when none).
  const QString& LastCorridorMap() const { return fLastCorridorMap; }

  // Controls, named as in the window's description.
  QTabWidget* pcPages;
  QWidget *tabInput, *tabSeqBootstraps, *tabSeqParameters, *tabParametersMatrix, *tabLog;
  QLabel* lbTask;
  QProgressBar* pbTache;
  QPushButton *btOK, *btCancel, *btHelp;
  QRadioButton *rbMatrix, *rbSequence;
  QComboBox *cbVarBinary, *cbVarQuant;
  QPushButton *btVarBinary, *btVarQuant, *btVarTopo;
  QLineEdit* edVarTopo;
  QLineEdit* edData;
  QPushButton *btBrowseData, *btViewData;
  QComboBox* cbDistance;
  QLabel* lblFirstFriction;
  QLineEdit* edFirstFriction;
  QPushButton* btBrowseFirst;
  QLabel* lblPath;
  QSpinBox* sePathWidth;
  QLabel* lblSeed;
  QSpinBox* seLeastCostSeed;
  QLabel* lblMinimise;
  QComboBox* cbMinimise;
  // How points become cells; one on each Parameters page, kept in step.
  QComboBox* cbCellRule;
  QComboBox* cbSeqCellRule;
  QLabel* lblCorridorMap;
  QLineEdit* edCorridorMap;
  QLabel *lblWFriction, *lblWLength;
  QLineEdit *edWFriction, *edWLength;
  QCheckBox* ckOneMapPerPair;
  QLineEdit* edOutput;
  QSpinBox* seSeqBootstraps;
  QCheckBox* ckSeqDistanceDistribution;
  QPushButton* btBootstrap;
  QSpinBox* seIgnoreTime;
  QComboBox* cbIgnoreUnit;
  QGroupBox* grpOutput;
  QCheckBox *ckSamplePoints, *ckGeneticalMatrices, *ckVariablesMatrix, *ckGeographicDist,
      *ckEcoDistanceMatrix, *ckFitModel, *ckFrictionMap, *ckTemporary, *ckJackKnifeResults;
  QRadioButton *rbDelaunayNone, *rbDelaunayInclude, *rbDelaunayOnly;
  QSpinBox* sePairDistanceThreshold;
  QCheckBox* ckPairMatrices;
  QGroupBox* grpTopography;
  QRadioButton *rbUphill, *rbDownhill, *rbBothWays;
  QLineEdit* edElevationTolerance;
  QGroupBox* grpParameters;
  QLabel *lblThreshold, *lblIterations, *lblReplicates;
  QSpinBox *seThreshold, *seIterations, *seReplicates;
  QGroupBox* grpModelFit;
  QComboBox* cbFitting;
  QCheckBox *ckStepwise, *ckGeneticSig, *ckJackKnife;
  QLabel *lblSignificance, *lblJackknife;
  QSpinBox *seSignificance, *seJackknife;
  QPlainTextEdit* mmOutput;
  QAction *Openecomaplist1, *Saveecomapslist1, *Batchcommand1, *Exit1, *Help1, *About1;

public slots:
  void btOKClick();
  void btCancelClick();
  void btHelpClick();
  void cbDistanceChange();
  void edFirstFrictionChange();
  void sePathWidthChange();
  void edOutputDblClick();
  void edCorridorMapDblClick();
  void ckFrictionMapClick();
  void ckGeneticSigClick() { UpdateControls(); }
  void ckJackKnifeClick() { UpdateControls(); }
  void ckFitModelClick() { UpdateControls(); }
  void OnDataStructureClick() { UpdateControls(); }
  void FilenameChange() { UpdateControls(); }
  void btVarBinaryClick();
  void btVarQuantClick();
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
  void FormActivate();
  // "View map" of a map list, the topography box or the corridor map box.
  void ViewMap(QWidget* source);

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
  virtual void ShowErrorBox(const QString& message);
  virtual void ShowWarningBox(const QString& message);
  // Ends the program (batch mode).
  virtual void QuitProgram();
  // The map window of one map file; corridor maps get the "Fire" palette.
  virtual void ShowMap(const QString& mapFile, bool corridor);

  bool eventFilter(QObject* watched, QEvent* event) override;
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
  void LoadMaps(bool binary, const QStringList& names);
  void FillMapLists();
  // logFile: the file a batch run saves the log to.
  void StartRun(stravex::tAnalysisKind kind, stravex::TAnalysisSettings settings,
                const QString& workDir, const std::string& logFile = {});
  void RunEndedSlot();
  void RunBatch();
  void ShowRunMessage(bool error, const QString& text);
  void OnCheckReal(QKeyEvent* key, bool& discard) const;
  void MapContextMenu(QWidget* source, const QPoint& at);
  // The map behind a list or box ("View map"): file name, empty when none.
  QString MapFileOf(QWidget* source) const;
  // Reads the data file as the sequence when the sequence in memory came
  // from another file; false (after its error box) when that read fails.
  bool SequenceMatchesDataFile();
  // Sample points of the data file for the map window (empty when unreadable).
  std::vector<std::pair<double, double>> SamplePointsForMap();

  QStringList fArgs; // without the program
  stravex::tMapSet fMaps;
  stravex::tLocationSequence fSequence;
  QString fSequenceFile; // the file fSequence was last read from
  stravex::tPopulationData fPopulation;
  stravex::tRandomGenerator fRandom;
  std::unique_ptr<stravex::gui::tRunController> fRun;
  bool fBatchMode = false;
  bool fBatchStarted = false;
  bool fNameOnCommandLine = false;
  bool fClosing = false;
  bool fLogStarted = false;
  std::vector<std::string> fMapListFile;
  QString fLastSaveListName;
  QString fLastCorridorMap;
  // Batch run under way: its log file, resolved from the map list's folder.
  std::optional<std::string> fBatchLogFile;
  TfHelp* fHelp = nullptr;
  TfAboutBox* fAbout = nullptr;
  std::unique_ptr<TfHelp> fOwnHelp;
  std::unique_ptr<TfAboutBox> fOwnAbout;
  // Chart and map windows opened from here; closed with the main window.
  std::vector<QPointer<QWidget>> fViews;
};
