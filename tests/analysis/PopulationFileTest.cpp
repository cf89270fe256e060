#include "analysis/PopulationFile.h"
#include "../raster/RasterFixtures.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

using namespace stravex;
using stravex::test::MessageOf;
using stravex::test::RecordingReporter;
using stravex::test::TempDir;
using stravex::test::WriteFileBytes;

namespace {

const char* kHead = "[sample size]\n3\n[coordinates]\n1 2\n3.5 4\n-1 0.25\n[genetic distance]\n";
const char* kLower = "0\n0.1 0\n0.2 0.3 0\n";

struct Reader {
  TempDir dir;
  RecordingReporter reporter;
  TAnalysisSettings settings;
  tPopulationData data;

  void Read(const std::string& content, const tPointFilter& accept = {},
            const tAllRefusedNote& allRefused = {}) {
    settings.DataFile = dir.file("pop.txt");
    WriteFileBytes(settings.DataFile, content);
    ReadPopulationFile(settings, data, reporter, accept, allRefused);
  }
  std::string Failure(const std::string& content) {
    return MessageOf<EInOutError>([&] { Read(content); });
  }
};

} // namespace

TEST(PopulationFile, ReadsTablesAndEchoesThem) {
  Reader r;
  r.settings.EchoSamplePoints = true;
  r.settings.SignificantOnly = true;
  r.Read("  [SAMPLE Size] \r\n3 populations\r\n[Coordinates]\r\n1 2 first\r\n3.5\t4\r\n-1 0.25\r\n"
         "\t[genetic distance]\r\n0\r\n0.1 0\r\n0.2 0.3 0\r\n[significance]\r\n1\r\n0.05 1\r\n"
         "0.5 0.01 1\r\n");
  EXPECT_EQ(r.data.SampleSize, 3);
  EXPECT_EQ(r.data.SamplePoints, (t2DPoints{{1, 2}, {3.5, 4}, {-1, 0.25}}));
  EXPECT_EQ(r.data.GeneticDistance[2][1], 0.3);
  EXPECT_EQ(r.data.GeneticDistance[1][2], 0.3);
  EXPECT_EQ(r.data.GeneticDistance[0][2], 0.2);
  EXPECT_TRUE(r.data.HasSignificance);
  EXPECT_EQ(r.data.Significance[0][1], static_cast<double>(0.05f));
  EXPECT_NE(r.data.Significance[0][1], 0.05);
  EXPECT_EQ(r.data.Significance[2][1], static_cast<double>(0.01f));
  EXPECT_TRUE(r.settings.SignificantOnly);
  EXPECT_TRUE(r.reporter.warnings.empty());
  const std::vector<std::string> echo = {"",
                                         "Sample points coordinates",
                                         "*************************",
                                         "X\tY",
                                         "1\t2",
                                         "3.5\t4",
                                         "-1\t0.25",
                                         "",
                                         "Genetic distance matrix",
                                         "***********************",
                                         "0\t",
                                         "0.1\t0\t",
                                         "0.2\t0.3\t0\t",
                                         "Genetic dist. significance matrix",
                                         "***********************************",
                                         "1\t",
                                         "0.05\t1\t",
                                         "0.5\t0.01\t1\t"};
  EXPECT_EQ(r.reporter.logs, echo);

  Reader quiet;
  quiet.settings.EchoMatrices = false;
  quiet.Read(std::string(kHead) + kLower);
  EXPECT_TRUE(quiet.reporter.logs.empty());
}

TEST(PopulationFile, FullSquareReadsAsItsLowerTriangle) {
  Reader lower, square;
  lower.Read(std::string(kHead) + kLower);
  square.Read(std::string(kHead) + "0 9 9\n0.1 0 9\n0.2 0.3 0\n");
  EXPECT_EQ(square.data.GeneticDistance, lower.data.GeneticDistance);
  EXPECT_EQ(lower.data.GeneticDistance,
            (tMatrixOfDouble{{0, 0.1, 0.2}, {0.1, 0, 0.3}, {0.2, 0.3, 0}}));
  // The tightest layout passes the size check made before the tables are sized.
  Reader tight;
  tight.Read("[sample size]\n2\n[coordinates]\n1 2\n3 4\n[genetic distance]\n0\n1 0");
  EXPECT_EQ(tight.data.GeneticDistance, (tMatrixOfDouble{{0, 1}, {1, 0}}));
}

