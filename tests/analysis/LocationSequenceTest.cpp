#include "analysis/LocationSequence.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace stravex;
using stravex::test::TempDir;
using stravex::test::WriteFileBytes;

namespace {

constexpr double kJan1st2000 = 36526; // days since 30 December 1899

struct Sequence {
  TempDir dir;
  tLocationSequence seq;

  void Read(const std::string& content) {
    WriteFileBytes(dir.file("seq.txt"), content);
    ReadLocationSequence(dir.file("seq.txt"), seq);
  }
  template <typename E>
  std::string Failure(const std::string& content) {
    try {
      Read(content);
    } catch (const E& e) {
      EXPECT_FALSE(seq.LocationsLoaded);
      EXPECT_TRUE(seq.Locations.empty());
      return e.what();
    }
    return "no error";
  }
};

} // namespace

TEST(LocationSequence, ReadsRecordsAndTheirTimes) {
  Sequence s;
  s.Read("X Y ID Day Month Year Hour Min Sec\r\n"
         "100.5 -3.2E2 1 1 1 2000 6 30 0\r\n"
         "101 200 1 1 1 2000 18 30 0 extra columns 7\r\n"
         "5 6\n 2 29 2\n2000 23 59 59\n");
  ASSERT_TRUE(s.seq.LocationsLoaded);
  ASSERT_EQ(s.seq.Locations.size(), 3u);
  const tLocation& a = s.seq.Locations[0];
  EXPECT_EQ(a.ID, 1u);
  EXPECT_EQ(a.X, 100.5);
  EXPECT_EQ(a.Y, -320.0);
  EXPECT_DOUBLE_EQ(a.Time, kJan1st2000 + 6.5 / 24);
  EXPECT_NEAR(s.seq.Locations[1].Time - a.Time, 0.5, 1e-9);
  const tLocation& c = s.seq.Locations[2];
  EXPECT_EQ(c.ID, 2u);
  EXPECT_EQ(c.X, 5.0);
  EXPECT_DOUBLE_EQ(c.Time, kJan1st2000 + 59 + 86399.0 / 86400); // 29 Feb 2000, a leap year

  s.Read("header only\n");
  EXPECT_TRUE(s.seq.LocationsLoaded);
  EXPECT_TRUE(s.seq.Locations.empty());
  s.Read("");
  EXPECT_TRUE(s.seq.LocationsLoaded);
  EXPECT_TRUE(s.seq.Locations.empty());

  // Blanks after the last record end the file: no extra all-zero record.
  s.Read("h\n1 2 3 4 5 2001 0 0 0\n\n   \t\r\n\n");
  ASSERT_TRUE(s.seq.LocationsLoaded);
  EXPECT_EQ(s.seq.Locations.size(), 1u);

  // The ID keeps its low 32 bits.
  s.Read("h\n0 0 4294967296 1 1 2000 0 0 0\n0 0 -1 1 1 2000 0 0 0\n0 0 4294967297 1 1 2000 0 0 0");
  ASSERT_EQ(s.seq.Locations.size(), 3u);
  EXPECT_EQ(s.seq.Locations[0].ID, 0u);
  EXPECT_EQ(s.seq.Locations[1].ID, 4294967295u);
  EXPECT_EQ(s.seq.Locations[2].ID, 1u);
}

