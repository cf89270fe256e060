// The main window's enabling rules and batch steps, without widgets.
#include "WindowState.h"

#include <gtest/gtest.h>

using namespace stravex;
using namespace stravex::gui;

namespace {

// Maps, data and a project name: what Compute needs for a strip.
tWindowInputs Ready() {
  tWindowInputs in;
  in.MapCount = 1;
  in.HasProjectName = true;
  in.HasDataFile = true;
  return in;
}

TEST(WindowView, ComputeNeedsMapsDataNameAndForLeastCostAFrictionMap) {
  EXPECT_FALSE(ComputeWindowView(tWindowInputs{}).ComputeEnabled);
  EXPECT_TRUE(ComputeWindowView(Ready()).ComputeEnabled);
  for (auto drop : {&tWindowInputs::HasProjectName, &tWindowInputs::HasDataFile}) {
    tWindowInputs in = Ready();
    in.*drop = false;
    EXPECT_FALSE(ComputeWindowView(in).ComputeEnabled);
  }
  tWindowInputs noMaps = Ready();
  noMaps.MapCount = 0;
  EXPECT_FALSE(ComputeWindowView(noMaps).ComputeEnabled);
  for (TConnectivityAlgorithm a : {caLeastCostPath, caExactLeastCost}) {
    tWindowInputs in = Ready();
    in.Algorithm = a;
    EXPECT_FALSE(ComputeWindowView(in).ComputeEnabled) << a;
    in.HasFrictionMap = true;
    EXPECT_TRUE(ComputeWindowView(in).ComputeEnabled) << a;
  }
  // The data view needs only the data file.
  tWindowInputs dataOnly;
  dataOnly.HasDataFile = true;
  EXPECT_TRUE(ComputeWindowView(dataOnly).ViewDataEnabled);
  EXPECT_FALSE(ComputeWindowView(tWindowInputs{}).ViewDataEnabled);
}

// A disabled Compute says what it waits for; a batch line is offered only
// for what it can express, and says why not otherwise.
TEST(WindowView, DisabledComputeAndBatchCommandSayWhy) {
  EXPECT_EQ(ComputeWindowView(Ready()).ComputeMissing, "");
  EXPECT_EQ(ComputeWindowView(tWindowInputs{}).ComputeMissing,
            "Compute needs a map to scan, a data file and a project name");
  tWindowInputs leastCost = Ready();
  leastCost.Algorithm = caLeastCostPath;
  EXPECT_EQ(ComputeWindowView(leastCost).ComputeMissing, "Compute needs a friction map");
  leastCost.Running = true;
  EXPECT_EQ(ComputeWindowView(leastCost).ComputeMissing, "");

  EXPECT_TRUE(ComputeWindowView(Ready()).BatchCommandEnabled);
  tWindowInputs sequence = Ready();
  sequence.DataStructure = dsLocationSequence;
  sequence.HasQuantitativeMaps = true;
  const tWindowView v = ComputeWindowView(sequence);
  EXPECT_FALSE(v.BatchCommandEnabled);
  EXPECT_EQ(v.BatchCommandMissing, "A batch line runs a population matrix analysis over binary "
                                   "and count maps only; it cannot take location sequences and "
                                   "quantitative maps");
  tWindowInputs topography = Ready();
  topography.HasTopography = true;
  EXPECT_FALSE(ComputeWindowView(topography).BatchCommandEnabled);
}

TEST(WindowView, ARunLocksTheChoicesAndOffersCancelOnce) {
  tWindowInputs in = Ready();
  tWindowView idle = ComputeWindowView(in);
  EXPECT_TRUE(idle.ChoicesEnabled);
  EXPECT_FALSE(idle.CancelEnabled);
  in.Running = true;
  tWindowView running = ComputeWindowView(in);
  EXPECT_FALSE(running.ComputeEnabled);
  EXPECT_FALSE(running.ChoicesEnabled);
  EXPECT_FALSE(running.SettingsEnabled);
  EXPECT_TRUE(idle.SettingsEnabled);
  EXPECT_TRUE(running.CancelEnabled);
  in.CancelPending = true;
  EXPECT_FALSE(ComputeWindowView(in).CancelEnabled);
}

TEST(WindowView, DataStructureChoosesThePages) {
  tWindowInputs in;
  tWindowView v = ComputeWindowView(in);
  EXPECT_TRUE(v.MatrixPagesVisible);
  EXPECT_FALSE(v.SequencePagesVisible);
  in.DataStructure = dsLocationSequence;
  v = ComputeWindowView(in);
  EXPECT_FALSE(v.MatrixPagesVisible);
  EXPECT_TRUE(v.SequencePagesVisible);
}

TEST(WindowView, AlgorithmsShowTheirOwnControls) {
  tWindowInputs in;
  in.HasTopography = true;
  tWindowView strip = ComputeWindowView(in);
  EXPECT_FALSE(strip.LeastCostControlsVisible);
  EXPECT_FALSE(strip.TopographyVisible); // a DEM is used by least-cost paths only
  EXPECT_EQ(strip.PathCaption, tPathCaption::StripWidth);
  EXPECT_TRUE(strip.GeographicDistEnabled && !strip.GeographicDistCleared);
  EXPECT_TRUE(strip.JackKnifeEnabled);
  EXPECT_TRUE(strip.PathWidthEnabled && strip.SeedEnabled);
  EXPECT_EQ(strip.PathWidthTip, "Width of the scanned path band");
  EXPECT_TRUE(strip.PathLabelTip.empty() && strip.SeedTip.empty() && strip.MinimiseTip.empty());

  in.Algorithm = caRatioStrip;
  EXPECT_EQ(ComputeWindowView(in).PathCaption, tPathCaption::Ratio);

  in.Algorithm = caLeastCostPath;
  tWindowView lc = ComputeWindowView(in);
  EXPECT_TRUE(lc.LeastCostControlsVisible);
  EXPECT_TRUE(lc.TopographyVisible);
  EXPECT_EQ(lc.PathCaption, tPathCaption::PathCount);
  EXPECT_FALSE(lc.GeographicDistEnabled);
  EXPECT_TRUE(lc.GeographicDistCleared);
  EXPECT_FALSE(lc.JackKnifeEnabled);
  EXPECT_TRUE(lc.PathWidthEnabled && lc.SeedEnabled);
  in.HasTopography = false;
  EXPECT_FALSE(ComputeWindowView(in).TopographyVisible);

  // The exact search: one path, no random numbers; each says why it is off.
  in.Algorithm = caExactLeastCost;
  tWindowView exact = ComputeWindowView(in);
  EXPECT_TRUE(exact.LeastCostControlsVisible);
  EXPECT_EQ(exact.PathCaption, tPathCaption::PathCount);
  EXPECT_FALSE(exact.PathWidthEnabled);
  EXPECT_FALSE(exact.SeedEnabled);
  EXPECT_NE(exact.PathWidthTip.find("exact least-cost"), std::string::npos);
  EXPECT_EQ(exact.PathLabelTip, exact.PathWidthTip);
  EXPECT_NE(exact.SeedTip.find("random"), std::string::npos);
  EXPECT_NE(exact.MinimiseTip.find("friction sum"), std::string::npos);
}

TEST(WindowView, ModelFitSwitchesFollowTheirBoxes) {
  tWindowInputs in;
  tWindowView off = ComputeWindowView(in);
  EXPECT_FALSE(off.SignificanceEnabled || off.PartitionsEnabled || off.EcoMatrixEnabled ||
               off.FrictionMapEnabled);
  in.SignificantOnly = true;
  EXPECT_TRUE(ComputeWindowView(in).SignificanceEnabled);
  in.JackKnife = true;
  EXPECT_TRUE(ComputeWindowView(in).PartitionsEnabled);
  // The partitions follow their box even where the box itself is disabled.
  in.Algorithm = caLeastCostPath;
  EXPECT_TRUE(ComputeWindowView(in).PartitionsEnabled);
  in.FitModel = true;
  tWindowView fit = ComputeWindowView(in);
  EXPECT_TRUE(fit.EcoMatrixEnabled && fit.FrictionMapEnabled);
}

// Steps a sequence through `outcomes`, one per step; the steps visited.
std::vector<tBatchStep> Walk(tBatchSequence& b, const std::vector<bool>& outcomes) {
  std::vector<tBatchStep> steps{b.Step()};
  for (bool ok : outcomes) steps.push_back(b.Advance(ok));
  return steps;
}

TEST(BatchSequence, GoesFromTheLineToTheEndOnce) {
  tBatchSequence b;
  EXPECT_FALSE(b.Active());
  EXPECT_FALSE(b.Started());
  ASSERT_TRUE(b.Begin(true));
  EXPECT_TRUE(b.Started() && b.Active());
  EXPECT_EQ(Walk(b, {true, true, true, true, true}),
            (std::vector<tBatchStep>{tBatchStep::Prepare, tBatchStep::LoadMaps, tBatchStep::Apply,
                                     tBatchStep::Run, tBatchStep::SaveLog, tBatchStep::Quit}));
  EXPECT_FALSE(b.Active());
  // Done is done: neither another step nor a second start.
  EXPECT_EQ(b.Advance(true), tBatchStep::Quit);
  EXPECT_FALSE(b.Begin(true));
  EXPECT_EQ(b.Step(), tBatchStep::Quit);
}

TEST(BatchSequence, AFailedStepStopsAndTheWindowStays) {
  for (size_t failing = 0; failing < 5; ++failing) {
    tBatchSequence b;
    ASSERT_TRUE(b.Begin(true));
    std::vector<bool> outcomes(failing, true);
    outcomes.push_back(false);
    const std::vector<tBatchStep> steps = Walk(b, outcomes);
    EXPECT_EQ(steps.back(), tBatchStep::Stopped) << failing;
    EXPECT_FALSE(b.Active());
    EXPECT_TRUE(b.Started());
    EXPECT_EQ(b.Advance(true), tBatchStep::Stopped);
    EXPECT_FALSE(b.Begin(true)); // not started again
  }
}

TEST(BatchSequence, AnInteractiveLineNeverStarts) {
  tBatchSequence b;
  EXPECT_FALSE(b.Begin(false));
  EXPECT_FALSE(b.Started() || b.Active());
  EXPECT_EQ(b.Advance(true), tBatchStep::Idle);
}

} // namespace
