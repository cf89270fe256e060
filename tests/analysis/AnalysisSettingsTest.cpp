#include "analysis/AnalysisSettings.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

using namespace stravex;

TEST(AnalysisSettings, DefaultsAreValidAndNamesFollowTheAlgorithm) {
  const TAnalysisSettings s;
  EXPECT_EQ(s.ValidationMessage(), "");
  EXPECT_NO_THROW(s.Validate());
  EXPECT_STREQ(kIgnoreUnitNames[static_cast<size_t>(s.IgnoreUnit)], "Days");
  EXPECT_EQ(s.ProjectName, "Friction");
  EXPECT_EQ(DefaultProjectName(caFixedWidthStrip), "Friction-FixedStrip");
  EXPECT_EQ(DefaultProjectName(caRatioStrip), "Friction-RatioStrip");
  EXPECT_EQ(DefaultProjectName(caLeastCostPath), "Friction-LeastCost");
  EXPECT_EQ(DefaultProjectName(caExactLeastCost), "Friction-ExactLeastCost");
  EXPECT_EQ(DefaultProjectName(caResistanceDistance), "Friction-Resistance");
  EXPECT_STREQ(kConnectivityNames[caResistanceDistance], "Resistance distance");
  EXPECT_EQ(s.ResistanceSolver, rsAuto);

  EXPECT_EQ(ClampPathWidth(4), 5);
  EXPECT_EQ(ClampPathWidth(0), 1);
  EXPECT_EQ(ClampPathWidth(-7), 1);
  EXPECT_EQ(ClampPathWidth(99998), 99999);
  EXPECT_EQ(ClampPathWidth(5000000000LL), 99999);
}

TEST(AnalysisSettings, ValidationNamesTheFieldOutOfRange) {
  auto message = [](auto change) {
    TAnalysisSettings s;
    change(s);
    if (!s.ValidationMessage().empty()) {
      EXPECT_THROW(s.Validate(), ERangeError);
    }
    return s.ValidationMessage();
  };
  EXPECT_EQ(message([](TAnalysisSettings& s) { s.PathWidth = 0; }),
            "PathWidth 0 is out of range (allowed 1..99999)");
  EXPECT_EQ(message([](TAnalysisSettings& s) { s.PathWidth = 4; }),
            "PathWidth 4 is even (the path width is always odd)");
  EXPECT_EQ(message([](TAnalysisSettings& s) {
              s.Connectivity = static_cast<TConnectivityAlgorithm>(5);
            }),
            "Connectivity 5 is out of range (allowed 0..4)");
  EXPECT_EQ(
      message([](TAnalysisSettings& s) { s.ResistanceSolver = static_cast<TResistanceSolver>(3); }),
      "ResistanceSolver 3 is out of range (allowed 0..2)");
  EXPECT_EQ(message([](TAnalysisSettings& s) { s.Direction = 2; }),
            "Direction 2 is out of range (allowed -1..1)");
  EXPECT_EQ(message([](TAnalysisSettings& s) { s.Bootstraps = 0; }),
            "Bootstraps 0 is out of range (allowed 1..10000)");
  EXPECT_EQ(message([](TAnalysisSettings& s) { s.Iterations = 1000000; }),
            "Iterations 1000000 is out of range (allowed 0..999999)");
  EXPECT_EQ(message([](TAnalysisSettings& s) {
              s.PathWidth = 99999;
              s.Direction = -1;
              s.IgnoreUnit = 0;
              s.PairDistanceThreshold = 0;
            }),
            "");
}

TEST(AnalysisSettings, DecimalTextsFallBackWhenTheyDoNotConvert) {
  TAnalysisSettings s;
  // "1e" gets through the key filter but does not convert.
  s.FrictionWeight = s.LengthWeight = s.ElevationTolerance = "1e";
  EXPECT_EQ(s.FrictionWeightValue(), 1.0);
  EXPECT_EQ(s.LengthWeightValue(false), 0.0);
  EXPECT_EQ(s.LengthWeightValue(true), 1.0);
  EXPECT_EQ(s.ElevationToleranceValue(), 0.0);

  s.FrictionWeight = "2.5";
  s.LengthWeight = "-.5";
  s.ElevationTolerance = " 3E-1 ";
  EXPECT_EQ(s.FrictionWeightValue(), 2.5);
  EXPECT_EQ(s.LengthWeightValue(true), -0.5);
  EXPECT_DOUBLE_EQ(s.ElevationToleranceValue(), 0.3);
  EXPECT_EQ(ParseDecimalText("+4"), 4.0);
  EXPECT_EQ(ParseDecimalText("5."), 5.0);
  for (const char* bad : {"", "1,5", "inf", "nan", "+-1", ".", "e5", "1e+", "1e999", "0x10", "2 3"})
    EXPECT_FALSE(ParseDecimalText(bad).has_value()) << bad;
}

TEST(AnalysisSettings, CancelTakesEffectOnlyWhileRunning) {
  tRunState state;
  EXPECT_FALSE(state.RequestCancel());
  EXPECT_FALSE(state.CancelRequested);
  state.BeginRun();
  EXPECT_TRUE(state.RequestCancel());
  state.EndRun();
  EXPECT_FALSE(state.Running || state.CancelRequested);
  state.CancelRequested = true; // left over: the next run forgets it
  state.BeginRun();
  EXPECT_FALSE(state.CancelRequested);
}
