// The process runner and the expected-file comparison the CLI tests rely on.
#include "CliSupport.h"
#include "TestSupport.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

TEST(CliSupport, ArgumentsReachTheProgramUnchanged) {
  TempDir tmp;
  const std::vector<std::string> args = {"it's", "two words",   "",  "$HOME",
                                         "a\"b", "line\nbreak", "*", "`x`;|&"};
  std::vector<std::string> printfArgs = {"%s|"};
  printfArgs.insert(printfArgs.end(), args.begin(), args.end());
  const tCliRun r = RunProgram("/usr/bin/printf", printfArgs, tmp.path().string());
  EXPECT_EQ(r.status, 0);
  std::string joined;
  for (const std::string& a : args) joined += a + "|";
  EXPECT_EQ(r.out, joined);
  EXPECT_EQ(r.err, "");
}

TEST(CliSupport, StatusStreamsAndFolderAreKeptApart) {
  TempDir tmp;
  const tCliRun r = RunProgram("/bin/sh", {"-c", "pwd; echo oops >&2; exit 3"},
                               tmp.path().string());
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, fs::canonical(tmp.path()).string() + "\n");
  EXPECT_EQ(r.err, "oops\n");
  EXPECT_EQ(RunProgram("/bin/sh", {"-c", "kill -9 $$"}, "/").status, -1) << "a signal is no status";
  EXPECT_EQ(RunProgram(tmp.file("none"), {}, "/").status, 127);
  EXPECT_EQ(RunCli({"--help"}, "/").status, 0);
}

TEST(CliSupport, DifferenceNamesItsLine) {
  TempDir tmp;
  WriteFileBytes(tmp.file("a"), "one\r\ntwo\r\nthree\r\n");
  WriteFileBytes(tmp.file("b"), "one\r\ntwo\r\nthreE\r\n");
  WriteFileBytes(tmp.file("c"), "one\r\ntwo\r\n");
  ExpectSameFile(tmp.file("a"), tmp.file("a"));
  EXPECT_NONFATAL_FAILURE(ExpectSameFile(tmp.file("a"), tmp.file("b")),
                          "at byte 14 (line 3, column 5; sizes 17 and 17)\n"
                          "  actual:   three\\r\\n\n"
                          "  expected: threE\\r\\n");
  EXPECT_NONFATAL_FAILURE(ExpectSameFile(tmp.file("a"), tmp.file("c")), "line 3, column 1");
  EXPECT_NONFATAL_FAILURE(ExpectSameFile(tmp.file("a"), tmp.file("none")), "does not exist");
}

TEST(CliSupport, GoldenIsRewrittenOnlyWhenAsked) {
  TempDir tmp;
  WriteFileBytes(tmp.file("new"), "new\r\n");
  WriteFileBytes(tmp.file("golden"), "old\r\n");
  const char* before = std::getenv("STRAVEX_UPDATE_EXPECTED");
  const std::string saved = before ? before : "";
  unsetenv("STRAVEX_UPDATE_EXPECTED");
  EXPECT_NONFATAL_FAILURE(ExpectMatchesGolden(tmp.file("new"), tmp.file("golden")), "line 1");
  EXPECT_EQ(ReadFileBytes(tmp.file("golden")), "old\r\n");
  setenv("STRAVEX_UPDATE_EXPECTED", "1", 1);
  ExpectMatchesGolden(tmp.file("new"), tmp.file("sub/golden"));
  ExpectMatchesGolden(tmp.file("new"), tmp.file("golden"));
  if (before)
    setenv("STRAVEX_UPDATE_EXPECTED", saved.c_str(), 1);
  else
    unsetenv("STRAVEX_UPDATE_EXPECTED");
  EXPECT_EQ(ReadFileBytes(tmp.file("golden")), "new\r\n");
  EXPECT_EQ(ReadFileBytes(tmp.file("sub/golden")), "new\r\n");
}

} // namespace
} // namespace stravex::test
