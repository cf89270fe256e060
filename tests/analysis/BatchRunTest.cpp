// RunBatch on a copy of the example landscape: folders, project name, saved
// log, and what an error or a cancel leaves behind.
#include "analysis/BatchRun.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

// RunBatch moves the process into the map list's folder; every test gets
// the folder it started in back.
class BatchRunTest : public ::testing::Test {
protected:
  BatchRunTest() : fSaved(fs::current_path()) {
    fs::copy(fs::path(STRAVEX_EXAMPLES_DIR) / "landscape", tmp.path() / "land");
    fs::current_path(tmp.path());
  }
  ~BatchRunTest() override { fs::current_path(fSaved); }

  std::vector<std::string> Line(std::vector<std::string> positions) {
    positions.insert(positions.begin(), "stravex");
    return positions;
  }
  std::string Land(const std::string& name) const { return tmp.file("land/" + name); }
  size_t LineCount(const std::string& path) const {
    const std::string text = ReadFileBytes(path);
    size_t n = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2))
      ++n;
    return n;
  }

  TempDir tmp;
  RecordingReporter reporter;

private:
  fs::path fSaved;
};

TEST_F(BatchRunTest, ShortLineDoesNothing) {
  for (const auto& line :
       {Line({"x", "land/maps.txt", "run.log", "samples.txt"}), Line({"X"}), Line({})}) {
    EXPECT_EQ(RunBatch(line, reporter), tBatchOutcome::NothingToDo);
    EXPECT_EQ(fs::current_path(), tmp.path());
  }
  EXPECT_FALSE(fs::exists(Land("run.log")));
  EXPECT_TRUE(reporter.logs.empty());
}

TEST_F(BatchRunTest, RunsInTheMapListFolderAndSavesTheLog) {
  // The map list is named from the caller's folder, everything else from the list's.
  ASSERT_EQ(RunBatch(Line({"x", "land/maps.txt", "run.log", "samples.txt", "NONE"}), reporter),
            tBatchOutcome::Completed);
  // The folder is the run's, not the process's.
  EXPECT_EQ(fs::current_path(), tmp.path());

  const std::string report = ReadFileBytes(Land("Friction-FixedStrip-MatrixAnalysis.txt"));
  EXPECT_EQ(LineCount(Land("Friction-FixedStrip-MatrixAnalysis.txt")), 1u + 8 * 7 / 2);
  EXPECT_NE(
      report.find(
          "\tforest_BL_Count\tforest_BL_Area\tforest_BL_Length\tforest_BL_Cost\troads_NB_Count"),
      std::string::npos);

  // The saved log is what the run logged (forwarded to the caller's reporter
  // too), one CR LF line per logged line.
  const std::string log = ReadFileBytes(Land("run.log"));
  std::string expected;
  for (const std::string& text : reporter.logs)
    for (const std::string& line : SplitLines(text)) expected += line + "\r\n";
  EXPECT_EQ(log, expected);
  EXPECT_EQ(
      log.rfind("\r\n       ******************************\r\n******** Population matrix analysis",
                0),
      0u);
  EXPECT_NE(log.find("Algorithm: fixed-width strip\r\n"), std::string::npos);
  EXPECT_NE(log.find("Genetic distance matrix"), std::string::npos)
      << "matrices are echoed by default";

  // A named project, the ratio strip and matrices not echoed (position 20).
  ASSERT_EQ(RunBatch(Line({"x",          Land("maps.txt"),
                           "second.log", "samples.txt",
                           "Mine",       "1",
                           "0",          "0",
                           "",           "4",
                           "0",          "0",
                           "0",          "1",
                           "anything",   "1000",
                           "1",          "1",
                           "0",          "0"}),
                     reporter),
            tBatchOutcome::Completed);
  EXPECT_EQ(LineCount(Land("Mine-MatrixAnalysis.txt")), 29u);
  const std::string second = ReadFileBytes(Land("second.log"));
  EXPECT_NE(second.find("Algorithm: ratio strip\r\n"), std::string::npos);
  EXPECT_EQ(second.find("Genetic distance matrix"), std::string::npos);
  EXPECT_EQ(second.find("fixed-width"), std::string::npos) << "each run saves its own log";
}

