#include "CoreRun.h"

#include "Analyses.h"
#include "Errors.h"

#include <exception>
#include <filesystem>

namespace stravex::gui {

namespace fs = std::filesystem;

namespace {

// The core polls its reporter for cancel; this one answers from the window's
// flags and forwards everything else.
class tFlagReporter : public tReporter {
public:
  tFlagReporter(tReporter& inner, tRunFlags& flags) : fInner(inner), fFlags(flags) {}
  void Log(const std::string& line) override { fInner.Log(line); }
  void TaskLabel(const std::string& label) override { fInner.TaskLabel(label); }
  void Progress(int percent) override { fInner.Progress(percent); }
  bool CancelRequested() override { return fFlags.CancelRequested.load() || fInner.CancelRequested(); }
  void Warning(const std::string& message) override { fInner.Warning(message); }
  void ErrorBox(const std::string& message) override { fInner.ErrorBox(message); }

private:
  tReporter& fInner;
  tRunFlags& fFlags;
};

} // namespace

tRunEnd ExecuteRun(const tRunInput& in, tMapSet& maps, const tLocationSequence& sequence,
                   tRandomGenerator& random, tReporter& reporter, tRunFlags& flags) {
  tRunEnd end;
  tFlagReporter forward(reporter, flags);
  tRunState state;
  // The analyses draw from the calling thread's generator: give it the
  // window's state and take the continued state back.
  tRandomGenerator& threadRandom = CurrentRandom();
  const tRandomGenerator saved = threadRandom;
  threadRandom = random;
  try {
    maps.BuildMapList();
    tAnalysisContext ctx{in.Settings, maps, forward, state, in.WorkDir, in.Threads};
    tRunOutcome outcome = tRunOutcome::Completed;
    switch (in.Kind) {
    case tRunKind::Matrix: outcome = PopulationMatrixAnalysis(ctx); break;
    case tRunKind::Sequence: outcome = SequenceAnalysis(ctx, sequence); break;
    case tRunKind::Bootstrap: outcome = SequenceBootstrap(ctx, sequence); break;
    }
    end.Status = outcome == tRunOutcome::Cancelled ? tRunStatus::Cancelled : tRunStatus::Completed;
  } catch (const std::exception& e) {
    end.Status = tRunStatus::Failed;
    end.Error = e.what();
  } catch (...) {
    end.Status = tRunStatus::Failed;
    end.Error = "Unknown error";
  }
  random = threadRandom;
  threadRandom = saved;
  return end;
}

std::optional<tBatchPlan> PrepareBatchPlan(const std::vector<std::string>& args) {
  std::optional<tBatchHead> head = ParseBatchHead(args);
  if (!head) return std::nullopt;
  std::error_code ec;
  const fs::path list = fs::absolute(head->MapListFile, ec);
  if (ec || head->MapListFile.empty() || !fs::is_regular_file(list, ec))
    throw EInOutError(head->MapListFile + " not found.");
  tBatchPlan plan;
  plan.Head = std::move(*head);
  plan.WorkDir = list.parent_path().string();
  for (const std::string& name : tMapSet::ReadMapList(list.string())) {
    const fs::path p(name);
    plan.MapFiles.push_back(p.is_absolute() ? name : (list.parent_path() / p).string());
  }
  return plan;
}

void ApplyBatchPlan(const tBatchPlan& plan, const std::vector<std::string>& args, TAnalysisSettings& s) {
  TAnalysisSettings next = s;
  ApplyBatchHead(plan.Head, next);
  ApplyBatchSettings(args, next);
  s = next;
}

} // namespace stravex::gui
