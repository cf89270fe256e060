// stravex-cli x: the positional batch line, run as a separate process on a
// copy of the example landscape.
#include "CliSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace stravex::test {

// In AnalysisCliTest.cpp: recomputes every row from the map and data files.
void CheckBinaryStripMatrixReport(const std::string& path, const std::vector<std::string>& binary,
                                  int width);

namespace {

namespace fs = std::filesystem;

const fs::path kExamples = STRAVEX_EXAMPLES_DIR;

class BatchCli : public ::testing::Test {
protected:
  BatchCli() { fs::copy(kExamples / "landscape", tmp.path() / "land"); }
  std::string Land(const std::string& name) const { return tmp.file("land/" + name); }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(tmp.path() / "land"))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  TempDir tmp;
};

TEST_F(BatchCli, PositionalLineWritesTheReportAndTheLogInTheMapListFolder) {
  // "none" keeps the name the map loading set: the fixed-width strip default.
  const tCliRun r = RunCli({"x", "land/maps.txt", "run.log", "samples.txt", "none"},
                           tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "report: " + Land("Friction-FixedStrip-MatrixAnalysis.txt") +
                       "\nlog: " + Land("run.log") + "\n");
  EXPECT_EQ(r.err, "");
  const std::string report = Land("Friction-FixedStrip-MatrixAnalysis.txt");
  const std::string expected =
      (kExamples / "expected" / "Friction-FixedStrip-MatrixAnalysis.txt").string();
  ExpectMatchesGolden(report, expected);
  CheckBinaryStripMatrixReport(expected, {"forest_BL", "roads_NB"}, 1);

  const std::string log = ReadFileBytes(Land("run.log"));
  EXPECT_EQ(log.rfind("\r\n       ******************************\r\n", 0), 0u) << log.substr(0, 80);
  EXPECT_NE(log.find("Population matrix file:\tsamples.txt\r\nAlgorithm: fixed-width strip\r\n"),
            std::string::npos);
  size_t bareLf = 0;
  for (size_t k = 0; k < log.size(); ++k)
    bareLf += log[k] == '\n' && (k == 0 || log[k - 1] != '\r');
  EXPECT_EQ(bareLf, 0u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");

  // The project from position 5, "X" in capitals, the same settings spelt out
  // up to position 21: the same rows.
  std::vector<std::string> line = {"X", "land/maps.txt", "named.log", "samples.txt", "MyProject"};
  const std::vector<std::string> positions6To13 = {"0", "0", "0", "", "1", "0", "0", "0"};
  const std::vector<std::string> positions14To21 = {"1", "filler", "1000", "1", "1", "0", "0", "1"};
  line.insert(line.end(), positions6To13.begin(), positions6To13.end());
  line.insert(line.end(), positions14To21.begin(), positions14To21.end());
  const tCliRun named = RunCli(line, tmp.path().string());
  ASSERT_EQ(named.status, 0) << named.err;
  ExpectSameFile(Land("MyProject-MatrixAnalysis.txt"), expected);
  // Position 21 echoes the sample points to the log.
  EXPECT_NE(ReadFileBytes(Land("named.log")).find("Sample points coordinates"), std::string::npos);
}

TEST_F(BatchCli, ShortOrBadLinesLeaveNoLog) {
  const auto before = Files();
  // Without the five required positions: the usage and status 1, not a
  // silent success that a script would take for a run.
  const std::vector<std::string> line = {"x", "land/maps.txt", "run.log", "samples.txt"};
  const std::string usage = RunCli({"x", "--help"}, "/").out;
  for (size_t n = 1; n <= line.size(); ++n) {
    const std::vector<std::string> args(line.begin(), line.begin() + static_cast<long>(n));
    const tCliRun shortLine = RunCli(args, tmp.path().string());
    EXPECT_EQ(shortLine.status, 1) << n;
    EXPECT_EQ(shortLine.out, "");
    const std::string first = "stravex-cli: x needs MAPLIST LOG DATA NAME (positions 2 to 5); " +
                              std::to_string(n - 1) + (n == 2 ? " was" : " were") + " given\n";
    EXPECT_EQ(shortLine.err.substr(0, first.size()), first);
    EXPECT_EQ(shortLine.err.substr(first.size()), usage);
  }
  EXPECT_EQ(Files(), before);

  // An integer position that holds no integer: exit 1, the message, no log, no report.
  tCliRun r =
      RunCli({"x", "land/maps.txt", "run.log", "samples.txt", "none", "0", "0", "0", "", "abc"},
             tmp.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "stravex-cli: Position 10: 'abc' is not a valid integer value\n");
  EXPECT_EQ(Files(), before);

  // An error of the run itself: also no log.
  r = RunCli({"x", "land/maps.txt", "run.log", "nosuchfile.txt", "none"}, tmp.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nosuchfile.txt"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Land("run.log")));
}

TEST_F(BatchCli, HelpListsThePositions) {
  const tCliRun r = RunCli({"x", "--help"}, tmp.path().string());
  EXPECT_EQ(r.status, 0);
  for (const char* text : {"MAPLIST LOG DATA NAME", "friction map", "not read", "130"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text;
  EXPECT_EQ(Files().size(), 15u) << "help runs nothing";
}

} // namespace
} // namespace stravex::test
