#include "Analyses.h"

#include "Errors.h"
#include "IdrisiEnv.h"
#include "MapFixtures.h"
#include "PathScan.h"
#include "PopulationFile.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "ReportFixtures.h"
#include "ReportWriter.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <numbers>
#include <set>
#include <thread>

using namespace stravex;
using namespace stravex::test;

namespace {

namespace fs = std::filesystem;

// 200 x 200 cells of 1 map unit: walks of a few units stay well inside.
std::unique_ptr<tLiveRaster> BigGrid(const TempDir& dir, const std::string& name, tDataType type,
                                     const std::function<float(int32_t, int32_t)>& value) {
  return SquareMap(dir, name, 200, type, value);
}

// One walk step of the report, its numbers parsed.
struct tStep {
  std::string id, replicate, t1, t2, time;
  double x1, y1, x2, y2, length;
};
tStep ParseStep(const std::string& line) {
  const auto f = Fields(line);
  EXPECT_GE(f.size(), 10u);
  if (f.size() < 10) return {};
  return {f[0],
          f[1],
          f[4],
          f[7],
          f[9],
          std::stod(f[2]),
          std::stod(f[3]),
          std::stod(f[5]),
          std::stod(f[6]),
          std::stod(f[8])};
}

struct tRun {
  TempDir dir;
  TAnalysisSettings settings;
  tMapSet maps;
  RecordingReporter reporter;
  tRunState state;
  tRandomGenerator random;
  tRunResult result;

  tRun() {
    settings.ProjectName = "Boot";
    settings.Bootstraps = 1;
  }
  // The outcome; the error of a failed run is raised again.
  tRunOutcome Run(const tLocationSequence& seq) {
    tAnalysisContext ctx{settings, maps, reporter, state, dir.path().string(), 1, &random};
    result = SequenceBootstrap(ctx, seq);
    result.Rethrow();
    return result.Outcome;
  }
  std::string ReportPath() const { return dir.file("Boot-Bootstraps.txt"); }
  std::string DistancesPath() const { return dir.file("Boot-Distances.txt"); }
  std::vector<std::string> Report() const { return Lines(ReadFileBytes(ReportPath())); }
};

} // namespace

TEST(SequenceBootstrap, StepsChainFromTheSecondLocation) {
  tRun run;
  run.maps.BinaryMaps.push_back(
      BigGrid(run.dir, "ones", dtByte, [](int32_t, int32_t) { return 1.0f; }));
  run.settings.DataFile = "tracks.txt";
  // Three retained segments of lengths 3, 4 and 5.
  const auto seq =
      Loaded({Loc(4, 100, 100, 1), Loc(4, 103, 100, 2), Loc(4, 103, 104, 3), Loc(4, 106, 100, 4)});
  EXPECT_EQ(run.Run(seq), tRunOutcome::Completed);

  const auto lines = run.Report();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "ID\tReplicate\tX1\tY1\tT1\tX2\tY2\tT2\tLength\tTime"
                      "\tones_Count\tones_Area\tones_Length\tones_Cost");
  double x = 103, y = 100; // the individual's second location
  for (int s = 0; s < 3; ++s) {
    const tStep step = ParseStep(lines[static_cast<size_t>(s) + 1]);
    EXPECT_EQ(step.id, "4");
    EXPECT_EQ(step.replicate, "1");
    EXPECT_EQ(step.t1, std::to_string(s));
    EXPECT_EQ(step.t2, std::to_string(s + 1));
    EXPECT_EQ(step.time, "1");
    EXPECT_EQ(step.x1, x);
    EXPECT_EQ(step.y1, y);
    EXPECT_TRUE(step.length == 3 || step.length == 4 || step.length == 5) << step.length;
    EXPECT_NEAR(std::hypot(step.x2 - step.x1, step.y2 - step.y1), step.length, 1e-9);
    x = step.x2;
    y = step.y2;
    const auto f = Fields(lines[static_cast<size_t>(s) + 1]);
    ASSERT_EQ(f.size(), 14u);
    EXPECT_EQ(f[12], "0"); // strip: Length and Cost are 0
    EXPECT_EQ(f[13], "0");
  }

  const std::vector<std::string> log = {"",
                                        "       *********************",
                                        "******** Sequence analysis **********",
                                        "       *********************",
                                        "",
                                        "Ecological maps:\tones",
                                        "",
                                        "Location sequence file:\ttracks.txt",
                                        "Algorithm: fixed-width strip",
                                        "Bootstrapping sequences"};
  EXPECT_EQ(run.reporter.logs, log);
  EXPECT_EQ(run.reporter.labels, (std::vector<std::string>{"Bootstrapping", "Ready"}));
  EXPECT_FALSE(run.state.Running);
}

