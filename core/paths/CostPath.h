#pragma once
// Monte-Carlo least-cost path: random candidate paths built by recursive
// midpoint displacement between two cells of a friction map; the cheapest is
// kept. Results depend only on the request and the generator passed in.
#include "base/CommonDecl.h"
#include "paths/CostPathDecl.h"

#include <cstdint>

namespace stravex {

class tRandomGenerator;

// Saturation value of the running sums and the "nothing kept yet" cost.
constexpr long double LeastCostSaturation = 1.1E4932L;

// Searches request.Candidates random paths between the request's ends,
// drawing from `random`, and returns the cheapest. No valid candidate (or an
// impossible direction): no path. Ends outside the matrix raise
// EAssertionFailed; a negative candidate count or an unknown criterion
// raises ERangeError. The generator is left after exactly the draws taken,
// also when an error ends the search.
tFoundPath FindLeastCostPath(const tPathRequest& request, tRandomGenerator& random);

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
