#include "analysis/ReportWriter.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <limits>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace stravex;
using stravex::test::ReadFileBytes;
using stravex::test::TempDir;
using stravex::test::WriteFileBytes;

TEST(ReportWriter, RealsTakeTheTwentyThreeCharacterForm) {
  const std::vector<std::pair<long double, std::string>> cases = {
      {1.5L, " 1.50000000000000E+0000"},
      {0.0L, " 0.00000000000000E+0000"},
      {-0.0L, " 0.00000000000000E+0000"},
      {-1.5L, "-1.50000000000000E+0000"},
      {0.5L, " 5.00000000000000E-0001"},
      {1e-5L, " 1.00000000000000E-0005"},
      {1e100L, " 1.00000000000000E+0100"},
      {1e4000L, " 1.00000000000000E+4000"},
      {123456.789L, " 1.23456789000000E+0005"},
      {0.000123456789012345678L, " 1.23456789012346E-0004"},
      {-999.5L, "-9.99500000000000E+0002"},
      {std::numeric_limits<long double>::quiet_NaN(), "                    Nan"},
      {std::numeric_limits<long double>::infinity(), "                   +Inf"},
      {-std::numeric_limits<long double>::infinity(), "                   -Inf"},
  };
  for (const auto& [v, text] : cases) {
    EXPECT_EQ(FormatReal23(v), text);
    EXPECT_EQ(FormatReal23(v).size(), 23u);
  }
  // Doubles: rounding that carries into a new digit, and single-precision values.
  EXPECT_EQ(FormatReal23(9.999999999999999), " 1.00000000000000E+0001");
  EXPECT_EQ(FormatReal23(-9.9999999999999995e-5), "-1.00000000000000E-0004");
  EXPECT_EQ(FormatReal23(0.05), " 5.00000000000000E-0002");
  EXPECT_EQ(FormatReal23(static_cast<double>(0.05f)), " 5.00000007450581E-0002");
  EXPECT_EQ(FormatReal23(1.0 / 3.0), " 3.33333333333333E-0001");
  EXPECT_EQ(FormatReal23(2.0 / 3.0), " 6.66666666666667E-0001");
  EXPECT_EQ(FormatReal23(-2.5e300), "-2.50000000000000E+0300");
  EXPECT_EQ(FormatReal23(5e-324), " 4.94065645841247E-0324");

  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(-42), "-42");
  EXPECT_EQ(FormatInteger(4294967295LL), "4294967295");
}

// A row never takes a non-number: the run stops, naming the value and column.
TEST(ReportWriter, RowsRefuseNonNumbersNamingTheColumn) {
  for (const long double bad :
       {std::numeric_limits<long double>::quiet_NaN(), std::numeric_limits<long double>::infinity(),
        -std::numeric_limits<long double>::infinity()}) {
    tReportRow row;
    row.AddInt(3).AddTab().AddReal(1.5L).AddTab();
    try {
      row.AddReal(bad);
      ADD_FAILURE() << "accepted " << static_cast<double>(bad);
    } catch (const EInvalidOperation& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("A report value is not a number: ", 0), 0u) << what;
      EXPECT_NE(what.find(std::isnan(bad) ? "Nan in column 3" : "Inf in column 3"),
                std::string::npos)
          << what;
    }
    // The row keeps what it had.
    EXPECT_EQ(row.Text(), "3\t 1.50000000000000E+0000\t");
  }
}

TEST(ReportWriter, RowsGoToAFreshFileWithCrLf) {
  TempDir dir;
  const std::string name = dir.file(ReportFileName("Friction", "MatrixAnalysis.txt"));
  EXPECT_EQ(name, (dir.path() / "Friction-MatrixAnalysis.txt").string());
  WriteFileBytes(name, std::string(500, 'x'));
  {
    tReportFile report(name);
    report.WriteLine("PopID1\tX1");
    EXPECT_EQ(ReadFileBytes(name), "PopID1\tX1\r\n"); // on disk at once, old content gone
    tReportRow row;
    row.AddInt(3).AddTab().AddReal(1.5).AddTab().AddReal(0.5L).AddTab().AddText("m_Count");
    report.WriteRow(row);
    EXPECT_EQ(report.BytesWritten(), 11u + 59u);
    tReportRow unfinished;
    unfinished.AddInt(4).AddTab();
    report.Close();
    EXPECT_THROW(report.WriteRow(unfinished), EInvalidOperation);
  }
  EXPECT_EQ(ReadFileBytes(name),
            "PopID1\tX1\r\n3\t 1.50000000000000E+0000\t 5.00000000000000E-0001\tm_Count\r\n");

  try {
    tReportFile bad(dir.file("no/such/folder/r.txt"));
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("no/such/folder/r.txt"), std::string::npos) << e.what();
  }

  EXPECT_EQ(LabelledNameLines("- Binary:\t", {"a", "b", "c"}),
            (std::vector<std::string>{"- Binary:\ta", "b", "c", ""}));
  EXPECT_EQ(LabelledNameLines("- Binary:\t", {"a"}),
            (std::vector<std::string>{"- Binary:\ta", ""}));
  EXPECT_EQ(LabelledNameLines("- Binary:\t", {}), (std::vector<std::string>{"- Binary:\t"}));
}

TEST(ReportWriter, AFailedWriteRaisesAndLeavesCompleteLinesOnly) {
  if (std::filesystem::exists("/dev/full")) {
    tReportFile full("/dev/full");
    EXPECT_THROW(full.WriteLine("row"), EInOutError);
    EXPECT_FALSE(full.IsOpen());
  }

  // A file-size limit stops the fourth row halfway: the half row is cut off.
  TempDir dir;
  const std::string name = dir.file("r.txt");
  const std::string row(40, 'r');
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{150, 150};
    setrlimit(RLIMIT_FSIZE, &limit);
    int status = 1;
    try {
      tReportFile report(name);
      for (int i = 0; i < 10; ++i) report.WriteLine(row);
    } catch (const EInOutError&) {
      status = 0;
    }
    _exit(status);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was not reported";
  EXPECT_EQ(ReadFileBytes(name), row + "\r\n" + row + "\r\n" + row + "\r\n");
}
