#pragma once
// The window's whole view of the core's run entry points: the three analyses
// with their outcome, and the batch line split into its preparation (map list
// and folder) and its settings. Kept in one place so that a change of the
// core's run contract stays local.
#include "AnalysisSettings.h"
#include "BatchLine.h"
#include "LocationSequence.h"
#include "MapSet.h"
#include "RandomFunctions.h"
#include "Reporter.h"

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace stravex::gui {

enum class tRunKind { Matrix, Sequence, Bootstrap };
enum class tRunStatus { Completed, Cancelled, Failed };

struct tRunEnd {
  tRunStatus Status = tRunStatus::Completed;
  std::string Error; // message of a failed run
};

// Flags shared between the window's thread (cancel) and the worker (polls).
struct tRunFlags {
  std::atomic<bool> Running{false};
  std::atomic<bool> CancelRequested{false};
  // Only while running; true when it took effect.
  bool RequestCancel() {
    if (!Running.load()) return false;
    CancelRequested = true;
    return true;
  }
};

struct tRunInput {
  tRunKind Kind = tRunKind::Matrix;
  TAnalysisSettings Settings;
  std::string WorkDir;
  int Threads = 0;
};

// Runs one analysis on the calling thread; never throws. `random` is the
// window's analyses' generator, continued by the run.
tRunEnd ExecuteRun(const tRunInput& in, tMapSet& maps, const tLocationSequence& sequence,
                   tRandomGenerator& random, tReporter& reporter, tRunFlags& flags);

// A batch line's preparation: positions 2 to 5 and the maps of the map list,
// named from the map list's folder.
struct tBatchPlan {
  tBatchHead Head;
  std::string WorkDir;
  std::vector<std::string> MapFiles;
};

// nullopt when fewer than five arguments follow the program; throws the core's
// errors for a map list that cannot be found or read.
std::optional<tBatchPlan> PrepareBatchPlan(const std::vector<std::string>& args);
// Positions 4, 5, then 6..21 onto s (after the maps are loaded).
void ApplyBatchPlan(const tBatchPlan& plan, const std::vector<std::string>& args, TAnalysisSettings& s);

} // namespace stravex::gui
