#include "analysis/Analyses.h"

#include "AnalysisRun.h"
#include "MapFixtures.h"
#include "ReportFixtures.h"
#include "TestSupport.h"
#include "analysis/PathScan.h"
#include "analysis/PopulationFile.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

using namespace stravex;
using namespace stravex::test;

namespace {

namespace fs = std::filesystem;

// 20 x 20 cells of 1 map unit: the point (x, y) lies on row 20 - y, column x.
std::unique_ptr<tLiveRaster> GridMap(const TempDir& dir, const std::string& name, tDataType type,
                                     const std::function<float(int32_t, int32_t)>& value) {
  return SquareMap(dir, name, 20, type, value);
}

struct tRun : tAnalysisRun {
  tRun() { settings.ProjectName = "Seq"; }
  void AddGridMaps() {
    maps.BinaryMaps.push_back(GridMap(dir, "ones", dtByte, [](int32_t, int32_t) { return 1.0f; }));
    maps.QuantitativeMaps.push_back(
        GridMap(dir, "colq", dtReal, [](int32_t, int32_t c) { return float(c); }));
  }
  void UseLeastCost(const std::function<float(int32_t, int32_t)>& friction) {
    GridMap(dir, "friction", dtReal, friction);
    settings.Connectivity = caLeastCostPath;
    settings.FrictionMapFile = "friction";
  }
  tRunOutcome Run(const tLocationSequence& seq) {
    return tAnalysisRun::Run(tAnalysisKind::Sequence, seq);
  }
  std::string ReportPath() const { return dir.file("Seq-SequenceAnalysis.txt"); }
  std::vector<std::string> Report() const { return Lines(ReadFileBytes(ReportPath())); }
};

} // namespace

TEST(SequenceAnalysis, StripRowCheckedByHand) {
  tRun run;
  run.AddGridMaps();
  run.maps.TopographyMap = GridMap(run.dir, "dem", dtReal,
                                   [](int32_t, int32_t c) { return float(10 * c); });
  run.settings.DataFile = "tracks.txt";
  run.settings.IgnoreTime = 2;
  // Location 1 -> 2 runs along row 10 from column 1 to column 6: five cells, 2..6.
  const auto seq = Loaded({Loc(9, 3, 3, 44000), Loc(7, 1, 10, 44000.25), Loc(7, 6, 10, 44002.25)});
  EXPECT_EQ(run.Run(seq), tRunOutcome::Completed);

  const auto lines = run.Report();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::string("ID\tX1\tY1\tT1\tX2\tY2\tT2\tLength\tTime") +
                          "\tones_Count\tones_Area\tones_Length\tones_Cost"
                          "\tcolq_Sum\tcolq_Mean\tcolq_SD\tcolq_Area\tcolq_Length\tcolq_Cost"
                          "\tdem_Mean\tdem_SD\tdem_Slope\tdem_Convexity\tdem_Area");
  const std::vector<std::string> expected = {
      "7", " 1.00000000000000E+0000", " 1.00000000000000E+0001", " 4.40002500000000E+0004",
      " 6.00000000000000E+0000", " 1.00000000000000E+0001", " 4.40022500000000E+0004",
      " 5.00000000000000E+0000", " 2.00000000000000E+0000",
      // ones: 5 cells of 1; Length and Cost are 0 for strips
      "5", "5", "0", "0",
      // colq: columns 2..6 sum to 20, mean 4, population SD sqrt(2)
      " 2.00000000000000E+0001", " 4.00000000000000E+0000", " 1.41421356237310E+0000", "5", "0",
      "0",
      // dem: mean 40, SD sqrt(200), slope (60 - 10) / 5, middle cell 40 minus the mean
      " 4.00000000000000E+0001", " 1.41421356237310E+0001", " 1.00000000000000E+0001",
      " 0.00000000000000E+0000", "5"};
  EXPECT_EQ(Fields(lines[1]), expected);

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
                                        "Ignore segments shorter than 2 Days"};
  EXPECT_EQ(run.reporter.AnalysisLogs(), log);
  EXPECT_EQ(run.reporter.labels, (std::vector<std::string>{"Analysing paths", "Ready"}));
  EXPECT_EQ(run.reporter.progress, (std::vector<int>{33, 67, 0}));
  EXPECT_FALSE(run.state.Running);
}

