#pragma once
// Internals of the Monte-Carlo least-cost search (CostPath.h): building a
// candidate's subdivision in drawing order, and putting it in path order.
#include "base/CommonDecl.h"
#include "paths/CandidateDraws.h"
#include "paths/SettledTable.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace stravex::costpath {

// A subdivision is built in drawing order, the order of the recursion:
// a node, then its left part, then its right part. Its nodes go to a flat
// buffer as they come, in no particular order, which is all that a sum of
// frictions needs; the nodes drawn at random are also recorded in drawing
// order with which of their parts are open, from which Linearize puts the
// path in order. Only open parts take work per node: each iteration draws
// one node and picks the next open part without branching on the shape.

// A node drawn at random and which of its parts are open.
constexpr uint32_t kLeftOpen = 1, kRightOpen = 4;
struct tDrawnNode {
  t2DiPoint cell;
  uint32_t open;
};

// The right part (a, b) of a node whose parts are both open, waiting for the
// left one, and the draws of settled parts that come before it.
template <typename tCoord>
struct tPending {
  tCoord aRow, aCol, bRow, bCol;
  int32_t depth;
  uint32_t skip;
};

// A subdivision under way, with what lasts from one to the next: the bounds,
// the factor ring, and the buffers it writes. The buffers are only ever
// resized, so their sizes are their capacities.
template <typename tCoord>
struct tBuildState {
  tCoord maxRow, maxCol;
  tFactorRing* ring;
  t2DiPoints* cells;                      // every inner node, in no particular order
  std::vector<tDrawnNode>* drawn;         // the nodes drawn at random, in drawing order
  std::vector<tPending<tCoord>>* pending; // [0] is the bottom, which ends the build
  // The open part (a, b) to draw at `depth`, and what the buffers hold.
  tCoord aRow = 0, aCol = 0, bRow = 0, bCol = 0;
  int32_t depth = 0;
  std::size_t emitted = 0, recorded = 0, waiting = 0;
  // Generator steps to produce per node drawn: about the draws taken per
  // node drawn so far, less rather than more (a top-up makes up the rest).
  uint32_t ahead = 4;
  uint64_t drawsTaken = 0, nodesDrawn = 0;
};

// Cells one drawn node writes at most: itself and two settled parts.
constexpr std::size_t kCellsPerNode = 1 + 2 * kSettledSlots;

// A node whose left part is being put in order, with the end of its right part.
template <typename tCoord>
struct tFrame {
  t2DiPoint cell;
  uint32_t open;
  tCoord bRow, bCol;
};

// Makes v hold at least n elements.
template <typename T>
void Reserve(std::vector<T>& v, std::size_t n) {
  constexpr std::size_t kFirst = 1024;
  if (v.size() < n) v.resize(std::max({n, 2 * v.size(), kFirst}));
}

// Builds a subdivision of (a, b) below baseDepth: its inner nodes, in no
// particular order, in st.cells (returns their number), and its nodes drawn
// at random in st.drawn (st.recorded of them). Draws passed over may leave
// the ring behind the draws taken (After catches up).
template <typename tCoord>
std::size_t BuildInner(tBuildState<tCoord>& st, tCoord aRow, tCoord aCol, tCoord bRow, tCoord bCol,
                       int32_t baseDepth);

// Writes the inner nodes of a subdivision of (a, b) built by BuildInner to
// `out` in path order; `out` has room for them plus kSettledSlots, `stack`
// for one frame per drawn node.
template <typename tCoord>
void Linearize(const tDrawnNode* drawn, std::size_t count, tCoord aRow, tCoord aCol, tCoord bRow,
               tCoord bCol, tFrame<tCoord>* stack, t2DiPoint* out);

// Integer nodes on grids below 2^20 cells a side, real nodes otherwise.
extern template std::size_t BuildInner(tBuildState<int32_t>&, int32_t, int32_t, int32_t, int32_t,
                                       int32_t);
extern template std::size_t BuildInner(tBuildState<double>&, double, double, double, double,
                                       int32_t);
extern template void Linearize(const tDrawnNode*, std::size_t, int32_t, int32_t, int32_t, int32_t,
                               tFrame<int32_t>*, t2DiPoint*);
extern template void Linearize(const tDrawnNode*, std::size_t, double, double, double, double,
                               tFrame<double>*, t2DiPoint*);

} // namespace stravex::costpath
