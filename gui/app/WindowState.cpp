#include "WindowState.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <vector>

namespace stravex::gui {

namespace {

// "a", "a and b", "a, b and c".
std::string JoinedWithAnd(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += i + 1 == items.size() ? " and " : ", ";
    text += items[i];
  }
  return text;
}

} // namespace

tWindowView ComputeWindowView(const tWindowInputs& in) {
  tWindowView v;
  // The resistance distance reads the friction map too, and shows its controls.
  const bool leastCost = NeedsFriction(in.Algorithm);
  const bool exact = in.Algorithm == caExactLeastCost;
  const bool resistance = in.Algorithm == caResistanceDistance;
  v.ComputeEnabled = !in.Running && in.MapCount > 0 && in.HasProjectName && in.HasDataFile &&
                     (in.HasFrictionMap || !leastCost);
  if (!in.Running && !v.ComputeEnabled) {
    std::vector<std::string> missing;
    if (in.MapCount == 0) missing.push_back("a map to scan");
    if (!in.HasDataFile) missing.push_back("a data file");
    if (leastCost && !in.HasFrictionMap) missing.push_back("a friction map");
    if (!in.HasProjectName) missing.push_back("a project name");
    v.ComputeMissing = "Compute needs " + JoinedWithAnd(missing);
  }
  std::vector<std::string> unbatchable;
  if (in.DataStructure != dsPopulationMatrix) unbatchable.push_back("location sequences");
  if (in.HasQuantitativeMaps) unbatchable.push_back("quantitative maps");
  if (in.HasTopography) unbatchable.push_back("a topography map");
  v.BatchCommandEnabled = !in.Running && unbatchable.empty();
  if (!unbatchable.empty())
    v.BatchCommandMissing = "A batch line runs a population matrix analysis over binary and "
                            "count maps only; it cannot take " +
                            JoinedWithAnd(unbatchable);
  v.ViewDataEnabled = in.HasDataFile;
  v.CancelEnabled = in.Running && !in.CancelPending;
  v.MatrixPagesVisible = in.DataStructure == dsPopulationMatrix;
  v.SequencePagesVisible = in.DataStructure == dsLocationSequence;
  v.LeastCostControlsVisible = leastCost;
  v.TopographyVisible = leastCost && in.HasTopography;
  v.PathCaption = leastCost                      ? tPathCaption::PathCount
                  : in.Algorithm == caRatioStrip ? tPathCaption::Ratio
                                                 : tPathCaption::StripWidth;
  v.GeographicDistEnabled = !leastCost;
  v.GeographicDistCleared = leastCost;
  v.JackKnifeEnabled = !leastCost;
  // The exact search finds the one optimal path of a pair and draws no
  // random numbers; only the friction-sum criterion has an exact search,
  // the others are refused when the run starts.
  v.PathWidthEnabled = !exact && !resistance;
  v.SeedEnabled = !exact && !resistance;
  v.PathWidthTip = exact        ? "Not used by the exact least-cost path: it finds one path, the "
                                  "cheapest, per pair or segment"
                   : resistance ? "Not used by the resistance distance: it measures one "
                                  "resistance per pair, over every path at once"
                                : "Width of the scanned path band";
  v.PathLabelTip = exact || resistance ? v.PathWidthTip : std::string();
  v.SeedTip = exact        ? "Not used by the exact least-cost path: it draws no random numbers"
              : resistance ? "Not used by the resistance distance: it draws no random numbers"
                           : "";
  v.MinimiseTip = exact        ? "The exact least-cost path minimises the friction sum only"
                  : resistance ? "Not used by the resistance distance, nor are the weights: it "
                                 "reads the friction map as a grid of resistors"
                               : "";
  v.SignificanceEnabled = in.SignificantOnly;
  v.PartitionsEnabled = in.JackKnife;
  v.EcoMatrixEnabled = in.FitModel;
  v.FrictionMapEnabled = in.FitModel;
  v.ChoicesEnabled = !in.Running;
  v.SettingsEnabled = !in.Running;
  return v;
}

bool tBatchSequence::Begin(bool batchLine) {
  if (fStarted || !batchLine) return false;
  fStarted = true;
  fStep = tBatchStep::Prepare;
  return true;
}

