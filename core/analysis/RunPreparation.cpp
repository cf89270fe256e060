#include "analysis/RunPreparation.h"

#include "base/Errors.h"

#include <exception>
#include <filesystem>

namespace stravex {

namespace {

// Counts the refusals the map checks show, passing everything on.
class tRefusalCounter : public tReporter {
public:
  explicit tRefusalCounter(tReporter& inner) : fInner(inner) {}
  void Log(const std::string& line) override { fInner.Log(line); }
  void TaskLabel(const std::string& label) override { fInner.TaskLabel(label); }
  void Progress(int percent) override { fInner.Progress(percent); }
  void Items(uint64_t done, uint64_t total) override { fInner.Items(done, total); }
  bool CancelRequested() override { return fInner.CancelRequested(); }
  void Warning(const std::string& message) override { fInner.Warning(message); }
  void ErrorBox(const std::string& message) override {
    ++fRefusals;
    fInner.ErrorBox(message);
  }
  int Refusals() const { return fRefusals; }

private:
  tReporter& fInner;
  int fRefusals = 0;
};

} // namespace

bool PrepareRun(const tRunInputs& inputs, tReporter& reporter, tPreparedRun& run) {
  tRefusalCounter checks(reporter);
  if (!inputs.BinaryMaps.empty()) run.Maps.LoadBinaryMaps(inputs.BinaryMaps, checks);
  if (!inputs.QuantitativeMaps.empty())
    run.Maps.LoadQuantitativeMaps(inputs.QuantitativeMaps, checks);
  if (!inputs.TopographyMap.empty()) run.Maps.LoadTopographyMap(inputs.TopographyMap, checks);
  // CheckFrictionMap rebuilds the map list to find the first map.
  if (!inputs.FrictionMap.empty()) run.Maps.CheckFrictionMap(inputs.FrictionMap, checks);
  if (checks.Refusals() > 0 && !inputs.SkipRefusedMaps) return false;
  run.Maps.BuildMapList();
  if (ReadsSequence(inputs.Kind)) ReadLocationSequence(inputs.SequenceFile, run.Sequence);
  return true;
}

tRunResult RunAnalysis(tAnalysisKind kind, tAnalysisContext& ctx,
                       const tLocationSequence& sequence) {
  try {
    switch (kind) {
    case tAnalysisKind::PopulationMatrix: return PopulationMatrixAnalysis(ctx);
    case tAnalysisKind::Sequence: return SequenceAnalysis(ctx, sequence);
    case tAnalysisKind::Bootstrap: return SequenceBootstrap(ctx, sequence);
    }
  } catch (const std::exception& e) {
    tRunResult failed;
    failed.Outcome = tRunOutcome::Failed;
    failed.Error = e.what();
    failed.ErrorObject = std::current_exception();
    return failed;
  }
  tRunResult unknown;
  unknown.Outcome = tRunOutcome::Failed;
  unknown.Error = "Unknown kind of analysis.";
  unknown.ErrorObject = std::make_exception_ptr(EStravexError(unknown.Error));
  return unknown;
}

std::string ResumeRefusal(tAnalysisKind kind, const TAnalysisSettings& settings, tMapSet& maps,
                          const std::string& workDir, const tLocationSequence& sequence) {
  if (kind == tAnalysisKind::Bootstrap) return "A bootstrap keeps no journal to resume from.";
  const std::string report = PlannedReports(settings, false, workDir).front();
  std::error_code ec;
  if (!std::filesystem::exists(report, ec)) return "There is no report " + report + " to resume.";
  tReporter silent;
  tRunState state;
  tAnalysisContext ctx{settings, maps, silent, state, workDir, 1, nullptr};
  ctx.Resume = true;
  ctx.CheckResumeOnly = true;
  const tRunResult checked = RunAnalysis(kind, ctx, sequence);
  return checked.Outcome == tRunOutcome::Failed ? checked.Error : std::string();
}

} // namespace stravex
