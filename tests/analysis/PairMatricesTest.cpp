// Pair matrices: the report's columns as N x N CSV matrices. Hand-written
// reports pin the file format and the NA rules; whole runs check every
// matrix cell against the report row it comes from.
#include "analysis/PairMatrices.h"

#include "AnalysisRun.h"
#include "MapFixtures.h"
#include "analysis/Analyses.h"
#include "analysis/ReportWriter.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

using namespace stravex;
using namespace stravex::test;
namespace fs = std::filesystem;

namespace {

const std::string kFixed = "PopID1\tX1\tY1\tPopID2\tX2\tY2\tGenDist\tGsig\tGeoDist";

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (std::size_t end; (end = text.find(sep, pos)) != std::string::npos; pos = end + 1)
    parts.push_back(text.substr(pos, end - pos));
  parts.push_back(text.substr(pos));
  return parts;
}

// Lines of a CR LF file, the last line's end included.
std::vector<std::string> CrLfLines(const std::string& path) {
  const std::string text = ReadFileBytes(path);
  std::vector<std::string> lines;
  for (std::size_t pos = 0, end; pos < text.size(); pos = end + 2) {
    end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << path << ": a line without CR LF";
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
  }
  return lines;
}

// A matrix file read back: its column names and the cells of each row as
// text, after checking the shape and the row names.
struct tCsv {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> cells;
  const std::string& At(std::size_t i, std::size_t j) const { return cells.at(i).at(j); }
};

tCsv ReadMatrix(const std::string& path, std::size_t n) {
  tCsv m;
  const auto lines = CrLfLines(path);
  EXPECT_EQ(lines.size(), n + 1) << path;
  if (lines.empty()) return m;
  const auto header = Split(lines[0], ',');
  EXPECT_EQ(header.at(0), "\"\"") << path;
  m.names.assign(header.begin() + 1, header.end());
  for (std::size_t i = 1; i < lines.size(); ++i) {
    auto fields = Split(lines[i], ',');
    EXPECT_EQ(fields.size(), n + 1) << path << " line " << i;
    EXPECT_EQ(fields.at(0), std::to_string(i - 1)) << path;
    m.cells.emplace_back(fields.begin() + 1, fields.end());
  }
  return m;
}

std::string Real(double v) { return FormatReal23(v); }

// One report row, the fixed columns from the pair and GenDist, then `rest`.
std::string Row(int i, int j, double gen, const std::string& rest) {
  return std::to_string(i) + "\t" + Real(i) + "\t" + Real(0) + "\t" + std::to_string(j) + "\t" +
         Real(j) + "\t" + Real(0) + "\t" + Real(gen) + "\t" + Real(0) + "\t" +
         Real(std::abs(i - j)) + rest;
}

std::vector<std::string> Names(const std::vector<tPairColumn>& columns) {
  std::vector<std::string> names;
  for (const auto& c : columns) names.push_back(c.Name);
  return names;
}

} // namespace

