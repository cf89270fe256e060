#pragma once
// What the main window shows and allows, decided without widgets: the
// enabling rules (what the controls hold in, enabled/visible flags out) and
// the batch mode's steps as an explicit sequence of states.
#include "analysis/Analyses.h"
#include "analysis/AnalysisSettings.h"

#include <cstdint>
#include <optional>
#include <string>

namespace stravex::gui {

// What the enabling rules read from the window.
struct tWindowInputs {
  bool Running = false;
  bool CancelPending = false;
  int MapCount = 0;
  bool HasQuantitativeMaps = false;
  bool HasProjectName = false;
  bool HasDataFile = false;
  bool HasFrictionMap = false;
  bool HasTopography = false;
  TDataStructure DataStructure = dsPopulationMatrix;
  TConnectivityAlgorithm Algorithm = caFixedWidthStrip;
  bool SignificantOnly = false; // "Use only significant input dist."
  bool JackKnife = false;       // "Jack-knife cross-validation"
  bool FitModel = false;
};

// The path-width caption the algorithm gives.
enum class tPathCaption { StripWidth, Ratio, PathCount };

// What the window shows: every flag is applied to its controls as it is.
struct tWindowView {
  bool ComputeEnabled = false;
  // Why Compute is disabled ("Compute needs a data file and a friction
  // map"); empty when it is enabled or a run is under way.
  std::string ComputeMissing;
  // A batch line runs a population matrix analysis over the binary maps of
  // a map list: other set-ups cannot be written as one. Why not, when not.
  bool BatchCommandEnabled = true;
  std::string BatchCommandMissing;
  bool ViewDataEnabled = false;
  bool CancelEnabled = false;
  bool MatrixPagesVisible = true;    // Parameters (population matrix)
  bool SequencePagesVisible = false; // Bootstraps and Parameters (location sequence)
  // Friction map, seed, criterion, corridor map, weights, replicates, iterations.
  bool LeastCostControlsVisible = false;
  bool TopographyVisible = false;
  tPathCaption PathCaption = tPathCaption::StripWidth;
  bool PathWidthEnabled = true;
  bool SeedEnabled = true;
  std::string PathWidthTip;
  std::string PathLabelTip;
  std::string SeedTip;
  std::string MinimiseTip;
  bool GeographicDistEnabled = true;
  // Least-cost paths measure no geographic distance: the box is cleared.
  bool GeographicDistCleared = false;
  bool SignificanceEnabled = false;
  bool JackKnifeEnabled = true;
  bool PartitionsEnabled = false;
  bool EcoMatrixEnabled = false;
  bool FrictionMapEnabled = false;
  // Map, data and friction choices, bootstrap, map lists and batch command:
  // nothing may start a second run or replace what a run reads.
  bool ChoicesEnabled = true;
  // Every setting: a run reads them once at its start, so edits made while
  // it goes on would change nothing it does.
  bool SettingsEnabled = true;
};

tWindowView ComputeWindowView(const tWindowInputs& in);

// The batch mode's steps, from the command line to the program's end.
enum class tBatchStep {
  Idle,     // not started (or not a batch line)
  Prepare,  // read the line and the map list
  LoadMaps, // the list's maps as binary and count maps
  Apply,    // the line's positions into the settings
  Run,      // the population matrix analysis
  SaveLog,  // the log to the line's log file
  Quit,     // done: the program ends
  Stopped   // an error was shown: the window stays for interactive use
};

// Steps through a batch line once. Each step reports whether it succeeded;
// a failed step stops the sequence and the window stays.
class tBatchSequence {
public:
  // Starts at Prepare for a batch line the first time; false otherwise
  // (not a batch line, or started before: a batch runs once).
  bool Begin(bool batchLine);
  // The step after the current one, given how it went.
  tBatchStep Advance(bool succeeded);
  tBatchStep Step() const { return fStep; }
  bool Started() const { return fStarted; }
  // Between Begin and Quit/Stopped.
  bool Active() const {
    return fStep != tBatchStep::Idle && fStep != tBatchStep::Quit && fStep != tBatchStep::Stopped;
  }

private:
  tBatchStep fStep = tBatchStep::Idle;
  bool fStarted = false;
};

// ---- What a run shows while it goes on and at its end

// The unit a kind of run counts: "pair", "segment", "walk".
const char* ItemUnit(tAnalysisKind kind);
// "pair 3 of 28"
std::string ItemsText(tAnalysisKind kind, uint64_t done, uint64_t total);

// The time left of a run, from the pace of the items it has done itself
// since its first report (a resumed run starts past the items it keeps).
class tTimeLeft {
public:
  // done of total items, `seconds` after the run started.
  void Note(uint64_t done, uint64_t total, double seconds);
  // None before the run's first item and once every item is done.
  std::optional<double> SecondsLeft() const;

private:
  std::optional<uint64_t> fBefore; // items done at the first report
  double fStart = 0;               // and when
  uint64_t fDone = 0, fTotal = 0;
  double fSeconds = 0;
};
// "about 12 s left", "about 4 min left", "about 2 h 5 min left".
std::string TimeLeftText(double seconds);
// "0.4 s", "12.0 s", "3 min 5 s", "2 h 5 min".
std::string DurationText(double seconds);

// How a run ended, as the window tells it.
struct tRunSummary {
  tAnalysisKind Kind = tAnalysisKind::PopulationMatrix;
  tRunOutcome Outcome = tRunOutcome::Completed;
  bool ItemsKnown = false; // the run reported items before it ended
  uint64_t Done = 0, Total = 0;
  uint64_t Kept = 0; // items a resumed run found done
  double Seconds = 0;
  std::string Report; // file name of its (first) report; empty: none written
  uint64_t Rows = 0;  // rows the report holds
  std::string Error;  // a failed run's message
};
// "Done: 28 pairs in 1.2 s — report X-MatrixAnalysis.txt" (resumed:
// "Done: 28 pairs (11 new, 17 kept) in ..."),
// "Cancelled after 17 of 28 pairs — the report holds 17 rows",
// "Failed after 3 of 28 pairs: <error>".
std::string RunEndLine(const tRunSummary& s);
// Rows of a report: its lines after the header (a cut last line counts).
uint64_t ReportRows(const std::string& path);

} // namespace stravex::gui
