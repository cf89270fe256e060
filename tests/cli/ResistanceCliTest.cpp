// stravex-cli matrix --algorithm resistance: the resistance column against
// closed forms, the current-weighted means, the current maps, and the same
// report for any thread count, shard split and resumed run.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

// An IDRISI map of one row of cells 1 m wide, x from 0, y from 0 to 1.
void WriteRow(const TempDir& dir, const std::string& name, const std::vector<float>& cells,
              bool real, const char* flag) {
  std::string image;
  for (const float v : cells) {
    if (real) {
      char b[4];
      std::memcpy(b, &v, 4); // little-endian host
      image.append(b, 4);
    } else {
      image.push_back(static_cast<char>(static_cast<unsigned char>(v)));
    }
  }
  WriteFileBytes(dir.file(name + ".rst"), image);
  std::ostringstream doc;
  doc << "file format : IDRISI Raster A.1\r\nfile title  : " << name << "\r\n"
      << "data type   : " << (real ? "real" : "byte") << "\r\nfile type   : binary\r\n"
      << "columns     : " << cells.size() << "\r\nrows        : 1\r\n"
      << "ref. system : plane\r\nref. units  : m\r\nunit dist.  : 1\r\n"
      << "min. X      : 0\r\nmax. X      : " << cells.size() << "\r\n"
      << "min. Y      : 0\r\nmax. Y      : 1\r\npos'n error : unknown\r\nresolution  : 1\r\n"
      << "min. value  : 0\r\nmax. value  : 100\r\ndisplay min : 0\r\ndisplay max : 100\r\n"
      << "value units : unspecified\r\nvalue error : unknown\r\n"
      << "flag value  : " << (flag ? flag : "none") << "\r\n"
      << "flag def'n  : " << (flag ? "background" : "none") << "\r\nlegend cats : 0\r\n";
  WriteFileBytes(dir.file(name + ".rdc"), doc.str());
}

// A population file of points (x, y), genetic distances i + j, significance 0.
void WritePoints(const TempDir& dir, const std::string& name,
                 const std::vector<std::pair<double, double>>& points) {
  std::ostringstream f;
  f << "[Sample size]\r\n" << points.size() << "\r\n[Coordinates]\r\n";
  for (const auto& [x, y] : points) f << x << "\t" << y << "\r\n";
  for (const char* block : {"[Genetic distance]", "[Significance]"}) {
    f << block << "\r\n";
    for (std::size_t i = 0; i < points.size(); ++i) {
      for (std::size_t j = 0; j < points.size(); ++j)
        f << (j ? "\t" : "") << (block[1] == 'G' && i != j ? static_cast<double>(i + j) : 0.0);
      f << "\r\n";
    }
  }
  WriteFileBytes(dir.file(name), f.str());
}