TEST(PairMatrices, ColumnsAndTheirNoValueRulesFromTheHeader) {
  const std::string strip = kFixed + "\tDelaunay\tb_Sum_Count\tb_Sum_Area\tb_Sum_Length\tb_Sum_Cost"
                                     "\tq_Sum\tq_Mean\tq_SD\tq_Area\tq_Length\tq_Cost"
                                     "\tdem_Mean\tdem_SD\tdem_Slope\tdem_Convexity\tdem_Area";
  // Strips: the Length and Cost placeholders get no matrix; a binary map
  // named like a suffix stays a binary map.
  auto c = PairMatrixColumns(strip, {});
  EXPECT_EQ(Names(c),
            (std::vector<std::string>{"GenDist", "GeoDist", "b_Sum_Count", "b_Sum_Area", "q_Sum",
                                      "q_Mean", "q_SD", "q_Area", "dem_Mean", "dem_SD", "dem_Slope",
                                      "dem_Convexity", "dem_Area"}));
  std::map<std::string, tPairColumn> by;
  for (const auto& col : c) by[col.Name] = col;
  EXPECT_EQ(by["GenDist"].Field, 6u);
  EXPECT_EQ(by["GeoDist"].Field, 8u);
  EXPECT_EQ(by["b_Sum_Count"].Field, 10u);
  EXPECT_EQ(by["b_Sum_Count"].NoPathField, -1);
  EXPECT_EQ(by["q_Mean"].Field, 15u);
  EXPECT_EQ(by["q_Mean"].AreaField, 17);
  EXPECT_EQ(by["q_Area"].AreaField, -1);
  EXPECT_TRUE(by["dem_Convexity"].TopographySentinel);
  EXPECT_FALSE(by["dem_Area"].TopographySentinel);
  EXPECT_FALSE(by["q_Mean"].TopographySentinel);

  // Least-cost paths: every map column goes NA with its map's cost of -1.
  const std::string leastCost = kFixed + "\tb_Count\tb_Area\tb_Length\tb_Cost"
                                         "\tq_Sum\tq_Mean\tq_SD\tq_Area\tq_Length\tq_Cost";
  tPairMatrixOptions o;
  o.PathColumns = true;
  c = PairMatrixColumns(leastCost, o);
  ASSERT_EQ(c.size(), 2u + 4u + 6u);
  EXPECT_EQ(c[5].Name, "b_Cost");
  EXPECT_EQ(c[5].Field, 12u);
  for (std::size_t k = 2; k < 6; ++k) EXPECT_EQ(c[k].NoPathField, 12) << c[k].Name;
  for (std::size_t k = 6; k < 12; ++k) EXPECT_EQ(c[k].NoPathField, 18) << c[k].Name;
  EXPECT_EQ(c[6].AreaField, 16);
  EXPECT_EQ(c[9].AreaField, -1); // q_Area itself
  EXPECT_EQ(c[0].NoPathField, -1);

  // Two maps of one name: one matrix, the second named back.
  std::vector<std::string> duplicates;
  c = PairMatrixColumns(kFixed + "\tx_Count\tx_Area\tx_Length\tx_Cost\tx_Count\tx_Area\tx_Length"
                                 "\tx_Cost",
                        {}, &duplicates);
  EXPECT_EQ(Names(c), (std::vector<std::string>{"GenDist", "GeoDist", "x_Count", "x_Area"}));
  EXPECT_EQ(duplicates, (std::vector<std::string>{"x_Count", "x_Area"}));

  // Headers of other reports are refused.
  for (const std::string& bad :
       {std::string("PopID1\tX1"), kFixed + "\tb_Count\tb_Area\tb_Length",
        kFixed + "\tb_Count\tb_Length\tb_Area\tb_Cost", kFixed + "\tSomething",
        std::string("Seg\tX1\tY1\tPopID2\tX2\tY2\tGenDist\tGsig\tGeoDist")})
    EXPECT_THROW(PairMatrixColumns(bad, {}), EInOutError) << bad;
}

