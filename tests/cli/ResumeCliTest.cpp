// Runs killed at random moments and continued with --resume end with the
// files of an uninterrupted run.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <thread>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> MatrixArgs(const std::string& threads) {
  return {"matrix",          "--binary",
          Land("forest_BL"), Land("roads_NB"),
          "--quantitative",  Land("cover_QT"),
          "--data",          Land("samples.txt"),
          "--algorithm",     "least-cost",
          "--friction",      Land("friction"),
          "--width",         "3",
          "--corridor",      "corr",
          "--project",       "k",
          "--threads",       threads};
}

// Whatever moment the kill came at, every file that exists opens: the report
// holds whole CR LF lines after its header, the corridor map's documentation
// reads and its image has every record.
void ExpectFilesOpen(const fs::path& dir, const std::string& report, const std::string& corr) {
  const fs::path r = dir / report;
  if (fs::exists(r)) {
    const std::string text = ReadFileBytes(r.string());
    if (!text.empty()) {
      EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "a cut line in " << r;
    }
  }
  if (fs::exists(dir / (corr + ".rdc"))) {
    tRaster map((dir / corr).string());
    EXPECT_EQ(map.Rows * map.Columns * 2,
              static_cast<int64_t>(fs::file_size(dir / (corr + ".rst"))));
  }
}

void KillAndResume(const std::vector<std::string>& args, const std::string& report, int kills,
                   unsigned seed, const std::string& corr = "corr") {
  TempDir reference, work;
  const auto started = std::chrono::steady_clock::now();
  const tCliRun whole = RunCli(args, reference.path().string());
  ASSERT_EQ(whole.status, 0) << whole.err;
  const auto wholeUs = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();

  // Kills spread over the run's own length, however fast the machine is, so
  // that most of them come while rows are being written.
  std::mt19937 random(seed);
  std::uniform_int_distribution<int64_t> delayUs(std::max<int64_t>(wholeUs / 10, 1000),
                                                 std::max<int64_t>(wholeUs * 19 / 20, 2000));
  int resumedPartial = 0;
  for (int k = 0; k < kills; ++k) {
    fs::remove_all(work.path());
    fs::create_directories(work.path());
    // The first attempt starts anew; later ones resume what the kill left.
    for (int attempt = 0; attempt < 3; ++attempt) {
      const auto cmd = attempt == 0 ? args : With(args, {"--resume"});
      const pid_t pid = StartCli(cmd, work.path().string(), work.file("out"), work.file("err"));
      ASSERT_GT(pid, 0);
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
      ::kill(pid, SIGKILL);
      int status = 0;
      ::waitpid(pid, &status, 0);
      ExpectFilesOpen(work.path(), report, corr);
      if (WIFSIGNALED(status) && fs::exists(work.path() / report)) ++resumedPartial;
    }
    const tCliRun resumed = RunCli(With(args, {"--resume"}), work.path().string());
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    ExpectSameFile(work.file(report), reference.file(report));
    ExpectSameFile(work.file(corr + ".rst"), reference.file(corr + ".rst"));
    ExpectSameFile(work.file(corr + ".rdc"), reference.file(corr + ".rdc"));
    const std::string journal = fs::path(report).replace_extension(".journal").string();
    ExpectSameRunLog(work.file(journal), reference.file(journal));
  }
  EXPECT_GT(resumedPartial, 0) << "no kill came while the run was writing";
}

} // namespace

TEST(ResumeCli, KilledMatrixRunsResumeToTheSameFiles) {
  KillAndResume(MatrixArgs("1"), "k-MatrixAnalysis.txt", 6, 1);
  KillAndResume(MatrixArgs("2"), "k-MatrixAnalysis.txt", 6, 2);
}

// A shard's journal also ends the same: the merge reads it.
TEST(ResumeCli, KilledShardResumesToTheSameFiles) {
  KillAndResume(With(MatrixArgs("2"), {"--shard", "2/3"}), "k-MatrixAnalysis-shard-2-of-3.txt", 4,
                4, "corr-shard-2-of-3");
}

TEST(ResumeCli, KilledSequenceRunResumesToTheSameFiles) {
  const auto args = With(LeastCostSequenceArgs("k"), {"--corridor", "corr", "--threads", "2"});
  KillAndResume(args, "k-SequenceAnalysis.txt", 4, 3);
}

// A kill between creating the report and writing its header leaves an empty
// report (or, in principle, part of the header): resuming starts it anew.
TEST(ResumeCli, AReportWithoutItsWholeHeaderIsWrittenAnew) {
  const std::vector<std::string> strips = {
      "matrix", "--binary", Land("forest_BL"), "--data", Land("samples.txt"), "--project", "h"};
  TempDir reference, dir;
  ASSERT_EQ(RunCli(strips, reference.path().string()).status, 0);
  const std::string whole = ReadFileBytes(reference.file("h-MatrixAnalysis.txt"));
  for (const std::size_t keep : {std::size_t{0}, std::size_t{7}}) {
    ASSERT_EQ(RunCli(strips, dir.path().string()).status, 0);
    fs::resize_file(dir.file("h-MatrixAnalysis.txt"), keep);
    const tCliRun r = RunCli(With(strips, {"--resume"}), dir.path().string());
    ASSERT_EQ(r.status, 0) << keep << ": " << r.err;
    EXPECT_EQ(ReadFileBytes(dir.file("h-MatrixAnalysis.txt")), whole) << keep;
  }
  // A header that is not a prefix of this run's is still refused.
  WriteFileBytes(dir.file("h-MatrixAnalysis.txt"), "PopID1\tX9");
  const tCliRun other = RunCli(With(strips, {"--resume"}), dir.path().string());
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("has another header"), std::string::npos) << other.err;
}

TEST(ResumeCli, MismatchingSettingsAreRefusedAndNothingChanges) {
  TempDir dir;
  const tCliRun first = RunCli(MatrixArgs("1"), dir.path().string());
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string report = ReadFileBytes(dir.file("k-MatrixAnalysis.txt"));
  const std::string corridor = ReadFileBytes(dir.file("corr.rst"));

  auto args = With(MatrixArgs("1"), {"--resume"});
  args[13] = "5"; // --width
  tCliRun r = RunCli(args, dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("other settings"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("path width was \"3\", this run has \"5\""), std::string::npos) << r.err;

  // Other maps give another header.
  r = RunCli(With({"matrix", "--binary", Land("forest_BL"), "--data", Land("samples.txt"),
                   "--algorithm", "least-cost", "--friction", Land("friction"), "--width", "3",
                   "--corridor", "corr", "--project", "k", "--resume"},
                  {}),
             dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stravex-cli: "), std::string::npos) << r.err;

  // A report without its journal cannot be continued.
  fs::remove(dir.file("k-MatrixAnalysis.journal"));
  r = RunCli(With(MatrixArgs("1"), {"--resume"}), dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("k-MatrixAnalysis.journal not found"), std::string::npos) << r.err;

  EXPECT_EQ(ReadFileBytes(dir.file("k-MatrixAnalysis.txt")), report);
  EXPECT_EQ(ReadFileBytes(dir.file("corr.rst")), corridor);

  // A complete report resumes to itself; without a report --resume starts anew.
  TempDir fresh;
  r = RunCli(With(MatrixArgs("1"), {"--resume"}), fresh.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCli(With(MatrixArgs("1"), {"--resume"}), fresh.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(fresh.file("k-MatrixAnalysis.txt")), report);
  EXPECT_EQ(ReadFileBytes(fresh.file("corr.rst")), corridor);
}

} // namespace stravex::test
