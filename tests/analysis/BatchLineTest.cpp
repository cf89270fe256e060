#include "analysis/BatchLine.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

using namespace stravex;

namespace {

using Args = std::vector<std::string>;

Args Line(const Args& from6 = {}, const std::string& name = "none") {
  Args args = {"stravex", "x", "maps.txt", "log.txt", "pop.txt", name};
  args.insert(args.end(), from6.begin(), from6.end());
  return args;
}

TAnalysisSettings Applied(const Args& args) {
  TAnalysisSettings s;
  ApplyBatchHead(*ParseBatchHead(args), s);
  ApplyBatchSettings(args, s);
  return s;
}

} // namespace

TEST(BatchLine, HeadNeedsFiveArgumentsAndReadsNoneInAnyCase) {
  EXPECT_FALSE(ParseBatchHead({"stravex", "x", "maps.txt", "log.txt", "pop.txt"}).has_value());
  EXPECT_TRUE(IsBatchCommandLine({"stravex", "X"}));
  EXPECT_FALSE(IsBatchCommandLine({"stravex", "call"}));

  const auto head = ParseBatchHead(Line({}, "NONE"));
  ASSERT_TRUE(head.has_value());
  EXPECT_EQ(head->MapListFile, "maps.txt");
  EXPECT_EQ(head->LogFile, "log.txt");
  // The map-list load resets the project name before position 6 is applied.
  const TAnalysisSettings s = Applied(Line({"2", "0", "0", "fric.rst"}, "NONE"));
  EXPECT_EQ(s.ProjectName, "Friction-FixedStrip");
  EXPECT_FALSE(s.NameOnCommandLine);
  EXPECT_EQ(s.DataFile, "pop.txt");
  EXPECT_EQ(s.Connectivity, caLeastCostPath);
  EXPECT_EQ(s.FrictionMapFile, "fric.rst");
  // 3: the exact least-cost path, written back alike by the batch-command builder.
  const TAnalysisSettings exact = Applied(Line({"3", "0", "0", "fric.rst"}, "NONE"));
  EXPECT_EQ(exact.Connectivity, caExactLeastCost);
  EXPECT_EQ(exact.ProjectName, "Friction-FixedStrip"); // reset before position 6, as above
  EXPECT_NE(BuildBatchCommand(exact, "p", "m").find(" none 3 0 0 \"fric.rst\" "),
            std::string::npos);
  // 4: the resistance distance, also read and written back.
  const TAnalysisSettings resistance = Applied(Line({"4", "0", "0", "fric.rst"}, "NONE"));
  EXPECT_EQ(resistance.Connectivity, caResistanceDistance);
  EXPECT_NE(BuildBatchCommand(resistance, "p", "m").find(" none 4 0 0 \"fric.rst\" "),
            std::string::npos);
  // Blanks around the friction map name are dropped, as by the friction field.
  EXPECT_EQ(Applied(Line({"2", "0", "0", " \tfric map.rst  "})).FrictionMapFile, "fric map.rst");

  const TAnalysisSettings named = Applied(Line({}, "Run7"));
  EXPECT_EQ(named.ProjectName, "Run7");
  EXPECT_TRUE(named.NameOnCommandLine);
}

TEST(BatchLine, SpinPositionsAreClampedAndFlagsOnlyOnWithOne) {
  const TAnalysisSettings s = Applied(Line({"1", "1", "2", "f.rst", "4", "500", "1", "-3", "7",
                                            "anything", "2000000", "-1", "0", "1", "0", "1"}));
  EXPECT_FALSE(s.Stepwise); // 2 is off
  EXPECT_EQ(s.PathWidth, 5);
  EXPECT_EQ(s.FrequencyThreshold, 100);
  EXPECT_TRUE(s.SignificantOnly);
  EXPECT_EQ(s.SignificanceThreshold, 0);
  EXPECT_FALSE(s.IncludeGeographicDistance); // 7 is off
  EXPECT_EQ(s.Replicates, 999999);
  EXPECT_EQ(s.Iterations, 0);
  for (const auto& [text, width] : std::vector<std::pair<std::string, int>>{
           {"0", 1}, {"4", 5}, {"100000", 99999}, {"99999999999", 99999}, {" 8 ", 9}, {"+2", 3}})
    EXPECT_EQ(Applied(Line({"0", "0", "0", "f", text})).PathWidth, width) << text;
}

