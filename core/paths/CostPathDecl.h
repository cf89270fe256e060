#pragma once
// Names, choices and constants shared by the least-cost searches, their
// statistics, the corridor map and the settings window, and what a search
// is asked and finds.
#include "base/CommonDecl.h"

#include <array>
#include <cstdint>
#include <string>

namespace stravex {

class tLiveRaster;

// What a search minimises; the settings keep it as an integer 0..2, the
// index into MinimiseCriteria.
enum class tMinimiseCriterion : int32_t { FrictionSum = 0, FrictionMean = 1, FrictionSD = 2 };

inline const std::array<std::string, 3> MinimiseCriteria = {"Friction sum", "Friction mean",
                                                            "Friction SD"};

inline const std::string& CriterionText(tMinimiseCriterion criterion) {
  return MinimiseCriteria[static_cast<std::size_t>(criterion)];
}

// The settings' integer as a criterion; ERangeError ("minimisation
// criterion") outside 0..2.
tMinimiseCriterion MinimiseCriterionOf(int32_t value);

// Which way a path may go on the topography map.
enum class tSlopeDirection : int32_t { Downhill = -1, Both = 0, Uphill = 1 };

// The settings' integer as a direction: only its sign counts.
constexpr tSlopeDirection SlopeDirectionOf(int32_t value) {
  return value > 0   ? tSlopeDirection::Uphill
         : value < 0 ? tSlopeDirection::Downhill
                     : tSlopeDirection::Both;
}

// +1 uphill, -1 downhill, 0 both ways.
constexpr int SlopeSign(tSlopeDirection direction) { return static_cast<int>(direction); }

// Candidates per search: a request's default, and what every analysis uses.
constexpr int32_t LeastCostCandidates = 500;

// How paths are searched and rated, the same for every search of a run: the
// friction view, the criterion and its weights, and the slope rule (with a
// topography map and a direction, a step may go against the direction by
// at most tolerance).
struct tPathRules {
  const tMatrixOfSingle* Friction = nullptr; // required
  tMinimiseCriterion Criterion = tMinimiseCriterion::FrictionSum;
  double FrictionWeight = 1;
  double LengthWeight = 0;
  const tLiveRaster* Topography = nullptr;
  tSlopeDirection Direction = tSlopeDirection::Both;
  double Tolerance = 0;
};

// One least-cost search: the rules, the end cells (row, column; the
// Monte-Carlo search also takes fractional ones) and the number of random
// candidates.
struct tPathRequest {
  tPathRules Rules;
  double Row1 = 0, Col1 = 0, Row2 = 0, Col2 = 0;
  int32_t Candidates = LeastCostCandidates;
};

// A path found: its cells from the first end to the second, its cost and
// its number of cells. No path: empty, cost -1, length 0.
struct tFoundPath {
  t2DiPoints Path;
  long double Cost = -1;
  uint32_t Length = 0;
};

} // namespace stravex
