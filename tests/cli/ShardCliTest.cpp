// Sharded runs put back together by merge give the files of a one-machine
// run, and merge refuses shards that are not one whole run.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

using tArgs = std::vector<std::string>;

// clang-format off
const tArgs kLeastCostMatrix = {
    "matrix", "--binary", Land("forest_BL"), Land("roads_NB"), "--quantitative", Land("cover_QT"),
    "--data", Land("samples.txt"), "--algorithm", "least-cost", "--friction", Land("friction"),
    "--width", "3", "--project", "p", "--threads", "2"};
const tArgs kStripMatrix = {
    "matrix", "--binary", Land("forest_BL"), "--quantitative", Land("cover_QT"), "--topography",
    Land("dem"), "--data", Land("samples.txt"), "--delaunay", "restrict", "--project", "p"};
// clang-format on
const tArgs kLeastCostSequence = LeastCostSequenceArgs("p");

// Runs args whole in one folder and as n shards plus merge in another, and
// compares the named files (report, corridor map files, log).
void ExpectMergeGivesTheWholeRun(const tArgs& args, int n, const std::string& kind,
                                 const std::vector<std::string>& files) {
  SCOPED_TRACE(testing::Message() << n << " shards of " << args[0]);
  TempDir whole, shards;
  const tCliRun one = RunCli(With(args, {"--log", whole.file("run.log")}), whole.path().string());
  ASSERT_EQ(one.status, 0) << one.err;
  tArgs reports;
  for (int k = 1; k <= n; ++k) {
    const std::string shard = std::to_string(k) + "/" + std::to_string(n);
    const tCliRun r = RunCli(With(args, {"--shard", shard}), shards.path().string());
    ASSERT_EQ(r.status, 0) << shard << ": " << r.err;
    const std::string report = "p-" + kind + "-shard-" + std::to_string(k) + "-of-" +
                               std::to_string(n) + ".txt";
    EXPECT_NE(r.out.find("report: " + shards.file(report)), std::string::npos) << r.out;
    reports.push_back(shards.file(report));
  }
  // Any order of the shards.
  std::reverse(reports.begin(), reports.end());
  const tCliRun m = RunCli(With(With({"merge", "--log", "run.log"}, reports), {}),
                           shards.path().string());
  ASSERT_EQ(m.status, 0) << m.err;
  EXPECT_NE(m.out.find("report: " + shards.file("p-" + kind + ".txt")), std::string::npos) << m.out;
  for (const std::string& f : files) ExpectSameFile(shards.file(f), whole.file(f));
  ExpectSameRunLog(shards.file("run.log"), whole.file("run.log"));
  // The merged log closes with what the merge wrote.
  const std::string merged = ReadFileBytes(shards.file("run.log"));
  EXPECT_NE(
      merged.find("\r\nFiles written:\r\n- report:\t" + shards.file("p-" + kind + ".txt") + "\r\n"),
      std::string::npos)
      << merged;
  EXPECT_NE(merged.find("- log:\t" + shards.file("run.log") + "\r\nMerged " + std::to_string(n) +
                        " shards in "),
            std::string::npos)
      << merged;
}

} // namespace

TEST(ShardCli, MergedLeastCostMatrixIsTheWholeRun) {
  const tArgs args = With(kLeastCostMatrix, {"--corridor", "corr"});
  for (const int n : {1, 2, 3, 7})
    ExpectMergeGivesTheWholeRun(args, n, "MatrixAnalysis",
                                {"p-MatrixAnalysis.txt", "corr.rst", "corr.rdc"});
  // Uphill only: the first rows find no path, so a later shard's first
  // path fixes the map's display range.
  ExpectMergeGivesTheWholeRun(With(args, {"--topography", Land("dem"), "--direction", "up"}), 3,
                              "MatrixAnalysis", {"p-MatrixAnalysis.txt", "corr.rst", "corr.rdc"});
}

TEST(ShardCli, MergedStripsSequencesAndGeoTiffsAreTheWholeRun) {
  ExpectMergeGivesTheWholeRun(kStripMatrix, 3, "MatrixAnalysis", {"p-MatrixAnalysis.txt"});
  ExpectMergeGivesTheWholeRun(With(kLeastCostSequence, {"--corridor", "corr"}), 7,
                              "SequenceAnalysis",
                              {"p-SequenceAnalysis.txt", "corr.rst", "corr.rdc"});
  const tArgs stripSequence = {"sequence", "--binary",         Land("forest_BL"),
                               "--data",   Land("tracks.txt"), "--width",
                               "3",        "--project",        "p"};
  ExpectMergeGivesTheWholeRun(stripSequence, 2, "SequenceAnalysis", {"p-SequenceAnalysis.txt"});
  ExpectMergeGivesTheWholeRun(With(kLeastCostMatrix, {"--corridor", "corr.tif"}), 2,
                              "MatrixAnalysis", {"p-MatrixAnalysis.txt", "corr.tif"});
}

// Each pair's map is written by the shard that holds its row.
TEST(ShardCli, OneMapPerPairShardsWriteThePairMaps) {
  const tArgs args = With(kLeastCostMatrix, {"--corridor", "pair", "--one-map-per-pair"});
  ExpectMergeGivesTheWholeRun(args, 3, "MatrixAnalysis",
                              {"p-MatrixAnalysis.txt", "pair_001_002.rst", "pair_001_002.rdc",
                               "pair_007_008.rst", "pair_007_008.rdc"});
}

