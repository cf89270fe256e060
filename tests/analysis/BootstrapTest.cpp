#include "analysis/Analyses.h"

#include "AnalysisRun.h"
#include "MapFixtures.h"
#include "ReportFixtures.h"
#include "TestSupport.h"
#include "analysis/PathScan.h"
#include "analysis/PopulationFile.h"
#include "analysis/ReportWriter.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

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

// The k-th line from the end.
std::string FromEnd(const std::vector<std::string>& lines, std::size_t k) {
  return lines.at(lines.size() - k);
}

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

struct tRun : tAnalysisRun {
  tRun() {
    settings.ProjectName = "Boot";
    settings.Bootstraps = 1;
  }
  tRunOutcome Run(const tLocationSequence& seq) {
    return tAnalysisRun::Run(tAnalysisKind::Bootstrap, seq);
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
                                        "Cell rule: containing",
                                        "Bootstrapping sequences"};
  EXPECT_EQ(run.reporter.AnalysisLogs(), log);
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
  EXPECT_EQ(FromEnd(run.reporter.AnalysisLogs(), 4), "Algorithm: fixed-width strip");
  EXPECT_EQ(FromEnd(run.reporter.AnalysisLogs(), 3), "Cell rule: containing");
  EXPECT_EQ(FromEnd(run.reporter.AnalysisLogs(), 2), "Ignore segments shorter than 12 Hours");

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
  // happens to run it: a thread that ran other walks before draws the same
  // walks.
  auto freshRun = [&](bool twice, int disturb) {
    std::string report;
    std::thread worker([&] {
      for (int k = 0; k < disturb; ++k) {
        tRun earlier;
        earlier.settings.Bootstraps = 2;
        earlier.Run(seq);
      }
      tRun run;
      run.settings.Bootstraps = 5;
      run.Run(seq);
      if (twice) run.Run(seq); // the run's generator goes on: other walks
      report = ReadFileBytes(run.ReportPath());
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
  options.Rules.Friction = &friction;
  options.Rules.LengthWeight = 0;
  const tPathScanner scanner(run.maps, options);
  tRandomGenerator rng;
  for (size_t i = 1; i < lines.size(); ++i) {
    const tStep step = ParseStep(lines[i]);
    const int32_t replicate = std::stoi(step.replicate);
    const std::string columns =
        scanner.Scan(step.x1, step.y1, step.x2, step.y2, (3 + 10) * replicate, rng).Columns;
    EXPECT_EQ(lines[i].substr(lines[i].size() - columns.size()), columns) << lines[i];
  }
  EXPECT_EQ(FromEnd(run.reporter.AnalysisLogs(), 3), "Algorithm: least cost path");

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
    EXPECT_EQ(std::string(e.what()),
              std::string(kOutsidePointsError) +
                  " Outside: location 1 (ID 1) at (100, 300). The only location does not lie on "
                  "the map friction (x 0..200, y 0..200, plane): is it in the map's coordinate "
                  "system?");
  }
  EXPECT_FALSE(fs::exists(off.ReportPath()));
  EXPECT_FALSE(off.state.Running);
}

namespace {

// A 20 x 20 landscape of unit cells from (0, 0) searched by least-cost
// walks: a binary and a quantitative map beside the friction map.
void SmallLandscape(tRun& run, TConnectivityAlgorithm algorithm) {
  run.maps.BinaryMaps.push_back(
      SquareMap(run.dir, "ones", 20, dtByte, [](int32_t, int32_t) { return 1.0f; }));
  run.maps.QuantitativeMaps.push_back(
      SquareMap(run.dir, "q", 20, dtReal, [](int32_t r, int32_t c) { return float(r + 2 * c); }));
  SquareMap(run.dir, "friction", 20, dtReal,
            [](int32_t r, int32_t c) { return float(1 + (r * c) % 4); });
  run.settings.Connectivity = algorithm;
  run.settings.FrictionMapFile = "friction";
}

bool OnFrictionMap(const tRun& run, double x, double y) {
  const tRaster friction(run.dir.file("friction"));
  return friction.IsInside(friction.RowOfY(y), friction.ColOfX(x));
}

// The map columns of a least-cost scan that finds no path: a climb-only
// search towards a lower point.
std::string NoPathColumns(const tRun& run) {
  tMatrixOfSingle friction;
  tRaster(run.dir.file("friction")).ReadSingleMatrix(friction);
  const auto dem = SquareMap(run.dir, "dem", 20, dtReal,
                             [](int32_t, int32_t c) { return float(c); });
  tPathScanOptions options;
  options.Connectivity = caLeastCostPath;
  options.Rules.Friction = &friction;
  options.Rules.Topography = dem.get();
  options.Rules.Direction = tSlopeDirection::Uphill;
  const tPathScanner scanner(run.maps, options);
  tRandomGenerator rng;
  return scanner.Scan(15, 10, 5, 10, 1, rng).Columns;
}

std::string MapColumns(const std::string& line) {
  std::size_t at = 0;
  for (int tabs = 0; tabs < 10; ++tabs) at = line.find('\t', at) + 1;
  return line.substr(at - 1);
}

} // namespace

// A least-cost walk that never leaves the map draws the length, then the
// direction, and nothing else; each step's scans re-seed the generator and the
// next step's draws go on from there. Replayed here step by step.
TEST(SequenceBootstrap, LeastCostWalksOnTheMapDrawAsBefore) {
  tRun run;
  run.maps.BinaryMaps.push_back(
      BigGrid(run.dir, "ones", dtByte, [](int32_t, int32_t) { return 1.0f; }));
  run.maps.QuantitativeMaps.push_back(
      BigGrid(run.dir, "q", dtReal, [](int32_t r, int32_t c) { return float(r % 7 + c % 5); }));
  BigGrid(run.dir, "friction", dtReal, [](int32_t r, int32_t c) { return float(1 + (r + c) % 3); });
  run.settings.Connectivity = caLeastCostPath;
  run.settings.FrictionMapFile = "friction";
  run.settings.PathWidth = 2;
  run.settings.Bootstraps = 3;
  const auto seq =
      Loaded({Loc(7, 97, 100, 1), Loc(7, 100, 100, 2), Loc(7, 100, 104, 3), Loc(7, 105, 104, 4)});
  ASSERT_EQ(run.Run(seq), tRunOutcome::Completed);

  const tRaster frictionMap(run.dir.file("friction"));
  tMatrixOfSingle friction;
  tRaster(run.dir.file("friction")).ReadSingleMatrix(friction);
  const tPathScanner scanner(run.maps,
                             MakeScanOptions(run.settings, true, &friction, nullptr, &frictionMap));
  std::vector<std::string> expected = {"ID\tReplicate\tX1\tY1\tT1\tX2\tY2\tT2\tLength\tTime" +
                                       scanner.HeaderColumns()};
  const double lengths[3] = {3, 4, 5};
  tRandomGenerator g;
  for (int32_t r = 1; r <= 3; ++r) {
    double x = 100, y = 100;
    for (int s = 1; s <= 3; ++s) {
      const double length = lengths[g.Int(3)];
      const double theta = g.Uniform() * 2 * std::numbers::pi;
      const double x2 = x + length * std::cos(theta), y2 = y + length * std::sin(theta);
      const tPathScanResult scan = scanner.Scan(x, y, x2, y2, (4 + 10) * r, g);
      EXPECT_EQ(scan.RandomAfter.State(), g.State());
      tReportRow row;
      row.AddInt(7).AddTab().AddInt(r).AddTab().AddReal(x).AddTab().AddReal(y).AddTab();
      row.AddInt(s - 1).AddTab().AddReal(x2).AddTab().AddReal(y2).AddTab().AddInt(s).AddTab();
      row.AddReal(length).AddText("\t1").AddText(scan.Columns);
      expected.push_back(row.Text());
      x = x2;
      y = y2;
    }
  }
  EXPECT_EQ(run.Report(), expected);
  // Nothing left the map: no line about redrawn steps.
  EXPECT_EQ(run.reporter.AnalysisLogs().back(), "Bootstrapping sequences");
}

// A step longer than the farthest corner of the map from its start cannot end
// on it in any direction: the walk ends there, with the row of a search that
// found no path, and its later steps are not written. The row keeps the drawn
// length and the end of the one direction drawn.
TEST(SequenceBootstrap, StepsLongerThanTheMapEndTheWalk) {
  for (const TConnectivityAlgorithm algorithm : {caLeastCostPath, caExactLeastCost}) {
    SCOPED_TRACE(algorithm);
    tRun run;
    SmallLandscape(run, algorithm);
    run.settings.Bootstraps = 2;
    const auto seq = Loaded({Loc(1, 10, 110, 1), Loc(1, 10, 10, 2), Loc(1, 10, 110, 3),
                             Loc(2, 5, 5, 1), Loc(2, 6, 5, 2), Loc(2, 6, 6, 3)});
    ASSERT_EQ(run.Run(seq), tRunOutcome::Completed);
    const auto lines = run.Report();
    ASSERT_EQ(lines.size(), 1u + 2 * 1 + 2 * 2);

    const std::string noPath = NoPathColumns(run);
    EXPECT_NE(noPath.find("-1"), std::string::npos) << noPath;
    tRandomGenerator g; // no searches come before the ended steps
    for (int r = 1; r <= 2; ++r) {
      const std::string& line = lines[static_cast<size_t>(r)];
      const tStep step = ParseStep(line);
      EXPECT_EQ(step.id, "1");
      EXPECT_EQ(step.replicate, std::to_string(r));
      EXPECT_EQ(step.t1, "0");
      EXPECT_EQ(step.t2, "1");
      EXPECT_EQ(step.length, 100);
      g.Int(2);
      const double theta = g.Uniform() * 2 * std::numbers::pi;
      EXPECT_NEAR(step.x2, 10 + 100 * std::cos(theta), 1e-9);
      EXPECT_NEAR(step.y2, 10 + 100 * std::sin(theta), 1e-9);
      EXPECT_EQ(MapColumns(line), noPath);
    }
    // The next individual walks on as usual.
    for (size_t i = 3; i < lines.size(); ++i) {
      const tStep step = ParseStep(lines[i]);
      EXPECT_EQ(step.id, "2");
      EXPECT_EQ(step.t1, i % 2 == 1 ? "0" : "1");
      EXPECT_NE(MapColumns(lines[i]), noPath);
      EXPECT_GT(std::stod(Fields(lines[i]).back()), 0) << lines[i];
    }
    EXPECT_EQ(run.reporter.AnalysisLogs().back(),
              "Off-map walk steps drawn again: 0; walks ended early: 2");
  }
}

// A step that could end on the map only on an arc too narrow to hit is given
// up after a bounded number of directions, the same way on every run.
TEST(SequenceBootstrap, StepsAtTheEdgeOfReachEndTheWalkAfterBoundedRedraws) {
  // From (10, 10) the map's corners are 10 + 10 away; whichever way points are
  // rounded to cells, no point within 0.8 cell more in x and y is on the map.
  const double reach = std::hypot(10.8, 10.8);
  const auto seq = Loaded({Loc(1, 20.8, 20.8, 1), Loc(1, 10, 10, 2)});
  std::string first;
  for (int attempt = 0; attempt < 2; ++attempt) {
    tRun run;
    SmallLandscape(run, caLeastCostPath);
    run.settings.Bootstraps = 2;
    ASSERT_EQ(run.Run(seq), tRunOutcome::Completed);
    const auto lines = run.Report();
    ASSERT_EQ(lines.size(), 3u);
    tRandomGenerator g;
    g.Int(1);
    const double firstTheta = g.Uniform() * 2 * std::numbers::pi;
    for (size_t i = 1; i < lines.size(); ++i) {
      const tStep step = ParseStep(lines[i]);
      EXPECT_NEAR(step.length, reach, 1e-12);
      EXPECT_NEAR(std::hypot(step.x2 - 10, step.y2 - 10), step.length, 1e-9);
      EXPECT_FALSE(OnFrictionMap(run, step.x2, step.y2));
      EXPECT_EQ(MapColumns(lines[i]), NoPathColumns(run));
    }
    // Other directions were tried before the walk was given up.
    EXPECT_GT(std::fabs(ParseStep(lines[1]).x2 - (10 + reach * std::cos(firstTheta))), 1e-6);
    EXPECT_EQ(run.reporter.AnalysisLogs().back(),
              "Off-map walk steps drawn again: 0; walks ended early: 2");
    const std::string report = ReadFileBytes(run.ReportPath());
    if (attempt == 0)
      first = report;
    else
      EXPECT_EQ(report, first);
  }
}

// Least-cost and exact walks near the edge: a step whose end falls off the map
// takes a new direction with the same length until it ends on it, and every
// walk keeps all its steps.
TEST(SequenceBootstrap, OffMapStepsAreDrawnAgainWithTheirLength) {
  const auto seq = Loaded({Loc(3, 2, 3, 1), Loc(3, 2, 8, 2), Loc(3, 9, 8, 3), Loc(3, 9, 11, 4)});
  for (const TConnectivityAlgorithm algorithm : {caLeastCostPath, caExactLeastCost}) {
    SCOPED_TRACE(algorithm);
    tRun run;
    SmallLandscape(run, algorithm);
    run.settings.Bootstraps = 30;
    ASSERT_EQ(run.Run(seq), tRunOutcome::Completed);
    const auto lines = run.Report();
    ASSERT_EQ(lines.size(), 1u + 30 * 3);
    double x = 0, y = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
      const tStep step = ParseStep(lines[i]);
      if (step.t1 == "0") {
        x = 2;
        y = 8;
      }
      EXPECT_EQ(step.x1, x);
      EXPECT_EQ(step.y1, y);
      EXPECT_TRUE(step.length == 5 || step.length == 7 || step.length == 3) << step.length;
      EXPECT_NEAR(std::hypot(step.x2 - step.x1, step.y2 - step.y1), step.length, 1e-9);
      EXPECT_TRUE(OnFrictionMap(run, step.x2, step.y2)) << lines[i];
      EXPECT_GT(std::stod(Fields(lines[i]).back()), 0) << lines[i];
      x = step.x2;
      y = step.y2;
    }
    const std::string log = run.reporter.AnalysisLogs().back();
    EXPECT_EQ(log.rfind("Off-map walk steps drawn again: ", 0), 0u) << log;
    EXPECT_NE(log.find("; walks ended early: 0"), std::string::npos) << log;
    EXPECT_EQ(log.find("drawn again: 0;"), std::string::npos) << log;

    // The exact search draws no random number, so its walks can be drawn
    // here: the length, then directions until one ends on the map.
    if (algorithm != caExactLeastCost) continue;
    tRandomGenerator g;
    const double lengths[3] = {5, 7, 3};
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const tStep step = ParseStep(lines[i]);
      const double length = lengths[g.Int(3)];
      double x2 = 0, y2 = 0;
      do {
        const double theta = g.Uniform() * 2 * std::numbers::pi;
        x2 = step.x1 + length * std::cos(theta);
        y2 = step.y1 + length * std::sin(theta);
      } while (!OnFrictionMap(run, x2, y2));
      ASSERT_EQ(step.length, length) << lines[i];
      ASSERT_NEAR(step.x2, x2, 1e-9) << lines[i];
      ASSERT_NEAR(step.y2, y2, 1e-9) << lines[i];
    }
  }
}