tBatchStep tBatchSequence::Advance(bool succeeded) {
  if (!Active()) return fStep;
  if (!succeeded) return fStep = tBatchStep::Stopped;
  switch (fStep) {
  case tBatchStep::Prepare: fStep = tBatchStep::LoadMaps; break;
  case tBatchStep::LoadMaps: fStep = tBatchStep::Apply; break;
  case tBatchStep::Apply: fStep = tBatchStep::Run; break;
  case tBatchStep::Run: fStep = tBatchStep::SaveLog; break;
  case tBatchStep::SaveLog: fStep = tBatchStep::Quit; break;
  default: break;
  }
  return fStep;
}

const char* ItemUnit(tAnalysisKind kind) {
  switch (kind) {
  case tAnalysisKind::Sequence: return "segment";
  case tAnalysisKind::Bootstrap: return "walk";
  case tAnalysisKind::PopulationMatrix: break;
  }
  return "pair";
}

namespace {

std::string Counted(uint64_t n, const char* unit) {
  return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

} // namespace

std::string ItemsText(tAnalysisKind kind, uint64_t done, uint64_t total) {
  return std::string(ItemUnit(kind)) + " " + std::to_string(done) + " of " + std::to_string(total);
}

void tTimeLeft::Note(uint64_t done, uint64_t total, double seconds) {
  // The first report comes before the run's first item: the pace counts from there.
  if (!fBefore) {
    fBefore = done;
    fStart = seconds;
  }
  fDone = done;
  fTotal = total;
  fSeconds = seconds;
}

std::optional<double> tTimeLeft::SecondsLeft() const {
  if (!fBefore || fDone <= *fBefore || fDone >= fTotal || fSeconds <= fStart) return std::nullopt;
  const double perItem = (fSeconds - fStart) / static_cast<double>(fDone - *fBefore);
  return perItem * static_cast<double>(fTotal - fDone);
}

std::string TimeLeftText(double seconds) {
  // Rounded up: "about 0 s" would promise an end that is not there yet.
  const auto s = static_cast<long long>(std::ceil(std::max(seconds, 1.0)));
  if (s < 60) return "about " + std::to_string(s) + " s left";
  const long long minutes = (s + 30) / 60;
  if (minutes < 60) return "about " + std::to_string(minutes) + " min left";
  return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
         " min left";
}

std::string DurationText(double seconds) {
  if (seconds < 59.95) {
    const long long tenths = std::llround(std::max(seconds, 0.0) * 10);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " s";
  }
  const long long s = std::llround(seconds);
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

std::string RunEndLine(const tRunSummary& s) {
  const std::string unit = ItemUnit(s.Kind);
  const std::string soFar = s.ItemsKnown ? "after " + std::to_string(s.Done) + " of " +
                                               Counted(s.Total, unit.c_str())
                                         : "before the first " + unit;
  switch (s.Outcome) {
  case tRunOutcome::Completed: {
    std::string line = "Done: ";
    line += s.ItemsKnown ? Counted(s.Total, unit.c_str()) : "no " + unit + "s";
    if (s.Kept > 0)
      line += " (" + std::to_string(s.Total - s.Kept) + " new, " + std::to_string(s.Kept) +
              " kept)";
    line += " in " + DurationText(s.Seconds);
    if (!s.Report.empty()) line += " \u2014 report " + s.Report;
    return line;
  }
  case tRunOutcome::Cancelled:
    return "Cancelled " + soFar + " \u2014 " +
           (s.Report.empty() ? std::string("no report was written")
                             : "the report holds " + Counted(s.Rows, "row"));
  case tRunOutcome::Failed: break;
  }
  return "Failed " + (s.ItemsKnown ? soFar : "after " + DurationText(s.Seconds)) + ": " + s.Error;
}

uint64_t ReportRows(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint64_t lines = 0;
  bool cut = false;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    const std::streamsize n = in.gcount();
    for (std::streamsize i = 0; i < n; ++i) lines += buffer[i] == '\n' ? 1 : 0;
    cut = buffer[n - 1] != '\n';
  }
  lines += cut ? 1 : 0;
  return lines > 0 ? lines - 1 : 0;
}

} // namespace stravex::gui
