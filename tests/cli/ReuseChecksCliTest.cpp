// --resume and merge reuse only rows and inputs they have checked: edited,
// removed, duplicated or reordered rows and inputs rewritten since the run are
// refused. A refused run or merge leaves every file as it was and creates none.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sys/stat.h>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

using tArgs = std::vector<std::string>;
using tSnapshot = std::map<std::string, std::string>;

// Every file of a folder (not below it) with its bytes.
tSnapshot Snapshot(const fs::path& dir) {
  tSnapshot s;
  for (const auto& e : fs::directory_iterator(dir))
    s[e.path().filename().string()] = e.is_regular_file() ? ReadFileBytes(e.path().string()) : "/";
  return s;
}

// A copy of the inputs a test may rewrite.
void CopyInputs(const fs::path& to) {
  for (const char* f : {"forest_BL.rdc", "forest_BL.rst", "cover_QT.rdc", "cover_QT.rst",
                        "friction.rdc", "friction.rst", "samples.txt", "tracks.txt"})
    fs::copy_file(Land(f), to / f, fs::copy_options::overwrite_existing);
}

tArgs MatrixArgs(const fs::path& in) {
  auto i = [&in](const char* f) { return (in / f).string(); };
  return {"matrix",
          "--binary",
          i("forest_BL"),
          "--quantitative",
          i("cover_QT"),
          "--data",
          i("samples.txt"),
          "--algorithm",
          "least-cost",
          "--friction",
          i("friction"),
          "--width",
          "1",
          "--corridor",
          "corr",
          "--project",
          "p"};
}

tArgs SequenceArgs(const fs::path& in) {
  auto i = [&in](const char* f) { return (in / f).string(); };
  return {"sequence",    "--binary",   i("forest_BL"), "--data",      i("tracks.txt"),
          "--algorithm", "least-cost", "--friction",   i("friction"), "--width",
          "1",           "--corridor", "corr",         "--project",   "p"};
}

// CR LF lines of a report: header first.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

void EditReport(const std::string& path,
                const std::function<void(std::vector<std::string>&)>& edit) {
  std::vector<std::string> lines = Lines(ReadFileBytes(path));
  edit(lines);
  WriteFileBytes(path, Joined(lines));
}

// One byte of a file changed, its size kept.
void Flip(const std::string& path, std::size_t at) {
  std::string bytes = ReadFileBytes(path);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  WriteFileBytes(path, bytes);
}

// Another genetic distance between the first two samples, the file still valid.
void EditSamples(const std::string& path) {
  std::string text = ReadFileBytes(path);
  const auto at = text.find("0.1497");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 6, "0.1498");
  WriteFileBytes(path, text);
}

// The command refused with status 1 and a message holding every part; the
// folder exactly as before.
void ExpectRefused(const tArgs& args, const fs::path& dir, const std::vector<std::string>& parts) {
  const tSnapshot before = Snapshot(dir);
  const tCliRun r = RunCli(args, dir.string());
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  for (const std::string& p : parts)
    EXPECT_NE(r.err.find(p), std::string::npos) << p << "\n" << r.err;
  EXPECT_EQ(Snapshot(dir), before) << "a refused command changed the folder";
}

const char* const kEditedRow = "is not the row its journal recorded there";

