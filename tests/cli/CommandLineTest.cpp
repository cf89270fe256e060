// The top level of stravex-cli: no arguments, --version, a command it does
// not have; usage errors, their messages and the notes of changed values.
#include "App.h"
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace stravex::test {
namespace {

const char* const kCommands[] = {"info", "matrix", "sequence", "bootstrap", "merge", "x"};

TEST(CommandLine, VersionComesFromTheProject) {
  const tCliRun r = RunCli({"--version"}, "/");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("stravex-cli ") + STRAVEX_VERSION + "\n");
  EXPECT_EQ(r.err, "");
  EXPECT_NE(RunCli({"--help"}, "/").out.find("--version"), std::string::npos);
}

TEST(CommandLine, NoArgumentsPrintsTheUsageOnStderr) {
  const tCliRun r = RunCli({}, "/");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, RunCli({"--help"}, "/").out);
  EXPECT_NE(r.err.find("Usage:"), std::string::npos) << r.err;
}

TEST(CommandLine, UnknownCommandNamesItAndListsTheCommands) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"nosuchcommand"}, {"matirx", "--data", "d.txt"}, {"INFO", "m"}}) {
    const tCliRun r = RunCli(args, "/");
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    const std::string first = "stravex-cli: unknown command '" + args[0] + "'";
    EXPECT_EQ(r.err.compare(0, first.size(), first), 0) << r.err;
    for (const char* command : kCommands)
      EXPECT_NE(r.err.find(std::string("\n  ") + command + " "), std::string::npos)
          << command << " missing in\n"
          << r.err;
  }
  // An option of no command is still the parser's error, not an unknown command.
  const tCliRun option = RunCli({"--frobnicate"}, "/");
  EXPECT_EQ(option.status, 1);
  EXPECT_EQ(option.err.find("unknown command"), std::string::npos) << option.err;
  EXPECT_NE(option.err, "");
}

// CLI11 lets std::stoll's out_of_range through for a number given to a flag;
// that must be a usage error naming the argument, not an abort.
TEST(CommandLine, FlagGivenANumberOutOfRangeIsAUsageError) {
  for (const char* value :
       {"99999999999999999999", "-99999999999999999999", " 99999999999999999999x"}) {
    const std::string arg = std::string("--no-echo-matrices=") + value;
    const tCliRun r = RunCli({"matrix", "--echo-points", arg}, "/");
    EXPECT_EQ(r.status, 1) << value;
    EXPECT_NE(
        r.err.find(std::string("--no-echo-matrices: the value ") + value + " is out of range"),
        std::string::npos)
        << r.err;
  }
  // Numbers that fit are still the parser's own business.
  EXPECT_EQ(RunCli({"matrix", "--no-echo-matrices=12x"}, "/").err.find("out of range"),
            std::string::npos);
}

TEST(CommandLine, KnownCommandsAreNotUnknown) {
  for (const char* command : kCommands) {
    const tCliRun r = RunCli({command, "--help"}, "/");
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_EQ(r.err.find("unknown command"), std::string::npos) << command << r.err;
  }
  // The batch command takes any letter case.
  EXPECT_EQ(RunCli({"X", "--help"}, "/").status, 0);
}

// The parse-only application (the option fuzzer's) checks a line as the
// program does but runs nothing.
struct tParsed {
  int status;
  std::string out, err;
};

tParsed ParseOnly(std::vector<std::string> args) {
  args.insert(args.begin(), "stravex-cli");
  CLI::App app{"Stravex", "stravex-cli"};
  int exitCode = 0;
  cli::BuildApp(app, exitCode, true);
  std::ostringstream out, err;
  const int status = cli::RunApp(app, exitCode, args, out, err);
  return {status, out.str(), err.str()};
}

