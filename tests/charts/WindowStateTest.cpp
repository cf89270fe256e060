// The main window's enabling rules, batch steps and run feedback, without widgets.
#include "WindowState.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

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
  for (TConnectivityAlgorithm a : {caLeastCostPath, caExactLeastCost, caResistanceDistance}) {
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

  // The resistance distance reads the friction map; the search's settings say they are not used.
  in.Algorithm = caResistanceDistance;
  tWindowView resistance = ComputeWindowView(in);
  EXPECT_TRUE(resistance.LeastCostControlsVisible);
  EXPECT_FALSE(resistance.PathWidthEnabled || resistance.SeedEnabled);
  for (const std::string* tip :
       {&resistance.PathWidthTip, &resistance.SeedTip, &resistance.MinimiseTip})
    EXPECT_NE(tip->find("Not used by the resistance distance"), std::string::npos) << *tip;
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

TEST(RunFeedback, ItemsAreCountedInTheUnitOfTheAnalysis) {
  EXPECT_EQ(ItemsText(tAnalysisKind::PopulationMatrix, 3, 28), "pair 3 of 28");
  EXPECT_EQ(ItemsText(tAnalysisKind::Sequence, 1, 9), "segment 1 of 9");
  EXPECT_EQ(ItemsText(tAnalysisKind::Bootstrap, 40, 400), "walk 40 of 400");
}

TEST(RunFeedback, TimeLeftFollowsThePaceOfTheRunsOwnItems) {
  tTimeLeft t;
  EXPECT_FALSE(t.SecondsLeft()); // nothing reported yet
  // Maps read for 3 s before the first pair: the pace counts from there.
  t.Note(0, 28, 3.0);
  EXPECT_FALSE(t.SecondsLeft()); // no item done yet
  // 4 of 28 pairs in 2 s: 0.5 s a pair, 24 to go.
  t.Note(1, 28, 3.5);
  t.Note(4, 28, 5.0);
  ASSERT_TRUE(t.SecondsLeft());
  EXPECT_DOUBLE_EQ(*t.SecondsLeft(), 12.0);
  t.Note(28, 28, 17.0);
  EXPECT_FALSE(t.SecondsLeft()); // done: no estimate

  // A resumed run that kept 17 rows: its pace counts from pair 18 on, not
  // as if 18 pairs had been computed in 1 s.
  tTimeLeft resumed;
  resumed.Note(17, 28, 0.5);
  resumed.Note(18, 28, 1.5);
  ASSERT_TRUE(resumed.SecondsLeft());
  EXPECT_DOUBLE_EQ(*resumed.SecondsLeft(), 10.0);
  resumed.Note(20, 28, 6.5);
  EXPECT_DOUBLE_EQ(*resumed.SecondsLeft(), 16.0);
}

TEST(RunFeedback, TimesAreWrittenInTheirLargestUnits) {
  EXPECT_EQ(TimeLeftText(12.0), "about 12 s left");
  EXPECT_EQ(TimeLeftText(11.2), "about 12 s left"); // rounded up
  EXPECT_EQ(TimeLeftText(0.01), "about 1 s left");  // never "0 s"
  EXPECT_EQ(TimeLeftText(59.5), "about 1 min left");
  EXPECT_EQ(TimeLeftText(250), "about 4 min left");
  EXPECT_EQ(TimeLeftText(7500), "about 2 h 5 min left");
  EXPECT_EQ(DurationText(1.24), "1.2 s");
  EXPECT_EQ(DurationText(0.04), "0.0 s");
  EXPECT_EQ(DurationText(59.99), "1 min 0 s");
  EXPECT_EQ(DurationText(185), "3 min 5 s");
  EXPECT_EQ(DurationText(7530), "2 h 5 min");
}

TEST(RunFeedback, TheEndLineSaysHowTheRunEndedAndWhatTheReportHolds) {
  tRunSummary s;
  s.ItemsKnown = true;
  s.Done = s.Total = 28;
  s.Seconds = 1.23;
  s.Report = "Friction-LeastCost-MatrixAnalysis.txt";
  s.Rows = 28;
  EXPECT_EQ(RunEndLine(s),
            "Done: 28 pairs in 1.2 s \u2014 report Friction-LeastCost-MatrixAnalysis.txt");
  s.Kept = 17; // resumed
  EXPECT_EQ(RunEndLine(s), "Done: 28 pairs (11 new, 17 kept) in 1.2 s \u2014 report "
                           "Friction-LeastCost-MatrixAnalysis.txt");
  s.Kept = 0;
  s.Outcome = tRunOutcome::Cancelled;
  s.Done = 17;
  s.Rows = 17;
  EXPECT_EQ(RunEndLine(s), "Cancelled after 17 of 28 pairs \u2014 the report holds 17 rows");
  s.Kind = tAnalysisKind::Sequence;
  s.Done = 1;
  s.Total = 1;
  s.Rows = 1;
  EXPECT_EQ(RunEndLine(s), "Cancelled after 1 of 1 segment \u2014 the report holds 1 row");
  s.Kind = tAnalysisKind::Bootstrap;
  s.ItemsKnown = false;
  s.Report.clear();
  EXPECT_EQ(RunEndLine(s), "Cancelled before the first walk \u2014 no report was written");
  s.Outcome = tRunOutcome::Failed;
  s.Error = "Cannot open file \"x.rst\"";
  EXPECT_EQ(RunEndLine(s), "Failed after 1.2 s: Cannot open file \"x.rst\"");
  s.ItemsKnown = true;
  s.Done = 3;
  s.Total = 400;
  EXPECT_EQ(RunEndLine(s), "Failed after 3 of 400 walks: Cannot open file \"x.rst\"");
  s.Outcome = tRunOutcome::Completed;
  s.ItemsKnown = false;
  s.Report = "S-SequenceAnalysis.txt";
  EXPECT_EQ(RunEndLine(s), "Done: no walks in 1.2 s \u2014 report S-SequenceAnalysis.txt");
}

TEST(RunFeedback, ReportRowsAreTheLinesAfterTheHeader) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("stravex-rows-" + std::to_string(::getpid()) + ".txt");
  const auto write = [&](const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
    return ReportRows(file.string());
  };
  EXPECT_EQ(write("a\tb\r\n1\t2\r\n3\t4\r\n"), 2u);
  EXPECT_EQ(write("a\tb\r\n"), 0u);
  EXPECT_EQ(write("a\tb\r\n1\t2\r\n3\t"), 2u); // a cut last row counts
  EXPECT_EQ(write(""), 0u);
  // Longer than one read of the counter.
  std::string many = "h\r\n";
  for (int i = 0; i < 20000; ++i) many += "row " + std::to_string(i) + "\r\n";
  EXPECT_EQ(write(many), 20000u);
  std::filesystem::remove(file);
  EXPECT_EQ(ReportRows(file.string()), 0u); // no report
}

} // namespace
