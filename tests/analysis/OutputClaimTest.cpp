// A run's outputs never replace its inputs or each other, and one run at a
// time writes a set of outputs.
#include "analysis/Analyses.h"
#include "analysis/OutputCheck.h"

#include "AnalysisRun.h"
#include "MapFixtures.h"
#include "base/FileLock.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace stravex;
using namespace stravex::test;
namespace fs = std::filesystem;

namespace {

// Every file of a folder, hidden ones included: size, modification time, bytes.
std::map<std::string, std::string> Listing(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    std::string what = std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                       std::to_string(st.st_mtim.tv_nsec);
    if (e.is_regular_file()) what += " " + ReadFileBytes(e.path().string());
    files[e.path().filename().string()] = what;
  }
  return files;
}

struct tLeastCostRun : tAnalysisRun {
  tLeastCostRun() {
    LeastCostMaps(*this);
    settings.ProjectName = "P";
    settings.DataFile = "pop.txt";
    settings.EchoMatrices = false;
    settings.PathWidth = 3;
    settings.CorridorMapName = "Corr";
    WritePopulationFile(dir.file("pop.txt"), {{1, 6}, {14, 6}, {2, 2}, {13, 10}},
                        [](int i, int j) { return i == j ? 0 : 0.1; });
  }
  std::string log; // tAnalysisContext::LogFile
  bool journal = false;
  int cancelAfterPolls = -1;
  std::function<void(uint64_t)> onItems;

  // A reporter that hands the run's item counts to onItems.
  struct tItemsReporter : RecordingReporter {
    std::function<void(uint64_t)>* call = nullptr;
    void Items(uint64_t done, uint64_t) override {
      if (*call) (*call)(done);
    }
  };

  // A run in `in` (default: its own folder) with this run's maps.
  tRunResult Start(const std::string& project = "P", const TempDir* in = nullptr) {
    settings.ProjectName = project;
    tItemsReporter items;
    items.call = &onItems;
    items.cancelAfterPolls = cancelAfterPolls;
    tRunState runState;
    tAnalysisContext ctx{settings, maps, items, runState, (in ? *in : dir).path().string(), 1};
    ctx.LogFile = log;
    ctx.Journal = journal;
    ctx.Shard = shard;
    return RunAnalysis(tAnalysisKind::PopulationMatrix, ctx, {});
  }
};

} // namespace

TEST(OutputClaim, ASecondRunOnTheSameOutputsIsRefusedWhileTheFirstGoesOn) {
  tLeastCostRun lone;
  lone.journal = true;
  ASSERT_EQ(lone.Start().Outcome, tRunOutcome::Completed);

  tLeastCostRun r, other;
  r.journal = other.journal = true;
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const std::string holder = "is being written by process " + std::to_string(::getpid()) +
                             " on host " + host + " (started ";
  std::vector<tRunResult> others;
  std::vector<std::string> lockFiles;
  r.onItems = [&](uint64_t done) {
    if (done != 1 || !others.empty()) return;
    for (const auto& e : fs::directory_iterator(r.dir.path()))
      if (e.path().extension() == ".lock") lockFiles.push_back(e.path().filename().string());
    // In r's folder: the same run; another project with the same corridor
    // map; one with outputs of its own, which runs side by side.
    others.push_back(other.Start("P", &r.dir));
    others.push_back(other.Start("Q", &r.dir));
    other.settings.CorridorMapName.clear();
    others.push_back(other.Start("R", &r.dir));
  };
  const tRunResult first = r.Start();
  ASSERT_EQ(first.Outcome, tRunOutcome::Completed) << first.Error;
  ASSERT_EQ(others.size(), 3u);
  EXPECT_EQ(others[0].Outcome, tRunOutcome::Failed);
  EXPECT_EQ(others[0].Error.rfind(
                "Output \"report\" " + r.dir.file("P-MatrixAnalysis.txt") + " " + holder, 0),
            0u)
      << others[0].Error;
  EXPECT_NE(others[0].Error.find("Nothing was changed; wait for that run to end"),
            std::string::npos);
  EXPECT_EQ(
      others[1].Error.rfind("Output \"corridor map\" " + r.dir.file("Corr.rdc") + " " + holder, 0),
      0u)
      << others[1].Error;
  EXPECT_FALSE(fs::exists(r.dir.file("Q-MatrixAnalysis.txt")));
  EXPECT_EQ(others[2].Outcome, tRunOutcome::Completed) << others[2].Error;
  EXPECT_TRUE(fs::exists(r.dir.file("R-MatrixAnalysis.txt")));
  // Report, journal, row digests and both corridor files were locked.
  std::sort(lockFiles.begin(), lockFiles.end());
  EXPECT_EQ(lockFiles, (std::vector<std::string>{
                           ".Corr.rdc.lock", ".Corr.rst.lock", ".P-MatrixAnalysis.digests.lock",
                           ".P-MatrixAnalysis.journal.lock", ".P-MatrixAnalysis.txt.lock"}));
  // The first run's files are those of a run alone.
  for (const char* f : {"P-MatrixAnalysis.txt", "Corr.rst", "Corr.rdc", "P-MatrixAnalysis.digests"})
    EXPECT_EQ(ReadFileBytes(r.dir.file(f)), ReadFileBytes(lone.dir.file(f))) << f;
  for (const auto& e : fs::directory_iterator(r.dir.path()))
    EXPECT_NE(e.path().extension(), ".lock") << e.path();
}