TEST(PairMatrices, FileFormatNoValuesAndPrecision) {
  TempDir dir;
  const std::string report = dir.file("P-MatrixAnalysis.txt");
  const std::string header = kFixed + "\tb_Count\tb_Area\tb_Length\tb_Cost"
                                      "\tq_Sum\tq_Mean\tq_SD\tq_Area\tq_Length\tq_Cost";
  // (0, 1) has a path; (0, 2) none (cost -1); (1, 2) crosses missing cells
  // of q only; point 3 is in no pair (skipped).
  const std::string pathOf12 = "\t" + Real(12.5) + "\t" + Real(1234.56789012345);
  WriteFileBytes(report,
                 header + "\r\n" +
                     Row(0, 1, 0.1,
                         "\t3\t5" + pathOf12 + "\t" + Real(7) + "\t" + Real(1.4) + "\t" +
                             Real(2.0 / 3) + "\t5" + pathOf12) +
                     "\r\n" +
                     Row(0, 2, 0.2,
                         "\t0\t0\t" + Real(0) + "\t" + Real(-1) + "\t" + Real(-1) + "\t" +
                             Real(-1) + "\t" + Real(-1) + "\t0\t" + Real(0) + "\t" + Real(-1)) +
                     "\r\n" +
                     Row(1, 2, 1e-20,
                         "\t0\t4\t" + Real(3) + "\t" + Real(8) + "\t" + Real(-1) + "\t" + Real(-1) +
                             "\t" + Real(-1) + "\t0\t" + Real(3) + "\t" + Real(8)) +
                     "\r\n");
  tPairMatrixOptions o;
  o.Points = 4;
  o.PathColumns = true;
  RecordingReporter log;
  const auto paths = WritePairMatrices(report, o, log);
  std::vector<std::string> expected;
  for (const char* c : {"GenDist", "GeoDist", "b_Count", "b_Area", "b_Length", "b_Cost", "q_Sum",
                        "q_Mean", "q_SD", "q_Area", "q_Length", "q_Cost"})
    expected.push_back(dir.file(std::string("P-") + c + "-matrix.csv"));
  EXPECT_EQ(paths, expected);
  EXPECT_EQ(log.logs, (std::vector<std::string>{"Pair matrices: 12 files written"}));

  // Whole files: quoted empty corner, empty diagonal, NA for point 3, the
  // shortest text of each double.
  EXPECT_EQ(ReadFileBytes(dir.file("P-GenDist-matrix.csv")), "\"\",0,1,2,3\r\n"
                                                             "0,,0.1,0.2,NA\r\n"
                                                             "1,0.1,,1e-20,NA\r\n"
                                                             "2,0.2,1e-20,,NA\r\n"
                                                             "3,NA,NA,NA,\r\n");
  EXPECT_EQ(ReadFileBytes(dir.file("P-b_Cost-matrix.csv")), "\"\",0,1,2,3\r\n"
                                                            "0,,1234.56789012345,NA,NA\r\n"
                                                            "1,1234.56789012345,,8,NA\r\n"
                                                            "2,NA,8,,NA\r\n"
                                                            "3,NA,NA,NA,\r\n");
  // No path: the counts of 0 are no measurement either.
  EXPECT_EQ(ReadMatrix(dir.file("P-b_Count-matrix.csv"), 4).At(0, 2), "NA");
  EXPECT_EQ(ReadMatrix(dir.file("P-b_Count-matrix.csv"), 4).At(1, 2), "0");
  // Missing cells all along: the sentinel is NA, the area of 0 stays.
  const tCsv mean = ReadMatrix(dir.file("P-q_Mean-matrix.csv"), 4);
  EXPECT_EQ(mean.At(1, 2), "NA");
  EXPECT_EQ(mean.At(0, 1), "1.4");
  EXPECT_EQ(std::stod(ReadMatrix(dir.file("P-q_SD-matrix.csv"), 4).At(1, 0)),
            std::stod(Real(2.0 / 3)));
  EXPECT_EQ(ReadMatrix(dir.file("P-q_Area-matrix.csv"), 4).At(2, 1), "0");
  EXPECT_EQ(ReadMatrix(dir.file("P-q_Area-matrix.csv"), 4).At(2, 0), "NA");
  // Nothing but the matrices, no temporary left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 13);
}

TEST(PairMatrices, OrderedPairsFillTheirOwnCellAndTopographySentinels) {
  TempDir dir;
  const std::string report = dir.file("P-MatrixAnalysis.txt");
  const std::string header = kFixed + "\tdem_Mean\tdem_SD\tdem_Slope\tdem_Convexity\tdem_Area";
  auto topo = [](double slope, double convexity) {
    return "\t" + Real(5) + "\t" + Real(1) + "\t" + Real(slope) + "\t" + Real(convexity) + "\t9";
  };
  WriteFileBytes(report, header + "\r\n" + Row(0, 1, 0.5, topo(0.25, -9999)) + "\r\n" +
                             Row(1, 0, 0.5, topo(-0.25, 3)) + "\r\n" +
                             Row(2, 0, 0.5, topo(-9999, 3)) + "\r\n");
  tPairMatrixOptions o;
  o.Points = 3;
  o.Ordered = true;
  RecordingReporter log;
  WritePairMatrices(report, o, log);
  const tCsv slope = ReadMatrix(dir.file("P-dem_Slope-matrix.csv"), 3);
  EXPECT_EQ(slope.At(0, 1), "0.25");
  EXPECT_EQ(slope.At(1, 0), "-0.25");
  EXPECT_EQ(slope.At(2, 0), "NA"); // sentinel
  EXPECT_EQ(slope.At(0, 2), "NA"); // (0, 2) has no row of its own
  const tCsv convexity = ReadMatrix(dir.file("P-dem_Convexity-matrix.csv"), 3);
  EXPECT_EQ(convexity.At(0, 1), "NA");
  EXPECT_EQ(convexity.At(1, 0), "3");
  EXPECT_EQ(ReadMatrix(dir.file("P-dem_Area-matrix.csv"), 3).At(0, 1), "9");
}