TEST(ShardCli, MergeRefusesShardsThatAreNotOneWholeRun) {
  TempDir dir;
  const tArgs args = With(kLeastCostMatrix, {"--corridor", "corr"});
  for (const char* shard : {"1/3", "2/3", "3/3"})
    ASSERT_EQ(RunCli(With(args, {"--shard", shard}), dir.path().string()).status, 0);
  auto report = [&](int k) {
    return dir.file("p-MatrixAnalysis-shard-" + std::to_string(k) + "-of-3.txt");
  };
  auto merge = [&](const tArgs& reports) {
    const tCliRun r = RunCli(With({"merge"}, reports), dir.path().string());
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_FALSE(fs::exists(dir.file("p-MatrixAnalysis.txt")));
    return r.err;
  };
  EXPECT_NE(merge({report(1), report(3)})
                .find("Shards missing: 2 of 3 (p-MatrixAnalysis-shard-K-of-3.txt)"),
            std::string::npos);
  EXPECT_NE(merge({report(1), report(2), report(2), report(3)}).find("shard 2 of 3 is given twice"),
            std::string::npos);
  EXPECT_NE(merge({dir.file("p-MatrixAnalysis.journal")}).find("is not a shard report"),
            std::string::npos);

  // A shard of another seed is of another run.
  TempDir other;
  ASSERT_EQ(RunCli(With(args, {"--shard", "2/3", "--seed", "11"}), other.path().string()).status,
            0);
  fs::copy_file(other.file("p-MatrixAnalysis-shard-2-of-3.txt"), report(2),
                fs::copy_options::overwrite_existing);
  fs::copy_file(other.file("p-MatrixAnalysis-shard-2-of-3.journal"),
                dir.file("p-MatrixAnalysis-shard-2-of-3.journal"),
                fs::copy_options::overwrite_existing);
  const std::string err = merge({report(1), report(2), report(3)});
  EXPECT_NE(err.find("not of one run: seed is \"10\" in shard 1 of 3"), std::string::npos) << err;

  // A shard whose run did not finish.
  const std::string journal = dir.file("p-MatrixAnalysis-shard-3-of-3.journal");
  std::string text = ReadFileBytes(journal);
  text.erase(text.find("complete\t"));
  WriteFileBytes(journal, text + "end\n");
  EXPECT_NE(merge({report(3)}).find("Shards missing: 1, 2 of 3"), std::string::npos);
  EXPECT_NE(merge({report(1), report(3), report(2)}).find("shard 3 of 3 has not finished"),
            std::string::npos);
}

TEST(ShardCli, AutoShardTakesTheJobArrayTaskIndex) {
  TempDir dir;
  const tArgs args = With(kStripMatrix, {"--shard", "auto/4"});
  ::setenv("SGE_TASK_ID", "3", 1);
  tCliRun r = RunCli(args, dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("p-MatrixAnalysis-shard-3-of-4.txt")));
  // Slurm's variable comes first.
  ::setenv("SLURM_ARRAY_TASK_ID", "2", 1);
  r = RunCli(args, dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("p-MatrixAnalysis-shard-2-of-4.txt")));
  ::setenv("SLURM_ARRAY_TASK_ID", "0", 1);
  r = RunCli(args, dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("SLURM_ARRAY_TASK_ID is 0, outside the shards 1..4"), std::string::npos)
      << r.err;
  ::unsetenv("SLURM_ARRAY_TASK_ID");
  ::unsetenv("SGE_TASK_ID");
  r = RunCli(args, dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no job-array task index"), std::string::npos) << r.err;
  r = RunCli(With(kStripMatrix, {"--shard", "5/4"}), dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("shard 5 outside 1..4"), std::string::npos) << r.err;
}

} // namespace stravex::test

namespace stravex::test {

// Counts add up to 32767 and stay there, with one warning for the map.
TEST(ShardCli, MergedCountsSaturateWithOneWarning) {
  TempDir dir;
  const tArgs args = With(kLeastCostMatrix, {"--corridor", "corr"});
  for (const char* shard : {"1/2", "2/2"})
    ASSERT_EQ(RunCli(With(args, {"--shard", shard}), dir.path().string()).status, 0);
  // Two cells near saturation in both shards (16-bit little-endian records).
  for (const char* map : {"corr-shard-1-of-2.rst", "corr-shard-2-of-2.rst"}) {
    std::string image = ReadFileBytes(dir.file(map));
    image[0] = static_cast<char>(0x20); // 20000 = 0x4E20
    image[1] = static_cast<char>(0x4E);
    image[2] = static_cast<char>(0x10); // 10000 = 0x2710
    image[3] = static_cast<char>(0x27);
    WriteFileBytes(dir.file(map), image);
  }
  const tCliRun m = RunCli({"merge", dir.file("p-MatrixAnalysis-shard-1-of-2.txt"),
                            dir.file("p-MatrixAnalysis-shard-2-of-2.txt")},
                           dir.path().string());
  ASSERT_EQ(m.status, 0) << m.err;
  const std::string merged = ReadFileBytes(dir.file("corr.rst"));
  EXPECT_EQ(static_cast<unsigned char>(merged[0]) | (static_cast<unsigned char>(merged[1]) << 8),
            32767);
  EXPECT_EQ(static_cast<unsigned char>(merged[2]) | (static_cast<unsigned char>(merged[3]) << 8),
            20000);
  const std::string warning = "some cells were crossed by more than 32767 paths";
  const auto first = m.err.find(warning);
  EXPECT_NE(first, std::string::npos) << m.err;
  EXPECT_EQ(m.err.find(warning, first + 1), std::string::npos) << m.err;
  EXPECT_NE(ReadFileBytes(dir.file("corr.rdc")).find("max. value  : 32767"), std::string::npos);
}

} // namespace stravex::test
