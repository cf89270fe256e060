// The one run path of every front end: the maps of each role checked with
// the window's messages, the sequence read by the kinds that walk tracks, and
// every kind run as its analysis runs.
#include "analysis/RunPreparation.h"

#include "MapFixtures.h"
#include "TestSupport.h"
#include "base/Errors.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>

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

namespace {

// Records the items a run reports, and cancels once it has reported some.
class tItemsReporter : public RecordingReporter {
public:
  void Items(uint64_t done, uint64_t total) override {
    std::lock_guard<std::mutex> lock(fItemsMutex);
    items.emplace_back(done, total);
  }
  bool CancelRequested() override {
    std::lock_guard<std::mutex> lock(fItemsMutex);
    return cancelAfterItems >= 0 && items.size() >= static_cast<std::size_t>(cancelAfterItems);
  }
  std::vector<std::pair<uint64_t, uint64_t>> items;
  int cancelAfterItems = -1;

private:
  std::mutex fItemsMutex;
};

TAnalysisSettings LandscapeSettings(tAnalysisKind kind) {
  TAnalysisSettings settings;
  settings.DataStructure = DataStructureOf(kind);
  settings.ProjectName = "Path";
  settings.DataFile = ReadsSequence(kind) ? Land("tracks.txt") : Land("samples.txt");
  settings.PathWidth = 3;
  settings.Bootstraps = 3;
  return settings;
}

} // namespace

TEST(RunPreparation, RunsReportTheirItemsDoneInOrderUpToTheTotal) {
  for (const tAnalysisKind kind :
       {tAnalysisKind::PopulationMatrix, tAnalysisKind::Sequence, tAnalysisKind::Bootstrap}) {
    SCOPED_TRACE(static_cast<int>(kind));
    RecordingReporter loading;
    tPreparedRun run;
    ASSERT_TRUE(PrepareRun(LandscapeInputs(kind), loading, run));
    const TAnalysisSettings settings = LandscapeSettings(kind);
    TempDir dir;
    tItemsReporter rep;
    tRunState state;
    tAnalysisContext ctx{settings, run.Maps, rep, state, dir.path().string(), 2};
    const tRunResult result = RunAnalysis(kind, ctx, run.Sequence);
    ASSERT_EQ(result.Outcome, tRunOutcome::Completed) << result.Error;
    ASSERT_FALSE(rep.items.empty());
    // 8 sample points: 28 pairs; 12 locations: 11 segments.
    const uint64_t total = kind == tAnalysisKind::PopulationMatrix ? 28
                           : kind == tAnalysisKind::Sequence       ? 11
                                                                   : rep.items.back().second;
    // First none done, then one more at each report.
    for (std::size_t k = 0; k < rep.items.size(); ++k) {
      EXPECT_EQ(rep.items[k].first, k);
      EXPECT_EQ(rep.items[k].second, total);
    }
    EXPECT_EQ(rep.items.back().first, total);
    // Every replicate of every individual with steps is a walk.
    if (kind == tAnalysisKind::Bootstrap) {
      EXPECT_EQ(total % 3, 0u);
    }
  }
}

namespace {

// Resumed, refused and checked on a cancelled run's files.
void CheckResumeRefusal(bool leastCost) {
  const tAnalysisKind kind = tAnalysisKind::PopulationMatrix;
  RecordingReporter loading;
  tPreparedRun run;
  ASSERT_TRUE(PrepareRun(LandscapeInputs(kind), loading, run));
  TAnalysisSettings settings = LandscapeSettings(kind);
  if (leastCost) {
    settings.Connectivity = caLeastCostPath;
    settings.FrictionMapFile = Land("friction.rst");
    settings.CorridorMapName = "corr";
    settings.PathWidth = 1;
  }
  TempDir dir;
  const std::string work = dir.path().string();
  const std::string report = dir.file("Path-MatrixAnalysis.txt");
  // No report yet.
  EXPECT_NE(ResumeRefusal(kind, settings, run.Maps, work, run.Sequence), "");

  // A journalled run cancelled after 5 pairs can be resumed.
  tItemsReporter rep;
  rep.cancelAfterItems = 6; // the first report is of none done
  tRunState state;
  tAnalysisContext ctx{settings, run.Maps, rep, state, work};
  ctx.Journal = true;
  ASSERT_EQ(RunAnalysis(kind, ctx, run.Sequence).Outcome, tRunOutcome::Cancelled);
  std::map<std::string, std::string> before;
  for (const auto& f : fs::directory_iterator(dir.path()))
    before[f.path().string()] = ReadFileBytes(f.path().string());
  EXPECT_EQ(ResumeRefusal(kind, settings, run.Maps, work, run.Sequence), "");

  // Other settings, edited rows, a lost journal: each refused with its reason.
  TAnalysisSettings wider = settings;
  wider.PathWidth = 5;
  EXPECT_NE(ResumeRefusal(kind, wider, run.Maps, work, run.Sequence), "");
  const std::string cut = ReadFileBytes(report);
  std::string edited = cut;
  edited[edited.rfind('\t') + 1] ^= 1;
  WriteFileBytes(report, edited);
  const std::string rows = ResumeRefusal(kind, settings, run.Maps, work, run.Sequence);
  EXPECT_NE(rows.find("Path-MatrixAnalysis.txt"), std::string::npos) << rows;
  WriteFileBytes(report, cut);
  EXPECT_EQ(ResumeRefusal(kind, settings, run.Maps, work, run.Sequence), "");
  EXPECT_NE(ResumeRefusal(tAnalysisKind::Bootstrap, settings, run.Maps, work, run.Sequence), "");
  // The checks wrote nothing: every file is as the cancelled run left it.
  std::map<std::string, std::string> after;
  for (const auto& f : fs::directory_iterator(dir.path()))
    after[f.path().string()] = ReadFileBytes(f.path().string());
  EXPECT_EQ(after, before);
  // The resumed run counts from the pairs it keeps.
  tItemsReporter resumedRep;
  tAnalysisContext resumed{settings, run.Maps, resumedRep, state, work};
  resumed.Resume = true;
  ASSERT_EQ(RunAnalysis(kind, resumed, run.Sequence).Outcome, tRunOutcome::Completed);
  ASSERT_EQ(resumedRep.items.size(), 24u);
  EXPECT_EQ(resumedRep.items.front(), (std::pair<uint64_t, uint64_t>(5, 28)));
  EXPECT_EQ(resumedRep.items.back(), (std::pair<uint64_t, uint64_t>(28, 28)));
  fs::remove(dir.path() / "Path-MatrixAnalysis.journal");
  EXPECT_NE(ResumeRefusal(kind, settings, run.Maps, work, run.Sequence).find("journal"),
            std::string::npos);
}

} // namespace

TEST(RunPreparation, ResumeRefusalChecksAsTheResumedRunWithoutWritingAnything) {
  // Strips, and least-cost paths with the corridor map the resumed run would continue.
  for (const bool leastCost : {false, true}) {
    SCOPED_TRACE(leastCost);
    CheckResumeRefusal(leastCost);
  }
}
