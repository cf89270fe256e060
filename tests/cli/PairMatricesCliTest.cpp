// stravex-cli matrix --pair-matrices on the example landscape: the matrix
// files read back by Python (pandas when installed, else the csv module) and
// by R when installed, checked against the report rows. The example of
// docs/user-guide.md ("Pair matrices for R") is run as it is written there:
// its command, the files it lists and its R lines.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

using tArgs = std::vector<std::string>;

// clang-format off
const tArgs kStripMatrix = {
    "matrix", "--binary", Land("forest_BL"), "--quantitative", Land("cover_QT"),
    "--data", Land("samples.txt"), "--pair-matrices", "--max-distance", "600",
    "--project", "wolves"};
// clang-format on

const std::vector<std::string> kColumns = {"GenDist",        "GeoDist",      "forest_BL_Count",
                                           "forest_BL_Area", "cover_QT_Sum", "cover_QT_Mean",
                                           "cover_QT_SD",    "cover_QT_Area"};

// Arguments: the report, the number of points, then column names; each
// column's matrix must hold the report's values, NA for pairs without a row
// and nothing on the diagonal. Prints the number of NA pairs seen.
const char* const kPythonCheck = R"PY(
import csv, math, sys
report, n, columns = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
with open(report, newline='') as f:
    rows = [line.rstrip('\r\n').split('\t') for line in f]
header, rows = rows[0], rows[1:]
names = [str(k) for k in range(n)]
try:
    import pandas as pd
    def read(path):
        df = pd.read_csv(path, index_col=0)
        assert df.shape == (n, n), df.shape
        assert list(df.columns) == names, list(df.columns)
        assert [str(k) for k in df.index] == names, list(df.index)
        assert all(str(t).startswith('float') for t in df.dtypes), df.dtypes
        return [[float(v) for v in df.iloc[i]] for i in range(n)]
except ImportError:
    def read(path):
        with open(path, newline='') as f:
            lines = list(csv.reader(f))
        assert lines[0] == [''] + names, lines[0]
        assert len(lines) == n + 1, len(lines)
        out = []
        for i, line in enumerate(lines[1:]):
            assert len(line) == n + 1 and line[0] == names[i], line
            assert line[i + 1] == '', line
            out.append([math.nan if v in ('', 'NA') else float(v) for v in line[1:]])
        return out
na = 0
for column in columns:
    m = read(report.replace('MatrixAnalysis.txt', column + '-matrix.csv'))
    k = header.index(column)
    seen = set()
    for r in rows:
        i, j = int(r[0]), int(r[3])
        assert m[i][j] == float(r[k]) and m[j][i] == float(r[k]), (column, i, j)
        seen |= {(i, j), (j, i)}
    for i in range(n):
        assert math.isnan(m[i][i])
        for j in range(n):
            if i != j and (i, j) not in seen:
                assert math.isnan(m[i][j]), (column, i, j)
                na += 1
print(na)
)PY";

TEST(PairMatricesCli, ExampleMatricesReadBackInPython) {
  if (!HaveProgram("python3")) GTEST_SKIP() << "python3 missing";
  TempDir dir;
  const tCliRun r = RunCli(kStripMatrix, dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  // Listed after the report, in column order, and nothing else of the kind.
  std::string listed;
  for (const std::string& c : kColumns)
    listed += "pair matrix: " + dir.file("wolves-" + c + "-matrix.csv") + "\n";
  EXPECT_NE(r.out.find("report: " + dir.file("wolves-MatrixAnalysis.txt") + "\n" + listed),
            std::string::npos)
      << r.out;
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.path()))
    files += e.path().string().ends_with("-matrix.csv");
  EXPECT_EQ(files, kColumns.size());

  const tCliRun py = RunProgram(
      "/usr/bin/env",
      With({"python3", "-c", kPythonCheck, dir.file("wolves-MatrixAnalysis.txt"), "8"}, kColumns),
      "/");
  ASSERT_EQ(py.status, 0) << py.err;
  // 600 map units keep some pairs of the 28 only.
  const int na = std::stoi(py.out);
  EXPECT_GT(na, 0);
  EXPECT_EQ(na % (2 * static_cast<int>(kColumns.size())), 0);
  EXPECT_LT(na, 2 * 28 * static_cast<int>(kColumns.size()));
}

// The example of the user guide's section "Pair matrices for R": the
// stravex-cli arguments of its command (run in examples/landscape, with
// --workdir as written), the lines it shows the command printing (without
// "# ", up to the first "..." line) and the lines of its R block.
struct tGuideExample {
  tArgs Args;
  std::string WorkDir;
  std::vector<std::string> Printed;
  std::vector<std::string> RLines;
};