TEST(CommandLine, ParseOnlyChecksTheLineWithoutRunningIt) {
  TempDir dir;
  const std::string work = dir.path().string();
  // Would fail at once if it ran: the maps and the data file do not exist.
  const tParsed ok = ParseOnly({"matrix", "--binary", "nomap", "--data", "nodata.txt", "--log",
                                work + "/log.txt", "--workdir", work});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
  EXPECT_TRUE(std::filesystem::is_empty(work));

  const tParsed range = ParseOnly({"sequence", "--data", "d", "--ignore-time", "100000"});
  EXPECT_EQ(range.status, 1);
  EXPECT_NE(range.err.find("--ignore-time"), std::string::npos) << range.err;
  EXPECT_EQ(ParseOnly({"info"}).status, 1);
  EXPECT_EQ(ParseOnly({"bootstrap", "--data", "d", "--threads", "2"}).status, 1);

  const tParsed version = ParseOnly({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("stravex-cli ") + STRAVEX_VERSION + "\n");
  const tParsed unknown = ParseOnly({"nosuch"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.err.rfind("stravex-cli: unknown command 'nosuch'\n", 0), 0u) << unknown.err;
}

// One application parsed line after line (as the option fuzzer parses it):
// every line starts from the defaults, not from the options of the line before.
TEST(CommandLine, EveryParseStartsFromTheDefaults) {
  CLI::App app{"Stravex", "stravex-cli"};
  int exitCode = 0;
  cli::BuildApp(app, exitCode, true);
  const auto parse = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "stravex-cli");
    std::ostringstream out, err;
    const int status = cli::RunApp(app, exitCode, args, out, err);
    return tParsed{status, out.str(), err.str()};
  };
  const std::vector<std::string> leastCost = {"matrix",      "--data",
                                              "d",           "--binary",
                                              "m",           "--topography",
                                              "t",           "--algorithm",
                                              "least-cost",  "--friction",
                                              "f",           "--corridor",
                                              "c",           "--one-map-per-pair",
                                              "--direction", "up"};
  EXPECT_EQ(parse(leastCost).status, 0);
  // The algorithm, the corridor map and the topography map of the line before are gone.
  EXPECT_EQ(parse({"matrix", "--data", "d", "--seed", "3"}).err,
            "stravex-cli: --seed is not used by --algorithm fixed (the default; it is a setting "
            "of the least-cost search)\n");
  EXPECT_EQ(parse({"matrix", "--data", "d", "--algorithm", "least-cost", "--one-map-per-pair"}).err,
            "stravex-cli: --one-map-per-pair needs --corridor NAME (the pair maps are named "
            "NAME_iii_jjj)\n");
  EXPECT_EQ(parse({"matrix", "--data", "d", "--algorithm", "least-cost", "--direction", "up"}).err,
            "stravex-cli: --direction is not used without --topography (uphill and downhill are "
            "read on the topography map)\n");
  EXPECT_EQ(parse(leastCost).status, 0);
}

using tArgs = std::vector<std::string>;

// Fixed-width strips over two maps of the example: about a second.
tArgs StripMatrix(const std::string& project) {
  return {"matrix", "--binary",          Land("forest_BL"), Land("roads_NB"),
          "--data", Land("samples.txt"), "--project",       project};
}

tArgs LeastCostMatrix(const std::string& project) {
  return With(StripMatrix(project), {"--algorithm", "least-cost", "--friction", Land("friction")});
}

std::vector<std::string> Entries(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    names.push_back(e.path().filename().string());
  return names;
}

// Refused with status 1 and exactly this message, by the program and by the
// parse-only application alike, before anything is read or written.
void ExpectRefused(const tArgs& args, const std::string& message, const TempDir& dir) {
  const tCliRun r = RunCli(args, dir.path().string());
  EXPECT_EQ(r.status, 1) << message;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "stravex-cli: " + message + "\n");
  const tParsed parsed = ParseOnly(args);
  EXPECT_EQ(parsed.status, 1) << message;
  EXPECT_EQ(parsed.err, r.err);
}

