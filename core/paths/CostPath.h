#pragma once
// Monte-Carlo least-cost path: random candidate paths built by recursive
// midpoint displacement between two cells of a friction map; the cheapest is
// kept. Results depend on the calling thread's generator (CurrentRandom()).
#include "base/CommonDecl.h"
#include "paths/CostPathDecl.h"

#include <cstdint>

namespace stravex {

class tLiveRaster;
class tRandomGenerator;

// Saturation value of the running sums and the "nothing kept yet" cost.
constexpr long double LeastCostSaturation = 1.1E4932L;

// Searches `candidates` random paths from (row1, col1) to (row2, col2) and
// returns the cheapest in `path` with its `cost` and `length` (node count).
// No valid candidate (or an impossible direction): empty path, length 0,
// cost -1. Ends outside the matrix raise EAssertionFailed; a negative
// candidate count or an unknown criterion raises ERangeError.
void FindLeastCostPath(int32_t candidates, const tMatrixOfSingle& friction, t2DiPoints& path,
                       double tolerance, int32_t direction, const tLiveRaster* topography,
                       double lengthWeight, double frictionWeight, tMinimiseCriterion criterion,
                       long double& cost, uint32_t& length, double row1, double col1, double row2,
                       double col2);

// What SubdividePath shares with its caller.
struct tSubdivision {
  tRandomGenerator& random;
  double rows = 0;   // rows of the friction matrix
  double cols = 0;   // columns of the friction matrix
  int32_t depth = 0; // active recursion levels
  t2DiPoints& inner; // the nodes inserted so far, in path order
};

// Appends to s.inner, in path order, the nodes between two consecutive nodes
// a and b (a itself and b are not emitted), starting below depth s.depth.
// Each midpoint is drawn before its left half is refined, so the generator
// is consumed in the same order as when the nodes are linked into a list.
// a and b must lie in the grid (EAssertionFailed otherwise), as nodes are
// drawn until they do.
void SubdividePath(tSubdivision& s, double aRow, double aCol, double bRow, double bCol);

} // namespace stravex