TEST(LocationSequence, BadRecordsFailNamingTheFileAndLine) {
  Sequence s;
  const std::string f = s.dir.file("seq.txt");
  const std::string h = "header\n1 1 1 1 1 2000 0 0 0\n";
  s.Read(h);
  ASSERT_TRUE(s.seq.LocationsLoaded);
  EXPECT_EQ(s.Failure<EInOutError>(h + "1 1 one 1 1 2000 0 0 0\n"),
            "Invalid numeric input: " + f + " line 3: 'one' is not a number");
  EXPECT_EQ(s.Failure<EInOutError>(h + "1 1 1.0 1 1 2000 0 0 0\n"),
            "Invalid numeric input: " + f + " line 3: '1.0' is not a number");
  // A record spread over lines: the line of the token.
  EXPECT_EQ(s.Failure<EInOutError>(h + "1 1 1\r\n1 1 2000\r\n0 0 x\r\n"),
            "Invalid numeric input: " + f + " line 5: 'x' is not a number");
  const std::string d = s.Failure<EConvertError>(h + "1 1 1 31 2 2000 0 0 0\n");
  EXPECT_EQ(d, "Invalid argument to date encode: " + f +
                   " line 3 (location 1): day 31, month 2, year 2000, hour 0, minute 0, second 0");
  EXPECT_EQ(s.seq.ReadError, d);
  const auto startsWith = [](const std::string& text, const std::string& head) {
    return text.rfind(head, 0) == 0;
  };
  const std::string dateError = "Invalid argument to date encode: " + f + " line 3 (location 1)";
  const std::string timeError = "Invalid argument to time encode: " + f + " line 3 (location 1)";
  const std::string rangeError = "Range check error: " + f + " line 3 (location 1)";
  EXPECT_PRED2(startsWith, s.Failure<EConvertError>(h + "1 1 1 29 2 1900 0 0 0\n"), dateError);
  EXPECT_PRED2(startsWith, s.Failure<EConvertError>(h + "1 1 1 1 1 0 0 0 0\n"), dateError);
  EXPECT_PRED2(startsWith, s.Failure<EConvertError>(h + "1 1 1 1 1 2000 24 0 0\n"), timeError);
  EXPECT_PRED2(startsWith, s.Failure<EConvertError>(h + "1 1 1 1 1 2000 0 0 60\n"), timeError);
  EXPECT_EQ(s.Failure<ERangeError>(h + "1 1 1 70000 1 2000 0 0 0\n"),
            rangeError + ": day 70000, month 1, year 2000, hour 0, minute 0, second 0");
  EXPECT_PRED2(startsWith, s.Failure<ERangeError>(h + "1 1 1 1 1 2000 -1 0 0\n"), rangeError);
  // A record cut short names its location; a missing second is not read as 0.
  EXPECT_EQ(s.Failure<EInOutError>(h + "1 1 1 1 1 2000 0 0"),
            "Location 1 is cut short by the end of the file: " + f +
                " line 3 ends after 8 of its 9 numbers");
  EXPECT_EQ(s.Failure<EInOutError>("h\n1 1\n"), "Location 0 is cut short by the end of the file: " +
                                                    f + " line 2 ends after 2 of its 9 numbers");
  EXPECT_EQ(s.Failure<EInOutError>("[Sequence]\n2\n"),
            "Sequence file badly formatted: a first line \"[Sequence]\" is not supported (" + f +
                " line 1)");

  s.Read(h);
  EXPECT_TRUE(s.seq.ReadError.empty());
  EXPECT_THROW(ReadLocationSequence(s.dir.file("missing.txt"), s.seq), EInOutError);
  EXPECT_FALSE(s.seq.LocationsLoaded);
  EXPECT_NE(s.seq.ReadError.find("missing.txt"), std::string::npos) << s.seq.ReadError;
}

TEST(LocationSequence, DatesThresholdsAndRuns) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 12, 0, 0), 2.5);
  EXPECT_EQ(EncodeDateTime(2000, 1, 1, 0, 0, 0), kJan1st2000);
  EXPECT_EQ(EncodeDateTime(1, 1, 1, 0, 0, 0), -693593.0);
  EXPECT_EQ(EncodeDateTime(9999, 12, 31, 0, 0, 0), 2958465.0);
  EXPECT_THROW(EncodeDateTime(2001, 2, 29, 0, 0, 0), EConvertError);

  EXPECT_DOUBLE_EQ(IgnoreThreshold(86400, tIgnoreUnit::Seconds), 1.0);
  EXPECT_DOUBLE_EQ(IgnoreThreshold(720, tIgnoreUnit::Minutes), 0.5);
  EXPECT_DOUBLE_EQ(IgnoreThreshold(6, tIgnoreUnit::Hours), 0.25);
  EXPECT_DOUBLE_EQ(IgnoreThreshold(2, tIgnoreUnit::Days), 2.0);
  EXPECT_DOUBLE_EQ(IgnoreThreshold(2, tIgnoreUnit::Months), 60.0);
  EXPECT_DOUBLE_EQ(IgnoreThreshold(2, tIgnoreUnit::Years), 730.0);
  EXPECT_DOUBLE_EQ(IgnoreThreshold(2, static_cast<tIgnoreUnit>(6)), 0.0);
  EXPECT_DOUBLE_EQ(IgnoreThreshold(0, tIgnoreUnit::Days), 0.0);
}