// Each tampering of a killed run's folder (report cut to four rows) is refused.
void ExpectResumeRefusesTampering(const std::function<tArgs(const fs::path&)>& args,
                                  const std::string& report) {
  TempDir in, dir;
  CopyInputs(in.path());
  const tArgs run = args(in.path());
  ASSERT_EQ(RunCli(run, dir.path().string()).status, 0);
  const std::string path = dir.file(report);
  EditReport(path, [](std::vector<std::string>& l) { l.resize(5); });
  const tSnapshot killed = Snapshot(dir.path());
  const tArgs resume = With(run, {"--resume"});
  auto restore = [&] {
    for (const auto& [name, bytes] : killed) WriteFileBytes(dir.file(name), bytes);
    CopyInputs(in.path());
  };

  EditReport(path, [](std::vector<std::string>& l) { std::swap(l[2], l[3]); });
  ExpectRefused(resume, dir.path(), {path, "row 2 (line 3) " + std::string(kEditedRow)});
  restore();
  EditReport(path,
             [](std::vector<std::string>& l) { l[3].back() = l[3].back() == '1' ? '2' : '1'; });
  ExpectRefused(resume, dir.path(), {path, "row 3 (line 4) " + std::string(kEditedRow)});
  restore();
  EditReport(path, [](std::vector<std::string>& l) { l.erase(l.begin() + 1); });
  ExpectRefused(resume, dir.path(), {path, "row 1 (line 2) " + std::string(kEditedRow)});
  restore();
  EditReport(path, [](std::vector<std::string>& l) { l.push_back(l.back()); });
  ExpectRefused(resume, dir.path(), {path, "row 5 (line 6)"});
  restore();

  // The friction image rewritten with the same size and documentation.
  Flip(in.file("friction.rst"), 4000);
  ExpectRefused(
      resume, dir.path(),
      {"friction map friction is not the file the report was made from", "fingerprint was doc "});
  restore();
  if (report.find("Matrix") != std::string::npos)
    EditSamples(in.file("samples.txt"));
  else
    Flip(in.file("tracks.txt"), ReadFileBytes(in.file("tracks.txt")).find_last_of("02468"));
  ExpectRefused(resume, dir.path(), {"data file", "is not the file the report was made from"});
  restore();

  // Untouched, the killed run goes on.
  EXPECT_EQ(RunCli(resume, dir.path().string()).status, 0);
}

} // namespace

TEST(ReuseChecksCli, ResumeRefusesEditedRowsAndChangedInputs) {
  ExpectResumeRefusesTampering(MatrixArgs, "p-MatrixAnalysis.txt");
  ExpectResumeRefusesTampering(SequenceArgs, "p-SequenceAnalysis.txt");
}

TEST(ReuseChecksCli, MergeRefusesEditedRowsAndChangedInputs) {
  TempDir in, changed, dir;
  CopyInputs(in.path());
  CopyInputs(changed.path());
  const tArgs run = MatrixArgs(in.path());
  for (const char* shard : {"1/2", "2/2"})
    ASSERT_EQ(RunCli(With(run, {"--shard", shard}), dir.path().string()).status, 0);
  const std::string shard2 = dir.file("p-MatrixAnalysis-shard-2-of-2.txt");
  const tArgs merge = {"merge", dir.file("p-MatrixAnalysis-shard-1-of-2.txt"), shard2};
  const tSnapshot done = Snapshot(dir.path());
  auto restore = [&] {
    for (const auto& [name, bytes] : done) WriteFileBytes(dir.file(name), bytes);
  };

  EditReport(shard2, [](std::vector<std::string>& l) { std::swap(l[4], l[5]); });
  ExpectRefused(merge, dir.path(), {shard2, "row 4 (line 5) " + std::string(kEditedRow)});
  restore();
  EditReport(shard2, [](std::vector<std::string>& l) { l[1][0] = l[1][0] == '0' ? '1' : '0'; });
  ExpectRefused(merge, dir.path(), {shard2, "row 1 (line 2) " + std::string(kEditedRow)});
  restore();
  EditReport(shard2, [](std::vector<std::string>& l) { l.erase(l.begin() + 7); });
  ExpectRefused(merge, dir.path(), {shard2, "row 7 (line 8) " + std::string(kEditedRow)});
  restore();
  EditReport(shard2, [](std::vector<std::string>& l) { l.pop_back(); });
  ExpectRefused(merge, dir.path(), {shard2, "rows from row 14 on were removed"});
  restore();

  // Shard 2 computed again from a rewritten friction image, then from another data file.
  Flip(changed.file("friction.rst"), 4000);
  ASSERT_EQ(
      RunCli(With(MatrixArgs(changed.path()), {"--shard", "2/2"}), dir.path().string()).status, 0);
  ExpectRefused(merge, dir.path(),
                {"not of one run: the friction map friction has the fingerprint doc ",
                 "in shard 1 of 2", "in shard 2 of 2"});
  CopyInputs(changed.path());
  EditSamples(changed.file("samples.txt"));
  ASSERT_EQ(
      RunCli(With(MatrixArgs(changed.path()), {"--shard", "2/2"}), dir.path().string()).status, 0);
  ExpectRefused(merge, dir.path(), {"not of one run: the data file samples.txt"});
}