TEST(SequenceAnalysis, SegmentsThresholdAndIds) {
  tRun run;
  run.AddGridMaps();
  run.settings.IgnoreTime = 2;
  const double t1 = 100 + 1.99;
  const auto seq = Loaded({
      Loc(1, 1, 1, 100), Loc(1, 2, 1, t1), // 1.99 days: ignored, progress still moves
      Loc(1, 2, 4, t1 + 2.0),              // exactly 2 days: a row
      Loc(2, 5, 5, 50),                    // earlier, but another individual: no error
      Loc(1, 9, 9, 300),                   // ID 1 again: not joined to the earlier ID 1
  });
  EXPECT_EQ(run.Run(seq), tRunOutcome::Completed);
  auto lines = run.Report();
  ASSERT_EQ(lines.size(), 2u);
  auto f = Fields(lines[1]);
  EXPECT_EQ(f[0], "1");
  EXPECT_EQ(f[1], " 2.00000000000000E+0000");
  EXPECT_EQ(f[7], " 3.00000000000000E+0000");
  EXPECT_EQ(f[8], " 2.00000000000000E+0000");
  EXPECT_EQ(run.reporter.progress, (std::vector<int>{20, 40, 60, 80, 0}));

  // IDs 1, 1, 2, 1 with no threshold: only the first two are joined; equal
  // times give a row with Time 0.
  tRun ids;
  ids.AddGridMaps();
  ids.Run(Loaded({Loc(1, 1, 1, 10), Loc(1, 4, 5, 10), Loc(2, 3, 3, 11), Loc(1, 8, 8, 12)}));
  lines = ids.Report();
  ASSERT_EQ(lines.size(), 2u);
  f = Fields(lines[1]);
  EXPECT_EQ(f[4], " 4.00000000000000E+0000");
  EXPECT_EQ(f[7], " 5.00000000000000E+0000");
  EXPECT_EQ(f[8], " 0.00000000000000E+0000");
}

TEST(SequenceAnalysis, TimeGoingBackwardsStopsAfterEarlierRows) {
  for (int threads : {1, 2}) {
    tRun run;
    run.AddGridMaps();
    run.threads = threads;
    const auto seq = Loaded({Loc(1, 1, 1, 10), Loc(1, 2, 2, 11), Loc(1, 3, 3, 12),
                             Loc(1, 4, 4, 11.5), Loc(1, 5, 5, 13)});
    try {
      run.Run(seq);
      ADD_FAILURE() << "no error with " << threads << " threads";
    } catch (const EStravexError& e) {
      EXPECT_STREQ(e.what(), "Location 3 is antedates the previous location");
    }
    const std::string text = ReadFileBytes(run.ReportPath());
    EXPECT_EQ(Lines(text).size(), 3u) << threads << " threads";
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_FALSE(run.state.Running);
    EXPECT_EQ(run.reporter.labels.back(), "Ready");
  }
}

TEST(SequenceAnalysis, EmptyUnreadAndCancelledSequences) {
  // Only a header line, or a single location: the report holds the header only.
  for (const tLocations& locs : {tLocations{}, tLocations{Loc(1, 1, 1, 1)}}) {
    tRun run;
    run.AddGridMaps();
    EXPECT_EQ(run.Run(Loaded(locs)), tRunOutcome::Completed);
    EXPECT_EQ(run.Report().size(), 1u);
  }

  // A sequence that did not load: the run fails with its message, no report
  // and no corridor map (an existing one is left as it was).
  tRun unread;
  unread.AddGridMaps();
  unread.UseLeastCost([](int32_t, int32_t) { return 1.0f; });
  unread.settings.CorridorMapName = "corr";
  EXPECT_THROW(unread.Run(tLocationSequence{}), EInOutError);
  EXPECT_EQ(unread.result.Outcome, tRunOutcome::Failed);
  EXPECT_EQ(unread.result.Error, "Sequence file badly formatted. Process interrupted.");
  // After a failed read the message says why.
  tLocationSequence failed;
  failed.ReadError = "Invalid numeric input: t.txt line 3: 'x' is not a number";
  EXPECT_THROW(unread.Run(failed), EInOutError);
  EXPECT_EQ(unread.result.Error, "Sequence file badly formatted. Process interrupted. Invalid "
                                 "numeric input: t.txt line 3: 'x' is not a number");
  EXPECT_TRUE(unread.reporter.errors.empty());
  EXPECT_TRUE(unread.result.Files(tFileKind::CorridorMap).empty());
  EXPECT_FALSE(fs::exists(unread.ReportPath()));
  EXPECT_FALSE(fs::exists(unread.dir.file("corr") + ImageExt()));
  EXPECT_FALSE(unread.state.Running);

  // Cancel seen at the first check: one location done, the rest left out.
  tRun cancel;
  cancel.AddGridMaps();
  cancel.reporter.cancelAfterPolls = 0;
  EXPECT_EQ(cancel.Run(Loaded({Loc(1, 1, 1, 1), Loc(1, 3, 3, 2), Loc(1, 5, 5, 3)})),
            tRunOutcome::Cancelled);
  EXPECT_EQ(cancel.Report().size(), 2u);
  EXPECT_FALSE(cancel.state.Running);
}