TEST(SequenceBootstrap, DistanceFileAndRetainedSegments) {
  tRun run;
  run.settings.DistanceDistribution = true;
  run.settings.Bootstraps = 40;
  run.settings.IgnoreTime = 12;
  run.settings.IgnoreUnit = 2; // hours: half a day
  const auto seq = Loaded({
      Loc(1, 0, 0, 10), Loc(1, 3, 0, 11),   // 3, retained
      Loc(1, 3, 100, 11.1),                 // 100, too short
      Loc(1, 3, 104, 12),                   // 4, retained
      Loc(1, 3, 204, 11),                   // backwards in time: not retained, no error
      Loc(2, 50, 50, 1),                    // a single location in the middle
      Loc(3, 0, 0, 1), Loc(3, 7, 0, 1.25),  // only a short segment
      Loc(5, 60, 60, 1), Loc(5, 61, 60, 2), // 1, retained
      Loc(6, 9, 9, 1),                      // single, at the very end
  });
  EXPECT_EQ(run.Run(seq), tRunOutcome::Completed);
  EXPECT_EQ(Lines(ReadFileBytes(run.DistancesPath())),
            (std::vector<std::string>{"1\t" + FormatReal23(3.0) + "\t" + FormatReal23(4.0), "2",
                                      "3", "5\t" + FormatReal23(1.0)}));
  EXPECT_EQ(run.reporter.logs.at(run.reporter.logs.size() - 3), "Algorithm: fixed-width strip");
  EXPECT_EQ(run.reporter.logs.at(run.reporter.logs.size() - 2),
            "Ignore segments shorter than 12 Hours");

  // Individual 1: 40 walks of two steps drawn from {3, 4} only; individual 5:
  // 40 one-step walks of length 1, starting at its second location.
  const auto lines = run.Report();
  ASSERT_EQ(lines.size(), 1u + 40 * 2 + 40);
  std::set<double> lengths;
  for (size_t i = 1; i <= 80; ++i) {
    const tStep step = ParseStep(lines[i]);
    EXPECT_EQ(step.id, "1");
    EXPECT_EQ(step.replicate, std::to_string((i - 1) / 2 + 1));
    if (i % 2 == 1) {
      EXPECT_EQ(step.x1, 3);
      EXPECT_EQ(step.y1, 0);
    }
    lengths.insert(step.length);
  }
  EXPECT_EQ(lengths, (std::set<double>{3, 4}));
  for (size_t i = 81; i < lines.size(); ++i) {
    const tStep step = ParseStep(lines[i]);
    EXPECT_EQ(step.id, "5");
    EXPECT_EQ(step.x1, 61);
    EXPECT_EQ(step.length, 1);
  }

  // Fewer than two locations: the header only, an empty distance file.
  tRun one;
  one.settings.DistanceDistribution = true;
  EXPECT_EQ(one.Run(Loaded({Loc(1, 1, 1, 1)})), tRunOutcome::Completed);
  EXPECT_EQ(one.Report().size(), 1u);
  EXPECT_EQ(ReadFileBytes(one.DistancesPath()), "");

  // A sequence that did not load: the run fails with its message, no files.
  tRun unread;
  unread.settings.DistanceDistribution = true;
  EXPECT_THROW(unread.Run(tLocationSequence{}), EInOutError);
  EXPECT_EQ(unread.result.Error, "Sequence file badly formatted. Process interrupted.");
  EXPECT_TRUE(unread.result.FilesWritten.empty());
  EXPECT_FALSE(fs::exists(unread.ReportPath()));
  EXPECT_FALSE(fs::exists(unread.DistancesPath()));
}

TEST(SequenceBootstrap, WalksFollowTheGeneratorsStartUpState) {
  const auto seq = Loaded({Loc(1, 10, 10, 1), Loc(1, 13, 14, 2), Loc(1, 20, 14, 3),
                           Loc(2, 50, 50, 1), Loc(2, 52, 50, 2)});
  // The walks come from the run's generator, never from the thread that
  // happens to run it: a thread whose own generator has moved on draws the
  // same walks, and its generator is left where it was.
  auto freshRun = [&](bool twice, int disturb) {
    std::string report;
    std::thread worker([&] {
      for (int k = 0; k < disturb; ++k) CurrentRandom().NextRaw();
      const tRandomState before = CurrentRandom().State();
      tRun run;
      run.settings.Bootstraps = 5;
      run.Run(seq);
      if (twice) run.Run(seq); // the run's generator goes on: other walks
      report = ReadFileBytes(run.ReportPath());
      EXPECT_EQ(CurrentRandom().State(), before);
    });
    worker.join();
    return report;
  };
  const std::string first = freshRun(false, 0);
  EXPECT_EQ(Lines(first).size(), 1u + 5 * 2 + 5);
  // The first walk, drawn by hand from a generator in the start-up state:
  // the length first, then the direction.
  tRandomGenerator g;
  const double lengths[2] = {5, 7};
  double x = 13, y = 14;
  for (size_t i = 1; i <= 2; ++i) {
    const double length = lengths[g.Int(2)];
    const double theta = g.Uniform() * 2 * std::numbers::pi;
    x += length * std::cos(theta);
    y += length * std::sin(theta);
    const tStep step = ParseStep(Lines(first)[i]);
    EXPECT_EQ(step.length, length);
    EXPECT_NEAR(step.x2, x, 1e-9);
    EXPECT_NEAR(step.y2, y, 1e-9);
  }
  EXPECT_EQ(freshRun(false, 0), first);
  EXPECT_EQ(freshRun(false, 7), first);
  EXPECT_NE(freshRun(true, 0), first);
}

