#pragma once
// Pieces every analysis run shares: the run contract (start and end steps on
// every way out), the cancel check, progress percentages, log helpers and the
// resolution of a run's file names against its working folder.
#include "Analyses.h"
#include "Raster.h"
#include "Reporter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace stravex {

// Start steps on construction: cancel flag cleared, Running set, ctx.Reporter
// installed as the process-wide reporter (so that warnings raised deep in the
// raster and corridor code reach the run's front end). End steps on
// destruction, whatever the way out: task label "Ready", progress 0, run
// flags cleared, the previous reporter restored.
class tRunGuard {
public:
  explicit tRunGuard(tAnalysisContext& ctx);
  ~tRunGuard();
  tRunGuard(const tRunGuard&) = delete;
  tRunGuard& operator=(const tRunGuard&) = delete;

private:
  tAnalysisContext& fCtx;
  tReporter* fPrevious;
};

// Check point after a row, location or walk step: lets the front end process
// pending events, then tells whether the user asked the run to stop.
bool CancelPending(tAnalysisContext& ctx);

// Round(done / total x 100), halves to even; 0 when total is 0.
int ProgressPercent(uint64_t done, uint64_t total);

// Appends every line to the log.
void LogLines(tReporter& reporter, const std::vector<std::string>& lines);

// A file name of the run: a relative name is taken from ctx.WorkDir (the
// run's current folder); an absolute name, or any name when WorkDir is
// empty, is returned unchanged.
std::string RunPath(const tAnalysisContext& ctx, const std::string& name);

// ProjectName + "-" + fixedName in the run's working folder.
std::string RunReportPath(const tAnalysisContext& ctx, const std::string& fixedName);

// MapName of every map of a role, in list order.
std::vector<std::string> MapNames(const std::vector<std::unique_ptr<tLiveRaster>>& maps);

// Both sequence runs open their log entry alike: banner, binary map names,
// the location sequence file.
void LogSequenceBanner(tAnalysisContext& ctx);
// IgnoreThreshold of the settings, logged when IgnoreTime is at least 1.
double LogIgnoreThreshold(tAnalysisContext& ctx);
// Logs the algorithm line of a sequence run and, for least-cost paths, opens
// the friction map (none for strips).
std::unique_ptr<tRaster> OpenSequenceAlgorithm(tAnalysisContext& ctx);
// The message both sequence runs show when no sequence was read.
inline constexpr const char* kBadSequenceFile =
    "Sequence file badly formatted. Process interrupted.";

// True when (x, y) falls on a cell of the map's grid (RowOfY / ColOfX).
bool PointOnGrid(const tRaster& map, double x, double y);

} // namespace stravex