// The report as rows of named fields.
struct tTable {
  std::vector<std::string> header;
  std::vector<std::vector<std::string>> rows;
  std::size_t Col(const std::string& name) const {
    for (std::size_t k = 0; k < header.size(); ++k)
      if (header[k] == name) return k;
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
  return fields;
}

// Read as R's read.delim would: tab-separated, a header, every row as wide.
tTable ReadTable(const std::string& path) {
  tTable t;
  std::stringstream in(ReadFileBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    EXPECT_FALSE(line.empty() || line.back() != '\r') << "not a CR LF line in " << path;
    line.pop_back();
    if (t.header.empty()) {
      t.header = Fields(line);
      continue;
    }
    t.rows.push_back(Fields(line));
    EXPECT_EQ(t.rows.back().size(), t.header.size()) << line;
  }
  return t;
}

double Real(const std::string& text) { return std::stod(text); }

// Resistance and means of a pair (PopID1, PopID2).
std::map<std::pair<int, int>, std::vector<double>> ByPair(const tTable& t,
                                                          const std::vector<std::string>& cols) {
  std::map<std::pair<int, int>, std::vector<double>> pairs;
  for (const auto& r : t.rows) {
    std::vector<double> v;
    for (const std::string& c : cols) v.push_back(Real(r[t.Col(c)]));
    pairs[{std::stoi(r[t.Col("PopID1")]), std::stoi(r[t.Col("PopID2")])}] = v;
  }
  return pairs;
}

// A strip of resistors in series: friction 1..8, then a missing cell and a
// cell cut off behind it. Between columns a < b the resistance is the sum of
// the links' (r_a + r_b) / 2, and all the current passes every cell between.
class ResistanceStrip : public ::testing::Test {
protected:
  void SetUp() override {
    WriteRow(dir, "friction", {1, 2, 3, 4, 5, 6, 7, 8, -1, 2}, true, "-1");
    WriteRow(dir, "habitat", {0, 1, 0, 1, 0, 1, 1, 1, 0, 1}, false, nullptr);
    WriteRow(dir, "cover", {0, 10, 20, 30, 40, 50, 60, 70, 80, 90}, true, nullptr);
    // Columns 0, 4, 7, 8 (missing), 9 (cut off), and 4 again.
    WritePoints(dir, "points.txt",
                {{0.5, 0.5}, {4.5, 0.5}, {7.5, 0.5}, {8.5, 0.5}, {9.5, 0.5}, {4.2, 0.7}});
  }
  std::vector<std::string> Args() const {
    return {"matrix",
            "--binary",
            dir.file("habitat"),
            "--quantitative",
            dir.file("cover"),
            "--data",
            dir.file("points.txt"),
            "--algorithm",
            "resistance",
            "--friction",
            dir.file("friction"),
            "--project",
            "strip"};
  }
  TempDir dir;
};

TEST_F(ResistanceStrip, SeriesSumsMeansAndUnconnectedPoints) {
  const tCliRun r = RunCli(With(Args(), {"--log", "run.log", "--corridor", "flow"}),
                           dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  const tTable t = ReadTable(dir.file("strip-MatrixAnalysis.txt"));
  const std::vector<std::string> leading = {"PopID1", "X1",      "Y1",   "PopID2", "X2",
                                            "Y2",     "GenDist", "Gsig", "GeoDist"};
  ASSERT_EQ(t.header, With(leading, {"Resistance", "habitat_CurrentMean", "cover_CurrentMean"}));
  ASSERT_EQ(t.rows.size(), 15u);
  const auto pairs = ByPair(t, {"Resistance", "habitat_CurrentMean", "cover_CurrentMean"});
  const auto expect = [&](int i, int j, double resistance, double habitat, double cover) {
    const std::vector<double>& v = pairs.at({i, j});
    EXPECT_NEAR(v[0], resistance, 1e-9 * std::max(1.0, resistance)) << i << "-" << j;
    EXPECT_NEAR(v[1], habitat, 1e-9) << i << "-" << j;
    EXPECT_NEAR(v[2], cover, 1e-7) << i << "-" << j;
  };
  // 1.5 + 2.5 + 3.5 + 4.5; cells 0..4 carry 1 A each.
  expect(0, 1, 12, 2.0 / 5, 20);
  expect(0, 2, 1.5 + 2.5 + 3.5 + 4.5 + 5.5 + 6.5 + 7.5, 5.0 / 8, 35);
  expect(1, 2, 5.5 + 6.5 + 7.5, 3.0 / 4, 55);
  expect(0, 5, 12, 2.0 / 5, 20);
  // One cell: no resistance, the map's values of that cell.
  expect(1, 5, 0, 0, 40);
  // On the missing cell, or cut off behind it: no connection.
  for (const auto& [i, j] :
       std::vector<std::pair<int, int>>{{0, 3}, {2, 3}, {0, 4}, {3, 4}, {4, 5}})
    expect(i, j, -1, -1, -1);
  // GeoDist is the straight line, as in every matrix report.
  EXPECT_NEAR(Real(t.rows[0][t.Col("GeoDist")]), 4, 1e-12);

  // The cumulative current: 1 A through every cell between each connected
  // pair's points, as reals on the friction's grid.
  tRaster flow(dir.file("flow"));
  EXPECT_EQ(flow.DataType, dtReal);
  EXPECT_EQ(flow.ValueUnits, "current (A)");
  ASSERT_EQ(fs::file_size(dir.file("flow.rst")), 40u);
  const std::string cells = ReadFileBytes(dir.file("flow.rst"));
  const auto cell = [&](int c) {
    float v = 0;
    std::memcpy(&v, cells.data() + 4 * c, 4);
    return v;
  };
  // Pairs 0-1, 0-2, 1-2, 0-5, 2-5 (1-5 is one cell).
  const float expected[10] = {3, 3, 3, 3, 5, 3, 3, 3, 0, 0};
  for (int c = 0; c < 10; ++c) EXPECT_NEAR(cell(c), expected[c], 1e-5) << "cell " << c;

  // Named .tif: the same cells as a GeoTIFF, no IDRISI working copy left.
  std::vector<std::string> tif = With(Args(), {"--corridor", "flow.tif"});
  tif[12] = "tif";
  ASSERT_EQ(RunCli(tif, dir.path().string()).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.file("flow.tif")).substr(0, 4), std::string("II*\0", 4));
  EXPECT_FALSE(fs::exists(dir.file("flow.tif.rst")));

  const std::string log = ReadFileBytes(dir.file("run.log"));
  EXPECT_NE(log.find("Algorithm: resistance distance"), std::string::npos);
  EXPECT_NE(log.find("Resistance solver asked for:\tauto"), std::string::npos);
  EXPECT_NE(log.find("Resistance solver: direct"), std::string::npos) << log;
  EXPECT_NE(log.find("Resistance solver: set-up "), std::string::npos) << log;
  // 1, 2 and 5: 0 and 4 are their parts' grounded cells, 3 is on no part.
  EXPECT_NE(log.find(" s (3 points)"), std::string::npos) << log;
}

TEST_F(ResistanceStrip, PairMapsSolversAndPairMatrices) {
  const tCliRun r = RunCli(With(Args(), {"--solver", "direct", "--corridor", "pair",
                                         "--one-map-per-pair", "--pair-matrices"}),
                           dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  // A pair with current has its map; unconnected pairs and one cell have none.
  EXPECT_TRUE(fs::exists(dir.file("pair_001_002.rst")));
  EXPECT_TRUE(fs::exists(dir.file("pair_003_006.rst")));
  EXPECT_FALSE(fs::exists(dir.file("pair_003_005.rst")));
  EXPECT_FALSE(fs::exists(dir.file("pair_001_004.rst")));
  EXPECT_FALSE(fs::exists(dir.file("pair_002_006.rst")));
  // The matrix of the resistances: NA where the points are not connected.
  const std::string m = ReadFileBytes(dir.file("strip-Resistance-matrix.csv"));
  EXPECT_EQ(m.substr(0, m.find("\r\n")), "\"\",0,1,2,3,4,5");
  EXPECT_NE(m.find("\r\n0,,12,"), std::string::npos) << m;
  EXPECT_NE(m.find("\r\n3,NA,NA,NA,,NA,NA\r\n"), std::string::npos) << m;
  EXPECT_TRUE(fs::exists(dir.file("strip-cover_CurrentMean-matrix.csv")));

  // The iterative solver, when built in, gives the same resistances to its tolerance.
  std::vector<std::string> iterativeArgs = With(Args(), {"--solver", "iterative"});
  iterativeArgs[12] = "it";
  const tCliRun it = RunCli(iterativeArgs, dir.path().string());
  if (it.status == 0) {
    const auto direct = ByPair(ReadTable(dir.file("strip-MatrixAnalysis.txt")), {"Resistance"});
    const auto iterative = ByPair(ReadTable(dir.file("it-MatrixAnalysis.txt")), {"Resistance"});
    for (const auto& [pair, v] : direct)
      EXPECT_NEAR(iterative.at(pair)[0], v[0], 1e-6 * std::max(1.0, v[0]));
  } else {
    EXPECT_EQ(it.status, 1);
    EXPECT_NE(it.err.find("iterative"), std::string::npos) << it.err;
  }
}

TEST_F(ResistanceStrip, RefusedFrictionOptionsAndAnalyses) {
  // A friction of 0 is no resistor: refused with the map and the cell named.
  WriteRow(dir, "zero", {1, 2, 0, 4, 5, 6, 7, 8, 9, 2}, true, nullptr);
  std::vector<std::string> args = Args();
  args[10] = dir.file("zero");
  const tCliRun zero = RunCli(args, dir.path().string());
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("the friction map zero holds a value that is not above 0 (0 at row 0, "
                          "column 2)"),
            std::string::npos)
      << zero.err;
  // Refused before the report is written.
  EXPECT_FALSE(fs::exists(dir.file("strip-MatrixAnalysis.txt")));

  // The iterative solver without a temporary folder it can write: an error
  // that names the folder, not an abort from inside MPI.
  {
    std::vector<std::string> args = {"TMPDIR=/proc/no-such-folder", STRAVEX_CLI_PATH};
    for (const std::string& a : With(Args(), {"--solver", "iterative"})) args.push_back(a);
    const tCliRun noTemp = RunProgram("/usr/bin/env", args, dir.path().string());
    EXPECT_EQ(noTemp.status, 1) << noTemp.err;
    EXPECT_NE(noTemp.err.find("/proc/no-such-folder is not one (set TMPDIR to one)"),
              std::string::npos)
        << noTemp.err;
    EXPECT_FALSE(fs::exists(dir.file("strip-MatrixAnalysis.txt")));
  }

  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {With(Args(), {"--solver", "cholesky"}), "--solver"},
      {With(Args(), {"--seed", "3"}), "--seed is not used by --algorithm resistance"},
      {With(Args(), {"--width", "3"}), "--width 3 is not possible with --algorithm resistance"},
      {With(Args(), {"--minimise", "mean"}), "--minimise is not used by"},
      {With(Args(), {"--topography", dir.file("cover")}), "--topography is not used by"},
      {{"matrix", "--binary", dir.file("habitat"), "--data", dir.file("points.txt"), "--solver",
        "direct"},
       "--solver is not used by --algorithm fixed"},
      {{"matrix", "--binary", dir.file("habitat"), "--data", dir.file("points.txt"), "--algorithm",
        "resistance"},
       "--algorithm resistance needs --friction"},
      {{"sequence", "--binary", Land("forest_BL"), "--data", Land("tracks.txt"), "--algorithm",
        "resistance", "--friction", Land("friction")},
       "population matrix analysis, matrix, only"},
      {{"bootstrap", "--binary", Land("forest_BL"), "--data", Land("tracks.txt"), "--algorithm",
        "resistance", "--friction", Land("friction")},
       "population matrix analysis, matrix, only"},
  };
  for (const auto& [a, message] : refused) {
    const tCliRun r = RunCli(a, dir.path().string());
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir.file("strip-MatrixAnalysis.txt")));
}