TEST(CommandLine, NumberOptionsTakeWholeNumbersOnly) {
  TempDir tmp;
  const std::vector<std::pair<tArgs, std::string>> refused = {
      {{"--length-weight", "2.5."}, "--length-weight: '2.5.' is not a number"},
      {{"--friction-weight", "1e"}, "--friction-weight: '1e' is not a number"},
      {{"--length-weight", "abc"}, "--length-weight: 'abc' is not a number"},
      {{"--length-weight", ""}, "--length-weight: '' is not a number"},
      {{"--friction-weight", "1,5"}, "--friction-weight: '1,5' is not a number"},
      {{"--friction-weight", " 1"}, "--friction-weight: ' 1' is not a number"},
      {{"--friction-weight", "inf"}, "--friction-weight: 'inf' is not a number"},
      {{"--tolerance", "+-1"}, "--tolerance: '+-1' is not a number"},
      {{"--tolerance", "1e999"}, "--tolerance: '1e999' is out of range"},
      {{"--friction-weight="}, "--friction-weight: the value after '=' is empty"},
      {{"--width", "2.5"}, "--width: '2.5' is not a whole number"},
      {{"--width", "0x10"}, "--width: '0x10' is not a whole number"},
      {{"--seed", "1e3"}, "--seed: '1e3' is not a whole number"},
      {{"--threads", ""}, "--threads: '' is not a whole number"},
      {{"--max-distance", "ten"}, "--max-distance: 'ten' is not a whole number"},
  };
  for (const auto& [args, message] : refused)
    ExpectRefused(With(LeastCostMatrix("n"), args), message, tmp);
  ExpectRefused(With(LeastCostSequenceArgs("n"), {"--ignore-time", "1.5"}),
                "--ignore-time: '1.5' is not a whole number", tmp);
  ExpectRefused({"bootstrap", "--data", "d", "--replicates", "1e2"},
                "--replicates: '1e2' is not a whole number", tmp);
  EXPECT_TRUE(Entries(tmp).empty());

  // What converted before still does.
  for (const char* real : {"1", "0.5", "1E3", "-2", "+1", ".5", "1.", "2e-3"})
    for (const char* option : {"--friction-weight", "--length-weight", "--tolerance"}) {
      const tParsed r =
          ParseOnly(With(LeastCostMatrix("n"), {"--topography", Land("dem"), option, real}));
      EXPECT_EQ(r.status, 0) << option << " " << real << ": " << r.err;
    }
  for (const char* whole : {"3", "+3", " 3", "3 "})
    EXPECT_EQ(ParseOnly(With(StripMatrix("n"), {"--width", whole})).status, 0) << whole;

  // Decimal, not octal: 010 is ten (made eleven), not eight (made nine).
  const tCliRun ten = RunCli(With(StripMatrix("ten"), {"--width", "010"}), tmp.path().string());
  EXPECT_EQ(ten.status, 0);
  EXPECT_EQ(ten.err, "stravex-cli: --width 10 is even; strip widths are odd: using 11\n");
}

TEST(CommandLine, EvenWidthIsRaisedWithANote) {
  TempDir tmp;
  const std::string dir = tmp.path().string();
  const tCliRun even = RunCli(With(StripMatrix("w4"), {"--width", "4"}), dir);
  EXPECT_EQ(even.status, 0);
  EXPECT_EQ(even.err, "stravex-cli: --width 4 is even; strip widths are odd: using 5\n");
  EXPECT_NE(even.out.find("report: " + tmp.file("w4-MatrixAnalysis.txt")), std::string::npos);
  const tCliRun odd = RunCli(With(StripMatrix("w5"), {"--width", "5"}), dir);
  EXPECT_EQ(odd.status, 0);
  EXPECT_EQ(odd.err, "");
  ExpectSameFile(tmp.file("w4-MatrixAnalysis.txt"), tmp.file("w5-MatrixAnalysis.txt"));

  const tCliRun ratio = RunCli({"sequence", "--binary", Land("forest_BL"), "--data",
                                Land("tracks.txt"), "--algorithm", "ratio", "--width", "2"},
                               dir);
  EXPECT_EQ(ratio.status, 0);
  EXPECT_EQ(ratio.err, "stravex-cli: --width 2 is even; length:width ratios are odd: using 3\n");
  const tCliRun paths = RunCli(With(LeastCostMatrix("lc"), {"--width", "2"}), dir);
  EXPECT_EQ(paths.status, 0);
  EXPECT_EQ(paths.err,
            "stravex-cli: --width 2 is even; numbers of least-cost paths are odd: using 3\n");
  // The default width says nothing.
  EXPECT_EQ(RunCli(StripMatrix("w1"), dir).err, "");
}

