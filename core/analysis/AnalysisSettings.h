#pragma once
// Every parameter of one analysis run. The window (or the batch command line)
// fills the record when a run starts; the run reads it and never changes it,
// except the reserved SignificantOnly that the population reader clears.
#include "base/CommonDecl.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

namespace stravex {

enum TDataStructure : int32_t { dsPopulationMatrix = 0, dsLocationSequence = 1 };

// Item index of the window's connectivity list.
enum TConnectivityAlgorithm : int32_t {
  caFixedWidthStrip = 0,
  caRatioStrip = 1,
  caLeastCostPath = 2,
  caExactLeastCost = 3,
  caResistanceDistance = 4
};

// Both least-cost algorithms search paths over the friction map.
inline constexpr bool UsesFriction(int32_t algorithm) {
  return algorithm == caLeastCostPath || algorithm == caExactLeastCost;
}

// The algorithms that read the friction map: both least-cost searches and the
// resistance distance, which reads it as a grid of resistors.
inline constexpr bool NeedsFriction(int32_t algorithm) {
  return UsesFriction(algorithm) || algorithm == caResistanceDistance;
}

// The resistance distance's solver: the direct one unless its factor would
// not fit the memory budget (auto), or the one named.
enum TResistanceSolver : int32_t { rsAuto = 0, rsDirect = 1, rsIterative = 2 };
inline constexpr std::array<const char*, 3> kResistanceSolverNames = {"auto", "direct",
                                                                      "iterative"};

enum TDelaunayUse : int32_t { duNone = 0, duInclude = 1, duRestrict = 2 };

inline constexpr std::array<const char*, 5> kConnectivityNames = {
    "Fixed-width strip", "Ratio-fixed strip", "Least-cost path", "Exact least-cost path",
    "Resistance distance"};
inline constexpr std::array<const char*, 6> kIgnoreUnitNames = {"Seconds", "Minutes", "Hours",
                                                                "Days",    "Month",   "Years"};
inline constexpr std::array<const char*, 2> kFittingFunctionNames = {"Linear regression",
                                                                     "Logistic regression"};

inline constexpr const char* kInitialProjectName = "Friction";

// Default project name of an algorithm ("Friction-FixedStrip", ...). An
// algorithm outside the enumeration gets the fixed-width name.
std::string DefaultProjectName(TConnectivityAlgorithm algorithm);

// Inclusive range of an integer setting.
struct tIntRange {
  int32_t Min;
  int32_t Max;
  constexpr bool Contains(int64_t v) const { return v >= Min && v <= Max; }
  constexpr int32_t Clamp(int64_t v) const {
    return static_cast<int32_t>(v < Min ? Min : (v > Max ? Max : v));
  }
};

inline constexpr tIntRange kPathWidthRange{1, 99999};
inline constexpr tIntRange kSeedRange{0, 9999999};
inline constexpr tIntRange kMinimiseRange{0, 2};
inline constexpr tIntRange kPairDistanceThresholdRange{0, 999999999};
inline constexpr tIntRange kIgnoreTimeRange{0, 99999};
inline constexpr tIntRange kIgnoreUnitRange{0, 5};
inline constexpr tIntRange kBootstrapsRange{1, 10000};
inline constexpr tIntRange kFittingFunctionRange{0, 1};
inline constexpr tIntRange kFrequencyThresholdRange{0, 100};
inline constexpr tIntRange kSignificanceThresholdRange{0, 100};
inline constexpr tIntRange kReplicatesRange{0, 999999};
inline constexpr tIntRange kIterationsRange{0, 999999};

// The path width control steps through odd values only: an even value is
// raised by one.
constexpr int32_t MakeOdd(int32_t v) { return (v % 2 == 0) ? v + 1 : v; }

// Clamped into the path width range, then made odd (the range ends are odd,
// so the result stays in range).
constexpr int32_t ClampPathWidth(int64_t v) { return MakeOdd(kPathWidthRange.Clamp(v)); }

// A decimal text as typed: optional blanks around, optional sign, digits with
// an optional "." and an optional exponent. Nothing else converts (no decimal
// comma, no "inf" or "nan"); a value beyond the range of a double does not
// convert either.
std::optional<double> ParseDecimalText(const std::string& text);

struct TAnalysisSettings {
  TDataStructure DataStructure = dsPopulationMatrix;
  TConnectivityAlgorithm Connectivity = caFixedWidthStrip;
  // Strip width in cells, length:width ratio, or number of least-cost paths.
  int32_t PathWidth = 1;
  int32_t Seed = 10;
  // Index into the criterion names "Friction sum", "Friction mean", "Friction SD".
  int32_t Minimise = 0;
  // Kept as typed; reports and map notes quote the text, not the value.
  std::string FrictionWeight = "1";
  std::string LengthWeight = "0";
  std::string FrictionMapFile;
  std::string CorridorMapName; // empty: no corridor map
  bool OneMapPerPair = false;
  int32_t Direction = 0; // +1 uphill only, -1 downhill only, 0 both ways
  std::string ElevationTolerance = "1";
  TDelaunayUse DelaunayUse = duNone;
  int32_t PairDistanceThreshold = 999999999;
  int32_t IgnoreTime = 0;
  int32_t IgnoreUnit = 3; // "Days"
  int32_t Bootstraps = 100;
  bool DistanceDistribution = false;
  std::string ProjectName = kInitialProjectName;
  std::string DataFile;
  bool EchoSamplePoints = false;
  bool EchoMatrices = true;
  // How points become cells of the maps.
  tCellRule CellRule = crContaining;
  // Population matrix runs: an N x N matrix file per pair statistic at the end.
  bool PairMatrices = false;
  // Resistance distance runs: the solver of the network.
  TResistanceSolver ResistanceSolver = rsAuto;

  // Reserved: only the batch command line reads and writes these; they keep
  // its positions stable.
  int32_t FittingFunction = 0;
  bool Stepwise = false;
  int32_t FrequencyThreshold = 0;
  bool SignificantOnly = false;
  int32_t SignificanceThreshold = 0;
  bool IncludeGeographicDistance = true;
  int32_t Replicates = 1000;
  int32_t Iterations = 1;
  bool ConnectivityDataset = true;
  bool EcoDistanceMatrix = false;
  bool NameOnCommandLine = false;

  bool operator==(const TAnalysisSettings&) const = default;

  // Converted decimal texts with their fallbacks for text that does not convert.
  double FrictionWeightValue() const;
  // 0 in the population matrix analysis, 1 in the sequence analysis and bootstrap.
  double LengthWeightValue(bool forSequence) const;
  double ElevationToleranceValue() const;

  // Empty when every field lies in its range, else a message naming the first
  // offending field, its value and what is allowed.
  std::string ValidationMessage() const;
  // Raises ERangeError with ValidationMessage() when it is not empty.
  void Validate() const;
};

// Run flags shared by every analysis and the bootstrap. A front end reads
// them and requests a cancel from its own thread while a run goes on.
struct tRunState {
  std::atomic<bool> Running{false};
  std::atomic<bool> CancelRequested{false};

  // Start of a run: a cancel left from an earlier run is forgotten.
  void BeginRun() {
    CancelRequested = false;
    Running = true;
  }
  // Every way out of a run (normal end, cancel, error).
  void EndRun() {
    CancelRequested = false;
    Running = false;
  }
  // Cancel has an effect only while a run is under way; true when it took effect.
  bool RequestCancel() {
    if (!Running) return false;
    CancelRequested = true;
    return true;
  }
};

} // namespace stravex
