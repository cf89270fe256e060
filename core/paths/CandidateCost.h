#pragma once
// Internals of the Monte-Carlo least-cost search (CostPath.h): what a
// candidate costs.
#include "base/CommonDecl.h"
#include "paths/CostPathDecl.h"

#include <cstdint>
#include <span>

namespace stravex {
class tLiveRaster;
}

namespace stravex::costpath {

using tCells = std::span<const t2DiPoint>;

// What one search compares its candidates by.
struct tSearch {
  const tMatrixOfSingle& friction;
  const tLiveRaster* topography; // only when the slope is checked
  int d;
  double tolerance;
  double lengthWeight, frictionWeight;
  tMinimiseCriterion criterion;
  t2DiPoint first, last;
};

// The criterion value from the sum s and sum of squares q of n frictions.
long double ValueOfSums(tMinimiseCriterion criterion, long double s, long double q, uint32_t n);

inline long double CostOf(const tSearch& q, long double value, uint64_t nodes) {
  return value * static_cast<long double>(q.frictionWeight) +
         static_cast<long double>(nodes) * static_cast<long double>(q.lengthWeight);
}

// The cost of a candidate of `nodes` nodes in path order, or nothing when
// the slope test refuses it.
bool CandidateCost(const tSearch& q, tCells inner, uint64_t nodes, long double& cost);

// The friction sum of a candidate whose inner cells come in any order, when
// it is exact: it is then the sum in path order too, in long double as in
// double. Every friction is a whole multiple of the last place of the
// smallest nonzero magnitude among them; while the magnitudes add up to
// less than 2^53 of those units, so does every partial sum, in any order,
// and no addition rounds. Non-finite frictions fail the test (their sum is
// not finite).
bool ExactSum(const tMatrixOfSingle& friction, t2DiPoint first, tCells inner, t2DiPoint last,
              long double& sum);

} // namespace stravex::costpath
