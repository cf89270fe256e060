// The top level of stravex-cli: no arguments, --version, a command it does not have.
#include "App.h"
#include "CliSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

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
    const std::string first = "stravex-cli: unknown command '" + args[0] + "'\n";
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

} // namespace
} // namespace stravex::test
