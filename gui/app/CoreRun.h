#pragma once
// The window's whole view of the core's run entry points, kept in one place
// so that a change of the core's run contract stays local.
#include "analysis/AnalysisSettings.h"
#include "analysis/BatchRun.h"
#include "analysis/LocationSequence.h"
#include "analysis/MapSet.h"
#include "analysis/RunPreparation.h"
#include "base/RandomFunctions.h"
#include "base/Reporter.h"

#include <atomic>
#include <memory>
#include <string>

namespace stravex::gui {

struct tRunEnd {
  tRunOutcome Outcome = tRunOutcome::Completed;
  std::string Error;       // message of a failed run
  std::string CorridorMap; // the last corridor map the run wrote (name without extension)
  // What the run got through, for the window's end line.
  bool ItemsKnown = false;
  uint64_t Done = 0, Total = 0;
  uint64_t Kept = 0; // done before the run's first item (a resumed run)
  double Seconds = 0;
  std::string Report; // the first report written, empty when none
  uint64_t Rows = 0;  // rows that report holds
  // The lock of the log file (batch mode), held until the log is saved.
  std::shared_ptr<tFileLock> LogLock;
};

// The core's run flags plus a cancel request that also holds before the
// worker has started the run (a click right after Compute is not lost).
struct tRunFlags {
  tRunState State;
  std::atomic<bool> Busy{false}; // from Start until the window has taken the end
  std::atomic<bool> CancelRequested{false};
  bool RequestCancel() {
    if (!Busy.load()) return false;
    CancelRequested = true;
    State.RequestCancel();
    return true;
  }
};

struct tRunInput {
  tAnalysisKind Kind = tAnalysisKind::PopulationMatrix;
  TAnalysisSettings Settings;
  std::string WorkDir;
  int Threads = 0;
  // The file the log is saved to after the run (batch mode), if any.
  std::string LogFile;
  // The map-list file of a batch run, an input like its maps.
  std::string MapListFile;
  // Keep a journal beside the report; continue the report of an interrupted run.
  bool Journal = false;
  bool Resume = false;
};

// Runs one analysis on the calling thread; never throws. `random` is the
// window's analyses' generator, continued by the run.
tRunEnd ExecuteRun(const tRunInput& in, tMapSet& maps, const tLocationSequence& sequence,
                   tRandomGenerator& random, tReporter& reporter, tRunFlags& flags);

} // namespace stravex::gui
