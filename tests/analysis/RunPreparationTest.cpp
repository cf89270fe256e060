// The one run path of every front end: the maps of each role checked with
// the window's messages, the sequence read by the kinds that walk tracks, and
// every kind run as its analysis runs.
#include "analysis/RunPreparation.h"

#include "MapFixtures.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace stravex;
using namespace stravex::test;
namespace fs = std::filesystem;

namespace {

const fs::path kLandscape = STRAVEX_EXAMPLES_DIR "/landscape";

std::string Land(const char* name) { return (kLandscape / name).string(); }

tRunInputs LandscapeInputs(tAnalysisKind kind) {
  tRunInputs in;
  in.Kind = kind;
  in.BinaryMaps = {Land("forest_BL"), Land("roads_NB")};
  in.QuantitativeMaps = {Land("cover_QT")};
  in.SequenceFile = Land("tracks.txt");
  return in;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.rfind(start, 0) == 0;
}

// The name of every file a run wrote, in order, without its folder.
std::vector<std::string> Names(const tRunResult& result) {
  std::vector<std::string> names;
  for (const tWrittenFile& f : result.FilesWritten)
    names.push_back(fs::path(f.Path).filename().string());
  return names;
}

} // namespace

TEST(RunPreparation, ARefusedMapEndsThePreparationOnceEveryMapIsChecked) {
  TempDir dir;
  const std::string small = WriteMap(dir, "small", 3, 4, dtByte, Wave);
  tRunInputs in = LandscapeInputs(tAnalysisKind::Sequence);
  in.BinaryMaps.push_back(small);
  in.TopographyMap = Land("dem");
  in.FrictionMap = small;
  // Not read: a refusal ends the preparation before the sequence.
  in.SequenceFile = dir.file("missing.txt");

  RecordingReporter rep;
  tPreparedRun run;
  EXPECT_FALSE(PrepareRun(in, rep, run));
  ASSERT_EQ(rep.errors.size(), 2u);
  EXPECT_TRUE(StartsWith(rep.errors[0], "small cannot be overlaid on the previous maps."))
      << rep.errors[0];
  EXPECT_TRUE(StartsWith(rep.errors[1], "small cannot be overlaid on the ecogeographical maps."))
      << rep.errors[1];
  // The roles after the refusal were still checked, so that every refusal shows.
  EXPECT_EQ(run.Maps.BinaryMaps.size(), 2u);
  EXPECT_EQ(run.Maps.QuantitativeMaps.size(), 1u);
  EXPECT_TRUE(run.Maps.TopographyMap);
  EXPECT_FALSE(run.Sequence.LocationsLoaded);

  // Batch mode shows the same refusals and goes on with the maps that pass.
  in.SkipRefusedMaps = true;
  in.SequenceFile = Land("tracks.txt");
  RecordingReporter batch;
  tPreparedRun skipped;
  EXPECT_TRUE(PrepareRun(in, batch, skipped));
  EXPECT_EQ(batch.errors, rep.errors);
  ASSERT_EQ(skipped.Maps.AllMaps.size(), 4u);
  EXPECT_EQ(skipped.Maps.AllMaps[3], skipped.Maps.TopographyMap.get());
  EXPECT_TRUE(skipped.Sequence.LocationsLoaded);
}

