#include "analysis/Analyses.h"

#include "AnalysisRun.h"
#include "MapFixtures.h"
#include "analysis/PopulationFile.h"
#include "base/Errors.h"
#include "base/RandomFunctions.h"
#include "raster/IdrisiEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>

using namespace stravex;
using namespace stravex::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (std::size_t end; (end = text.find(sep, pos)) != std::string::npos; pos = end + sep.size())
    parts.push_back(text.substr(pos, end - pos));
  parts.push_back(text.substr(pos));
  return parts;
}

struct tMatrixRun : tAnalysisRun {
  tMatrixRun() {
    settings.ProjectName = "P";
    settings.DataFile = "pop.txt"; // relative: read from the run's folder
    settings.EchoMatrices = false;
  }
  tRunOutcome Run() { return tAnalysisRun::Run(tAnalysisKind::PopulationMatrix); }
  std::string ReportFile() const { return dir.file(settings.ProjectName + "-MatrixAnalysis.txt"); }
  // The report's lines; every one must end with CR LF.
  std::vector<std::string> Lines() const {
    const std::string text = ReadFileBytes(ReportFile());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    auto lines = Split(text.substr(0, text.size() - 2), "\r\n");
    for (const auto& l : lines) EXPECT_EQ(l.find('\n'), std::string::npos);
    return lines;
  }
  // "i,j" of every row.
  std::vector<std::string> Pairs() const {
    std::vector<std::string> pairs;
    const auto lines = Lines();
    for (std::size_t k = 1; k < lines.size(); ++k) {
      const auto f = Split(lines[k], "\t");
      pairs.push_back(f[0] + "," + f[3]);
    }
    return pairs;
  }
  void Ended() const {
    EXPECT_EQ(reporter.labels.back(), "Ready");
    EXPECT_EQ(reporter.progress.back(), 0);
    EXPECT_FALSE(state.Running);
    EXPECT_FALSE(state.CancelRequested);
  }
};

float Zero(int32_t, int32_t) { return 0; }
double Gen(int i, int j) { return i == j ? 0 : 0.05; }

long CorridorTotal(const std::string& file) {
  tLiveRaster c(file);
  c.LoadData();
  long total = 0;
  for (int32_t row = 0; row < c.Rows; ++row)
    for (int32_t col = 0; col < c.Columns; ++col) total += std::lround(c.GetCell(row, col));
  return total;
}

} // namespace

