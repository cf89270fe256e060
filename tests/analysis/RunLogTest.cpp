// The log's settings record and closing block: each kind of run names what
// shapes its results, and its end says what was written and how it ended.
#include "analysis/RunLog.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

using namespace stravex;
using namespace stravex::test;

namespace {

const std::string kLand = STRAVEX_EXAMPLES_DIR "/landscape/";

struct tRecordCase {
  TAnalysisSettings settings;
  tMapSet maps;
  tRandomGenerator walks;

  tRecordCase() {
    RecordingReporter loading;
    maps.LoadBinaryMaps({kLand + "forest_BL", kLand + "roads_NB.rst"}, loading);
    maps.LoadTopographyMap(kLand + "dem", loading);
    settings.DataFile = kLand + "samples.txt";
    settings.FrictionMapFile = kLand + "friction";
  }
  std::vector<std::string> Lines(tAnalysisKind kind) const {
    return RunSettingsLines({settings, maps, kind, std::chrono::system_clock::now(),
                             [](const std::string& name) { return name; }, &walks});
  }
};

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasLabel(const std::vector<std::string>& lines, const std::string& label) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.rfind(label, 0) == 0; });
}

} // namespace

TEST(RunLog, SettingsRecordNamesWhatShapesEachKindOfRun) {
  tRecordCase c;
  TAnalysisSettings& s = c.settings;
  s.Connectivity = caLeastCostPath;
  s.PathWidth = 5;
  s.Seed = 7;
  s.FrictionWeight = "3";
  s.LengthWeight = "0.5";
  s.Direction = 1;
  s.ElevationTolerance = "2.5";
  s.CorridorMapName = "corr";
  s.OneMapPerPair = true;
  s.DelaunayUse = duRestrict;
  s.PairMatrices = true;
  const auto matrix = c.Lines(tAnalysisKind::PopulationMatrix);
  ASSERT_GE(matrix.size(), 5u);
  EXPECT_EQ(matrix[1], "Run settings");
  // Local time with its offset: "Started:\t2026-12-07 23:41:07 +0100".
  const std::string pattern = "Started:\t0000-00-00 00:00:00 +0000";
  bool matches = matrix[4].size() == pattern.size();
  for (std::size_t i = 0; matches && i < pattern.size(); ++i)
    matches = pattern[i] == '0'   ? std::isdigit(static_cast<unsigned char>(matrix[4][i])) != 0
              : pattern[i] == '+' ? matrix[4][i] == '+' || matrix[4][i] == '-'
                                  : matrix[4][i] == pattern[i];
  EXPECT_TRUE(matches) << matrix[4];
  for (const std::string& line :
       {"Binary map files:\t" + kLand + "forest_BL.rst", "\t" + kLand + "roads_NB.rst",
        "Topography map file:\t" + kLand + "dem.rst", "Data file:\t" + kLand + "samples.txt",
        "Friction map file:\t" + kLand + "friction.rst", std::string("Paths per pair:\t5"),
        std::string("Seed:\t7"), std::string("Friction weight:\t3"),
        std::string("Length weight:\t0.5"),
        std::string("Direction:\tuphill only, elevation tolerance 2.5"),
        std::string("Delaunay pairs:\tDelaunay neighbours only"),
        std::string("Corridor map:\tcorr (one map per pair)"), std::string("Pair matrices:\tyes")})
    EXPECT_TRUE(Has(matrix, line)) << line;
  EXPECT_FALSE(HasLabel(matrix, "Bootstraps:"));

  // The exact search draws nothing and finds one path.
  s.Connectivity = caExactLeastCost;
  const auto exact = c.Lines(tAnalysisKind::PopulationMatrix);
  EXPECT_FALSE(HasLabel(exact, "Paths per pair:") || HasLabel(exact, "Seed:"));
  EXPECT_TRUE(Has(exact, "Friction weight:\t3"));

  // A strip sequence: no least-cost settings, the ignore threshold instead of pairs.
  s.Connectivity = caFixedWidthStrip;
  s.PathWidth = 3;
  s.IgnoreTime = 2;
  const auto strip = c.Lines(tAnalysisKind::Sequence);
  EXPECT_TRUE(Has(strip, "Strip width:\t3 cells"));
  EXPECT_TRUE(Has(strip, "Ignore segments shorter than:\t2 Days"));
  for (const char* label : {"Friction", "Seed:", "Corridor map:", "Pair matrices:", "Delaunay"})
    EXPECT_FALSE(HasLabel(strip, label)) << label;

  // A least-cost bootstrap logs its criterion here, and where its walks start.
  s.Connectivity = caLeastCostPath;
  s.Minimise = 1;
  s.Bootstraps = 7;
  const auto fresh = c.Lines(tAnalysisKind::Bootstrap);
  for (const char* line :
       {"Minimization criterion:\tFriction mean", "Bootstraps:\t7", "Paths per walk step:\t3",
        "Random walks drawn from:\tthe generator's start-up state"})
    EXPECT_TRUE(Has(fresh, line)) << line;
  c.walks.NextRaw();
  const auto continued = c.Lines(tAnalysisKind::Bootstrap);
  EXPECT_TRUE(Has(continued, "Random walks drawn from:\tthe generator as earlier runs of this "
                             "session left it (x0 " +
                                 std::to_string(c.walks.State().x0) + ", x1 " +
                                 std::to_string(c.walks.State().x1) + ", x2 " +
                                 std::to_string(c.walks.State().x2) + ", x3 " +
                                 std::to_string(c.walks.State().x3) + ", carry " +
                                 std::to_string(c.walks.State().carry) + ")"));
}

