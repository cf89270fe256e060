#include "CoreRun.h"

#include "analysis/Analyses.h"

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
  tAnalysisContext ctx{in.Settings, maps, forward, flags.State, in.WorkDir, in.Threads, &random};
  ctx.LogFile = in.LogFile;
  const tRunResult result = RunAnalysis(in.Kind, ctx, sequence);
  tRunEnd end;
  end.Outcome = result.Outcome;
  end.Error = result.Error;
  const std::vector<std::string> corridors = result.Files(tFileKind::CorridorMap);
  if (!corridors.empty()) end.CorridorMap = corridors.back();
  return end;
}

} // namespace stravex::gui
