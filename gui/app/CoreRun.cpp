#include "CoreRun.h"

#include "analysis/Analyses.h"

#include <exception>

namespace stravex::gui {

namespace {

// Answers the core's cancel poll from the window's request as well.
class tFlagReporter : public tReporter {
public:
  tFlagReporter(tReporter& inner, tRunFlags& flags) : fInner(inner), fFlags(flags) {}
  void Log(const std::string& line) override { fInner.Log(line); }
  void TaskLabel(const std::string& label) override { fInner.TaskLabel(label); }
  void Progress(int percent) override { fInner.Progress(percent); }
  bool CancelRequested() override {
    return fFlags.CancelRequested.load() || fInner.CancelRequested();
  }
  void Warning(const std::string& message) override { fInner.Warning(message); }
  void ErrorBox(const std::string& message) override { fInner.ErrorBox(message); }

private:
  tReporter& fInner;
  tRunFlags& fFlags;
};

} // namespace

tRunEnd ExecuteRun(const tRunInput& in, tMapSet& maps, const tLocationSequence& sequence,
                   tRandomGenerator& random, tReporter& reporter, tRunFlags& flags) {
  tFlagReporter forward(reporter, flags);
  tRunResult result;
  try {
    tAnalysisContext ctx{in.Settings, maps, forward, flags.State, in.WorkDir, in.Threads, &random};
    ctx.LogFile = in.LogFile;
    switch (in.Kind) {
    case tRunKind::Matrix: result = PopulationMatrixAnalysis(ctx); break;
    case tRunKind::Sequence: result = SequenceAnalysis(ctx, sequence); break;
    case tRunKind::Bootstrap: result = SequenceBootstrap(ctx, sequence); break;
    }
  } catch (const std::exception& e) { // the analyses do not throw; kept as a safety net
    result.Outcome = tRunOutcome::Failed;
    result.Error = e.what();
  }
  tRunEnd end;
  end.Status = result.Outcome == tRunOutcome::Completed   ? tRunStatus::Completed
               : result.Outcome == tRunOutcome::Cancelled ? tRunStatus::Cancelled
                                                          : tRunStatus::Failed;
  end.Error = result.Error;
  const std::vector<std::string> corridors = result.Files(tFileKind::CorridorMap);
  if (!corridors.empty()) end.CorridorMap = corridors.back();
  return end;
}

} // namespace stravex::gui
