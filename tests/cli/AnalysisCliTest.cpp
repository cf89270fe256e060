// stravex-cli matrix, sequence and bootstrap, run as separate processes on the
// example landscape. Whole reports are compared with examples/expected/, and
// every row of those files is recomputed here from the map and data files
// (GeoDist, segment lengths and times, strip Count/Area/Sum/Mean/SD and the
// topography columns), so the expected files are checked, not just repeated.
// The recomputation takes routes of its own: strip cells are found cell by
// cell rather than step by step (and checked on strips worked out by hand),
// day numbers are counted from the calendar (and checked against Python).
//
// STRAVEX_UPDATE_EXPECTED=1 in the environment rewrites examples/expected/
// from the runs instead of comparing; the recomputation still checks them.
#include "CliSupport.h"
#include "ReportOracle.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";
const fs::path kExpected = fs::path(STRAVEX_EXAMPLES_DIR) / "expected";

// ---------------------------------------------------------------------------
// Running the program.

std::string Map(const std::string& name) { return (kLandscape / name).string(); }

// The produced file against its copy in examples/expected/.
void ExpectAsExpected(const std::string& produced, const std::string& expectedName) {
  ExpectMatchesGolden(produced, (kExpected / expectedName).string());
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

const std::vector<std::string> kBinary = {"forest_BL", "roads_NB", "landuse_CL"};

TEST(AnalysisCli, StripMatrixMatchesItsExpectedReportAndLog) {
  TempDir tmp;
  const tCliRun r = RunCli({"matrix", "--binary", Map("forest_BL"), Map("roads_NB"),
                            Map("landuse_CL"), "--quantitative", Map("cover_QT"), "--topography",
                            Map("dem"), "--data", Map("samples.txt"), "--width", "3", "--delaunay",
                            "include", "--project", "strips", "--log", "run.log"},
                           tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "report: " + tmp.file("strips-MatrixAnalysis.txt") +
                       "\njournal: " + tmp.file("strips-MatrixAnalysis.journal") +
                       "\nrow digests: " + tmp.file("strips-MatrixAnalysis.digests") +
                       "\nlog: " + tmp.file("run.log") + "\n");
  ExpectAsExpected(tmp.file("strips-MatrixAnalysis.txt"), "strips-MatrixAnalysis.txt");
  const std::string expected = (kExpected / "strips-MatrixAnalysis.txt").string();
  CheckMatrixReport(expected, {kBinary, {"cover_QT"}, "dem", 3, false});
  const tReport rep = ParseReport(expected);
  EXPECT_EQ(rep.header.at(9), "Delaunay");
  for (const auto& row : rep.rows) EXPECT_TRUE(row[9] == "0" || row[9] == "1");

  const auto log = CrLfLines(ReadFileBytes(tmp.file("run.log")));
  ASSERT_GE(log.size(), 10u);
  EXPECT_EQ(log[2], "******** Population matrix analysis **********");
  EXPECT_NE(std::find(log.begin(), log.end(), "Algorithm: fixed-width strip"), log.end());

  // An even width is raised by one, as in the window.
  const tCliRun even =
      RunCli({"matrix", "--binary", Map("forest_BL"), Map("roads_NB"), Map("landuse_CL"),
              "--quantitative", Map("cover_QT"), "--topography", Map("dem"), "--data",
              Map("samples.txt"), "--width", "2", "--delaunay", "include", "--project", "even"},
             tmp.path().string());
  ASSERT_EQ(even.status, 0) << even.err;
  ExpectSameFile(tmp.file("even-MatrixAnalysis.txt"), expected);
}

// Studies made with earlier versions are reproduced byte for byte under the
// rounded cell rule; the log says which rule a run used.
TEST(AnalysisCli, RoundedCellRuleReproducesEarlierReports) {
  TempDir tmp;
  const std::vector<std::string> maps = {
      "--binary",      Map("forest_BL"), Map("roads_NB"), Map("landuse_CL"), "--quantitative",
      Map("cover_QT"), "--topography",   Map("dem"),      "--data",          Map("samples.txt")};
  tCliRun r =
      RunCli(With(With({"matrix"}, maps), {"--width", "3", "--delaunay", "include", "--project",
                                           "strips", "--cell-rule", "rounded", "--log", "run.log"}),
             tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectAsExpected(tmp.file("strips-MatrixAnalysis.txt"), "rounded/strips-MatrixAnalysis.txt");
  EXPECT_NE(ReadFileBytes(tmp.file("run.log")).find("\r\nCell rule: rounded\r\n"),
            std::string::npos);
  r = RunCli({"matrix",         "--binary",         Map("forest_BL"), Map("roads_NB"),
              "--quantitative", Map("cover_QT"),    "--topography",   Map("dem"),
              "--data",         Map("samples.txt"), "--algorithm",    "least-cost",
              "--friction",     Map("friction"),    "--width",        "3",
              "--corridor",     "corridor",         "--cell-rule",    "rounded"},
             tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectAsExpected(tmp.file("Friction-LeastCost-MatrixAnalysis.txt"),
                   "rounded/Friction-LeastCost-MatrixAnalysis.txt");
  r = RunCli({"matrix", "--binary", Map("forest_BL"), "--data", Map("samples.txt"), "--cell-rule",
              "nearest"},
             tmp.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--cell-rule"), std::string::npos) << r.err;
}

TEST(AnalysisCli, LeastCostMatrixIsTheSameWithOneOrTwoThreads) {
  TempDir tmp;
  const std::vector<std::string> args = {
      "matrix",         "--binary",         Map("forest_BL"), Map("roads_NB"),
      "--quantitative", Map("cover_QT"),    "--topography",   Map("dem"),
      "--data",         Map("samples.txt"), "--algorithm",    "least-cost",
      "--friction",     Map("friction"),    "--width",        "3",
      "--corridor",     "corridor"};
  for (const char* threads : {"1", "2"}) {
    SCOPED_TRACE(threads);
    fs::create_directory(tmp.path() / threads);
    // Reports and the corridor map go to the working folder, the caller's by default.
    const tCliRun r = RunCli(With(args, {"--threads", threads}), tmp.file(threads));
    ASSERT_EQ(r.status, 0) << r.err;
    // No --project: the algorithm's default name.
    const std::string report =
        tmp.file(std::string(threads) + "/Friction-LeastCost-MatrixAnalysis.txt");
    EXPECT_NE(r.out.find("corridor map: " + tmp.file(std::string(threads) + "/corridor")),
              std::string::npos);
    ExpectAsExpected(report, "Friction-LeastCost-MatrixAnalysis.txt");
  }
  for (const char* ext : {".rst", ".rdc"})
    ExpectSameFile(tmp.file(std::string("1/corridor") + ext),
                   tmp.file(std::string("2/corridor") + ext));
  CheckMatrixReport((kExpected / "Friction-LeastCost-MatrixAnalysis.txt").string(),
                    {{"forest_BL", "roads_NB"}, {"cover_QT"}, "dem", 3, true});
}

TEST(AnalysisCli, ExactLeastCostMatrixIsOptimalAndTheSameWithOneOrTwoThreads) {
  TempDir tmp;
  const std::vector<std::string> args = {
      "matrix",         "--binary",         Map("forest_BL"), Map("roads_NB"),
      "--quantitative", Map("cover_QT"),    "--topography",   Map("dem"),
      "--data",         Map("samples.txt"), "--algorithm",    "exact",
      "--friction",     Map("friction"),    "--corridor",     "corridor"};
  for (const char* threads : {"1", "2"}) {
    fs::create_directory(tmp.path() / threads);
    const tCliRun r = RunCli(With(args, {"--threads", threads}), tmp.file(threads));
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const std::string report = "/Friction-ExactLeastCost-MatrixAnalysis.txt";
  ExpectSameFile(tmp.file("2" + report), tmp.file("1" + report));
  for (const char* ext : {".rst", ".rdc"})
    ExpectSameFile(tmp.file(std::string("2/corridor") + ext),
                   tmp.file(std::string("1/corridor") + ext));
  // One path per pair.
  CheckMatrixReport(tmp.file("1" + report),
                    {{"forest_BL", "roads_NB"}, {"cover_QT"}, "dem", 1, true});

  // Same columns as the Monte-Carlo report, and never a higher cost: its
  // cost is a mean over paths each at least the optimum.
  const tReport exact = ParseReport(tmp.file("1" + report));
  const tReport mc = ParseReport((kExpected / "Friction-LeastCost-MatrixAnalysis.txt").string());
  ASSERT_EQ(exact.header, mc.header);
  ASSERT_EQ(exact.rows.size(), mc.rows.size());
  size_t lower = 0;
  for (size_t k = 0; k < mc.rows.size(); ++k)
    for (const char* col : {"forest_BL_Cost", "cover_QT_Cost"}) {
      const double e = Real(exact.rows[k][exact.Col(col)]), m = Real(mc.rows[k][mc.Col(col)]);
      if (m < 0) continue;
      EXPECT_LE(e, m * (1 + 1e-12)) << k << " " << col;
      lower += e < m;
    }
  EXPECT_GT(lower, mc.rows.size());

  // Criteria without a graph search are refused, with the criterion named.
  const tCliRun mean = RunCli(With(args, {"--minimise", "mean", "--project", "mean"}),
                              tmp.path().string());
  EXPECT_EQ(mean.status, 1);
  EXPECT_NE(mean.err.find("--minimise mean"), std::string::npos) << mean.err;
  const tCliRun noFriction = RunCli({"matrix", "--binary", Map("forest_BL"), "--data",
                                     Map("samples.txt"), "--algorithm", "exact"},
                                    tmp.path().string());
  EXPECT_EQ(noFriction.status, 1);
  EXPECT_NE(noFriction.err.find("--algorithm exact needs --friction"), std::string::npos);
  const tCliRun help = RunCli({"matrix", "--help"}, tmp.path().string());
  EXPECT_NE(help.out.find("not used by --algorithm exact"), std::string::npos) << help.out;
}

TEST(AnalysisCli, ExactLeastCostSequenceIsTheSameWithOneOrTwoThreads) {
  TempDir tmp;
  for (const char* threads : {"1", "2"}) {
    const tCliRun r =
        RunCli({"sequence", "--binary", Map("forest_BL"), Map("roads_NB"), "--quantitative",
                Map("cover_QT"), "--data", Map("tracks.txt"), "--algorithm", "exact", "--friction",
                Map("friction"), "--corridor", std::string("c") + threads, "--project",
                std::string("x") + threads, "--threads", threads},
               tmp.path().string());
    ASSERT_EQ(r.status, 0) << r.err;
  }
  ExpectSameFile(tmp.file("x2-SequenceAnalysis.txt"), tmp.file("x1-SequenceAnalysis.txt"));
  ExpectSameFile(tmp.file("c2.rst"), tmp.file("c1.rst"));
  CheckSequenceReport(tmp.file("x1-SequenceAnalysis.txt"),
                      {{"forest_BL", "roads_NB"}, {"cover_QT"}, "", 1, true});
}

TEST(AnalysisCli, SequenceWithStripsAndLeastCost) {
  TempDir tmp;
  const std::vector<std::string> maps = {"--binary",        Map("forest_BL"), Map("roads_NB"),
                                         "--quantitative",  Map("cover_QT"),  "--data",
                                         Map("tracks.txt"), "--workdir",      tmp.file("")};
  tCliRun r = RunCli(
      With({"sequence", "--topography", Map("dem"), "--algorithm", "ratio", "--width", "3"}, maps),
      "/");
  ASSERT_EQ(r.status, 0) << r.err;
  ExpectAsExpected(tmp.file("Friction-RatioStrip-SequenceAnalysis.txt"),
                   "Friction-RatioStrip-SequenceAnalysis.txt");
  CheckSequenceReport((kExpected / "Friction-RatioStrip-SequenceAnalysis.txt").string(),
                      {{"forest_BL", "roads_NB"}, {"cover_QT"}, "dem", -3, false});

  for (const char* threads : {"1", "2"}) {
    r = RunCli(
        With({"sequence", "--algorithm", "least-cost", "--friction", Map("friction"), "--width",
              "3", "--project", std::string("lc") + threads, "--threads", threads},
             maps),
        "/");
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectAsExpected(tmp.file(std::string("lc") + threads + "-SequenceAnalysis.txt"),
                     "lc-SequenceAnalysis.txt");
  }
  CheckSequenceReport((kExpected / "lc-SequenceAnalysis.txt").string(),
                      {{"forest_BL", "roads_NB"}, {"cover_QT"}, "", 3, true});
}

TEST(AnalysisCli, BootstrapWalksAndTheirDistanceFile) {
  TempDir tmp;
  tCliRun r = RunCli({"bootstrap", "--binary", Map("forest_BL"), Map("roads_NB"), "--quantitative",
                      Map("cover_QT"), "--topography", Map("dem"), "--data", Map("tracks.txt"),
                      "--replicates", "3", "--distance-distribution", "--project", "walks"},
                     tmp.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "report: " + tmp.file("walks-Bootstraps.txt") +
                       "\nreport: " + tmp.file("walks-Distances.txt") + "\n");
  ExpectAsExpected(tmp.file("walks-Bootstraps.txt"), "walks-Bootstraps.txt");
  ExpectAsExpected(tmp.file("walks-Distances.txt"), "walks-Distances.txt");
  CheckBootstrapReport((kExpected / "walks-Bootstraps.txt").string(),
                       (kExpected / "walks-Distances.txt").string(), 3,
                       {{"forest_BL", "roads_NB"}, {"cover_QT"}, "dem", 1, false});
}

TEST(AnalysisCli, RefusesValuesOutOfRangeAndOptionsNotOffered) {
  TempDir tmp;
  const std::vector<std::string> matrix = {"matrix", "--binary", Map("forest_BL"), "--data",
                                           Map("samples.txt")};
  const std::vector<std::string> sequence = {"sequence", "--binary", Map("forest_BL"), "--data",
                                             Map("tracks.txt")};
  const std::vector<std::string> bootstrap = {"bootstrap", "--binary", Map("forest_BL"), "--data",
                                              Map("tracks.txt")};
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {With(matrix, {"--width", "0"}), "--width"},
      {With(matrix, {"--width", "100000"}), "--width"},
      {With(matrix, {"--seed", "-1"}), "--seed"},
      {With(matrix, {"--seed", "10000000"}), "--seed"},
      {With(matrix, {"--max-distance", "-1"}), "--max-distance"},
      {With(matrix, {"--threads", "-1"}), "--threads"},
      {With(matrix, {"--algorithm", "straight"}), "--algorithm"},
      {With(matrix, {"--minimise", "max"}), "--minimise"},
      {With(matrix, {"--direction", "sideways"}), "--direction"},
      {With(matrix, {"--delaunay", "only"}), "--delaunay"},
      {With(matrix, {"--friction-weight", "1,5"}), "--friction-weight"},
      {With(matrix, {"--tolerance", "one"}), "--tolerance"},
      {With(matrix, {"--width", "three"}), "--width"},
      {With(sequence, {"--ignore-time", "100000"}), "--ignore-time"},
      {With(sequence, {"--ignore-unit", "weeks"}), "--ignore-unit"},
      {With(bootstrap, {"--replicates", "0"}), "--replicates"},
      {With(bootstrap, {"--replicates", "10001"}), "--replicates"},
      // Options that do not apply to a command are not offered.
      {With(sequence, {"--delaunay", "include"}), "--delaunay"},
      {With(matrix, {"--replicates", "5"}), "--replicates"},
      {With(bootstrap, {"--threads", "2"}), "--threads"},
      {With(bootstrap, {"--corridor", "c"}), "--corridor"},
      {{"matrix", "--binary", Map("forest_BL")}, "--data"},
  };
  for (const auto& [args, option] : refused) {
    const tCliRun r = RunCli(args, tmp.path().string());
    EXPECT_EQ(r.status, 1) << option;
    EXPECT_NE(r.err.find(option), std::string::npos) << r.err;
  }

  // Errors found before the run, with a message of their own.
  const std::vector<std::pair<std::vector<std::string>, std::string>> errors = {
      {{"matrix", "--data", Map("samples.txt")}, "no map to scan"},
      {With(matrix, {"--algorithm", "least-cost"}), "needs --friction"},
      {With(matrix, {"--project", ""}), "project name is empty"},
      {With(matrix, {"--workdir", tmp.file("none")}), "is not a folder"},
      {{"matrix", "--binary", Map("forest_BL"), "--data", tmp.file("nodata.txt")}, "nodata.txt"},
      {{"sequence", "--binary", Map("forest_BL"), "--data", Map("samples.txt")},
       "Invalid numeric input: " + Map("samples.txt") +
           " line 3: '[Coordinates]' is not a number\n"},
      {{"matrix", "--binary", tmp.file("nomap"), "--data", Map("samples.txt")}, "nomap"},
  };
  for (const auto& [args, message] : errors) {
    const tCliRun r = RunCli(args, tmp.path().string());
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.err.rfind("stravex-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
  }
  for (const auto& e : fs::directory_iterator(tmp.path()))
    ADD_FAILURE() << "left behind: " << e.path();
}

TEST(AnalysisCli, RefusedMapsEndTheProgramWithTheWindowsMessages) {
  TempDir tmp;
  // An ASCII-type copy, and a copy of another grid (one row less).
  std::string doc = ReadFileBytes(Map("roads_NB.rdc"));
  std::string ascii = doc;
  ascii.replace(ascii.find("binary"), 6, "ascii");
  WriteFileBytes(tmp.file("text.rdc"), ascii);
  WriteFileBytes(tmp.file("text.rst"), ReadFileBytes(Map("roads_NB.rst")));
  std::string small = doc;
  small.replace(small.find("150"), 3, "149");
  small.replace(small.find("4000000"), 7, "4000010");
  WriteFileBytes(tmp.file("small.rdc"), small);
  WriteFileBytes(tmp.file("small.rst"),
                 ReadFileBytes(Map("roads_NB.rst")).substr(0, 200 * 149 * 2));

  // Both geometries and what differs, on one line.
  const auto geometry = [](const std::string& name, int rows, const std::string& minY) {
    return name + ": 200 columns, " + std::to_string(rows) + " rows, X 500000 to 502000, Y " +
           minY + " to 4001500, reference system \"plane\"";
  };
  const std::string smallVs = " Differs in rows, min Y: " + geometry("small", 149, "4000010") +
                              "; ";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--binary", Map("forest_BL"), tmp.file("text")}, "text is not in binary format."},
      {{"--binary", Map("forest_BL"), tmp.file("small")},
       "small cannot be overlaid on the previous maps." + smallVs +
           geometry("forest_BL", 150, "4000000") + "."},
      {{"--binary", Map("forest_BL"), "--quantitative", Map("cover_QT"), tmp.file("small")},
       "small cannot be overlaid on the previous maps." + smallVs +
           geometry("cover_QT", 150, "4000000") + "."},
      {{"--binary", Map("forest_BL"), "--topography", tmp.file("text")},
       "text is not in binary format."},
      {{"--binary", Map("forest_BL"), "--algorithm", "least-cost", "--friction", tmp.file("text")},
       "text is not in binary format."},
      {{"--binary", Map("forest_BL"), "--algorithm", "least-cost", "--friction", tmp.file("small")},
       "small cannot be overlaid on the ecogeographical maps." + smallVs +
           geometry("forest_BL", 150, "4000000") + "."},
  };
  for (const auto& [maps, message] : cases) {
    const tCliRun r =
        RunCli(With(With({"matrix", "--data", Map("samples.txt")}, maps), {"--project", "refused"}),
               tmp.path().string());
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_NE(r.err.find("stravex-cli: " + message + "\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(tmp.file("refused-MatrixAnalysis.txt")))
        << message << ": the run started";
  }
  // A quantitative map is not compared with the binary maps.
  const tCliRun r = RunCli({"matrix", "--data", Map("samples.txt"), "--binary", Map("forest_BL"),
                            "--quantitative", tmp.file("small"), "--project", "mixed"},
                           tmp.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(AnalysisCli, DataErrorsAreShownInFull) {
  TempDir tmp;
  const std::string comma = tmp.file("comma.txt");
  WriteFileBytes(comma, "[Sample size]\r\n2\r\n[Coordinates]\r\n500385.0 4000235.0\r\n"
                        "500985,5 4000905.0\r\n[Genetic distance]\r\n0\r\n1 0\r\n");
  tCliRun r = RunCli({"matrix", "--binary", Map("forest_BL"), "--data", comma, "--project", "c"},
                     tmp.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stravex-cli: Invalid numeric input: " + comma +
                       " line 5: '500985,5' is not a number\n"),
            std::string::npos)
      << r.err;

  // Every point off the friction map is named in the error itself, which
  // is all there is when the run fails: the log file is not written then.
  const std::string off = tmp.file("off.txt");
  WriteFileBytes(off, "[Sample size]\n3\n[Coordinates]\n500385 4000235\n600000 4000500\n"
                      "500985 3000000.5\n[Genetic distance]\n0\n1 0\n1 1 0\n");
  r = RunCli({"matrix", "--binary", Map("forest_BL"), "--data", off, "--algorithm", "least-cost",
              "--friction", Map("friction"), "--project", "off", "--log", tmp.file("off.log")},
             tmp.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("stravex-cli: Some points were outside of the map. Process is "
                       "interrupted. Outside: point 1 at (600000, 4000500), point 2 at (500985, "
                       "3000000.5)\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(tmp.file("off-MatrixAnalysis.txt")));
}

TEST(AnalysisCli, CtrlCStopsAtACheckPointAndLeavesCompleteLines) {
  TempDir tmp;
  const std::string report = tmp.file("long-MatrixAnalysis.txt");
  // 99 least-cost paths per pair: many seconds per pair, far from the end.
  const pid_t pid = StartCli(
      {"matrix", "--binary", Map("forest_BL"), "--quantitative", Map("cover_QT"), "--data",
       Map("samples.txt"), "--algorithm", "least-cost", "--friction", Map("friction"), "--width",
       "99", "--threads", "2", "--project", "long", "--workdir", tmp.path().string()},
      "/", "/dev/null", tmp.file("err"));
  ASSERT_GT(pid, 0);
  // Waits for the header line, then some of the search (a deadline, not a measurement).
  for (int k = 0; k < 600 && !(fs::exists(report) && fs::file_size(report) > 0); ++k)
    usleep(100000);
  ASSERT_GT(fs::file_size(report), 0u);
  usleep(500000);
  ASSERT_EQ(kill(pid, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_NE(ReadFileBytes(tmp.file("err")).find("cancelled"), std::string::npos);
  const std::string text = ReadFileBytes(report);
  const auto lines = CrLfLines(text);
  EXPECT_GE(lines.size(), 1u);
  EXPECT_LT(lines.size(), 29u) << "the run was not stopped";
  for (size_t k = 1; k < lines.size(); ++k)
    EXPECT_EQ(Split(lines[k], '\t').size(), 9u + 4 + 6) << k;
}

TEST(AnalysisCli, SerialDaysFollowTheCalendar) {
  // Day numbers known from the calendar: 1900 is no leap year, 2000 is.
  EXPECT_EQ(SerialDay(1900, 1, 1), 2);
  EXPECT_EQ(SerialDay(1900, 3, 1), 61);
  EXPECT_EQ(SerialDay(2000, 1, 1), 36526);
  EXPECT_EQ(SerialDay(2000, 3, 1), 36526 + 31 + 29);
  EXPECT_EQ(SerialDay(2020, 1, 1), 43831);
  EXPECT_EQ(SerialDay(2021, 5, 3), 44319);
  EXPECT_EQ(DateTime(2021, 5, 3, 18, 0, 0), 44319.75);
}

TEST(AnalysisCli, TrackTimesAgreeWithPythonDates) {
  if (!HaveProgram("python3")) GTEST_SKIP() << "python3 missing";
  const char* script =
      "import sys, datetime\n"
      "origin = datetime.datetime(1899, 12, 30)\n"
      "for line in open(sys.argv[1]).read().splitlines()[1:]:\n"
      "    x, y, i, d, m, yy, hh, mi, ss = map(float, line.split()[:9])\n"
      "    t = datetime.datetime(int(yy), int(m), int(d), int(hh), int(mi), int(ss)) - origin\n"
      "    print(repr(t / datetime.timedelta(days=1)))\n";
  const tCliRun r = RunProgram("/usr/bin/env", {"python3", "-c", script, Map("tracks.txt")}, "/");
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out);
  const auto fixes = Tracks();
  size_t k = 0;
  for (double t; in >> t; ++k) {
    ASSERT_LT(k, fixes.size());
    ExpectClose(fixes[k].t, t, "location " + std::to_string(k));
  }
  EXPECT_EQ(k, fixes.size());
}

// Strips worked out by hand on a 20 x 20 grid of unit cells over (0..20,
// 0..20), where the point (x, y) with whole coordinates lies in column x and
// row 20 - y, and the map value of cell (row, col) is 100 row + col: the
// value sum tells which cells were scanned.
struct tHandStrip {
  uint32_t id;
  double x1, y1, x2, y2;
  int64_t area; // per run: width 1, width 3, ratio 1
  int64_t sum;
};
const std::vector<std::pair<int, std::vector<tHandStrip>>> kHandStrips = {
    {1,
     {// Row 10, columns 11 to 14: the start cell is not scanned.
      {1, 10, 10, 14, 10, 4, 4050},
      // 45 degrees, L = 5: (3,3) (4,4) (4,4) (5,5) (6,6), the repeat skipped.
      {2, 2, 18, 6, 14, 4, 1818},
      // Backwards: columns 13 to 10.
      {3, 14, 10, 10, 10, 4, 4046},
      // Columns 19 to 22, only 19 on the grid.
      {4, 18, 10, 22, 10, 1, 1019},
      // Both ends in cell (5,5): nothing scanned.
      {5, 5, 15, 5.2, 14.9, 0, -1}}},
    {3,
     {// Rows 9 to 11.
      {1, 10, 10, 14, 10, 12, 12150},
      // Side lines from (1,3) and (3,1): (2,4) (3,5) (4,6) (5,7) and (4,2) (5,3) (6,4) (7,5).
      {2, 2, 18, 6, 14, 12, 5454},
      {3, 14, 10, 10, 10, 12, 12138},
      {4, 18, 10, 22, 10, 3, 3057},
      {5, 5, 15, 5.2, 14.9, 0, -1}}},
    // Ratio 1: L lines with offsets from -(L div 2) up, so an even count has its
    // extra line on the left of the direction of travel.
    {-1,
     {// Rows 8 to 11.
      {1, 10, 10, 14, 10, 16, 15400},
      // Five lines, starting at (0,4) (1,3) (2,2) (3,1) (4,0).
      {2, 2, 18, 6, 14, 20, 9090},
      // Going west the left is south: rows 9 to 12.
      {3, 14, 10, 10, 10, 16, 16984},
      {4, 18, 10, 22, 10, 4, 3876},
      {5, 5, 15, 5.2, 14.9, 0, -1}}},
};

tGrid HandGrid() {
  tGrid g;
  g.rows = g.cols = 20;
  g.maxX = g.maxY = 20;
  for (int r = 0; r < g.rows; ++r)
    for (int c = 0; c < g.cols; ++c) g.cells.push_back(100 * r + c);
  return g;
}

TEST(AnalysisCli, StripRecomputationOnHandWorkedStrips) {
  const tGrid g = HandGrid();
  for (const auto& [width, strips] : kHandStrips)
    for (const tHandStrip& h : strips) {
      const std::string where = "width " + std::to_string(width) + " strip " + std::to_string(h.id);
      const tStrip s = StripCells(g, width, h.x1, h.y1, h.x2, h.y2);
      ExpectNearTheSegment(s, where);
      const tQuantStats q = QuantStats(g, s.cells);
      EXPECT_EQ(q.area, h.area) << where;
      EXPECT_EQ(q.sum, static_cast<double>(h.sum)) << where;
    }
}

TEST(AnalysisCli, SequenceStripsOnAHandWorkedMap) {
  TempDir tmp;
  const tGrid g = HandGrid();
  std::string image;
  for (double v : g.cells) {
    const auto cell = static_cast<int16_t>(v);
    image.append(reinterpret_cast<const char*>(&cell), 2); // little-endian host
  }
  WriteFileBytes(tmp.file("code.rst"), image);
  std::string doc;
  for (const char* line : {"file format : IDRISI Raster A.1",
                           "file title  : 100 row + col",
                           "data type   : integer",
                           "file type   : binary",
                           "columns     : 20",
                           "rows        : 20",
                           "ref. system : plane",
                           "ref. units  : m",
                           "unit dist.  : 1",
                           "min. X      : 0",
                           "max. X      : 20",
                           "min. Y      : 0",
                           "max. Y      : 20",
                           "pos'n error : unknown",
                           "resolution  : 1",
                           "min. value  : 0",
                           "max. value  : 1919",
                           "display min : 0",
                           "display max : 1919",
                           "value units : unspecified",
                           "value error : unknown",
                           "flag value  : none",
                           "flag def'n  : none",
                           "legend cats : 0"})
    doc += std::string(line) + "\r\n";
  WriteFileBytes(tmp.file("code.rdc"), doc);
  // Each strip is one individual of two locations, an hour apart, on 1 January 2020 (day 43831).
  // A strip with an end off the grid is refused; the others are computed.
  const auto onGrid = [](const tHandStrip& h) {
    return std::max({h.x1, h.x2, h.y1, h.y2}) <= 20 && std::min({h.x1, h.x2, h.y1, h.y2}) >= 0;
  };
  std::ostringstream track, offTrack;
  for (std::ostringstream* t : {&track, &offTrack})
    *t << "X Y ID Day Month Year Hour Minute Second\r\n";
  for (const tHandStrip& h : kHandStrips[0].second)
    for (std::ostringstream* t : {&track, &offTrack})
      if (t == &offTrack || onGrid(h))
        *t << h.x1 << " " << h.y1 << " " << h.id << " 1 1 2020 0 0 0\r\n"
           << h.x2 << " " << h.y2 << " " << h.id << " 1 1 2020 1 0 0\r\n";
  WriteFileBytes(tmp.file("hand.txt"), track.str());
  WriteFileBytes(tmp.file("off.txt"), offTrack.str());
  const tCliRun off = RunCli(
      {"sequence", "--binary", "code", "--data", "off.txt", "--project", "o"}, tmp.path().string());
  EXPECT_EQ(off.status, 1);
  EXPECT_NE(off.err.find("Outside: location 7 (ID 4) at (22, 10)\n"), std::string::npos) << off.err;

  for (auto [width, strips] : kHandStrips) {
    strips.erase(std::remove_if(strips.begin(), strips.end(),
                                [&](const tHandStrip& h) { return !onGrid(h); }),
                 strips.end());
    const std::string project = "w" + std::to_string(width);
    SCOPED_TRACE(project);
    const tCliRun r = RunCli({"sequence", "--binary", "code", "--quantitative", "code", "--data",
                              "hand.txt", "--algorithm", width < 0 ? "ratio" : "fixed", "--width",
                              std::to_string(std::abs(width)), "--project", project},
                             tmp.path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const tReport rep = ParseReport(tmp.file(project + "-SequenceAnalysis.txt"));
    ASSERT_EQ(rep.rows.size(), strips.size());
    for (size_t k = 0; k < strips.size(); ++k) {
      const tHandStrip& h = strips[k];
      const auto& row = rep.rows[k];
      const std::string where = "strip " + std::to_string(h.id);
      auto field = [&](const std::string& column) { return row.at(rep.Col(column)); };
      EXPECT_EQ(Int(field("ID")), h.id);
      EXPECT_EQ(Real(field("T1")), 43831) << where;
      ExpectClose(Real(field("T2")), 43831 + 1 / 24.0, where + " T2");
      ExpectClose(Real(field("Time")), 1 / 24.0, where + " Time", 1e-9);
      // As a count map: the sum of the positive values, and the cells.
      EXPECT_EQ(Int(field("code_Count")), std::max<int64_t>(h.sum, 0)) << where;
      EXPECT_EQ(Int(field("code_Area")), h.area) << where;
      // As a quantitative map; -1 marks a strip without cells.
      EXPECT_EQ(Real(field("code_Sum")), h.sum) << where;
      ExpectClose(Real(field("code_Mean")), h.area ? static_cast<double>(h.sum) / h.area : -1,
                  where + " mean");
    }
  }
}

TEST(AnalysisCli, HelpOnEveryCommand) {
  const std::map<std::string, std::pair<std::set<std::string>, std::set<std::string>>> offered = {
      {"matrix",
       {{"--delaunay", "--max-distance", "--one-map-per-pair", "--direction", "--threads",
         "--corridor", "--solver"},
        {"--replicates", "--ignore-time"}}},
      {"sequence",
       {{"--ignore-time", "--ignore-unit", "--threads", "--corridor"},
        {"--delaunay", "--replicates", "--solver"}}},
      {"bootstrap",
       {{"--replicates", "--distance-distribution", "--ignore-unit"}, {"--threads", "--corridor"}}},
  };
  for (const auto& [command, options] : offered) {
    const tCliRun r = RunCli({command, "--help"}, "/");
    EXPECT_EQ(r.status, 0) << command;
    for (const char* o : {"--binary", "--quantitative", "--topography", "--data", "--project",
                          "--algorithm", "--width", "--friction", "--seed", "--minimise",
                          "--friction-weight", "--length-weight", "--log", "--workdir"})
      EXPECT_NE(r.out.find(o), std::string::npos) << command << " " << o;
    for (const std::string& o : options.first)
      EXPECT_NE(r.out.find(o), std::string::npos) << command << " " << o;
    for (const std::string& o : options.second)
      EXPECT_EQ(r.out.find(o), std::string::npos) << command << " " << o;
  }
  const tCliRun top = RunCli({"--help"}, "/");
  EXPECT_EQ(top.status, 0);
  for (const char* command : {"info", "matrix", "sequence", "bootstrap", "x"})
    EXPECT_NE(top.out.find(std::string("  ") + command + " "), std::string::npos) << command;
  EXPECT_EQ(RunCli({}, "/").status, 1);
  EXPECT_EQ(RunCli({"nosuchcommand"}, "/").status, 1);
}

} // namespace

// For the batch tests: a fixed-width strip report over binary maps only.
void CheckBinaryStripMatrixReport(const std::string& path, const std::vector<std::string>& binary,
                                  int width) {
  CheckMatrixReport(path, {binary, {}, "", width, false});
}

} // namespace stravex::test