// Journals name inputs by file name and contents, not by folder.
TEST(ReuseChecksCli, ShardsFromTwoFoldersMergeToTheWholeRun) {
  TempDir inA, inB, a, b, merged, whole;
  CopyInputs(inA.path());
  CopyInputs(inB.path());
  ASSERT_EQ(RunCli(MatrixArgs(inA.path()), whole.path().string()).status, 0);
  ASSERT_EQ(RunCli(With(MatrixArgs(inA.path()), {"--shard", "1/2"}), a.path().string()).status, 0);
  ASSERT_EQ(RunCli(With(MatrixArgs(inB.path()), {"--shard", "2/2"}), b.path().string()).status, 0);
  const tCliRun m = RunCli({"merge", "--workdir", merged.path().string(),
                            a.file("p-MatrixAnalysis-shard-1-of-2.txt"),
                            b.file("p-MatrixAnalysis-shard-2-of-2.txt")},
                           a.path().string());
  ASSERT_EQ(m.status, 0) << m.err;
  for (const char* f : {"p-MatrixAnalysis.txt", "corr.rst", "corr.rdc"})
    ExpectSameFile(merged.file(f), whole.file(f));
}

TEST(ReuseChecksCli, RefusedRunsAndMergesChangeNothing) {
  TempDir in, dir;
  CopyInputs(in.path());
  const tArgs run = MatrixArgs(in.path());
  const std::string report = dir.file("p-MatrixAnalysis.txt");

  // A plain run onto a finished report made read-only.
  ASSERT_EQ(RunCli(run, dir.path().string()).status, 0);
  ASSERT_EQ(::chmod(report.c_str(), 0444), 0);
  ExpectRefused(run, dir.path(),
                {"Cannot write to file \"" + report + "\": the file is write-protected"});
  ExpectRefused(With(run, {"--resume"}), dir.path(), {report, "write-protected"});

  // A finished shard run again onto its read-only report keeps its journal and corridor map.
  const tArgs shard = With(run, {"--shard", "1/2"});
  ASSERT_EQ(RunCli(shard, dir.path().string()).status, 0);
  ASSERT_EQ(RunCli(With(run, {"--shard", "2/2"}), dir.path().string()).status, 0);
  const std::string shardReport = dir.file("p-MatrixAnalysis-shard-1-of-2.txt");
  ASSERT_EQ(::chmod(shardReport.c_str(), 0444), 0);
  ExpectRefused(shard, dir.path(), {shardReport, "write-protected"});

  // A report that cannot be created: no journal, no corridor map left behind.
  TempDir fresh;
  fs::create_directory(fresh.file("p-MatrixAnalysis.txt"));
  ExpectRefused(run, fresh.path(), {"p-MatrixAnalysis.txt\": it is a folder"});
  ExpectRefused(With(run, {"--log", fresh.file("missing/run.log")}), fresh.path(),
                {"run.log\": the folder " + fresh.file("missing") + " does not exist"});

  // An empty shard would run the whole study in every task of a job array.
  ExpectRefused(With(run, {"--shard", ""}), fresh.path(), {"--shard: the value is empty"});

  // Merges: into a folder whose report is read-only, and with a log in a missing folder.
  const tArgs merge = {"merge", shardReport, dir.file("p-MatrixAnalysis-shard-2-of-2.txt")};
  ExpectRefused(merge, dir.path(), {report, "write-protected", "Nothing was written"});
  ASSERT_EQ(::chmod(report.c_str(), 0644), 0);
  fs::remove(report);
  fs::remove(dir.file("corr.rst"));
  ExpectRefused(With(merge, {"--log", dir.file("missing/x.log")}), dir.path(),
                {"x.log\": the folder " + dir.file("missing") + " does not exist"});
  const tCliRun ok = RunCli(With(merge, {"--log", "x.log"}), dir.path().string());
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_TRUE(fs::exists(dir.file("x.log")) && fs::exists(report) &&
              fs::exists(dir.file("corr.rst")));
}

// Journals of the earlier format cannot be checked: their runs start anew.
TEST(ReuseChecksCli, JournalsOfAnEarlierVersionAreRefused) {
  TempDir in, dir;
  CopyInputs(in.path());
  const tArgs run = MatrixArgs(in.path());
  ASSERT_EQ(RunCli(run, dir.path().string()).status, 0);
  const std::string journal = dir.file("p-MatrixAnalysis.journal");
  std::string text = ReadFileBytes(journal);
  text.replace(0, text.find('\n'), "Stravex run journal 1");
  WriteFileBytes(journal, text);
  ExpectRefused(With(run, {"--resume"}), dir.path(),
                {journal, "earlier version", "start the run anew without --resume"});
}

} // namespace stravex::test