TEST(OutputClaim, ShardsOfOneRunGoSideBySideAndTheLogStaysLockedUntilSaved) {
  tLeastCostRun r, other;
  r.shard = tShard{1, 2};
  other.shard = tShard{2, 2};
  r.log = other.log = r.dir.file("run.log");
  bool started = false;
  tRunResult withLog, withoutLog;
  r.onItems = [&](uint64_t done) {
    if (done != 1 || started) return;
    started = true;
    // The shards' files are their own, but not a log they share.
    withLog = other.Start("P", &r.dir);
    other.log.clear();
    withoutLog = other.Start("P", &r.dir);
  };
  std::optional<tRunResult> first = r.Start();
  EXPECT_EQ(first->Outcome, tRunOutcome::Completed) << first->Error;
  EXPECT_EQ(withLog.Outcome, tRunOutcome::Failed);
  EXPECT_EQ(
      withLog.Error.rfind("Output \"log\" " + r.dir.file("run.log") + " is being written by", 0),
      0u)
      << withLog.Error;
  EXPECT_EQ(withoutLog.Outcome, tRunOutcome::Completed) << withoutLog.Error;
  EXPECT_TRUE(fs::exists(r.dir.file("P-MatrixAnalysis-shard-2-of-2.txt")));
  EXPECT_TRUE(fs::exists(r.dir.file("Corr-shard-2-of-2.rst")));
  // The first still holds the log's lock: the front end has yet to save it.
  ASSERT_TRUE(first->LogLock);
  EXPECT_EQ(first->FilesWritten.back(), (tWrittenFile{tFileKind::Log, r.dir.file("run.log")}));
  other.log = r.log;
  EXPECT_EQ(other.Start("P", &r.dir).Outcome, tRunOutcome::Failed);
  const std::string lockFile = first->LogLock->LockPath();
  EXPECT_TRUE(fs::exists(lockFile));
  first.reset();
  EXPECT_FALSE(fs::exists(lockFile));
  EXPECT_EQ(other.Start("P", &r.dir).Outcome, tRunOutcome::Completed);
}

// The GeoTIFF, the working copy a cancelled run keeps for --resume, the
// journal and row digests: every new file is listed.
TEST(OutputClaim, ACancelledGeoTiffRunListsEveryFileItLeaves) {
  tLeastCostRun r;
  r.journal = true;
  r.settings.CorridorMapName = "Corr.tif";
  r.cancelAfterPolls = 2;
  const auto before = Listing(r.dir.path());
  const tRunResult result = r.Start();
  ASSERT_EQ(result.Outcome, tRunOutcome::Cancelled) << result.Error;
  std::set<std::string> made, listed;
  for (const auto& [name, what] : Listing(r.dir.path()))
    if (!before.count(name)) made.insert(r.dir.file(name));
  for (const tWrittenFile& f : result.FilesWritten) listed.insert(f.Path);
  EXPECT_EQ(listed, made);
  EXPECT_EQ(result.Files(tFileKind::WorkingCopy),
            (std::vector<std::string>{r.dir.file("Corr.tif.rdc"), r.dir.file("Corr.tif.rst")}));
}

TEST(FileLock, TheHolderIsNamedAndAKilledHolderBlocksNothing) {
  tLeastCostRun r;
  const std::string target = r.dir.file("P-MatrixAnalysis.txt");
  const std::string lockFile = r.dir.file(".P-MatrixAnalysis.txt.lock");
  tLockHolder holder;
  {
    const auto lock = tFileLock::TryLock(target, holder);
    ASSERT_TRUE(lock);
    EXPECT_EQ(lock->LockPath(), lockFile);
    // Another spelling of the same file meets the same lock, also in this process.
    EXPECT_FALSE(tFileLock::TryLock(r.dir.file("./x/../P-MatrixAnalysis.txt"), holder));
    EXPECT_EQ(holder.Pid, ::getpid());
    EXPECT_EQ(HolderText(holder).rfind("process " + std::to_string(::getpid()) + " on host ", 0),
              0u);
  }
  EXPECT_FALSE(fs::exists(lockFile));
  EXPECT_EQ(HolderText(tLockHolder{}), "another process");

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    tLockHolder h;
    const auto lock = tFileLock::TryLock(target, h);
    const char c = lock ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    for (;;) ::pause();
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  EXPECT_FALSE(tFileLock::TryLock(target, holder));
  EXPECT_EQ(holder.Pid, child);
  const tRunResult refused = r.Start();
  EXPECT_NE(refused.Error.find("is being written by process " + std::to_string(child)),
            std::string::npos)
      << refused.Error;
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  // The killed holder's side file stays; the next run takes it over and removes it.
  EXPECT_TRUE(fs::exists(lockFile));
  const tRunResult result = r.Start();
  EXPECT_EQ(result.Outcome, tRunOutcome::Completed) << result.Error;
  EXPECT_FALSE(fs::exists(lockFile));
}