TEST(PairMatrices, RowsThatDoNotFitAreRefused) {
  TempDir dir;
  const std::string report = dir.file("P-MatrixAnalysis.txt");
  const std::string good = Row(0, 1, 0.5, "");
  tPairMatrixOptions o;
  o.Points = 2;
  RecordingReporter log;
  for (const std::string& bad :
       {Row(0, 2, 0.5, ""), Row(1, 1, 0.5, ""), good + "\t7", good.substr(0, good.size() - 5),
        "x" + good, Row(0, 1, 0.5, "").replace(good.rfind('\t') + 1, 1, "#")}) {
    WriteFileBytes(report, kFixed + "\r\n" + good + "\r\n" + bad + "\r\n");
    EXPECT_THROW(WritePairMatrices(report, o, log), EInOutError) << bad;
    EXPECT_FALSE(fs::exists(dir.file("P-GenDist-matrix.csv"))) << bad;
  }
  fs::remove(report);
  EXPECT_THROW(WritePairMatrices(report, o, log), EInOutError);
}

namespace {

struct tPairRun : tAnalysisRun {
  tPairRun() {
    settings.ProjectName = "P";
    settings.DataFile = "pop.txt";
    settings.EchoMatrices = false;
    settings.PairMatrices = true;
    threads = 2;
  }
  tRunOutcome Run() { return tAnalysisRun::Run(tAnalysisKind::PopulationMatrix); }
  std::vector<std::vector<std::string>> ReportRows() const {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : CrLfLines(dir.file("P-MatrixAnalysis.txt")))
      rows.push_back(Split(line, '\t'));
    return rows;
  }
  std::vector<std::string> MatrixFiles() const {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.path().string().find("-matrix.csv") != std::string::npos)
        files.push_back(e.path().string());
    return files;
  }
};

// Every map column of the report has its matrix, and every matrix cell is the
// report's value of its pair (NA where the pair has no row or no path).
void ExpectMatricesOfReport(const tPairRun& r, std::size_t n, bool ordered) {
  const auto rows = r.ReportRows();
  ASSERT_FALSE(rows.empty());
  const auto& header = rows[0];
  std::vector<std::string> files;
  for (std::size_t k = 6; k < header.size(); ++k) {
    const std::string& name = header[k];
    if (name == "Gsig" || name == "Delaunay") continue;
    if (!UsesFriction(r.settings.Connectivity) &&
        (name.ends_with("_Length") || name.ends_with("_Cost")))
      continue;
    const std::string file = r.dir.file("P-" + name + "-matrix.csv");
    files.push_back(file);
    const tCsv m = ReadMatrix(file, n);
    ASSERT_EQ(m.cells.size(), n) << file;
    ASSERT_EQ(m.names.size(), n) << file;
    for (std::size_t j = 0; j < n; ++j) EXPECT_EQ(m.names[j], std::to_string(j));
    std::set<std::pair<std::size_t, std::size_t>> seen;
    for (std::size_t row = 1; row < rows.size(); ++row) {
      const auto& f = rows[row];
      const std::size_t i = std::stoul(f[0]), j = std::stoul(f[3]);
      // The map's cost column of a least-cost run tells a pair without a path.
      std::string cost;
      const std::size_t underscore = name.rfind('_');
      if (UsesFriction(r.settings.Connectivity) && underscore != std::string::npos)
        for (std::size_t c = 0; c < header.size(); ++c)
          if (header[c] == name.substr(0, underscore) + "_Cost") cost = f[c];
      for (const auto& [a, b] : {std::pair{i, j}, std::pair{j, i}}) {
        if (ordered && a != i) continue;
        seen.insert({a, b});
        if (!cost.empty() && std::stod(cost) == -1)
          EXPECT_EQ(m.At(a, b), "NA") << file << " " << a << "," << b;
        else
          EXPECT_EQ(std::stod(m.At(a, b)), std::stod(f[k])) << file << " " << a << "," << b;
      }
    }
    for (std::size_t a = 0; a < n; ++a) {
      for (std::size_t b = 0; b < n; ++b) {
        if (a == b) {
          EXPECT_EQ(m.At(a, b), "") << file;
        } else if (!seen.count({a, b})) {
          EXPECT_EQ(m.At(a, b), "NA") << file << " " << a << "," << b;
        }
      }
    }
  }
  EXPECT_EQ(r.result.Files(tFileKind::PairMatrix), files);
  auto onDisk = r.MatrixFiles();
  std::sort(onDisk.begin(), onDisk.end());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(onDisk, files);
  EXPECT_NE(std::find(r.reporter.logs.begin(), r.reporter.logs.end(),
                      "Pair matrices: " + std::to_string(files.size()) + " files written"),
            r.reporter.logs.end());
}

} // namespace