tGuideExample ReadGuideExample() {
  const std::string guide = ReadFileBytes(std::string(STRAVEX_SOURCE_DIR) + "/docs/user-guide.md");
  tGuideExample ex;
  const std::size_t from = guide.find("\n## Pair matrices for R\n");
  if (from == std::string::npos) return ex;
  std::size_t to = guide.find("\n## ", from + 1);
  if (to == std::string::npos) to = guide.size();
  std::istringstream section(guide.substr(from, to - from));
  std::string line, command;
  enum { kText, kShell, kR, kDone } where = kText;
  bool continued = false;
  while (where != kDone && std::getline(section, line)) {
    if (where == kText) {
      if (line == "```")
        where = kShell;
      else if (line == "```r")
        where = kR;
    } else if (line == "```") {
      where = ex.RLines.empty() ? kText : kDone;
    } else if (where == kR) {
      ex.RLines.push_back(line);
    } else if (line.starts_with("# ")) {
      if (line.starts_with("# ...")) continued = true;
      if (!continued) ex.Printed.push_back(line.substr(2));
    } else if (line.starts_with("stravex-cli ") || command.ends_with("\\")) {
      if (command.ends_with("\\")) command.pop_back();
      command += " " + line;
    }
  }
  std::istringstream words(command);
  std::string word;
  words >> word; // stravex-cli
  while (words >> word) ex.Args.push_back(word);
  const auto w = std::find(ex.Args.begin(), ex.Args.end(), "--workdir");
  if (w != ex.Args.end() && w + 1 != ex.Args.end()) ex.WorkDir = *(w + 1);
  return ex;
}

// The guide's command, with --workdir moved to `dir`; its printed lines with
// the guide's folder replaced by `dir`.
tGuideExample GuideExampleIn(const TempDir& dir) {
  tGuideExample ex = ReadGuideExample();
  const std::string folder = dir.path().string();
  for (std::string& a : ex.Args)
    if (a == ex.WorkDir) a = folder;
  for (std::string& p : ex.Printed) {
    const std::size_t at = p.find(": " + ex.WorkDir + "/");
    if (at != std::string::npos) p.replace(at + 2, ex.WorkDir.size(), folder);
  }
  return ex;
}

TEST(PairMatricesCli, UserGuideExampleWritesWhatItShows) {
  TempDir dir;
  const tGuideExample ex = GuideExampleIn(dir);
  ASSERT_FALSE(ex.Args.empty()) << "no stravex-cli command in docs/user-guide.md";
  EXPECT_EQ(ex.Args.front(), "matrix");
  EXPECT_NE(std::find(ex.Args.begin(), ex.Args.end(), "--pair-matrices"), ex.Args.end());
  ASSERT_FALSE(ex.WorkDir.empty()) << "the command has no --workdir";
  ASSERT_GE(ex.Printed.size(), 2u);
  ASSERT_FALSE(ex.RLines.empty()) << "no R block in docs/user-guide.md";

  const tCliRun r = RunCli(ex.Args, Land(""));
  ASSERT_EQ(r.status, 0) << r.err;
  // The lines shown, in the order shown and one after another, and each
  // file there.
  std::string shown;
  for (const std::string& p : ex.Printed) {
    shown += p + "\n";
    const std::size_t colon = p.find(": ");
    ASSERT_NE(colon, std::string::npos) << p;
    EXPECT_TRUE(fs::is_regular_file(p.substr(colon + 2))) << p;
  }
  EXPECT_TRUE(r.out.starts_with(shown)) << r.out << "\nexpected at the start:\n" << shown;
  // Every file the R lines read is one the command wrote.
  for (const std::string& line : ex.RLines) {
    for (std::size_t at = line.find("read.csv(\""); at != std::string::npos;
         at = line.find("read.csv(\"", at + 1)) {
      const std::size_t open = at + 10;
      const std::string name = line.substr(open, line.find('"', open) - open);
      EXPECT_TRUE(fs::is_regular_file(dir.file(name))) << name;
    }
  }
}

// The R lines of the guide, run in the folder of the files (a library the
// guide loads is used only when installed; nothing it computes is printed),
// then their matrices checked against the report.
TEST(PairMatricesCli, ReadByRAsTheUserGuideShows) {
  if (!HaveProgram("Rscript")) GTEST_SKIP() << "Rscript missing";
  TempDir dir;
  const tGuideExample ex = GuideExampleIn(dir);
  ASSERT_FALSE(ex.Args.empty() || ex.RLines.empty()) << "no example in docs/user-guide.md";
  const tCliRun r = RunCli(ex.Args, Land(""));
  ASSERT_EQ(r.status, 0) << r.err;
  std::string script;
  for (const std::string& line : ex.RLines) {
    if (line.starts_with("library(")) {
      const std::string package = line.substr(8, line.find(')') - 8);
      script += "if (requireNamespace(\"" + package + "\", quietly = TRUE)) invisible({ " + line +
                " })\n";
    } else {
      script += line + "\n";
    }
  }
  script += R"R(
    report <- read.delim("wolves-MatrixAnalysis.txt", check.names = FALSE)
    stopifnot(is.numeric(gen), is.numeric(cost), dim(gen) == c(8, 8), dim(cost) == c(8, 8),
              identical(rownames(gen), as.character(0:7)),
              identical(colnames(cost), as.character(0:7)),
              all(is.na(diag(gen))), all(is.na(diag(cost))), nrow(report) == 28)
    idx <- cbind(report$PopID1 + 1, report$PopID2 + 1)
    near <- function(a, b) all(abs(a - b) <= 1e-12 * pmax(1, abs(b)))
    stopifnot(gen[idx] == report$GenDist, gen[idx[, 2:1]] == report$GenDist,
              near(cost[idx], report$forest_BL_Cost), near(cost[idx[, 2:1]], report$forest_BL_Cost),
              all(report$forest_BL_Cost > 0))
    cat(length(as.dist(gen)), "\n")
  )R";
  const tCliRun rs = RunProgram("/usr/bin/env", {"Rscript", "-e", script}, dir.path().string());
  ASSERT_EQ(rs.status, 0) << rs.err;
  EXPECT_EQ(rs.out, "28 \n");
}

