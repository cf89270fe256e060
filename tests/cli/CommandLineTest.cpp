// The top level of stravex-cli: no arguments, --version, a command it does not have.
#include "CliSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace stravex::test {
namespace {

const char* const kCommands[] = {"info", "matrix", "sequence", "bootstrap", "x"};

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

TEST(CommandLine, KnownCommandsAreNotUnknown) {
  for (const char* command : kCommands) {
    const tCliRun r = RunCli({command, "--help"}, "/");
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_EQ(r.err.find("unknown command"), std::string::npos) << command << r.err;
  }
  // The batch command takes any letter case.
  EXPECT_EQ(RunCli({"X", "--help"}, "/").status, 0);
}

} // namespace
} // namespace stravex::test