TEST_F(BatchRunTest, LeastCostLineKeepsTheDefaultProjectName) {
  fs::create_directory(tmp.path() / "elsewhere");
  fs::current_path(tmp.path() / "elsewhere");
  ASSERT_EQ(RunBatch(Line({"x", "../land/maps.txt", "lc.log", "samples.txt", "none", "2", "0", "0",
                           "friction"}),
                     reporter, 2),
            tBatchOutcome::Completed);
  // "none" leaves the name the map loading set, before position 6 chose the algorithm.
  EXPECT_EQ(LineCount(Land("Friction-FixedStrip-MatrixAnalysis.txt")), 29u);
  EXPECT_FALSE(fs::exists(Land("Friction-LeastCost-MatrixAnalysis.txt")));
  EXPECT_NE(ReadFileBytes(Land("lc.log")).find("Algorithm: least cost path\r\n"),
            std::string::npos);
  EXPECT_TRUE(fs::is_empty(tmp.path() / "elsewhere"));
}

TEST_F(BatchRunTest, ErrorsPropagateAndLeaveNoLog) {
  EXPECT_THROW(RunBatch(Line({"x", "land/maps.txt", "bad.log", "samples.txt", "none", "0", "0", "0",
                              "", "abc"}),
                        reporter),
               EConvertError);
  EXPECT_FALSE(fs::exists(Land("bad.log")));
  EXPECT_FALSE(fs::exists(Land("Friction-FixedStrip-MatrixAnalysis.txt"))) << "nothing ran";

  fs::current_path(tmp.path());
  EXPECT_THROW(
      RunBatch(Line({"x", "missing/maps.txt", "bad.log", "samples.txt", "none"}), reporter),
      EInOutError);
  EXPECT_EQ(fs::current_path(), tmp.path());
  EXPECT_THROW(RunBatch(Line({"x", "land/nolist.txt", "bad.log", "samples.txt", "none"}), reporter),
               EInOutError);
  fs::current_path(tmp.path());
  EXPECT_THROW(RunBatch(Line({"x", "land/maps.txt", "bad.log", "nodata.txt", "none"}), reporter),
               EInOutError);
  EXPECT_FALSE(fs::exists(Land("bad.log")));

  // A refused map is shown and skipped; the run goes on with the others.
  std::string doc = ReadFileBytes(Land("roads_NB.rdc"));
  doc.replace(doc.find("binary"), 6, "ascii");
  WriteFileBytes(Land("roads_NB.rdc"), doc);
  fs::current_path(tmp.path());
  reporter.errors.clear();
  ASSERT_EQ(RunBatch(Line({"x", "land/maps.txt", "ok.log", "samples.txt", "none"}), reporter),
            tBatchOutcome::Completed);
  EXPECT_EQ(reporter.errors, std::vector<std::string>{"roads_NB is not in binary format."});
  const std::string report = ReadFileBytes(Land("Friction-FixedStrip-MatrixAnalysis.txt"));
  EXPECT_EQ(report.find("roads_NB"), std::string::npos);
  EXPECT_TRUE(fs::exists(Land("ok.log")));
}

TEST_F(BatchRunTest, CancelledRunStillSavesItsLog) {
  reporter.cancelAfterPolls = 0;
  ASSERT_EQ(RunBatch(Line({"x", "land/maps.txt", "run.log", "samples.txt", "none"}), reporter),
            tBatchOutcome::Cancelled);
  const size_t lines = LineCount(Land("Friction-FixedStrip-MatrixAnalysis.txt"));
  EXPECT_GE(lines, 2u);
  EXPECT_LT(lines, 29u);
  EXPECT_TRUE(fs::exists(Land("run.log")));
}

TEST(BatchLog, LinesAreSplitAtEveryBreakAndSavedWithCrLf) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines(""), std::vector<std::string>{""});
  EXPECT_EQ(SplitLines("x\n"), std::vector<std::string>{"x"});
  EXPECT_EQ(SplitLines("\n\n"), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(SplitLines("\r\r\n"), (std::vector<std::string>{"", ""}));

  RecordingReporter inner;
  tLogRecorder recorder(inner);
  recorder.Log("one\ntwo");
  recorder.Log("");
  recorder.ErrorBox("box");
  inner.cancelAfterPolls = 0;
  EXPECT_TRUE(recorder.CancelRequested());
  EXPECT_EQ(recorder.Lines(), (std::vector<std::string>{"one", "two", ""}));
  EXPECT_EQ(inner.logs, (std::vector<std::string>{"one\ntwo", ""}));
  EXPECT_EQ(inner.errors, std::vector<std::string>{"box"});

  TempDir tmp;
  SaveLogLines(tmp.file("log.txt"), recorder.Lines());
  EXPECT_EQ(ReadFileBytes(tmp.file("log.txt")), "one\r\ntwo\r\n\r\n");
  EXPECT_THROW(SaveLogLines(tmp.file("no/such/folder/log.txt"), {"x"}), EInOutError);
}

} // namespace
} // namespace stravex::test
