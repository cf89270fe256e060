// Runs that share a process: two at once, each with its own reporter; a
// cancel requested from another thread.
#include "analysis/Analyses.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <thread>

using namespace stravex;
using namespace stravex::test;
namespace fs = std::filesystem;

namespace {

const fs::path kLandscape = STRAVEX_EXAMPLES_DIR "/landscape";

std::string Land(const char* name) { return (kLandscape / name).string(); }

// A run over the example landscape in a folder of its own.
struct tLandscapeRun {
  TempDir dir;
  TAnalysisSettings settings;
  tMapSet maps;
  tRunState state;
  tRandomGenerator random;

  explicit tLandscapeRun(const std::string& project) {
    RecordingReporter loading;
    maps.LoadBinaryMaps({Land("forest_BL"), Land("roads_NB")}, loading);
    maps.LoadQuantitativeMaps({Land("cover_QT")}, loading);
    maps.BuildMapList();
    settings.ProjectName = project;
    settings.DataFile = Land("samples.txt");
  }
  tRunResult Matrix(tReporter& reporter, int threads = 1) {
    tAnalysisContext ctx{settings, maps, reporter, state, dir.path().string(), threads, &random};
    return PopulationMatrixAnalysis(ctx);
  }
};

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

} // namespace

TEST(RunContract, TwoRunsAtOnceReportOnlyToTheirOwnReporters) {
  tLandscapeRun strip("Strip"), leastCost("Cost");
  strip.settings.PathWidth = 3;
  leastCost.settings.Connectivity = caLeastCostPath;
  leastCost.settings.FrictionMapFile = Land("friction");
  leastCost.settings.CorridorMapName = "corr";
  // The same runs one after the other give the reference reports.
  RecordingReporter quiet;
  tLandscapeRun stripAlone("Strip"), costAlone("Cost");
  stripAlone.settings = strip.settings;
  costAlone.settings = leastCost.settings;
  ASSERT_EQ(stripAlone.Matrix(quiet).Outcome, tRunOutcome::Completed);
  ASSERT_EQ(costAlone.Matrix(quiet).Outcome, tRunOutcome::Completed);

  RecordingReporter a, b;
  tRunResult ra, rb;
  std::thread ta([&] { ra = strip.Matrix(a, 2); });
  std::thread tb([&] { rb = leastCost.Matrix(b, 2); });
  ta.join();
  tb.join();
  ASSERT_EQ(ra.Outcome, tRunOutcome::Completed) << ra.Error;
  ASSERT_EQ(rb.Outcome, tRunOutcome::Completed) << rb.Error;

  EXPECT_TRUE(Contains(a.logs, "Algorithm: fixed-width strip"));
  EXPECT_FALSE(Contains(a.logs, "least cost"));
  EXPECT_TRUE(Contains(b.logs, "Algorithm: least cost path"));
  EXPECT_FALSE(Contains(b.logs, "fixed-width"));
  EXPECT_EQ(a.labels.back(), "Ready");
  EXPECT_EQ(b.labels.back(), "Ready");

  const std::string stripReport = strip.dir.file("Strip-MatrixAnalysis.txt");
  const std::string costReport = leastCost.dir.file("Cost-MatrixAnalysis.txt");
  EXPECT_EQ(ReadFileBytes(stripReport),
            ReadFileBytes(stripAlone.dir.file("Strip-MatrixAnalysis.txt")));
  EXPECT_EQ(ReadFileBytes(costReport),
            ReadFileBytes(costAlone.dir.file("Cost-MatrixAnalysis.txt")));
  EXPECT_EQ(ReadFileBytes(leastCost.dir.file("corr.rst")),
            ReadFileBytes(costAlone.dir.file("corr.rst")));
  // Each run's generator ends where the run alone leaves it.
  EXPECT_EQ(leastCost.random.State(), costAlone.random.State());

  EXPECT_EQ(ra.Files(tFileKind::Report), std::vector<std::string>{stripReport});
  EXPECT_EQ(rb.FilesWritten,
            (std::vector<tWrittenFile>{{tFileKind::CorridorMap, leastCost.dir.file("corr")},
                                       {tFileKind::Report, costReport}}));
}

TEST(RunContract, CancelFromAnotherThread) {
  tLandscapeRun run("Cancel");
  run.settings.Connectivity = caLeastCostPath;
  run.settings.FrictionMapFile = Land("friction");
  run.settings.PathWidth = 5;

  // Tells the test when the first row is written, then lets the run go on.
  struct tSignal : RecordingReporter {
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    void Progress(int percent) override {
      RecordingReporter::Progress(percent);
      std::lock_guard<std::mutex> lock(m);
      started = true;
      cv.notify_all();
    }
  } reporter;

  EXPECT_FALSE(run.state.RequestCancel()) << "no run: nothing to cancel";
  tRunResult result;
  std::thread worker([&] { result = run.Matrix(reporter, 1); });
  {
    std::unique_lock<std::mutex> lock(reporter.m);
    reporter.cv.wait(lock, [&] { return reporter.started; });
  }
  run.state.RequestCancel();
  worker.join();

  EXPECT_EQ(result.Outcome, tRunOutcome::Cancelled);
  EXPECT_FALSE(run.state.Running);
  EXPECT_FALSE(run.state.CancelRequested);
  const std::string report = ReadFileBytes(run.dir.file("Cancel-MatrixAnalysis.txt"));
  const auto rows = std::count(report.begin(), report.end(), '\n') - 1;
  EXPECT_GE(rows, 1);
  EXPECT_LT(rows, 28) << "8 points, 28 pairs: the run stopped early";
  EXPECT_EQ(report.back(), '\n') << "complete lines only";
}
