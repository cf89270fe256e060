// stravex-cli x: the positional batch line, run as a separate process on a
// copy of the example landscape.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace stravex::test {

// In AnalysisCliTest.cpp: recomputes every row from the map and data files.
void CheckBinaryStripMatrixReport(const std::string& path, const std::vector<std::string>& binary, int width);

namespace {

namespace fs = std::filesystem;

const fs::path kExamples = STRAVEX_EXAMPLES_DIR;

struct tRun {
  int status = -1;
  std::string out, err;
};

// Runs the program from `cwd` with the arguments as they are (no quoting
// needed: the tests use plain names).
tRun Batch(const std::string& cwd, const std::string& args) {
  TempDir errDir;
  tRun r;
  r.status = RunCommand("cd '" + cwd + "' && '" + STRAVEX_CLI_PATH + "' " + args + " 2>'" + errDir.file("err") + "'",
                        r.out);
  r.err = ReadFileBytes(errDir.file("err"));
  return r;
}

class BatchCli : public ::testing::Test {
protected:
  BatchCli() { fs::copy(kExamples / "landscape", tmp.path() / "land"); }
  std::string Land(const std::string& name) const { return tmp.file("land/" + name); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tmp.path() / "land")) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  TempDir tmp;
};

TEST_F(BatchCli, PositionalLineWritesTheReportAndTheLogInTheMapListFolder) {
  // "none" keeps the name the map loading set: the fixed-width strip default.
  const tRun r = Batch(tmp.path().string(), "x land/maps.txt run.log samples.txt none");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  const std::string report = Land("Friction-FixedStrip-MatrixAnalysis.txt");
  const std::string expected = (kExamples / "expected" / "Friction-FixedStrip-MatrixAnalysis.txt").string();
  if (std::getenv("STRAVEX_UPDATE_EXPECTED")) fs::copy_file(report, expected, fs::copy_options::overwrite_existing);
  EXPECT_TRUE(ReadFileBytes(report) == ReadFileBytes(expected));
  CheckBinaryStripMatrixReport(expected, {"forest_BL", "roads_NB"}, 1);

  const std::string log = ReadFileBytes(Land("run.log"));
  EXPECT_EQ(log.rfind("\r\n       ******************************\r\n", 0), 0u) << log.substr(0, 80);
  EXPECT_NE(log.find("Population matrix file:\tsamples.txt\r\nAlgorithm: fixed-width strip\r\n"), std::string::npos);
  size_t bareLf = 0;
  for (size_t k = 0; k < log.size(); ++k) bareLf += log[k] == '\n' && (k == 0 || log[k - 1] != '\r');
  EXPECT_EQ(bareLf, 0u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");

  // The project from position 5, "X" in capitals, the same settings spelt out
  // up to position 21: the same rows.
  const tRun named = Batch(tmp.path().string(),
                           "X land/maps.txt named.log samples.txt MyProject 0 0 0 '' 1 0 0 0 1 filler 1000 1 1 0 0 1");
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_TRUE(ReadFileBytes(Land("MyProject-MatrixAnalysis.txt")) == ReadFileBytes(expected));
  // Position 21 echoes the sample points to the log.
  EXPECT_NE(ReadFileBytes(Land("named.log")).find("Sample points coordinates"), std::string::npos);
}

TEST_F(BatchCli, ShortOrBadLinesLeaveNoLog) {
  const auto before = Files();
  tRun r = Batch(tmp.path().string(), "x land/maps.txt run.log samples.txt");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(Files(), before);

  // An integer position that holds no integer: exit 1, the message, no log, no report.
  r = Batch(tmp.path().string(), "x land/maps.txt run.log samples.txt none 0 0 0 '' abc");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "stravex-cli: Position 10: 'abc' is not a valid integer value\n");
  EXPECT_EQ(Files(), before);

  // An error of the run itself: also no log.
  r = Batch(tmp.path().string(), "x land/maps.txt run.log nosuchfile.txt none");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nosuchfile.txt"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Land("run.log")));
}

TEST_F(BatchCli, HelpListsThePositions) {
  const tRun r = Batch(tmp.path().string(), "x --help");
  EXPECT_EQ(r.status, 0);
  for (const char* text : {"MAPLIST LOG DATA NAME", "friction map", "not read", "130"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  EXPECT_EQ(Files().size(), 15u) << "help runs nothing";
}

} // namespace
} // namespace stravex::test