TEST(CommandLine, OptionsTheAlgorithmDoesNotUseAreRefused) {
  TempDir tmp;
  const std::string corridor = "corridor maps come from least-cost paths)";
  const tArgs fixed = With(StripMatrix("p"), {"--algorithm", "fixed"});
  ExpectRefused(With(StripMatrix("p"), {"--corridor", "c"}),
                "--corridor is not used by --algorithm fixed (the default; " + corridor, tmp);
  ExpectRefused(With(StripMatrix("p"), {"--algorithm", "ratio", "--corridor", "c"}),
                "--corridor is not used by --algorithm ratio (" + corridor, tmp);
  ExpectRefused(With(fixed, {"--one-map-per-pair"}),
                "--one-map-per-pair is not used by --algorithm fixed (" + corridor, tmp);
  ExpectRefused({"sequence", "--data", "d", "--algorithm", "ratio", "--corridor", "c"},
                "--corridor is not used by --algorithm ratio (" + corridor, tmp);
  const std::vector<tArgs> search = {{"--friction", "f"},      {"--seed", "5"},
                                     {"--minimise", "sum"},    {"--friction-weight", "1"},
                                     {"--length-weight", "0"}, {"--direction", "both"},
                                     {"--tolerance", "1"}};
  for (const tArgs& option : search)
    ExpectRefused(With(fixed, option),
                  option[0] + " is not used by --algorithm fixed (it is a setting of the "
                              "least-cost search)",
                  tmp);
  ExpectRefused({"bootstrap", "--data", "d", "--seed", "3"},
                "--seed is not used by --algorithm fixed (the default; it is a setting of the "
                "least-cost search)",
                tmp);

  const tArgs exact = With(StripMatrix("p"), {"--algorithm", "exact", "--friction", "f"});
  ExpectRefused(With(exact, {"--seed", "10"}),
                "--seed is not used by --algorithm exact (it draws no random paths)", tmp);
  ExpectRefused(With(exact, {"--width", "3"}),
                "--width 3 is not possible with --algorithm exact (it finds one path per pair)",
                tmp);
  ExpectRefused(With(exact, {"--minimise", "sd"}),
                "--minimise sd is not possible with --algorithm exact (it minimises the friction "
                "sum only)",
                tmp);
  ExpectRefused({"sequence", "--data", "d", "--algorithm", "exact", "--width", "5"},
                "--width 5 is not possible with --algorithm exact (it finds one path per pair)",
                tmp);
  // Options that mean nothing without another one.
  ExpectRefused(With(LeastCostMatrix("p"), {"--one-map-per-pair"}),
                "--one-map-per-pair needs --corridor NAME (the pair maps are named NAME_iii_jjj)",
                tmp);
  for (const char* option : {"--direction", "--tolerance"})
    ExpectRefused(With(LeastCostMatrix("p"), {option, option[2] == 'd' ? "up" : "0"}),
                  std::string(option) + " is not used without --topography (uphill and downhill "
                                        "are read on the topography map)",
                  tmp);
  EXPECT_TRUE(Entries(tmp).empty());

  // What the algorithm reads, the values exact computes with anyway, and the
  // defaults of options not given.
  const std::vector<tArgs> accepted = {
      StripMatrix("p"),
      With(StripMatrix("p"), {"--width", "3", "--topography", "dem", "--delaunay", "include"}),
      With(exact, {"--width", "1", "--minimise", "sum", "--length-weight", "1", "--corridor", "c"}),
      With(LeastCostMatrix("p"),
           {"--seed", "5", "--minimise", "mean", "--friction-weight", "2", "--length-weight", "1",
            "--corridor", "c", "--one-map-per-pair", "--direction", "up", "--tolerance", "0",
            "--topography", "dem", "--width", "7"}),
      With(LeastCostSequenceArgs("p"), {"--seed", "5", "--corridor", "c"}),
  };
  for (const tArgs& args : accepted) {
    const tParsed r = ParseOnly(args);
    EXPECT_EQ(r.status, 0) << r.err;
  }
}