TEST(PopulationFile, WhatFollowsTheLastRowDecidesTheSignificance) {
  for (const char* tail : {"", "\n", "\n\n  \t\r\n"}) {
    Reader r;
    r.settings.SignificantOnly = true;
    std::string content = std::string(kHead) + kLower;
    content.pop_back(); // the last row without its line end
    r.Read(content + tail);
    EXPECT_TRUE(r.reporter.warnings.empty()) << "tail '" << tail << "'";
    EXPECT_FALSE(r.data.HasSignificance);
    EXPECT_EQ(r.data.Significance, tMatrixOfDouble(3, tVectorOfDouble(3, 0.0)));
    EXPECT_FALSE(r.settings.SignificantOnly);
  }
  Reader wrong;
  wrong.settings.SignificantOnly = true;
  wrong.Read(std::string(kHead) + kLower + "[significant]\n1\n");
  EXPECT_EQ(
      wrong.reporter.warnings,
      std::vector<std::string>{"Significance matrix could not be read. File is perhaps corrupt."});
  EXPECT_EQ(wrong.data.Significance, tMatrixOfDouble(3, tVectorOfDouble(3, 0.0)));
  EXPECT_FALSE(wrong.settings.SignificantOnly);

  Reader empty;
  empty.Read("[sample size]\n0\n[coordinates]\n[genetic distance]\n");
  EXPECT_EQ(empty.data.SampleSize, 0);
  EXPECT_TRUE(empty.data.SamplePoints.empty());
  EXPECT_TRUE(empty.data.GeneticDistance.empty());
  EXPECT_TRUE(empty.data.Significance.empty());
  EXPECT_TRUE(empty.reporter.warnings.empty());
}

TEST(PopulationFile, CoordinatesKeepSinglePrecision) {
  Reader r;
  r.Read("[sample size]\n2\n[coordinates]\n300000.25 0.1\n5000000.1 -7000000.3\n"
         "[genetic distance]\n0\n1 0\n");
  EXPECT_EQ(r.data.SamplePoints[0].x, 300000.25);
  EXPECT_EQ(r.data.SamplePoints[0].y, static_cast<double>(0.1f));
  EXPECT_EQ(r.data.SamplePoints[1].x, 5000000.0);
  EXPECT_EQ(r.data.SamplePoints[1].y, -7000000.5);
}

TEST(PopulationFile, DamagedFilesNameTheFileLineAndText) {
  Reader r;
  const std::string file = r.dir.file("pop.txt");
  const auto corrupt = [&](int line, const std::string& what) {
    return "Genetic distance file is corrupt: " + file + " line " + std::to_string(line) + ": " +
           what;
  };
  const auto numeric = [&](int line, const std::string& what) {
    return "Invalid numeric input: " + file + " line " + std::to_string(line) + ": " + what;
  };
  EXPECT_EQ(
      r.Failure("[sample size]\n3\n[coordinates]\n1 2\n3.5 4\n-1 0.25\n\n[genetic distance]\n" +
                std::string(kLower)),
      corrupt(7, "expected \"[genetic distance]\", found an empty line"));
  EXPECT_EQ(r.Failure("[sample size]\r\n3\r\n[coordinates]\r\n1 2\r\n3.5 4\r\n-1 0.25\r\n"
                      "[Genetic distances]\r\n0\r\n"),
            corrupt(7, "expected \"[genetic distance]\", found \"[Genetic distances]\""));
  EXPECT_EQ(r.Failure("[sample size]\n3\n[coordinates]\npop1 1 2\n3.5 4\n-1 0.25\n"),
            numeric(4, "'pop1' is not a number"));
  EXPECT_EQ(r.Failure("[sample size]\n3\n[coordinates]\n1 2\n0,1497 4\n-1 0.25\n"),
            numeric(5, "'0,1497' is not a number"));
  EXPECT_EQ(r.Failure("[sample size]\n3.0\n[coordinates]\n"), numeric(2, "'3.0' is not a number"));
  EXPECT_EQ(r.Failure(std::string(kHead) + "0\n0.1 0\n0.2 0.3\n"), // truncated row
            corrupt(10, "the file ends inside the genetic distance rows"));
  EXPECT_EQ(r.Failure("[sample size]\n3\n[coordinates]\n1 2\n3.5 4\n-1"),
            corrupt(6, "the file ends inside the coordinates"));
  EXPECT_EQ(r.Failure(std::string(kHead) + kLower + "[significance]\n1\n0.05 1\n"),
            corrupt(11, "the significance rows of 3 samples need 6 numbers, more than the rest of "
                        "the file holds"));
  EXPECT_EQ(r.Failure("[sample size]\n"),
            corrupt(1, "expected the sample size, found the end of the file"));
  EXPECT_EQ(r.Failure("[sample size]\n-2\n[coordinates]\n[genetic distance]\n"),
            corrupt(2, "the sample size -2 is not between 0 and 2147483647"));
  EXPECT_EQ(r.Failure(""), corrupt(1, "expected \"[sample size]\", found the end of the file"));
  EXPECT_EQ(r.Failure("sample size\n3\n"),
            corrupt(1, "expected \"[sample size]\", found \"sample size\""));
  EXPECT_EQ(r.Failure("[sample size]\n3\n[coordinates]\n1 2\n3.5 4\n-1 0.25\n"),
            corrupt(6, "expected \"[genetic distance]\", found the end of the file"));
  // A size the file cannot hold fails before any table is sized.
  EXPECT_EQ(r.Failure("[sample size]\n2000000000\n[coordinates]\n1 2\n"),
            corrupt(3, "the coordinates of 2000000000 samples need 4000000000 numbers, more than "
                       "the rest of the file holds"));
  EXPECT_EQ(r.Failure("[sample size]\n1\n[coordinates]\n1e300 0\n"),
            numeric(4, "'1e300' is beyond single precision"));

  TAnalysisSettings s;
  tPopulationData d;
  RecordingReporter rep;
  s.DataFile = r.dir.file("missing.txt");
  try {
    ReadPopulationFile(s, d, rep);
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.txt"), std::string::npos) << e.what();
  }
}

