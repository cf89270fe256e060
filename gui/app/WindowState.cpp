#include "WindowState.h"

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
  const bool leastCost = UsesFriction(in.Algorithm);
  const bool exact = in.Algorithm == caExactLeastCost;
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
  v.PathWidthEnabled = !exact;
  v.SeedEnabled = !exact;
  v.PathWidthTip = exact ? "Not used by the exact least-cost path: it finds one path, the "
                           "cheapest, per pair or segment"
                         : "Width of the scanned path band";
  v.PathLabelTip = exact ? v.PathWidthTip : std::string();
  v.SeedTip = exact ? "Not used by the exact least-cost path: it draws no random numbers" : "";
  v.MinimiseTip = exact ? "The exact least-cost path minimises the friction sum only" : "";
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

} // namespace stravex::gui