TEST(CommandLine, UnknownNamesGetTheClosestKnownOne) {
  const std::vector<std::pair<tArgs, std::string>> options = {
      {{"matrix", "--algoritm", "least-cost", "--binary", "m", "--data", "d"},
       "unknown option --algoritm; did you mean --algorithm?"},
      // Before CLI11's own complaint about the missing --data.
      {{"matrix", "--binary", "m", "--dat", "d"}, "unknown option --dat; did you mean --data?"},
      {{"sequence", "--data", "d", "--ignore-tiem", "3"},
       "unknown option --ignore-tiem; did you mean --ignore-time?"},
      {{"bootstrap", "--data", "d", "--replicate=5"},
       "unknown option --replicate; did you mean --replicates?"},
      {{"matrix", "--data", "d", "-data"}, "unknown option -data; did you mean --data?"},
      {{"matrix", "--data", "d", "--algo", "exact"},
       "unknown option --algo; did you mean --algorithm?"},
      {{"matrix", "--data", "d", "--QUIET"}, "unknown option --QUIET; did you mean --quiet?"},
      {{"merge", "--wrokdir", "w", "r.txt"}, "unknown option --wrokdir; did you mean --workdir?"},
      {{"--verison"}, "unknown option --verison; did you mean --version?"},
      // Nothing close, or more than one name it begins.
      {{"matrix", "--data", "d", "--frobnicate"}, "unknown option --frobnicate"},
      {{"sequence", "--data", "d", "--ignore", "3"}, "unknown option --ignore"},
      {{"bootstrap", "--data", "d", "--corridor", "c"}, "unknown option --corridor"},
  };
  for (const auto& [args, message] : options) {
    const tCliRun r = RunCli(args, "/");
    EXPECT_EQ(r.status, 1) << message;
    EXPECT_EQ(r.err, "stravex-cli: " + message + "\n");
  }

  const std::vector<std::pair<std::string, std::string>> commands = {
      {"matirx", "; did you mean 'matrix'?"},
      {"INFO", "; did you mean 'info'?"},
      {"boot", "; did you mean 'bootstrap'?"},
      {"sequense", "; did you mean 'sequence'?"},
      {"y", ""},
      {"nosuchcommand", ""}};
  for (const auto& [typed, suggestion] : commands) {
    const tCliRun r = RunCli({typed}, "/");
    EXPECT_EQ(r.status, 1) << typed;
    const std::string first = "stravex-cli: unknown command '" + typed + "'" + suggestion + "\n";
    EXPECT_EQ(r.err.substr(0, first.size()), first);
  }
}