TEST(PopulationFile, RejectedPointsAreEchoedAndStopTheRead) {
  const auto insideUnitSquare = [](double x, double y) {
    return x >= 0 && x <= 10 && y >= 0 && y <= 10;
  };
  Reader r;
  try {
    r.Read(
        "[sample size]\n3\n[coordinates]\n1 2\n30 4\n5 -0.5\n[genetic distance]\n0\n1 0\n1 1 0\n",
        insideUnitSquare);
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Some points were outside of the map. Process is interrupted. "
                           "Outside: point 1 at (30, 4), point 2 at (5, -0.5)");
  }
  EXPECT_EQ(r.reporter.logs, (std::vector<std::string>{"30\t4 *** Outside of the map ***",
                                                       "5\t-0.5 *** Outside of the map ***"}));
  EXPECT_EQ(r.data.SamplePoints, (t2DPoints{{1, 2}}));

  Reader ok;
  ok.Read(std::string(kHead) + kLower, [](double x, double) { return x < 10; });
  EXPECT_EQ(ok.data.SamplePoints.size(), 3u);
}

TEST(PopulationFile, ManyRejectedPointsAreListedUpToALimit) {
  std::string content = "[sample size]\n25\n[coordinates]\n";
  for (int k = 0; k < 25; ++k) content += std::to_string(100 + k) + " 0.5\n";
  Reader r;
  const std::string message =
      MessageOf<EInOutError>([&] { r.Read(content, [](double x, double) { return x < 100; }); });
  EXPECT_EQ(
      message.rfind(std::string(kOutsidePointsError) + " Outside: point 0 at (100, 0.5), ", 0), 0u)
      << message;
  EXPECT_NE(message.find("point 19 at (119, 0.5), and 5 more"), std::string::npos) << message;
  EXPECT_EQ(message.find("point 20 "), std::string::npos) << message;
  // Every refused point is still logged.
  EXPECT_EQ(r.reporter.logs.size(), 25u);
  EXPECT_EQ(r.reporter.logs.back(), "124\t0.5 *** Outside of the map ***");

  // The note follows when no point at all was accepted, given every point.
  t2DPoints given;
  const tAllRefusedNote note = [&given](const t2DPoints& p) {
    given = p;
    return std::string(" None.");
  };
  Reader none;
  const std::string all = MessageOf<EInOutError>([&] {
    none.Read(
        content, [](double x, double) { return x < 100; }, note);
  });
  EXPECT_EQ(all.rfind(", and 5 more None."), all.size() - 18) << all;
  ASSERT_EQ(given.size(), 25u);
  EXPECT_EQ(given.back(), (t2DPoint{124, 0.5}));
  given.clear();
  Reader some;
  const std::string part = MessageOf<EInOutError>([&] {
    some.Read(
        content, [](double x, double) { return x < 101; }, note);
  });
  EXPECT_EQ(part.find("None."), std::string::npos) << part;
  EXPECT_TRUE(given.empty());
}
