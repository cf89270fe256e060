#include "RunSupport.h"

#include "Errors.h"
#include "LocationSequence.h"
#include "Numeric.h"
#include "ReportWriter.h"

#include <filesystem>

namespace stravex {

tRunGuard::tRunGuard(tAnalysisContext& ctx)
    : fCtx(ctx), fPrevious(SetCurrentReporter(&ctx.Reporter)) {
  fCtx.State.BeginRun();
}

tRunGuard::~tRunGuard() {
  // The end steps must all happen even if a front end's callback throws.
  try {
    fCtx.Reporter.TaskLabel("Ready");
    fCtx.Reporter.Progress(0);
  } catch (...) {
  }
  fCtx.State.EndRun();
  SetCurrentReporter(fPrevious);
}

bool CancelPending(tAnalysisContext& ctx) {
  ctx.Reporter.ProcessMessages();
  return ctx.Reporter.CancelRequested() || ctx.State.CancelRequested;
}

int ProgressPercent(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(
      RoundHalfEven(static_cast<double>(done) / static_cast<double>(total) * 100.0));
}

void LogLines(tReporter& reporter, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) reporter.Log(line);
}

std::string RunPath(const tAnalysisContext& ctx, const std::string& name) {
  if (ctx.WorkDir.empty() || name.empty()) return name;
  const std::filesystem::path p(name);
  if (p.is_absolute()) return name;
  return (std::filesystem::path(ctx.WorkDir) / p).string();
}

std::string RunReportPath(const tAnalysisContext& ctx, const std::string& fixedName) {
  return RunPath(ctx, ReportFileName(ctx.Settings.ProjectName, fixedName));
}

std::vector<std::string> MapNames(const std::vector<std::unique_ptr<tLiveRaster>>& maps) {
  std::vector<std::string> names;
  names.reserve(maps.size());
  for (const auto& m : maps) names.push_back(m->MapName());
  return names;
}

bool PointOnGrid(const tRaster& map, double x, double y) {
  try {
    return map.IsInside(map.RowOfY(y), map.ColOfX(x));
  } catch (const ERangeError&) {
    // Too far away for a cell index at all.
    return false;
  }
}

void LogSequenceBanner(tAnalysisContext& ctx) {
  tReporter& log = ctx.Reporter;
  LogLines(log, {"", "       *********************", "******** Sequence analysis **********",
                 "       *********************", ""});
  LogLines(log, LabelledNameLines("Ecological maps:\t", MapNames(ctx.Maps.BinaryMaps)));
  log.Log("Location sequence file:\t" + ctx.Settings.DataFile);
}

std::unique_ptr<tRaster> OpenSequenceAlgorithm(tAnalysisContext& ctx) {
  const TAnalysisSettings& s = ctx.Settings;
  switch (s.Connectivity) {
  case caFixedWidthStrip: ctx.Reporter.Log("Algorithm: fixed-width strip"); return nullptr;
  case caRatioStrip: ctx.Reporter.Log("Algorithm: ratio strip"); return nullptr;
  case caLeastCostPath: {
    auto friction = std::make_unique<tRaster>(RunPath(ctx, s.FrictionMapFile));
    ctx.Reporter.Log("Algorithm: least cost path");
    return friction;
  }
  }
  throw ERangeError("Range check error");
}

double LogIgnoreThreshold(tAnalysisContext& ctx) {
  const TAnalysisSettings& s = ctx.Settings;
  if (s.IgnoreTime >= 1) {
    const bool known = s.IgnoreUnit >= 0 && s.IgnoreUnit < static_cast<int32_t>(kIgnoreUnitNames.size());
    ctx.Reporter.Log("Ignore segments shorter than " + std::to_string(s.IgnoreTime) + " " +
                     (known ? kIgnoreUnitNames[static_cast<std::size_t>(s.IgnoreUnit)] : ""));
  }
  return IgnoreThreshold(s.IgnoreTime, s.IgnoreUnit);
}

} // namespace stravex
