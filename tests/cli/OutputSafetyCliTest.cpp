// Through stravex-cli: an output that would replace an input is refused with
// the folder unchanged, and every run lists every file it wrote. (Runs on the
// same outputs at once: OutputClaimTest.cpp.)
#include "CliSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;
using tArgs = std::vector<std::string>;

// A copy of the example landscape, where the commands run.
class OutputSafetyCli : public ::testing::Test {
protected:
  OutputSafetyCli() {
    for (const auto& e : fs::directory_iterator(fs::path(STRAVEX_EXAMPLES_DIR) / "landscape"))
      fs::copy_file(e.path(), land.path() / e.path().filename());
  }
  std::string File(const std::string& name) const { return land.file(name); }
  tCliRun Run(const tArgs& args) const { return RunCli(args, land.path().string()); }
  // Every file, hidden ones included: size, modification time and bytes.
  std::map<std::string, std::string> Listing() const {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(land.path())) {
      struct stat st {};
      ::lstat(e.path().c_str(), &st);
      files[e.path().filename().string()] =
          std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
          std::to_string(st.st_mtim.tv_nsec) + " " +
          (e.is_regular_file() ? ReadFileBytes(e.path().string()) : std::string("link"));
    }
    return files;
  }
  TempDir land;
};

// clang-format off
const tArgs kLeastCost = {"matrix", "--binary", "forest_BL", "roads_NB", "--quantitative",
                          "cover_QT", "--data", "samples.txt", "--algorithm", "least-cost",
                          "--friction", "friction", "--width", "3"};
const tArgs kSequence = {"sequence", "--binary", "forest_BL", "--data", "tracks.txt",
                         "--algorithm", "least-cost", "--friction", "friction"};
// clang-format on

tArgs With(tArgs args, const tArgs& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// "kind: path" lines of stdout, a corridor map given by its files.
std::set<std::string> ListedFiles(const std::string& out) {
  std::set<std::string> files;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const auto colon = line.find(": /");
    if (colon == std::string::npos) continue;
    const std::string path = line.substr(colon + 2);
    if (line.rfind("corridor map: ", 0) == 0 && !fs::is_regular_file(path)) {
      files.insert(path + ".rdc");
      files.insert(path + ".rst");
    } else {
      files.insert(path);
    }
  }
  return files;
}

} // namespace

TEST_F(OutputSafetyCli, OutputsThatWouldReplaceInputsAreRefusedWithTheFolderUnchanged) {
  GdalTranslate({"-of", "GTiff"}, File("friction.rst"), File("fr.tif"));
  ASSERT_FALSE(HasFatalFailure());
  fs::create_hard_link(File("friction.rst"), File("linked.rst"));
  fs::create_symlink("samples.txt", File("samples-link.txt"));
  fs::create_hard_link(File("cover_QT.rst"), File("pair_002_005.rst"));
  fs::create_hard_link(File("roads_NB.rdc"), File("sh-shard-2-of-3.rdc"));
  fs::create_symlink("samples.txt", File("j-MatrixAnalysis.journal"));
  struct tCase {
    tArgs args;
    std::string message;
  };
  const std::string lcReport = File("Friction-LeastCost-MatrixAnalysis.txt");
  // clang-format off
  const std::vector<tCase> cases = {
      {With(kLeastCost, {"--corridor", "friction"}),
       "Output \"corridor map\" would replace input \"friction map\": " + File("friction.rdc")},
      {With(kLeastCost, {"--log", "samples.txt"}),
       "Output \"log\" would replace input \"data file\": " + File("samples.txt")},
      {With(kLeastCost, {"--log", "forest_BL.rst"}),
       "Output \"log\" would replace input \"binary map\": " + File("forest_BL.rst")},
      {With(kLeastCost, {"--log", "./Friction-LeastCost-MatrixAnalysis.txt"}),
       "Outputs \"report\" and \"log\" would be the same file: " + lcReport},
      {{"x", "maps.txt", "samples.txt", "samples.txt", "none"},
       "Output \"log\" would replace input \"data file\": " + File("samples.txt")},
      {{"x", "maps.txt", "maps.txt", "samples.txt", "none"},
       "Output \"log\" would replace input \"map list\": " + File("maps.txt")},
      {With(kLeastCost, {"--corridor", "linked"}),
       "Output \"corridor map\" would replace input \"friction map\": " + File("linked.rst") +
           " is " + File("friction.rst")},
      {With(kLeastCost, {"--log", "samples-link.txt"}),
       "Output \"log\" would replace input \"data file\": " + File("samples-link.txt") + " is " +
           File("samples.txt")},
      {With(kLeastCost, {"--corridor", "pair", "--one-map-per-pair"}),
       "Output \"pair corridor maps\" would replace input \"quantitative map\": " +
           File("pair_002_005.rst") + " is " + File("cover_QT.rst")},
      {With(kLeastCost, {"--project", "j"}),
       "Output \"journal\" would replace input \"data file\": " +
           File("j-MatrixAnalysis.journal") + " is " + File("samples.txt")},
      {With(kLeastCost, {"--corridor", "sh", "--shard", "2/3"}),
       "Output \"corridor map\" would replace input \"binary map\": " +
           File("sh-shard-2-of-3.rdc") + " is " + File("roads_NB.rdc")},
      {With(kSequence, {"--corridor", "c", "--log", "tracks.txt"}),
       "Output \"log\" would replace input \"sequence file\": " + File("tracks.txt")},
      {{"bootstrap", "--binary", "forest_BL", "--data", "tracks.txt", "--replicates", "2",
        "--log", "Friction-FixedStrip-Bootstraps.txt"},
       "Outputs \"report\" and \"log\" would be the same file: " +
           File("Friction-FixedStrip-Bootstraps.txt")},
      {{"matrix", "--binary", "forest_BL", "--data", "samples.txt", "--algorithm", "exact",
        "--friction", "fr.tif", "--corridor", "fr.tif"},
       "Output \"corridor map\" would replace input \"friction map\": " + File("fr.tif")},
      {{"matrix", "--binary", "forest_BL", "--data", "samples.txt", "--algorithm", "resistance",
        "--friction", "friction", "--corridor", "friction"},
       "Output \"current map\" would replace input \"friction map\": " + File("friction.rdc")},
  };
  // clang-format on
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.args[0] + " ... " + c.args.back());
    const auto before = Listing();
    const tCliRun r = Run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("stravex-cli: " + c.message, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Nothing was changed"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Listing(), before);
  }
}

