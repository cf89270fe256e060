#pragma once
// One analysis run in a folder of its own, through the core's run path: the
// settings, maps, reporter, run flags and generator it runs with, and its
// result. The analysis tests derive their runs from it.
#include "analysis/Analyses.h"
#include "analysis/RunPreparation.h"

#include "TestSupport.h"

#include <optional>

namespace stravex::test {

struct tAnalysisRun {
  TempDir dir;
  TAnalysisSettings settings;
  tMapSet maps;
  RecordingReporter reporter;
  tRunState state;
  tRandomGenerator random;
  tRunResult result;
  int threads = 1;
  std::optional<tShard> shard;

  // The outcome; the error of a failed run is raised again.
  tRunOutcome Run(tAnalysisKind kind, const tLocationSequence& sequence = {}) {
    tAnalysisContext ctx{settings, maps, reporter, state, dir.path().string(), threads, &random};
    ctx.Shard = shard;
    result = RunAnalysis(kind, ctx, sequence);
    result.Rethrow();
    return result.Outcome;
  }
};

} // namespace stravex::test