TEST(SequenceAnalysis, LeastCostCorridorAndLocationsOffTheMap) {
  // Without binary maps no path reaches the corridor map: it stays 0.
  tRun quantOnly;
  quantOnly.maps.QuantitativeMaps.push_back(
      GridMap(quantOnly.dir, "colq", dtReal, [](int32_t, int32_t c) { return float(c); }));
  quantOnly.UseLeastCost([](int32_t r, int32_t c) { return float(1 + (r * c) % 5); });
  quantOnly.settings.CorridorMapName = "corr";
  quantOnly.settings.LengthWeight = "1e"; // not a number: counts as 1 here
  const auto seq = Loaded({Loc(1, 2, 2, 1), Loc(1, 15, 12, 2), Loc(1, 4, 17, 3)});
  EXPECT_EQ(quantOnly.Run(seq), tRunOutcome::Completed);
  auto reportWithLengthWeight = [&](const std::string& weight) {
    quantOnly.settings.LengthWeight = weight;
    quantOnly.settings.CorridorMapName.clear();
    quantOnly.Run(seq);
    return ReadFileBytes(quantOnly.ReportPath());
  };
  const std::string fallback = ReadFileBytes(quantOnly.ReportPath());
  // No binary maps: the label line stands alone.
  EXPECT_EQ(quantOnly.reporter.AnalysisLogs().at(5), "Ecological maps:\t");
  EXPECT_EQ(quantOnly.reporter.AnalysisLogs().at(7), "Algorithm: least cost path");
  EXPECT_EQ(quantOnly.reporter.AnalysisLogs().at(8), "Cell rule: containing");
  EXPECT_EQ(quantOnly.reporter.AnalysisLogs().at(9), "Minimization criterion: Friction sum");
  const auto lines = quantOnly.Report();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(Fields(lines[1]).size(), 9u + 6u);
  EXPECT_NE(Fields(lines[1])[14], " 0.00000000000000E+0000"); // a real cost
  tLiveRaster corridor(quantOnly.dir.file("corr"));
  corridor.LoadData();
  EXPECT_EQ(corridor.MaxValue, 0);
  for (int32_t r = 0; r < 20; ++r)
    for (int32_t c = 0; c < 20; ++c) ASSERT_EQ(corridor.GetCell(r, c), 0);
  EXPECT_EQ(reportWithLengthWeight("1"), fallback);
  EXPECT_NE(reportWithLengthWeight("0"), fallback);
  // The scans of the segment ending at location i are seeded with (Seed, i).
  tMatrixOfSingle friction;
  tRaster(quantOnly.dir.file("friction")).ReadSingleMatrix(friction);
  tPathScanOptions options;
  options.Connectivity = caLeastCostPath;
  options.Rules.Friction = &friction;
  options.Rules.LengthWeight = 1;
  const tPathScanner scanner(quantOnly.maps, options);
  tRandomGenerator rng;
  const std::string expected = scanner.Scan(15, 12, 4, 17, 2, rng).Columns;
  EXPECT_EQ(lines[2].substr(lines[2].size() - expected.size()), expected);

  // A path end off the friction map stops the run before any path, with the
  // location named in the log; a lone location off the map is no path end.
  tRun off;
  off.AddGridMaps();
  off.UseLeastCost([](int32_t, int32_t) { return 1.0f; });
  const auto offSeq = Loaded(
      {Loc(1, 2, 2, 1), Loc(1, 5, 5, 2), Loc(2, 50, 5, 3), Loc(3, 5, 5, 4), Loc(3, 6, 25, 5)});
  try {
    off.Run(offSeq);
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()),
              std::string(kOutsidePointsError) + " Outside: location 4 (ID 3) at (6, 25)");
  }
  EXPECT_FALSE(fs::exists(off.ReportPath()));
  EXPECT_EQ(off.reporter.AnalysisLogs().back(),
            std::string("Location 4\t6\t25") + kOutsidePointSuffix);
  EXPECT_FALSE(off.state.Running);

  tRun lone;
  lone.AddGridMaps();
  lone.UseLeastCost([](int32_t, int32_t) { return 1.0f; });
  EXPECT_EQ(lone.Run(Loaded({Loc(1, 2, 2, 1), Loc(1, 5, 5, 2), Loc(2, 50, 5, 3)})),
            tRunOutcome::Completed);
  EXPECT_EQ(lone.Report().size(), 2u);

  // Strips refuse the same end, and a lone location off the map is no end for them either.
  for (const auto algorithm : {caFixedWidthStrip, caRatioStrip}) {
    tRun strip;
    strip.AddGridMaps();
    strip.settings.Connectivity = algorithm;
    EXPECT_THROW(strip.Run(offSeq), EInOutError);
    EXPECT_EQ(strip.result.Error,
              std::string(kOutsidePointsError) + " Outside: location 4 (ID 3) at (6, 25)");
    EXPECT_FALSE(fs::exists(strip.ReportPath()));
    EXPECT_EQ(strip.Run(Loaded({Loc(1, 2, 2, 1), Loc(1, 5, 5, 2), Loc(2, 50, 5, 3)})),
              tRunOutcome::Completed);
  }
}