TEST(RunLog, ClosingBlockListsFilesByKindAndTheOutcome) {
  EXPECT_EQ(ElapsedText(0.844), "0.84 s");
  EXPECT_EQ(ElapsedText(65), "65.00 s (1 min 05 s)");
  EXPECT_EQ(ElapsedText(3725.4), "3725.40 s (1 h 02 min 05 s)");

  const std::vector<tWrittenFile> files{{tFileKind::CorridorMap, "/w/corr"},
                                        {tFileKind::Journal, "/w/p.journal"},
                                        {tFileKind::Report, "/w/p-MatrixAnalysis.txt"},
                                        {tFileKind::Log, "/w/log.txt"},
                                        {tFileKind::RowDigests, "/w/p.digests"}};
  EXPECT_EQ(RunEndLines(files, tRunOutcome::Cancelled, 2, ""),
            (std::vector<std::string>{"", "Files written:", "- report:\t/w/p-MatrixAnalysis.txt",
                                      "- corridor map:\t/w/corr", "- journal:\t/w/p.journal",
                                      "- row digests:\t/w/p.digests", "- log:\t/w/log.txt",
                                      "Run cancelled after 2.00 s"}));
  EXPECT_EQ(
      RunEndLines({}, tRunOutcome::Failed, 0.5, "Boom"),
      (std::vector<std::string>{"", "Files written:\tnone", "Run failed after 0.50 s: Boom"}));
}

TEST(RunLog, AFailedRunLogsItsErrorLast) {
  TempDir dir;
  TAnalysisSettings s;
  s.DataFile = dir.file("missing.txt");
  tMapSet maps;
  RecordingReporter reporter;
  maps.LoadBinaryMaps({kLand + "forest_BL"}, reporter);
  maps.BuildMapList();
  tRunState state;
  tAnalysisContext ctx{s, maps, reporter, state, dir.path().string()};
  ctx.LogFile = dir.file("log.txt");
  const tRunResult result = PopulationMatrixAnalysis(ctx);
  ASSERT_EQ(result.Outcome, tRunOutcome::Failed);
  const std::vector<std::string>& logs = reporter.logs;
  ASSERT_GE(logs.size(), 2u);
  EXPECT_EQ(logs[logs.size() - 2], "- log:\t" + dir.file("log.txt"));
  EXPECT_TRUE(logs.back().starts_with("Run failed after ")) << logs.back();
  EXPECT_TRUE(logs.back().ends_with(" s: " + result.Error)) << logs.back();
}