// A barrier of 1e30 across the strip: the direct solver gives the series
// sums and the plain means, says in the log how it solved and checked; the
// iterative solver refuses, naming the ratio and the barrier cell, and
// writes no report.
TEST_F(ResistanceStrip, BarrierSolvedExactlyOrRefused) {
  WriteRow(dir, "barrier", {1, 2, 3, 1e30f, 5, 6, 7, 8, -1, 2}, true, "-1");
  std::vector<std::string> args = With(Args(), {"--log", "barrier.log"});
  args[10] = dir.file("barrier");
  const tCliRun r = RunCli(args, dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  const auto pairs = ByPair(ReadTable(dir.file("strip-MatrixAnalysis.txt")),
                            {"Resistance", "habitat_CurrentMean", "cover_CurrentMean"});
  const double barrier = static_cast<double>(1e30f);
  const auto expect = [&](int i, int j, double resistance, double habitat, double cover) {
    const std::vector<double>& v = pairs.at({i, j});
    EXPECT_NEAR(v[0], resistance, 1e-12 * resistance) << i << "-" << j;
    EXPECT_NEAR(v[1], habitat, 1e-9) << i << "-" << j;
    EXPECT_NEAR(v[2], cover, 1e-7) << i << "-" << j;
  };
  // Across the barrier (3 + r) / 2 + (r + 5) / 2; 1-2 stays beyond it.
  expect(0, 1, 1.5 + 2.5 + barrier + 4, 2.0 / 5, 20);
  expect(0, 2, 1.5 + 2.5 + barrier + 4 + 5.5 + 6.5 + 7.5, 5.0 / 8, 35);
  expect(1, 2, 5.5 + 6.5 + 7.5, 3.0 / 4, 55);
  const std::string log = ReadFileBytes(dir.file("barrier.log"));
  EXPECT_NE(log.find("Resistance solver: 1 of the direct parts eliminated subtraction-free "
                     "(GTH), for their friction ratio; largest friction ratio 1e+30"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Resistance solver: accuracy check passed, worst estimated relative error"),
            std::string::npos)
      << log;

  std::vector<std::string> iterative = With(args, {"--solver", "iterative"});
  iterative[12] = "it";
  const tCliRun it = RunCli(iterative, dir.path().string());
  EXPECT_EQ(it.status, 1);
  EXPECT_NE(it.err.find("iterative solver"), std::string::npos) << it.err;
  if (it.err.find("not built in") == std::string::npos) {
    EXPECT_NE(it.err.find("the iterative solver takes friction ratios up to 1000000 only"),
              std::string::npos)
        << it.err;
    EXPECT_NE(it.err.find("barrier cells row 0, column 3 (x 3.5, y 0.5): 1.00000001504747e+30)"),
              std::string::npos)
        << it.err;
  }
  EXPECT_FALSE(fs::exists(dir.file("it-MatrixAnalysis.txt")));
}

// The example landscape with every map, Delaunay column and a corridor map.
std::vector<std::string> ExampleArgs(const std::string& project) {
  return {"matrix",         "--binary",       Land("forest_BL"), Land("roads_NB"),
          "--quantitative", Land("cover_QT"), "--data",          Land("samples.txt"),
          "--algorithm",    "resistance",     "--friction",      Land("friction"),
          "--delaunay",     "include",        "--project",       project};
}

TEST(ResistanceCli, SameReportForThreadsShardsAndResume) {
  TempDir tmp;
  for (const char* threads : {"1", "2"}) {
    fs::create_directory(tmp.path() / threads);
    const tCliRun r = RunCli(With(ExampleArgs("p"), {"--threads", threads, "--corridor", "c"}),
                             tmp.file(threads));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const std::string report = "p-MatrixAnalysis.txt";
  ExpectSameFile(tmp.file("2/" + report), tmp.file("1/" + report));
  ExpectSameFile(tmp.file("2/c.rst"), tmp.file("1/c.rst"));
  const tTable t = ReadTable(tmp.file("1/" + report));
  ASSERT_EQ(t.rows.size(), 28u);
  for (const auto& row : t.rows) {
    // Every point of the example is on the friction map, which has no missing cell.
    EXPECT_GT(Real(row[t.Col("Resistance")]), 0);
    const double forest = Real(row[t.Col("forest_BL_CurrentMean")]);
    EXPECT_TRUE(forest >= 0 && forest <= 1) << forest;
  }

  // Two shards merged: the same report.
  fs::create_directory(tmp.path() / "shards");
  for (const char* shard : {"1/2", "2/2"}) {
    const tCliRun r = RunCli(With(ExampleArgs("p"), {"--shard", shard, "--threads", "2"}),
                             tmp.file("shards"));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const tCliRun m = RunCli({"merge", tmp.file("shards/p-MatrixAnalysis-shard-1-of-2.txt"),
                            tmp.file("shards/p-MatrixAnalysis-shard-2-of-2.txt")},
                           tmp.file("shards"));
  ASSERT_EQ(m.status, 0) << m.err;
  ExpectSameFile(tmp.file("shards/" + report), tmp.file("1/" + report));
  // A shard does not write the cumulative current: the merge could not add it.
  const tCliRun corridorShard =
      RunCli(With(ExampleArgs("q"), {"--shard", "1/2", "--corridor", "c"}), tmp.file("shards"));
  EXPECT_EQ(corridorShard.status, 1);
  EXPECT_NE(corridorShard.err.find("A shard does not write the corridor map"), std::string::npos)
      << corridorShard.err;

  // A report cut after 11 rows, as a kill leaves it, resumed: the same
  // report and the same cumulative current.
  const std::string text = ReadFileBytes(tmp.file("1/" + report));
  std::size_t cut = 0;
  for (int line = 0; line < 12; ++line) cut = text.find("\r\n", cut) + 2;
  WriteFileBytes(tmp.file("1/" + report), text.substr(0, cut));
  fs::remove(tmp.file("1/c.rst"));
  const tCliRun resumed = RunCli(
      With(ExampleArgs("p"), {"--threads", "1", "--corridor", "c", "--resume"}), tmp.file("1"));
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  ExpectSameFile(tmp.file("1/" + report), tmp.file("2/" + report));
  ExpectSameFile(tmp.file("1/c.rst"), tmp.file("2/c.rst"));
  ExpectSameFile(tmp.file("1/c.rdc"), tmp.file("2/c.rdc"));
}

// The README's example: its command gives the report lines it shows.
TEST(ResistanceCli, ReadmeExampleShowsTheReportsFirstLines) {
  const std::string readme =
      ReadFileBytes((fs::path(STRAVEX_EXAMPLES_DIR).parent_path() / "README.md").string());
  const std::string shown = "head -3 /tmp/Friction-Resistance-MatrixAnalysis.txt\n";
  const std::size_t at = readme.find(shown);
  ASSERT_NE(at, std::string::npos);
  std::stringstream lines(readme.substr(at + shown.size()));
  TempDir tmp;
  const tCliRun r = RunCli({"matrix", "--binary", Land("forest_BL"), Land("roads_NB"),
                            "--quantitative", Land("cover_QT"), "--data", Land("samples.txt"),
                            "--algorithm", "resistance", "--friction", Land("friction"),
                            "--corridor", "current", "--workdir", tmp.path().string()},
                           tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  std::stringstream report(ReadFileBytes(tmp.file("Friction-Resistance-MatrixAnalysis.txt")));
  for (int k = 0; k < 3; ++k) {
    std::string expected, produced;
    std::getline(lines, expected);
    std::getline(report, produced);
    EXPECT_EQ(expected + "\r", produced) << "line " << k + 1;
  }
  // Those three lines and no more: the block ends.
  std::string end;
  std::getline(lines, end);
  EXPECT_EQ(end, "```");
}

} // namespace
} // namespace stravex::test
