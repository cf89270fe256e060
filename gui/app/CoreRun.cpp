#include "CoreRun.h"

#include "WindowState.h"
#include "analysis/Analyses.h"

#include <chrono>

namespace stravex::gui {

namespace {

// Answers the core's cancel poll from the window's request as well.
class tFlagReporter : public tReporter {
public:
  tFlagReporter(tReporter& inner, tRunFlags& flags) : fInner(inner), fFlags(flags) {}
  void Log(const std::string& line) override { fInner.Log(line); }
  void TaskLabel(const std::string& label) override { fInner.TaskLabel(label); }
  void Progress(int percent) override { fInner.Progress(percent); }
  void Items(uint64_t done, uint64_t total) override {
    // The first report comes before the run's first item.
    if (!fKnown) fKept = done;
    fKnown = true;
    fDone = done;
    fTotal = total;
    fInner.Items(done, total);
  }
  bool CancelRequested() override {
    return fFlags.CancelRequested.load() || fInner.CancelRequested();
  }
  void Warning(const std::string& message) override { fInner.Warning(message); }
  void ErrorBox(const std::string& message) override { fInner.ErrorBox(message); }

  bool fKnown = false;
  uint64_t fDone = 0, fTotal = 0, fKept = 0;

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
  ctx.MapListFile = in.MapListFile;
  ctx.Journal = in.Journal;
  ctx.Resume = in.Resume;
  const auto started = std::chrono::steady_clock::now();
  const tRunResult result = RunAnalysis(in.Kind, ctx, sequence);
  tRunEnd end;
  end.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  end.Outcome = result.Outcome;
  end.Error = result.Error;
  end.LogLock = result.LogLock;
  const std::vector<std::string> corridors = result.Files(tFileKind::CorridorMap);
  if (!corridors.empty()) end.CorridorMap = corridors.back();
  end.ItemsKnown = forward.fKnown;
  end.Done = forward.fDone;
  end.Total = forward.fTotal;
  end.Kept = forward.fKept;
  const std::vector<std::string> reports = result.Files(tFileKind::Report);
  if (!reports.empty()) {
    end.Report = reports.front();
    end.Rows = ReportRows(end.Report);
  }
  return end;
}

} // namespace stravex::gui