TEST(RunPreparation, OnlyTheKindsThatWalkTracksReadTheSequence) {
  for (const tAnalysisKind kind : {tAnalysisKind::Sequence, tAnalysisKind::Bootstrap}) {
    RecordingReporter rep;
    tPreparedRun run;
    ASSERT_TRUE(PrepareRun(LandscapeInputs(kind), rep, run));
    EXPECT_TRUE(rep.errors.empty());
    EXPECT_TRUE(run.Sequence.LocationsLoaded);
    EXPECT_EQ(run.Sequence.Locations.size(), 12u);
    // The map list is built: binary maps, then quantitative ones.
    ASSERT_EQ(run.Maps.AllMaps.size(), 3u);
    EXPECT_EQ(run.Maps.AllMaps[2], run.Maps.QuantitativeMaps[0].get());
  }

  TempDir dir;
  tRunInputs matrix = LandscapeInputs(tAnalysisKind::PopulationMatrix);
  matrix.SequenceFile = dir.file("missing.txt");
  RecordingReporter rep;
  tPreparedRun run;
  EXPECT_TRUE(PrepareRun(matrix, rep, run));
  EXPECT_TRUE(run.Sequence.Locations.empty());
  EXPECT_EQ(run.Maps.AllMaps.size(), 3u);

  // A sequence that cannot be read is an error, not a refusal.
  tRunInputs sequence = LandscapeInputs(tAnalysisKind::Sequence);
  sequence.SequenceFile = dir.file("missing.txt");
  tPreparedRun unread;
  EXPECT_THROW((void)PrepareRun(sequence, rep, unread), EInOutError);
  EXPECT_TRUE(rep.errors.empty());
}

TEST(RunPreparation, EveryKindRunsAsItsAnalysis) {
  for (const tAnalysisKind kind :
       {tAnalysisKind::PopulationMatrix, tAnalysisKind::Sequence, tAnalysisKind::Bootstrap}) {
    SCOPED_TRACE(static_cast<int>(kind));
    RecordingReporter loading;
    tPreparedRun run;
    ASSERT_TRUE(PrepareRun(LandscapeInputs(kind), loading, run));
    TAnalysisSettings settings;
    settings.DataStructure = DataStructureOf(kind);
    settings.ProjectName = "Path";
    settings.DataFile = ReadsSequence(kind) ? Land("tracks.txt") : Land("samples.txt");
    settings.PathWidth = 3;
    settings.Bootstraps = 3;

    TempDir through, direct;
    RecordingReporter rep, directRep;
    tRunState state, directState;
    tAnalysisContext ctx{settings, run.Maps, rep, state, through.path().string()};
    const tRunResult result = RunAnalysis(kind, ctx, run.Sequence);
    tAnalysisContext directCtx{settings, run.Maps, directRep, directState, direct.path().string()};
    const tRunResult expected = kind == tAnalysisKind::PopulationMatrix
                                    ? PopulationMatrixAnalysis(directCtx)
                                : kind == tAnalysisKind::Sequence
                                    ? SequenceAnalysis(directCtx, run.Sequence)
                                    : SequenceBootstrap(directCtx, run.Sequence);
    ASSERT_EQ(expected.Outcome, tRunOutcome::Completed) << expected.Error;
    EXPECT_EQ(result.Outcome, tRunOutcome::Completed) << result.Error;
    ASSERT_FALSE(result.FilesWritten.empty());
    EXPECT_EQ(Names(result), Names(expected));
    for (const tWrittenFile& f : result.FilesWritten)
      EXPECT_EQ(ReadFileBytes(f.Path),
                ReadFileBytes((direct.path() / fs::path(f.Path).filename()).string()));
    EXPECT_EQ(rep.AnalysisLogs(), directRep.AnalysisLogs());
  }
}

TEST(RunPreparation, AFailedRunCarriesTheAnalysisError) {
  RecordingReporter loading;
  tPreparedRun run;
  ASSERT_TRUE(PrepareRun(LandscapeInputs(tAnalysisKind::PopulationMatrix), loading, run));
  TempDir dir;
  TAnalysisSettings settings;
  settings.DataFile = dir.file("missing.txt");
  RecordingReporter rep;
  tRunState state;
  tAnalysisContext ctx{settings, run.Maps, rep, state, dir.path().string()};
  const tRunResult result = RunAnalysis(tAnalysisKind::PopulationMatrix, ctx, run.Sequence);
  EXPECT_EQ(result.Outcome, tRunOutcome::Failed);
  EXPECT_NE(result.Error.find("missing.txt"), std::string::npos) << result.Error;
  EXPECT_THROW(result.Rethrow(), EStravexError);
  EXPECT_FALSE(state.Running);
}