TEST(PairMatrices, StripRunMatchesItsReport) {
  tPairRun r;
  GridMaps(r);
  r.settings.PathWidth = 3;
  r.settings.PairDistanceThreshold = 9; // (0, 4), (1, 4) and (2, 4) are farther apart
  r.settings.DelaunayUse = duInclude;
  WritePopulationFile(r.dir.file("pop.txt"), {{1, 6}, {5, 9}, {3, 2}, {9, 6}, {14, 10}},
                      [](int i, int j) { return i == j ? 0 : 0.01 * (i * 7 + j) + 1.0 / 3; });
  ASSERT_EQ(r.Run(), tRunOutcome::Completed);
  ASSERT_EQ(r.ReportRows().size(), 1u + 10u - 3u);
  ExpectMatricesOfReport(r, 5, false);
  EXPECT_EQ(r.result.Files(tFileKind::PairMatrix).size(), 2u + 2u + 4u + 5u);
}

TEST(PairMatrices, DirectionConstrainedRunHasOrderedCellsAndNoPathNA) {
  tPairRun r;
  LeastCostMaps(r);
  r.settings.Direction = 1; // uphill, eastwards only: west-bound pairs have no path
  r.settings.PathWidth = 3;
  WritePopulationFile(r.dir.file("pop.txt"), {{1, 6}, {14, 6}, {2, 2}},
                      [](int i, int j) { return i == j ? 0 : 0.1 * (i + j); });
  ASSERT_EQ(r.Run(), tRunOutcome::Completed);
  ExpectMatricesOfReport(r, 3, true);
  const tCsv cost = ReadMatrix(r.dir.file("P-bin_Cost-matrix.csv"), 3);
  EXPECT_NE(cost.At(0, 1), "NA");
  EXPECT_EQ(cost.At(1, 0), "NA");
  EXPECT_EQ(ReadMatrix(r.dir.file("P-q_Mean-matrix.csv"), 3).At(1, 0), "NA");
}

TEST(PairMatrices, NoneAfterCancelOrFromAShard) {
  tPairRun r;
  r.maps.LoadBinaryMaps({WriteMap(r.dir, "bin", 12, 16, dtByte, Wave)}, r.reporter);
  WritePopulationFile(r.dir.file("pop.txt"), {{1, 6}, {5, 9}, {3, 2}, {9, 6}},
                      [](int i, int j) { return i == j ? 0 : 0.5; });
  r.reporter.cancelAfterPolls = 0;
  EXPECT_EQ(r.Run(), tRunOutcome::Cancelled);
  EXPECT_TRUE(r.MatrixFiles().empty());
  EXPECT_TRUE(r.result.Files(tFileKind::PairMatrix).empty());
  EXPECT_NE(std::find(r.reporter.logs.begin(), r.reporter.logs.end(),
                      "Pair matrices: not written, the run was cancelled"),
            r.reporter.logs.end());

  r.reporter.cancelAfterPolls = -1;
  r.shard = tShard{1, 2};
  EXPECT_EQ(r.Run(), tRunOutcome::Completed);
  EXPECT_TRUE(r.MatrixFiles().empty());
  EXPECT_TRUE(r.result.Files(tFileKind::PairMatrix).empty());
  EXPECT_NE(std::find(r.reporter.logs.begin(), r.reporter.logs.end(),
                      "Pair matrices: not written by a shard; the merged report has every pair"),
            r.reporter.logs.end());

  // The same run whole writes them.
  r.shard.reset();
  EXPECT_EQ(r.Run(), tRunOutcome::Completed);
  EXPECT_EQ(r.MatrixFiles().size(), 4u);
}