// Pairs left out of the report (--max-distance) read as NA in R.
TEST(PairMatricesCli, ReadByRWithSkippedPairsAsNA) {
  if (!HaveProgram("Rscript")) GTEST_SKIP() << "Rscript missing";
  TempDir dir;
  const tCliRun r = RunCli(kStripMatrix, dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string script = R"R(
    report <- read.delim("wolves-MatrixAnalysis.txt", check.names = FALSE)
    gen <- as.matrix(read.csv("wolves-GenDist-matrix.csv", row.names = 1, check.names = FALSE))
    area <- as.matrix(read.csv("wolves-forest_BL_Area-matrix.csv", row.names = 1,
                               check.names = FALSE))
    stopifnot(is.numeric(gen), dim(gen) == c(8, 8), identical(rownames(gen), as.character(0:7)),
              identical(colnames(gen), as.character(0:7)), all(is.na(diag(gen))))
    idx <- cbind(report$PopID1 + 1, report$PopID2 + 1)
    stopifnot(gen[idx] == report$GenDist, gen[idx[, 2:1]] == report$GenDist,
              area[idx] == report$forest_BL_Area, sum(!is.na(gen)) == 2 * nrow(report))
    d <- as.dist(gen)
    cat(length(d), "\n")
  )R";
  const tCliRun rs = RunProgram("/usr/bin/env", {"Rscript", "-e", script}, dir.path().string());
  ASSERT_EQ(rs.status, 0) << rs.err;
  EXPECT_EQ(rs.out, "28 \n");
}

// A resumed run builds them from the whole report, and they come out as those
// of a run in one go; shards and the sequence commands write none.
TEST(PairMatricesCli, ResumeShardsAndOtherCommands) {
  TempDir whole, resumed;
  const tCliRun one = RunCli(kStripMatrix, whole.path().string());
  ASSERT_EQ(one.status, 0) << one.err;

  // An interrupted run's report: the header and three rows kept.
  tArgs plain = kStripMatrix;
  plain.erase(std::find(plain.begin(), plain.end(), "--pair-matrices"));
  ASSERT_EQ(RunCli(plain, resumed.path().string()).status, 0);
  const std::string report = resumed.file("wolves-MatrixAnalysis.txt");
  std::string text = ReadFileBytes(report);
  std::size_t cut = 0;
  for (int line = 0; line < 4; ++line) cut = text.find("\r\n", cut) + 2;
  WriteFileBytes(report, text.substr(0, cut));
  const tCliRun r = RunCli(With(kStripMatrix, {"--resume"}), resumed.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectSameFile(report, whole.file("wolves-MatrixAnalysis.txt"));
  for (const std::string& c : kColumns) {
    const std::string name = "wolves-" + c + "-matrix.csv";
    ExpectSameFile(resumed.file(name), whole.file(name));
  }

  TempDir shard;
  const tCliRun s = RunCli(With(kStripMatrix, {"--shard", "1/2", "--log", "run.log"}),
                           shard.path().string());
  ASSERT_EQ(s.status, 0) << s.err;
  for (const auto& e : fs::directory_iterator(shard.path()))
    EXPECT_FALSE(e.path().string().ends_with("-matrix.csv")) << e.path();
  EXPECT_EQ(s.out.find("pair matrix:"), std::string::npos) << s.out;
  EXPECT_NE(ReadFileBytes(shard.file("run.log")).find("Pair matrices: not written by a shard"),
            std::string::npos);

  for (const char* command : {"sequence", "bootstrap"}) {
    const tCliRun q = RunCli(
        {command, "--binary", Land("forest_BL"), "--data", Land("tracks.txt"), "--pair-matrices"},
        shard.path().string());
    EXPECT_NE(q.status, 0) << command;
    EXPECT_NE(q.err.find("--pair-matrices"), std::string::npos) << q.err;
  }
}

} // namespace
} // namespace stravex::test
