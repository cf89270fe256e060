#include "analysis/AnalysisSettings.h"

#include "base/Errors.h"

#include <charconv>
#include <string_view>

namespace stravex {

std::string DefaultProjectName(TConnectivityAlgorithm algorithm) {
  switch (algorithm) {
  case caRatioStrip: return "Friction-RatioStrip";
  case caLeastCostPath: return "Friction-LeastCost";
  case caExactLeastCost: return "Friction-ExactLeastCost";
  case caResistanceDistance: return "Friction-Resistance";
  default: return "Friction-FixedStrip";
  }
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// True when s is sign? digits [. digits] [e sign? digits] with at least one
// mantissa digit; from_chars alone would also take "inf" and "nan".
bool LooksDecimal(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  return i == s.size();
}

std::string RangeText(const tIntRange& r) {
  return std::to_string(r.Min) + ".." + std::to_string(r.Max);
}

} // namespace

std::optional<double> ParseDecimalText(const std::string& text) {
  std::string_view s = TrimControls(text);
  if (!LooksDecimal(s)) return std::nullopt;
  if (s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

double TAnalysisSettings::FrictionWeightValue() const {
  return ParseDecimalText(FrictionWeight).value_or(1.0);
}

double TAnalysisSettings::LengthWeightValue(bool forSequence) const {
  return ParseDecimalText(LengthWeight).value_or(forSequence ? 1.0 : 0.0);
}

double TAnalysisSettings::ElevationToleranceValue() const {
  return ParseDecimalText(ElevationTolerance).value_or(0.0);
}

std::string TAnalysisSettings::ValidationMessage() const {
  struct Check {
    const char* name;
    int64_t value;
    tIntRange range;
  };
  const Check checks[] = {
      {"DataStructure", DataStructure, {0, 1}},
      {"Connectivity", Connectivity, {0, 4}},
      {"PathWidth", PathWidth, kPathWidthRange},
      {"Seed", Seed, kSeedRange},
      {"Minimise", Minimise, kMinimiseRange},
      {"Direction", Direction, {-1, 1}},
      {"DelaunayUse", DelaunayUse, {0, 2}},
      {"PairDistanceThreshold", PairDistanceThreshold, kPairDistanceThresholdRange},
      {"IgnoreTime", IgnoreTime, kIgnoreTimeRange},
      {"IgnoreUnit", IgnoreUnit, kIgnoreUnitRange},
      {"Bootstraps", Bootstraps, kBootstrapsRange},
      {"FittingFunction", FittingFunction, kFittingFunctionRange},
      {"FrequencyThreshold", FrequencyThreshold, kFrequencyThresholdRange},
      {"SignificanceThreshold", SignificanceThreshold, kSignificanceThresholdRange},
      {"ResistanceSolver", ResistanceSolver, {0, 2}},
      {"Replicates", Replicates, kReplicatesRange},
      {"Iterations", Iterations, kIterationsRange},
      {"CellRule", CellRule, {0, 1}},
  };
  for (const Check& c : checks)
    if (!c.range.Contains(c.value))
      return c.name + std::string(" ") + std::to_string(c.value) + " is out of range (allowed " +
             RangeText(c.range) + ")";
  if (PathWidth % 2 == 0)
    return "PathWidth " + std::to_string(PathWidth) + " is even (the path width is always odd)";
  return {};
}

void TAnalysisSettings::Validate() const {
  const std::string message = ValidationMessage();
  if (!message.empty()) throw ERangeError(message);
}

} // namespace stravex