TEST(SequenceBootstrap, CancelAfterTheFirstStep) {
  tRun run;
  run.settings.DistanceDistribution = true;
  run.settings.Bootstraps = 3;
  run.reporter.cancelAfterPolls = 0;
  const auto seq = Loaded({Loc(1, 10, 10, 1), Loc(1, 13, 14, 2), Loc(1, 20, 14, 3)});
  EXPECT_EQ(run.Run(seq), tRunOutcome::Cancelled);
  const std::string report = ReadFileBytes(run.ReportPath());
  EXPECT_EQ(Lines(report).size(), 2u);
  EXPECT_EQ(ParseStep(Lines(report)[1]).t2, "1");
  EXPECT_EQ(Lines(ReadFileBytes(run.DistancesPath())).size(), 1u);
  EXPECT_FALSE(run.state.Running);
  EXPECT_EQ(run.reporter.labels.back(), "Ready");
  EXPECT_EQ(run.reporter.progress.back(), 0);
}

TEST(SequenceBootstrap, LeastCostSteps) {
  tRun run;
  run.maps.BinaryMaps.push_back(
      BigGrid(run.dir, "ones", dtByte, [](int32_t, int32_t) { return 1.0f; }));
  BigGrid(run.dir, "friction", dtReal, [](int32_t r, int32_t c) { return float(1 + (r + c) % 3); });
  run.settings.Connectivity = caLeastCostPath;
  run.settings.FrictionMapFile = "friction";
  run.settings.CorridorMapName = "corr"; // not used by the bootstrap
  run.settings.Bootstraps = 2;
  const auto seq = Loaded({Loc(1, 100, 100, 1), Loc(1, 104, 103, 2), Loc(1, 110, 103, 3)});
  EXPECT_EQ(run.Run(seq), tRunOutcome::Completed);
  const auto lines = run.Report();
  ASSERT_EQ(lines.size(), 5u);
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto f = Fields(lines[i]);
    ASSERT_EQ(f.size(), 14u);
    EXPECT_GT(std::stod(f[12]), 0) << lines[i]; // mean path length of real paths
    EXPECT_GT(std::stod(f[13]), 0) << lines[i];
  }
  EXPECT_FALSE(fs::exists(run.dir.file("corr" + DocExt())));
  // Each step's scans are seeded with (Seed, (k + 10) x r), k = 3 being the
  // first location after the individual.
  tMatrixOfSingle friction;
  tRaster(run.dir.file("friction")).ReadSingleMatrix(friction);
  tPathScanOptions options;
  options.Connectivity = caLeastCostPath;
  options.Friction = &friction;
  options.LengthWeight = 0;
  const tPathScanner scanner(run.maps, options);
  for (size_t i = 1; i < lines.size(); ++i) {
    const tStep step = ParseStep(lines[i]);
    const int32_t replicate = std::stoi(step.replicate);
    const std::string columns =
        scanner.Scan(step.x1, step.y1, step.x2, step.y2, (3 + 10) * replicate).Columns;
    EXPECT_EQ(lines[i].substr(lines[i].size() - columns.size()), columns) << lines[i];
  }
  EXPECT_EQ(run.reporter.logs.at(run.reporter.logs.size() - 2), "Algorithm: least cost path");

  // The walk starts at the second location: off the friction map, the run
  // stops before any file is made.
  tRun off;
  off.maps.BinaryMaps.push_back(
      BigGrid(off.dir, "ones", dtByte, [](int32_t, int32_t) { return 1.0f; }));
  BigGrid(off.dir, "friction", dtReal, [](int32_t, int32_t) { return 1.0f; });
  off.settings.Connectivity = caLeastCostPath;
  off.settings.FrictionMapFile = "friction";
  try {
    off.Run(Loaded({Loc(1, 100, 100, 1), Loc(1, 100, 300, 2), Loc(1, 100, 100, 3)}));
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), kOutsidePointsError);
  }
  EXPECT_FALSE(fs::exists(off.ReportPath()));
  EXPECT_FALSE(off.state.Running);
}