TEST(CommandLine, EveryErrorLineNamesTheProgram) {
  TempDir tmp;
  const std::vector<tArgs> errors = {
      {"matrix", "--binary", "m"},
      {"matrix", "--data", "d", "--algorithm", "zigzag"},
      {"matrix", "--data", "d", "extra"},
      {"matrix", "--data", "d", "--width", "0"},
      {"matrix", "--data", "d", "--echo-points=99999999999999999999"},
      {"matrix", "--data", "d", "--project="},
      {"matrix", "--version"},
      {"info"},
      {"merge"},
      {"sequence", "--data", "d", "--shard", "3"},
      {"matrix", "--binary", Land("forest_BL"), "--data", tmp.file("none.txt")},
      {"merge", tmp.file("p-MatrixAnalysis-shard-1-of-2.txt")},
  };
  for (const tArgs& args : errors) {
    const tCliRun r = RunCli(args, tmp.path().string());
    EXPECT_EQ(r.status, 1) << args[1];
    ASSERT_FALSE(r.err.empty()) << args[1];
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);)
      EXPECT_EQ(line.rfind("stravex-cli: ", 0), 0u) << line;
  }
  // Help is no error: as CLI11 writes it, on stdout.
  const tCliRun help = RunCli({"matrix", "--help"}, "/");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Population matrix analysis", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
}

// stravex-cli with stderr on a pseudo-terminal, where the progress bar is
// drawn, and stdout to a file; err receives what the terminal showed.
tCliRun RunCliOnTerminal(const tArgs& args, const TempDir& dir) {
  tCliRun r;
  tArgs all = {STRAVEX_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string outFile = dir.file("terminal-stdout");
  const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int master = -1, slave = -1;
  if (out < 0 || openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "no stdout file or pseudo-terminal";
    return r;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0 || dup2(out, 1) < 0 || dup2(slave, 2) < 0) _exit(126);
    close(master);
    close(slave);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out);
  close(slave);
  // Read until the program's end closes the terminal (EIO).
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    r.err.append(buffer, static_cast<size_t>(n));
  }
  close(master);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    r.status = WEXITSTATUS(status);
  r.out = ReadFileBytes(outFile);
  std::filesystem::remove(outFile);
  // The terminal ends lines with CR LF; the bar's own CRs stay.
  for (size_t k; (k = r.err.find("\r\n")) != std::string::npos;) r.err.erase(k, 1);
  return r;
}

TEST(CommandLine, QuietDrawsNoProgressButKeepsMessagesAndFiles) {
  TempDir tmp;
  const tCliRun bar = RunCliOnTerminal(StripMatrix("bar"), tmp);
  ASSERT_EQ(bar.status, 0) << bar.err;
  EXPECT_NE(bar.err.find("\r\x1b[2KAnalysing paths ["), std::string::npos) << bar.err;

  const tCliRun quiet = RunCliOnTerminal(With(StripMatrix("quiet"), {"--width", "4", "--quiet"}),
                                         tmp);
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  // The note is still said; the report: and journal: lines still go to stdout.
  EXPECT_EQ(quiet.err, "stravex-cli: --width 4 is even; strip widths are odd: using 5\n");
  EXPECT_EQ(quiet.out, "report: " + tmp.file("quiet-MatrixAnalysis.txt") +
                           "\njournal: " + tmp.file("quiet-MatrixAnalysis.journal") +
                           "\nrow digests: " + tmp.file("quiet-MatrixAnalysis.digests") + "\n");

  // An error of the run: its message, and nothing else.
  const tCliRun failed = RunCliOnTerminal(
      {"matrix", "--binary", Land("forest_BL"), "--data", "none.txt", "--quiet"}, tmp);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err.rfind("stravex-cli: ", 0), 0u) << failed.err;
  EXPECT_NE(failed.err.find("none.txt"), std::string::npos) << failed.err;
  EXPECT_EQ(failed.err.find('\x1b'), std::string::npos) << failed.err;
  EXPECT_EQ(failed.out, "");

  // Every command that runs an analysis or a merge takes it.
  for (const char* command : {"sequence", "bootstrap"})
    EXPECT_EQ(ParseOnly({command, "--data", "d", "--quiet"}).status, 0) << command;
  EXPECT_EQ(ParseOnly({"merge", "--quiet", "p-MatrixAnalysis-shard-1-of-2.txt"}).status, 0);
}

} // namespace
} // namespace stravex::test