// A merge whose log would replace a shard's file.
TEST_F(OutputSafetyCli, MergeOutputsAreCheckedAgainstTheShards) {
  for (const char* shard : {"1/2", "2/2"})
    ASSERT_EQ(Run(With(kLeastCost, {"--corridor", "c", "--shard", shard})).status, 0);
  const std::string first = File("Friction-LeastCost-MatrixAnalysis-shard-1-of-2.txt");
  const std::string second = File("Friction-LeastCost-MatrixAnalysis-shard-2-of-2.txt");
  const auto before = Listing();
  tCliRun r = Run(
      {"merge", "--log", "Friction-LeastCost-MatrixAnalysis-shard-2-of-2.digests", first, second});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "stravex-cli: Output \"log\" would replace input \"shard row digests\": " +
                       File("Friction-LeastCost-MatrixAnalysis-shard-2-of-2.digests") +
                       ". Nothing was written; give the output another name.\n");
  r = Run({"merge", "--workdir", ".", "--log", "c-shard-1-of-2.rst", first, second});
  EXPECT_NE(r.err.find("Output \"log\" would replace input \"corridor shard\""), std::string::npos)
      << r.err;
  EXPECT_EQ(Listing(), before);
}

// Every file a run creates or changes is on its report:/corridor map:/...
// lines, and its log's "Files written:" block lists the same.
TEST_F(OutputSafetyCli, EveryKindOfRunListsEveryFileItWrote) {
  GdalTranslate({"-of", "GTiff"}, File("friction.rst"), File("fr.tif"));
  ASSERT_FALSE(HasFatalFailure());
  // clang-format off
  const std::vector<tArgs> runs = {
      With(kLeastCost, {"--corridor", "c", "--pair-matrices", "--log", "lc.log"}),
      With(kLeastCost, {"--corridor", "pp", "--one-map-per-pair", "--project", "pp"}),
      {"matrix", "--binary", "forest_BL", "--data", "samples.txt", "--algorithm", "exact",
       "--friction", "fr.tif", "--corridor", "ex.tif", "--project", "ex", "--log", "ex.log"},
      {"matrix", "--binary", "forest_BL", "--data", "samples.txt", "--algorithm", "resistance",
       "--friction", "friction", "--corridor", "cur", "--log", "res.log"},
      With(kSequence, {"--corridor", "sc", "--log", "seq.log"}),
      {"bootstrap", "--binary", "forest_BL", "--data", "tracks.txt", "--replicates", "2",
       "--distance-distribution", "--log", "boot.log"},
      With(kLeastCost, {"--corridor", "sh", "--project", "sh", "--shard", "1/2", "--log", "s1.log"}),
      With(kLeastCost, {"--corridor", "sh", "--project", "sh", "--shard", "2/2"}),
      {"merge", "--log", "merge.log", "sh-MatrixAnalysis-shard-1-of-2.txt",
       "sh-MatrixAnalysis-shard-2-of-2.txt"},
      {"x", "maps.txt", "x.log", "samples.txt", "xp", "2", "0", "0", "friction", "3"},
  };
  // clang-format on
  for (const tArgs& args : runs) {
    SCOPED_TRACE(args[0] + " ... " + args.back());
    const auto before = Listing();
    const tCliRun r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> changed;
    for (const auto& [name, what] : Listing()) {
      const auto was = before.find(name);
      if (was == before.end() || was->second != what) changed.insert(File(name));
    }
    EXPECT_EQ(ListedFiles(r.out), changed) << r.out;
    if (args[0] == "x" || args[0] == "merge") continue;
    const auto log = std::find(args.begin(), args.end(), "--log");
    if (log == args.end()) continue;
    // The log's block, "- kind:\tpath" lines, as stdout's "kind: path".
    const std::string text = ReadFileBytes(File(log[1]));
    std::string block;
    const auto start = text.find("\r\nFiles written:\r\n");
    ASSERT_NE(start, std::string::npos);
    std::istringstream lines(text.substr(start + 18));
    for (std::string line; std::getline(lines, line) && line.rfind("- ", 0) == 0;) {
      line.pop_back(); // CR
      line.replace(line.find(":\t"), 2, ": ");
      block += line.substr(2) + "\n";
    }
    EXPECT_EQ(block, r.out);
  }
}

} // namespace stravex::test