TEST(SequenceAnalysis, ThreadsGiveIdenticalOutput) {
  const fs::path landscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";
  tLocationSequence seq;
  ReadLocationSequence((landscape / "tracks.txt").string(), seq);
  ASSERT_GE(seq.Locations.size(), 10u);

  struct tOutput {
    std::string report, corridorImage, corridorDoc;
    uint32_t nextDraw = 0; // the run's generator after a least-cost run
  };
  auto runWith = [&](TConnectivityAlgorithm algorithm, int threads) {
    tRun run;
    run.threads = threads;
    RecordingReporter loading;
    run.maps.LoadBinaryMaps({(landscape / "forest_BL").string(), (landscape / "roads_NB").string()},
                            loading);
    run.maps.LoadQuantitativeMaps({(landscape / "cover_QT").string()}, loading);
    run.maps.LoadTopographyMap((landscape / "dem").string(), loading);
    run.settings.Connectivity = algorithm;
    run.settings.PathWidth = 3;
    if (algorithm == caLeastCostPath) {
      run.settings.FrictionMapFile = (landscape / "friction").string();
      run.settings.CorridorMapName = "corr";
    }
    EXPECT_EQ(run.Run(seq), tRunOutcome::Completed);
    tOutput out{ReadFileBytes(run.ReportPath()), "", "", 0};
    if (algorithm == caLeastCostPath) {
      out.nextDraw = run.random.NextRaw();
      out.corridorImage = ReadFileBytes(run.dir.file("corr" + ImageExt()));
      out.corridorDoc = ReadFileBytes(run.dir.file("corr" + DocExt()));
    }
    return out;
  };
  for (TConnectivityAlgorithm algorithm : {caFixedWidthStrip, caLeastCostPath}) {
    const tOutput one = runWith(algorithm, 1);
    const tOutput two = runWith(algorithm, 2);
    EXPECT_EQ(Lines(one.report).size(), 11u); // 12 locations, 2 individuals
    EXPECT_EQ(one.report, two.report);
    EXPECT_EQ(one.corridorImage, two.corridorImage);
    EXPECT_EQ(one.corridorDoc, two.corridorDoc);
    EXPECT_EQ(one.nextDraw, two.nextDraw);
    if (algorithm == caLeastCostPath) { // the paths did reach the corridor map
      EXPECT_NE(one.corridorImage, std::string(one.corridorImage.size(), '\0'));
    }
  }
}

TEST(SequenceAnalysis, SearchErrorNamesTheSegment) {
  // The friction map covers x 0..20, the binary map x 10..30: the start of
  // the second segment lies on the first, not on the grid the search uses.
  tRun run;
  run.UseLeastCost([](int32_t, int32_t) { return 1.0f; });
  auto shifted = std::make_unique<tLiveRaster>(WriteMap(
      run.dir, "shifted", 20, 20, dtByte, [](int32_t, int32_t) { return 1.0f; }, fdNoBackground, 0,
      10));
  shifted->LoadData();
  run.maps.BinaryMaps.push_back(std::move(shifted));
  const auto seq = Loaded({Loc(4, 12, 5, 1), Loc(4, 15, 5, 2), Loc(4, 2.5, 5, 3)});
  try {
    run.Run(seq);
    ADD_FAILURE() << "no error";
  } catch (const EAssertionFailed& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Error in Least-Cost Path: path ends are out of map:(", 0), 0u)
        << message;
    const std::string context = " (individual 4, locations 1-2: (15, 5) to (2.5, 5))";
    ASSERT_GT(message.size(), context.size());
    EXPECT_EQ(message.substr(message.size() - context.size()), context) << message;
  }
  EXPECT_EQ(run.result.Outcome, tRunOutcome::Failed);
  // The segment before it was written.
  EXPECT_EQ(run.Report().size(), 2u);
}