TEST(BatchLine, ALineMayEndAfterAnyPosition) {
  const Args full = {"2", "1", "1", "fric.rst", "9", "50", "1", "40",
                     "0", "x", "5", "6",        "0", "1",  "0", "1"};
  const TAnalysisSettings d;
  for (size_t count = 0; count <= full.size(); ++count) {
    const TAnalysisSettings s = Applied(Line(Args(full.begin(), full.begin() + count)));
    const auto given = [count](int pos) { return static_cast<size_t>(pos - 5) <= count; };
    EXPECT_EQ(s.Connectivity, given(6) ? caLeastCostPath : d.Connectivity) << count;
    EXPECT_EQ(s.FittingFunction, given(7) ? 1 : d.FittingFunction) << count;
    EXPECT_EQ(s.Stepwise, given(8) || d.Stepwise) << count;
    EXPECT_EQ(s.FrictionMapFile, given(9) ? "fric.rst" : d.FrictionMapFile) << count;
    EXPECT_EQ(s.PathWidth, given(10) ? 9 : d.PathWidth) << count;
    EXPECT_EQ(s.FrequencyThreshold, given(11) ? 50 : d.FrequencyThreshold) << count;
    EXPECT_EQ(s.SignificantOnly, given(12) || d.SignificantOnly) << count;
    EXPECT_EQ(s.SignificanceThreshold, given(13) ? 40 : d.SignificanceThreshold) << count;
    EXPECT_EQ(s.IncludeGeographicDistance, !given(14) && d.IncludeGeographicDistance) << count;
    EXPECT_EQ(s.Replicates, given(16) ? 5 : d.Replicates) << count;
    EXPECT_EQ(s.Iterations, given(17) ? 6 : d.Iterations) << count;
    EXPECT_EQ(s.ConnectivityDataset, !given(18) && d.ConnectivityDataset) << count;
    EXPECT_EQ(s.EcoDistanceMatrix, given(19) || d.EcoDistanceMatrix) << count;
    EXPECT_EQ(s.EchoMatrices, !given(20) && d.EchoMatrices) << count;
    EXPECT_EQ(s.EchoSamplePoints, given(21) || d.EchoSamplePoints) << count;
  }
}

TEST(BatchLine, BadPositionsAreRefusedAndLeaveTheSettingsAlone) {
  TAnalysisSettings s;
  try {
    ApplyBatchSettings(Line({"1", "0", "0", "f", "abc"}), s);
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Position 10: 'abc' is not a valid integer value");
  }
  EXPECT_EQ(s.Connectivity, caFixedWidthStrip); // position 6 was not kept
  EXPECT_THROW(ApplyBatchSettings(Line({"1", "0", "1.0"}), s), EConvertError);
  EXPECT_THROW(ApplyBatchSettings(Line({""}), s), EConvertError);
  EXPECT_THROW(ApplyBatchSettings(Line({"0", "0", "0", "f", "99999999999999999999"}), s),
               EConvertError);
  try {
    ApplyBatchSettings(Line({"7"}), s);
    FAIL() << "no error";
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Position 6: connectivity algorithm 7 is out of range (allowed 0..4)");
  }
  EXPECT_THROW(ApplyBatchSettings(Line({"-1"}), s), ERangeError);
  EXPECT_THROW(ApplyBatchSettings(Line({"0", "2"}), s), ERangeError);
  EXPECT_EQ(s.FittingFunction, 0);
}

TEST(BatchLine, BatchCommandReproducesTheSettings) {
  TAnalysisSettings s;
  EXPECT_EQ(BuildBatchCommand(s, "/opt/stravex", "/data/maps.txt"),
            "\"/opt/stravex\" x \"/data/maps.txt\" \"Stravex.txt\" \"\" none "
            "0 0 0 \"\" 1 0 0 0 1 0 1000 1 1 0 1 0");

  // Every position differs from its default, so a shifted position shows.
  const Args args = Line({"2", "1", "1", "/data/fric.rst", "7", "12", "1", "5", "0", "0", "20", "3",
                          "0", "1", "0", "1"},
                         "My run");
  s = Applied(args);
  const std::string line = BuildBatchCommand(s, "/opt/stravex", "maps.txt");
  EXPECT_EQ(line, "\"/opt/stravex\" x \"maps.txt\" \"Stravex.txt\" \"pop.txt\" \"My run\" "
                  "2 1 1 \"/data/fric.rst\" 7 12 1 5 0 0 20 3 0 1 0 1");
  EXPECT_EQ(BatchCommandLogLines(s, "/opt/stravex", "maps.txt"),
            (std::vector<std::string>{"", "Batch command for the current settings:", line}));
}

// Position 22, after the last one of earlier versions: absent or 0 is the
// containing cell, 1 the rounded rule; the built line carries it only for 1.
TEST(BatchLine, CellRuleIsAnOptionalLastPosition) {
  const Args upTo21 = {"2", "1", "1",  "f", "7", "12", "1", "5",
                       "0", "0", "20", "3", "0", "1",  "0", "1"};
  EXPECT_EQ(Applied(Line(upTo21)).CellRule, crContaining);
  Args rounded = upTo21;
  rounded.push_back("1");
  const TAnalysisSettings s = Applied(Line(rounded));
  EXPECT_EQ(s.CellRule, crRounded);
  EXPECT_EQ(BuildBatchCommand(s, "p", "m").substr(BuildBatchCommand(s, "p", "m").size() - 4),
            " 1 1");
  rounded.back() = "0";
  EXPECT_EQ(Applied(Line(rounded)).CellRule, crContaining);
  rounded.back() = "2";
  TAnalysisSettings refused;
  try {
    ApplyBatchSettings(Line(rounded), refused);
    FAIL() << "no error";
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(),
                 "Position 22: cell rule 2 is out of range (allowed 0 containing, 1 rounded)");
  }
  EXPECT_EQ(refused.CellRule, crContaining);
}