TEST(MatrixAnalysis, RowCheckedByHandWithLogAndRunContract) {
  tMatrixRun r;
  r.maps.LoadBinaryMaps({WriteMap(
                            r.dir, "bin", 3, 5, dtByte,
                            [](int32_t row, int32_t c) {
                              return row == 1 ? std::vector<float>{1, 0, 2, 255, 1}[c] : 0.f;
                            },
                            fdBackground, 255)},
                        r.reporter);
  r.maps.LoadQuantitativeMaps({WriteMap(
                                  r.dir, "q", 3, 5, dtReal,
                                  [](int32_t row, int32_t c) {
                                    const float v[] = {10, 1, -9999, 3, -9999};
                                    return row == 1 ? v[c] : 0.f;
                                  },
                                  fdBackground, -9999)},
                              r.reporter);
  r.maps.LoadTopographyMap(WriteMap(r.dir, "dem", 3, 5, dtReal,
                                    [](int32_t, int32_t c) {
                                      return std::vector<float>{10, 14, 14, 16, 16}[c];
                                    }),
                           r.reporter);
  // Both points on row 1: the strip of width 1 scans columns 1 to 4.
  WritePopulationFile(
      r.dir.file("pop.txt"), {{0, 2}, {4, 2}}, [](int i, int j) { return i == j ? 0 : 0.25; },
      [](int i, int j) { return i == j ? 0 : 0.5; });
  r.reporter.labels.clear();
  r.reporter.progress.clear();
  EXPECT_EQ(r.Run(), tRunOutcome::Completed);

  const auto lines = r.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "PopID1\tX1\tY1\tPopID2\tX2\tY2\tGenDist\tGsig\tGeoDist"
                      "\tbin_Count\tbin_Area\tbin_Length\tbin_Cost"
                      "\tq_Sum\tq_Mean\tq_SD\tq_Area\tq_Length\tq_Cost"
                      "\tdem_Mean\tdem_SD\tdem_Slope\tdem_Convexity\tdem_Area");
  // Count 0 + 2 + 1 (255 is missing); q: 1 and 3; dem: 14 14 16 16, slope
  // (16 - 10) / 4, convexity 14 - 15.
  EXPECT_EQ(lines[1],
            "0\t 0.00000000000000E+0000\t 2.00000000000000E+0000\t1\t 4.00000000000000E+0000"
            "\t 2.00000000000000E+0000\t 2.50000000000000E-0001\t 5.00000000000000E-0001"
            "\t 4.00000000000000E+0000\t3\t3\t0\t0"
            "\t 4.00000000000000E+0000\t 2.00000000000000E+0000\t 1.00000000000000E+0000\t2\t0\t0"
            "\t 1.50000000000000E+0001\t 1.00000000000000E+0000\t 1.50000000000000E+0000"
            "\t-1.00000000000000E+0000\t4");
  EXPECT_EQ(
      r.reporter.AnalysisLogs(),
      (std::vector<std::string>{"", "       ******************************",
                                "******** Population matrix analysis **********",
                                "       ******************************", "",
                                "Ecological maps:", "- Binary:\tbin", "", "- Quantitative:\tq", "",
                                "- Topographical:\tdem", "Population matrix file:\tpop.txt",
                                "Algorithm: fixed-width strip", "Cell rule: containing"}));
  EXPECT_EQ(r.reporter.labels, (std::vector<std::string>{"Analysing paths", "Ready"}));
  EXPECT_EQ(r.reporter.progress, (std::vector<int>{100, 0}));
  r.Ended();
}

TEST(MatrixAnalysis, PairOrdersFiltersDelaunayAndNumberForms) {
  tMatrixRun r;
  r.maps.LoadBinaryMaps({WriteMap(r.dir, "bin", 4, 11, dtByte, Zero)}, r.reporter);
  // A kite: the short diagonal 2-3 is a Delaunay edge, the long one 0-1 is not.
  WritePopulationFile(r.dir.file("pop.txt"), {{0, 2}, {10, 2}, {5, 3}, {5, 1}}, Gen, Gen);
  r.reporter.progress.clear();
  r.Run();
  EXPECT_EQ(r.Pairs(), (std::vector<std::string>{"0,1", "0,2", "0,3", "1,2", "1,3", "2,3"}));
  EXPECT_EQ(r.reporter.progress, (std::vector<int>{17, 33, 50, 67, 83, 100, 0}));
  auto f = Split(r.Lines()[1], "\t");
  ASSERT_EQ(f.size(), 9u + 4u);
  // Genetic distances keep double precision, significances single precision.
  EXPECT_EQ(f[6], " 5.00000000000000E-0002");
  EXPECT_EQ(f[7], " 5.00000007450581E-0002");

  r.settings.DelaunayUse = duInclude;
  r.Run();
  auto lines = r.Lines();
  EXPECT_EQ(Split(lines[0], "\t")[9], "Delaunay");
  std::string flags;
  for (std::size_t k = 1; k < lines.size(); ++k) flags += Split(lines[k], "\t")[9];
  EXPECT_EQ(flags, "011111");

  r.settings.DelaunayUse = duRestrict;
  r.reporter.progress.clear();
  r.Run();
  EXPECT_EQ(r.Pairs(), (std::vector<std::string>{"0,2", "0,3", "1,2", "1,3", "2,3"}));
  EXPECT_EQ(Split(r.Lines()[0], "\t")[9], "bin_Count");
  // Skipped pairs count in the total but not as done.
  EXPECT_EQ(r.reporter.progress, (std::vector<int>{17, 33, 50, 67, 83, 0}));

  // Two distinct points only: no triangle, so nothing is linked.
  WritePopulationFile(r.dir.file("pop.txt"), {{0, 0}, {3, 4}, {0, 0}}, Gen);
  r.Run();
  EXPECT_TRUE(r.Pairs().empty());
  r.settings.DelaunayUse = duInclude;
  r.Run();
  lines = r.Lines();
  ASSERT_EQ(lines.size(), 4u);
  for (std::size_t k = 1; k < 4; ++k) EXPECT_EQ(Split(lines[k], "\t")[9], "0");

  // Distance threshold: a pair exactly at it is kept; 0 keeps coincident points.
  r.settings.DelaunayUse = duNone;
  r.settings.PairDistanceThreshold = 5;
  r.Run();
  EXPECT_EQ(r.Pairs(), (std::vector<std::string>{"0,1", "0,2", "1,2"}));
  r.settings.PairDistanceThreshold = 4;
  r.Run();
  EXPECT_EQ(r.Pairs(), (std::vector<std::string>{"0,2"}));
  r.settings.PairDistanceThreshold = 0;
  r.Run();
  EXPECT_EQ(r.Pairs(), (std::vector<std::string>{"0,2"}));

  // One point, or none: the header alone.
  for (const std::vector<tPoint>& pts : {std::vector<tPoint>{{1, 1}}, std::vector<tPoint>{}}) {
    WritePopulationFile(r.dir.file("pop.txt"), pts, Gen);
    EXPECT_EQ(r.Run(), tRunOutcome::Completed);
    EXPECT_EQ(r.Lines().size(), 1u);
  }
  r.Ended();
}