TEST(SequenceBootstrap, SearchErrorNamesTheStep) {
  // The friction map covers x 0..200, the binary map x 100..300: the walk,
  // from the second location, starts on the first, off the grid the search uses.
  tRun run;
  auto shifted = std::make_unique<tLiveRaster>(WriteMap(
      run.dir, "shifted", 200, 200, dtByte, [](int32_t, int32_t) { return 1.0f; }, fdNoBackground,
      0, 100));
  shifted->LoadData();
  run.maps.BinaryMaps.push_back(std::move(shifted));
  BigGrid(run.dir, "friction", dtReal, [](int32_t, int32_t) { return 1.0f; });
  run.settings.Connectivity = caLeastCostPath;
  run.settings.FrictionMapFile = "friction";
  try {
    run.Run(Loaded({Loc(7, 50, 100, 1), Loc(7, 53, 104, 2)}));
    ADD_FAILURE() << "no error";
  } catch (const EAssertionFailed& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Error in Least-Cost Path: path ends are out of map:(", 0), 0u)
        << message;
    EXPECT_NE(message.find(") (individual 7, replicate 1, step 1: (53, 104) to ("),
              std::string::npos)
        << message;
    EXPECT_EQ(message.back(), ')') << message;
  }
  EXPECT_FALSE(run.state.Running);
}
