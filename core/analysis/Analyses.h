#pragma once
// The three analyses. Each follows the run contract: it starts the run,
// reports progress and the task label, polls for cancel after every row, and
// on every way out (end, cancel, error) restores "Ready" and progress 0
// before an error propagates to the caller.
#include "AnalysisSettings.h"
#include "LocationSequence.h"
#include "MapSet.h"
#include "Reporter.h"

#include <string>

namespace stravex {

struct tAnalysisContext {
  const TAnalysisSettings& Settings;
  tMapSet& Maps;
  tReporter& Reporter;
  tRunState& State;
  // The run's working folder: reports and corridor maps are written there,
  // and relative data, friction and corridor names are taken from it. Empty
  // means the current folder.
  std::string WorkDir;
  // Worker threads for pairs and segments; 0 means one per core.
  int Threads = 1;
};

// How a run ended.
enum class tRunOutcome { Completed, Cancelled };

tRunOutcome PopulationMatrixAnalysis(tAnalysisContext& ctx);
tRunOutcome SequenceAnalysis(tAnalysisContext& ctx, const tLocationSequence& sequence);
tRunOutcome SequenceBootstrap(tAnalysisContext& ctx, const tLocationSequence& sequence);

} // namespace stravex
