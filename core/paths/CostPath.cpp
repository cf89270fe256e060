#include "paths/CostPath.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/RandomFunctions.h"
#include "paths/CandidateBuild.h"
#include "paths/CandidateCost.h"
#include "paths/CandidateDraws.h"
#include "raster/Raster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

namespace stravex {

using namespace costpath;

namespace {

const char* const kPathTooLong = "Path is too long. Impossible to compute the least-cost path.";

// The buffers of a search live as long as the thread, so that a search
// allocates nothing once they have grown to the usual path length. Only
// the inner nodes are stored: the ends are the same for every candidate.
template <typename tCoord>
struct tCoordBuffers {
  std::vector<tPending<tCoord>> pending;
  std::vector<tFrame<tCoord>> frames;
};

struct tWorkspace {
  t2DiPoints cells; // a candidate's inner nodes, in no particular order
  std::vector<tDrawnNode> drawn, bestDrawn;
  t2DiPoints path; // a candidate's inner nodes in path order
  tCoordBuffers<int32_t> integer;
  tCoordBuffers<double> real;
};

tWorkspace& Workspace() {
  thread_local tWorkspace ws;
  return ws;
}

// Gives back buffers that one unusually long search blew up (also when the
// search leaves by an error); ordinary sizes stay for the next call.
class tWorkspaceTrim {
public:
  explicit tWorkspaceTrim(tWorkspace& ws) : fWs(ws) {}
  ~tWorkspaceTrim() {
    constexpr std::size_t kKeep = std::size_t(1) << 20;
    Trim(fWs.cells, kKeep);
    Trim(fWs.drawn, kKeep);
    Trim(fWs.bestDrawn, kKeep);
    Trim(fWs.path, kKeep);
    Trim(fWs.integer.pending, kKeep);
    Trim(fWs.integer.frames, kKeep);
    Trim(fWs.real.pending, kKeep);
    Trim(fWs.real.frames, kKeep);
  }
  tWorkspaceTrim(const tWorkspaceTrim&) = delete;
  tWorkspaceTrim& operator=(const tWorkspaceTrim&) = delete;

private:
  template <typename T>
  static void Trim(std::vector<T>& v, std::size_t keep) {
    if (v.size() > keep) std::vector<T>().swap(v);
  }
  tWorkspace& fWs;
};

// A cell index for a single-cell read of the topography map before the ends
// are known to lie in the grid; anything outside reads as outside.
int32_t LooseIndex(double v) {
  const double r = RoundHalfEven(v);
  if (!(r >= -2147483648.0)) return -1; // also NaN
  if (r > 2147483647.0) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(r);
}

struct tBest {
  long double cost = LeastCostSaturation;
  uint64_t length = 0;
  bool found = false;
};

// Puts the inner nodes of the subdivision of (a, b) whose drawn nodes are
// `drawn` (count of them) in path order in ws.path; `inner` is their number.
template <typename tCoord>
void PutInOrder(tWorkspace& ws, tCoordBuffers<tCoord>& buffers,
                const std::vector<tDrawnNode>& drawn, std::size_t count, std::size_t inner,
                tCoord aRow, tCoord aCol, tCoord bRow, tCoord bCol) {
  Reserve(ws.path, inner + kSettledSlots);
  Reserve(buffers.frames, count);
  Linearize(drawn.data(), count, aRow, aCol, bRow, bCol, buffers.frames.data(), ws.path.data());
}

// Builds and rates `candidates` candidates between the ends (ra, ca) and
// (rb, cb); the best one's inner nodes are left in ws.path, in order. The
// generator is given back the state after exactly the draws taken, also
// when an error leaves the search, so it advances as if every number were
// drawn one by one.
template <typename tCoord>
tBest RunCandidates(int32_t candidates, const tSearch& q, tCoord ra, tCoord ca, tCoord rb,
                    tCoord cb, tCoord maxRow, tCoord maxCol, tRandomGenerator& random,
                    tWorkspace& ws, tCoordBuffers<tCoord>& buffers) {
  tFactorRing ring(random.Words());
  tBuildState<tCoord> st{maxRow, maxCol, &ring, &ws.cells, &ws.drawn, &buffers.pending};
  // Without a slope test or a sum of squares, the order of the nodes only
  // counts when the friction sum rounds.
  const bool anyOrder = !q.topography && q.criterion != tMinimiseCriterion::FrictionSD;
  tBest best;
  std::size_t bestDrawn = 0;
  try {
    for (int32_t i = 0; i < candidates; ++i) {
      const std::size_t inner = BuildInner(st, ra, ca, rb, cb, 0);
      const uint64_t nodes = static_cast<uint64_t>(inner) + 2;
      if (nodes > std::numeric_limits<uint32_t>::max()) throw EOutOfResources(kPathTooLong);
      const tCells cells(ws.cells.data(), inner);
      long double c, sum;
      if (anyOrder && ExactSum(q.friction, q.first, cells, q.last, sum)) {
        c = CostOf(q, ValueOfSums(q.criterion, sum, 0, static_cast<uint32_t>(nodes)), nodes);
      } else {
        PutInOrder(ws, buffers, ws.drawn, st.recorded, inner, ra, ca, rb, cb);
        if (!CandidateCost(q, tCells(ws.path.data(), inner), nodes, c)) continue;
      }
      if (c < best.cost || (c == best.cost && nodes < best.length)) {
        std::swap(ws.drawn, ws.bestDrawn);
        bestDrawn = st.recorded;
        best = {c, nodes, true};
      }
    }
  } catch (...) {
    random.SetWords(ring.After());
    throw;
  }
  random.SetWords(ring.After());
  if (best.found) PutInOrder(ws, buffers, ws.bestDrawn, bestDrawn, best.length - 2, ra, ca, rb, cb);
  return best;
}

// Both ends must lie in the grid: drawn nodes must, and the midpoint of two
// cells in the grid is where the draws settle at last.
void CheckEnds(double rows, double cols, double row1, double col1, double row2, double col2) {
  auto inGrid = [&](double r, double c) {
    return r >= 0 && r <= rows - 1 && c >= 0 && c <= cols - 1;
  };
  if (!inGrid(row1, col1) || !inGrid(row2, col2))
    throw EAssertionFailed("Error in Least-Cost Path: path ends are out of map:(" +
                           FormatGeneral(row1) + "," + FormatGeneral(col1) + "),(" +
                           FormatGeneral(row2) + "," + FormatGeneral(col2) + ")");
}

} // namespace

void SubdividePath(tSubdivision& s, double aRow, double aCol, double bRow, double bCol) {
  CheckEnds(s.rows, s.cols, aRow, aCol, bRow, bCol);
  tWorkspace& ws = Workspace();
  tWorkspaceTrim trim(ws);
  tFactorRing ring(s.random.Words());
  auto run = [&](auto coord, auto& buffers, auto maxRow, auto maxCol) {
    using tCoord = decltype(coord);
    const tCoord ar = static_cast<tCoord>(aRow), ac = static_cast<tCoord>(aCol),
                 br = static_cast<tCoord>(bRow), bc = static_cast<tCoord>(bCol);
    tBuildState<tCoord> st{maxRow, maxCol, &ring, &ws.cells, &ws.drawn, &buffers.pending};
    std::size_t inner = 0;
    try {
      inner = BuildInner(st, ar, ac, br, bc, s.depth);
    } catch (...) {
      s.random.SetWords(ring.After());
      throw;
    }
    s.random.SetWords(ring.After());
    PutInOrder(ws, buffers, ws.drawn, st.recorded, inner, ar, ac, br, bc);
    s.inner.insert(s.inner.end(), ws.path.data(), ws.path.data() + inner);
  };
  auto integral = [](double v) { return v == std::floor(v); };
  if (s.rows < kSmallGrid && s.cols < kSmallGrid && integral(aRow) && integral(aCol) &&
      integral(bRow) && integral(bCol))
    run(int32_t{}, ws.integer, static_cast<int32_t>(s.rows) - 1, static_cast<int32_t>(s.cols) - 1);
  else
    run(double{}, ws.real, s.rows - 1, s.cols - 1);
}

tMinimiseCriterion MinimiseCriterionOf(int32_t value) {
  const auto first = static_cast<int32_t>(tMinimiseCriterion::FrictionSum);
  const auto last = static_cast<int32_t>(tMinimiseCriterion::FrictionSD);
  if (value < first || value > last) RaiseRangeCheck("minimisation criterion", value, first, last);
  return static_cast<tMinimiseCriterion>(value);
}

tFoundPath FindLeastCostPath(const tPathRequest& request, tRandomGenerator& random) {
  const tPathRules& rules = request.Rules;
  const int32_t candidates = request.Candidates;
  const double row1 = request.Row1, col1 = request.Col1, row2 = request.Row2, col2 = request.Col2;
  if (candidates < 0) RaiseRangeCheck("number of candidates", candidates, 0, INT32_MAX);
  // A cast integer may hold any value.
  MinimiseCriterionOf(static_cast<int32_t>(rules.Criterion));

  tFoundPath found;
  // Direction pre-check: an impossible direction draws no random number.
  const int d = SlopeSign(rules.Direction);
  const tLiveRaster* topography = rules.Topography;
  if (topography && d != 0) {
    const float z1 = static_cast<float>(topography->GetCell(LooseIndex(row1), LooseIndex(col1)));
    const float z2 = static_cast<float>(topography->GetCell(LooseIndex(row2), LooseIndex(col2)));
    if ((static_cast<double>(z2) - static_cast<double>(z1)) * d < 0) return found;
  }

  static const tMatrixOfSingle kNoFriction;
  const tMatrixOfSingle& friction = rules.Friction ? *rules.Friction : kNoFriction;
  const std::size_t rowCount = friction.size();
  const std::size_t colCount = rowCount > 0 ? friction[0].size() : 0;
  const double rows = static_cast<double>(rowCount);
  const double cols = static_cast<double>(colCount);
  CheckEnds(rows, cols, row1, col1, row2, col2);
  // Nodes are only checked against the first row's length.
  for (const auto& r : friction)
    if (r.size() != colCount)
      throw EAssertionFailed("Error in Least-Cost Path: friction matrix is not rectangular");

  const tSearch q{friction,
                  d != 0 ? topography : nullptr,
                  d,
                  rules.Tolerance,
                  rules.LengthWeight,
                  rules.FrictionWeight,
                  rules.Criterion,
                  {RoundToInt32(row1), RoundToInt32(col1)},
                  {RoundToInt32(row2), RoundToInt32(col2)}};

  tWorkspace& ws = Workspace();
  tWorkspaceTrim trim(ws);
  tBest best;
  try {
    auto integral = [](double v) { return v == std::floor(v); };
    if (rows < kSmallGrid && cols < kSmallGrid && integral(row1) && integral(col1) &&
        integral(row2) && integral(col2))
      best = RunCandidates<int32_t>(candidates, q, q.first.row, q.first.col, q.last.row, q.last.col,
                                    static_cast<int32_t>(rowCount) - 1,
                                    static_cast<int32_t>(colCount) - 1, random, ws, ws.integer);
    else
      best = RunCandidates<double>(candidates, q, row1, col1, row2, col2, rows - 1, cols - 1,
                                   random, ws, ws.real);

    if (!best.found) return found;
    found.Path.resize(best.length);
    found.Path.front() = q.first;
    std::copy_n(ws.path.begin(), best.length - 2, found.Path.begin() + 1);
    found.Path.back() = q.last;
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kPathTooLong);
  } catch (const std::length_error&) {
    throw EOutOfResources(kPathTooLong);
  }
  found.Length = static_cast<uint32_t>(best.length);
  found.Cost = best.cost;
  return found;
}

} // namespace stravex