TEST(MatrixAnalysis, DirectionConstrainedPairsAndCorridorPerPair) {
  tMatrixRun r;
  LeastCostMaps(r);
  r.settings.Direction = 1; // uphill: eastwards
  r.settings.PathWidth = 3;
  r.settings.CorridorMapName = "Corr";
  r.settings.OneMapPerPair = true;
  WritePopulationFile(r.dir.file("pop.txt"), {{1, 6}, {14, 6}, {2, 2}, {13, 10}}, Gen);
  r.Run();
  EXPECT_EQ(r.Pairs(), (std::vector<std::string>{"0,1", "0,2", "0,3", "1,0", "1,2", "1,3", "2,0",
                                                 "2,1", "2,3", "3,0", "3,1", "3,2"}));
  const auto lines = r.Lines();
  // No topography columns with least-cost paths.
  EXPECT_EQ(Split(lines[0], "\t").size(), 9u + 4u + 6u);
  for (std::size_t k = 1; k < lines.size(); ++k) {
    const auto f = Split(lines[k], "\t");
    EXPECT_EQ(f[11], f[17]); // same length in both blocks
    EXPECT_EQ(f[12], f[18]); // same cost
  }
  // West to east found paths; their counts sum to the nodes of the three paths.
  const auto f01 = Split(lines[1], "\t");
  ASSERT_GT(std::stod(f01[11]), 0);
  EXPECT_EQ(CorridorTotal(r.dir.file("Corr_001_002")), std::lround(std::stod(f01[11]) * 3));
  // East to west is downhill: no path, the pair's map is removed.
  EXPECT_EQ(Split(lines[4], "\t")[12], "-1.00000000000000E+0000");
  EXPECT_FALSE(fs::exists(r.dir.file("Corr_002_001") + ImageExt()));
  EXPECT_FALSE(fs::exists(r.dir.file("Corr_002_001") + DocExt()));
  EXPECT_FALSE(fs::exists(r.dir.file("Corr") + ImageExt()));
  // The result lists exactly the pair maps that were kept.
  std::vector<std::string> kept;
  for (const auto& e : fs::directory_iterator(r.dir.path()))
    if (e.path().extension() == ImageExt() && e.path().stem().string().rfind("Corr_", 0) == 0)
      kept.push_back((r.dir.path() / e.path().stem()).string());
  std::vector<std::string> listed = r.result.Files(tFileKind::CorridorMap);
  std::sort(kept.begin(), kept.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_FALSE(listed.empty());
  EXPECT_EQ(listed, kept);

  const tRaster corr(r.dir.file("Corr_001_002"));
  EXPECT_EQ(corr.DataType, dtInteger);
  ASSERT_GE(corr.Comments.size(), 9u);
  EXPECT_EQ(corr.Comments[0], "Friction map: friction");
  EXPECT_EQ(corr.Comments[1], "Topo map: dem");
  EXPECT_EQ(corr.Comments[3], "Number of paths: 3");
  EXPECT_EQ(corr.Comments[4], "Minimization criterion: Friction sum");
  EXPECT_EQ(corr.Comments[7], "Distance threshold: 999999999");
  const std::vector<std::string> logs = r.reporter.AnalysisLogs();
  EXPECT_EQ(std::vector<std::string>(logs.end() - 3, logs.end()),
            (std::vector<std::string>{"Algorithm: least cost path", "Cell rule: containing",
                                      "Minimization criterion: Friction sum"}));

  // Without binary maps every pair keeps its map, all zero.
  r.maps.BinaryMaps.clear();
  r.Run();
  EXPECT_EQ(CorridorTotal(r.dir.file("Corr_001_002")), 0);
  EXPECT_EQ(CorridorTotal(r.dir.file("Corr_002_001")), 0);
  r.Ended();
}

TEST(MatrixAnalysis, SameOutputWithOneOrTwoThreads) {
  std::array<tMatrixRun, 2> runs;
  for (int t = 0; t < 2; ++t) {
    tMatrixRun& r = runs[static_cast<std::size_t>(t)];
    r.threads = t + 1;
    for (const auto& e : fs::directory_iterator(STRAVEX_EXAMPLES_DIR "/landscape"))
      fs::copy_file(e.path(), r.dir.path() / e.path().filename());
    r.settings.DataFile = "samples.txt";
    const auto in = [&](const char* n) { return r.dir.file(n); };
    r.maps.LoadBinaryMaps({in("forest_BL"), in("roads_NB"), in("landuse_CL")}, r.reporter);
    r.maps.LoadQuantitativeMaps({in("cover_QT")}, r.reporter);
    r.maps.LoadTopographyMap(in("dem"), r.reporter);
  }
  // After each run: the next number of the run's generator.
  std::vector<uint32_t> next;
  auto both = [&](auto&& check) {
    next.clear();
    for (auto& r : runs) {
      EXPECT_EQ(r.Run(), tRunOutcome::Completed);
      next.push_back(r.random.NextRaw());
    }
    check(runs[0], runs[1]);
  };
  auto sameReport = [](tMatrixRun& a, tMatrixRun& b) {
    EXPECT_EQ(a.Lines().size(), 29u);
    EXPECT_EQ(ReadFileBytes(a.ReportFile()), ReadFileBytes(b.ReportFile()));
  };
  for (auto& r : runs) {
    r.settings.PathWidth = 3;
    r.settings.DelaunayUse = duInclude;
  }
  both(sameReport);

  for (auto& r : runs) {
    r.settings.Connectivity = caLeastCostPath;
    r.settings.PathWidth = 1;
    r.settings.FrictionMapFile = "friction";
    r.settings.CorridorMapName = "Corr";
  }
  both([&](tMatrixRun& a, tMatrixRun& b) {
    sameReport(a, b);
    for (const std::string& ext : {ImageExt(), DocExt()})
      EXPECT_EQ(ReadFileBytes(a.dir.file("Corr") + ext), ReadFileBytes(b.dir.file("Corr") + ext));
    EXPECT_GT(CorridorTotal(a.dir.file("Corr")), 0);
  });
  // The calling thread's generator ends as after the one-thread run.
  EXPECT_EQ(next[0], next[1]);
}

TEST(MatrixAnalysis, CancelLeavesCompleteLines) {
  for (int threads : {1, 2}) {
    tMatrixRun r;
    r.threads = threads;
    r.maps.LoadBinaryMaps({WriteMap(r.dir, "bin", 3, 5, dtByte, Zero)}, r.reporter);
    WritePopulationFile(r.dir.file("pop.txt"), {{0, 0}, {1, 1}, {2, 2}, {3, 0}}, Gen);
    r.reporter.cancelAfterPolls = 0;
    EXPECT_EQ(r.Run(), tRunOutcome::Cancelled);
    EXPECT_EQ(r.Pairs(), (std::vector<std::string>{"0,1"}));
    r.Ended();
  }
}

namespace {

// Before the first pair, sets every cell of the corridor image to the
// largest count, as if the map had been crossed that often already.
class tSaturatingReporter : public RecordingReporter {
public:
  std::string image;
  bool filled = false;
  // After the first pair: the corridor map exists only once the run is under way.
  void Progress(int percent) override {
    RecordingReporter::Progress(percent);
    if (filled || !fs::exists(image)) return;
    filled = true;
    const std::size_t size = ReadFileBytes(image).size();
    std::string full;
    for (std::size_t k = 0; k < size / 2; ++k) full += "\xff\x7f";
    // A new file, not an overwrite: the corridor must notice the change
    // even within one tick of the file clock.
    WriteFileBytes(image + ".new", full);
    fs::rename(image + ".new", image);
  }
};

} // namespace

TEST(MatrixAnalysis, SearchErrorNamesThePair) {
  // The friction map covers x 0..16, the binary map x 8..24: the first point
  // lies on the friction map but off the grid the search uses.
  tMatrixRun r;
  auto wave = [](int32_t row, int32_t col) { return float((row * 5 + col * 3) % 4); };
  r.maps.LoadBinaryMaps({WriteMap(r.dir, "bin", 12, 16, dtByte, wave, fdNoBackground, 0, 8)},
                        r.reporter);
  WriteMap(r.dir, "friction", 12, 16, dtReal, [](int32_t, int32_t) { return 1.0f; });
  r.settings.Connectivity = caLeastCostPath;
  r.settings.FrictionMapFile = "friction";
  WritePopulationFile(r.dir.file("pop.txt"), {{1.5, 6}, {14, 6}}, Gen);
  try {
    r.Run();
    ADD_FAILURE() << "no error";
  } catch (const EAssertionFailed& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Error in Least-Cost Path: path ends are out of map:(", 0), 0u)
        << message;
    const std::string context = " (pair 0-1: (1.5, 6) to (14, 6))";
    ASSERT_GT(message.size(), context.size());
    EXPECT_EQ(message.substr(message.size() - context.size()), context) << message;
  }
  r.Ended();
  EXPECT_EQ(r.result.Outcome, tRunOutcome::Failed);
}

TEST(MatrixAnalysis, ErrorsEndTheRunAndWarningsReachTheRun) {
  tMatrixRun r;
  LeastCostMaps(r);
  WritePopulationFile(r.dir.file("pop.txt"), {{1, 6}, {100, 2}, {14, 6}}, Gen);
  // A point off the friction grid stops the run before any path or report.
  EXPECT_THROW(
      {
        try {
          r.Run();
        } catch (const EInOutError& e) {
          EXPECT_EQ(std::string(e.what()),
                    std::string(kOutsidePointsError) + " Outside: point 1 at (100, 2)");
          throw;
        }
      },
      EInOutError);
  EXPECT_NE(std::find(r.reporter.logs.begin(), r.reporter.logs.end(),
                      "100\t2 *** Outside of the map ***"),
            r.reporter.logs.end());
  EXPECT_FALSE(fs::exists(r.ReportFile()));
  r.Ended();
  EXPECT_EQ(r.result.Outcome, tRunOutcome::Failed);
  EXPECT_EQ(r.result.Error, std::string(kOutsidePointsError) + " Outside: point 1 at (100, 2)");
  // Strips refuse it too: its rows would count no cells, and look like data.
  r.settings.Connectivity = caFixedWidthStrip;
  EXPECT_THROW(r.Run(), EInOutError);
  r.Ended();
  EXPECT_EQ(r.result.Error, std::string(kOutsidePointsError) + " Outside: point 1 at (100, 2)");
  EXPECT_FALSE(fs::exists(r.ReportFile()));
  // Each strip list converts with its own first map: a topography map that
  // lies elsewhere refuses the points off it, and when no point is on it the
  // error names it with its extent.
  tMatrixRun shifted;
  shifted.maps.LoadBinaryMaps({WriteMap(shifted.dir, "bin", 12, 16, dtByte, Wave)},
                              shifted.reporter);
  ASSERT_TRUE(shifted.maps.LoadTopographyMap(
      WriteMap(shifted.dir, "far", 12, 16, dtReal, Zero, fdNoBackground, 0, 1000),
      shifted.reporter));
  WritePopulationFile(shifted.dir.file("pop.txt"), {{1, 6}, {14, 6}}, Gen);
  EXPECT_THROW(shifted.Run(), EInOutError);
  EXPECT_EQ(shifted.result.Error,
            std::string(kOutsidePointsError) +
                " Outside: point 0 at (1, 6), point 1 at (14, 6). None of the 2 points lies on "
                "the map far (x 1000..1016, y 0..12, plane): are the points in the map's "
                "coordinate system?");
  shifted.maps.TopographyMap.reset();
  shifted.maps.BuildMapList();
  EXPECT_EQ(shifted.Run(), tRunOutcome::Completed);

  // A missing friction map ends the run before the data file is read.
  r.settings.Connectivity = caLeastCostPath;
  r.settings.FrictionMapFile = "nowhere";
  r.settings.EchoMatrices = true;
  r.reporter.logs.clear();
  EXPECT_THROW(r.Run(), EStravexError);
  EXPECT_EQ(std::find(r.reporter.logs.begin(), r.reporter.logs.end(), "Genetic distance matrix"),
            r.reporter.logs.end());
  r.Ended();
  r.settings.FrictionMapFile = "friction";
  r.settings.DataFile = "absent.txt";
  EXPECT_THROW(r.Run(), EInOutError);
  r.Ended();
  r.settings.PathWidth = 2; // settings out of their range are refused
  EXPECT_THROW(r.Run(), ERangeError);
  r.Ended();
  r.settings.PathWidth = 1;

  // Saturated corridor counts: one warning for the map, given to the run's reporter.
  tSaturatingReporter sat;
  sat.image = r.dir.file("Corr") + ImageExt();
  tMapSet& maps = r.maps;
  tAnalysisContext ctx{r.settings, maps, sat, r.state, r.dir.path().string(), 1};
  r.settings.DataFile = "pop.txt";
  r.settings.CorridorMapName = "Corr";
  WritePopulationFile(r.dir.file("pop.txt"), {{1, 6}, {14, 6}, {8, 2}}, Gen);
  const tRunResult result = PopulationMatrixAnalysis(ctx);
  EXPECT_EQ(result.Outcome, tRunOutcome::Completed);
  ASSERT_EQ(sat.warnings.size(), 1u);
  EXPECT_NE(sat.warnings[0].find("32767"), std::string::npos);
  EXPECT_EQ(result.Warnings, sat.warnings);
  EXPECT_EQ(result.FilesWritten,
            (std::vector<tWrittenFile>{{tFileKind::CorridorMap, r.dir.file("Corr")},
                                       {tFileKind::Report, r.ReportFile()}}));
}
