#include "CostPath.h"

#include "Errors.h"
#include "Numeric.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "StatOps.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stravex {

namespace {

const char* const kPathTooLong = "Path is too long. Impossible to compute the least-cost path.";

// ---------------------------------------------------------------------------
// Subdivision

// Nodes are held as reals in general, and as integers on integral ends (what
// every caller passes) on grids below 2^20 cells a side (every real map):
// midpoints and neighbour tests then are integer operations and displaced
// coordinates are rounded straight to integers, which shortens the chain of
// dependent steps from one node to the next. Both give the same nodes.

inline bool NeedsMidpoint(double aRow, double aCol, double bRow, double bCol) {
  const double dRow = bRow - aRow;
  const double dCol = bCol - aCol;
  return dCol * dCol + dRow * dRow > 2;
}

inline bool NeedsMidpoint(int64_t aRow, int64_t aCol, int64_t bRow, int64_t bCol) {
  const int64_t dRow = bRow - aRow;
  const int64_t dCol = bCol - aCol;
  return dCol * dCol + dRow * dRow > 2;
}

// round((a + b) / 2), halves to the even neighbour.
inline double Midpoint(double a, double b) { return RoundHalfEven((a + b) / 2); }
inline int64_t Midpoint(int64_t a, int64_t b) {
  const int64_t s = a + b;
  const int64_t k = s >> 1;
  return k + (s & k & 1);
}

inline int64_t RoundToInteger(double v) {
#if defined(__SSE2__)
  return _mm_cvtsd_si64(_mm_set_sd(v));  // nearest, halves to even (default mode)
#else
  return static_cast<int64_t>(std::nearbyint(v));
#endif
}

// round(m + p / level), the displaced coordinate.
struct tDisplacer {
  double level;
  double reciprocal;  // 1 / level

  double operator()(double m, double p) const { return RoundHalfEven(m + p / level); }

  // The division is the slowest step of the chain, so p * (1 / level) is
  // tried first: here |m|, |p / level| < 2^20, so the two sums differ by less
  // than 2^-30, and whenever the product lands farther than 2^-20 from a
  // half-integer both round to the same cell. Only otherwise is p divided.
  int64_t operator()(int64_t m, double p) const {
    const double md = static_cast<double>(m);
    const double v = md + p * reciprocal;
    const int64_t n = RoundToInteger(v);
    if (std::fabs(v - static_cast<double>(n)) < 0.5 - 0x1p-20) return n;
    return static_cast<int64_t>(RoundHalfEven(md + p / level));
  }
};

// A segment whose left part is being refined: its midpoint m is emitted and
// its right part (m, b) refined once the left part is done.
template <typename tCoord>
struct tPendingRight {
  tCoord mRow, mCol, bRow, bCol;
  int32_t depth;
};

template <typename tCoord>
std::vector<tPendingRight<tCoord>>& PendingStack() {
  thread_local std::vector<tPendingRight<tCoord>> stack;
  return stack;
}

// The recursion of the description run on an explicit stack (its depth
// depends on the data): at each segment the midpoint is drawn, then the left
// part is refined, then the midpoint is emitted, then the right part is
// refined. emit(row, col) receives the inserted nodes in path order.
template <typename tCoord, typename tEmit>
void Subdivide(tSubdivision& s, tCoord aRow, tCoord aCol, tCoord bRow, tCoord bCol,
               tEmit&& emit) {
  if (!NeedsMidpoint(aRow, aCol, bRow, bCol)) return;
  auto& stack = PendingStack<tCoord>();
  const std::size_t bottom = stack.size();
  const int32_t baseDepth = s.depth;
  int32_t depth = baseDepth + 1;
  tRandomGenerator& random = s.random;
  const double maxRow = s.rows - 1;
  const double maxCol = s.cols - 1;
  for (;;) {
    // (a, b) needs a midpoint at this depth.
    s.depth = depth;
    const tDisplacer displaced{static_cast<double>(depth), 1 / static_cast<double>(depth)};
    const tCoord mRow = Midpoint(aRow, bRow);
    const tCoord mCol = Midpoint(aCol, bCol);
    const double rowExtent = static_cast<double>(aCol - bCol);
    const double colExtent = static_cast<double>(bRow - aRow);
    tCoord nRow, nCol;
    do {
      const double u1 = random.Uniform();
      const double u2 = random.Uniform();
      nRow = displaced(mRow, (2 * u1 - 1) * rowExtent);
      nCol = displaced(mCol, (2 * u2 - 1) * colExtent);
    } while (!(nRow >= 0 && nRow <= maxRow && nCol >= 0 && nCol <= maxCol));

    if (NeedsMidpoint(aRow, aCol, nRow, nCol)) {
      stack.push_back({nRow, nCol, bRow, bCol, depth});
      bRow = nRow;
      bCol = nCol;
      ++depth;
      continue;
    }
    emit(static_cast<int32_t>(nRow), static_cast<int32_t>(nCol));
    if (NeedsMidpoint(nRow, nCol, bRow, bCol)) {
      aRow = nRow;
      aCol = nCol;
      ++depth;
      continue;
    }
    // Both parts done: finish the segments waiting for their right part.
    for (;;) {
      if (stack.size() == bottom) {
        s.depth = baseDepth;
        return;
      }
      const tPendingRight<tCoord> p = stack.back();
      stack.pop_back();
      emit(static_cast<int32_t>(p.mRow), static_cast<int32_t>(p.mCol));
      if (NeedsMidpoint(p.mRow, p.mCol, p.bRow, p.bCol)) {
        aRow = p.mRow;
        aCol = p.mCol;
        bRow = p.bRow;
        bCol = p.bCol;
        depth = p.depth + 1;
        break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Candidates

// Candidates are built in flat, in-order buffers that live as long as the
// thread, so a search allocates nothing once they have grown to the usual
// path length. Only the inner nodes are stored: the ends are the same for
// every candidate.
struct tWorkspace {
  t2DiPoints candidate;
  t2DiPoints best;
};

tWorkspace& Workspace() {
  thread_local tWorkspace ws;
  return ws;
}

// Empties a subdivision stack (an error may leave entries behind) and gives
// back its memory when one search blew it up.
template <typename tCoord>
void TrimStack(std::size_t keep) {
  auto& stack = PendingStack<tCoord>();
  stack.clear();
  if (stack.capacity() > keep) std::vector<tPendingRight<tCoord>>().swap(stack);
}

// Gives back buffers that one unusually long search blew up (also when the
// search leaves by an error); ordinary sizes stay for the next call.
class tWorkspaceTrim {
public:
  explicit tWorkspaceTrim(tWorkspace& ws) : fWs(ws) {}
  ~tWorkspaceTrim() {
    constexpr std::size_t kKeep = std::size_t(1) << 20;
    if (fWs.candidate.capacity() > kKeep) t2DiPoints().swap(fWs.candidate);
    if (fWs.best.capacity() > kKeep) t2DiPoints().swap(fWs.best);
    TrimStack<double>(kKeep);
    TrimStack<int64_t>(kKeep);
  }
  tWorkspaceTrim(const tWorkspaceTrim&) = delete;
  tWorkspaceTrim& operator=(const tWorkspaceTrim&) = delete;

private:
  tWorkspace& fWs;
};

// A cell index for a single-cell read of the topography map before the ends
// are known to lie in the grid; anything outside reads as outside.
int32_t LooseIndex(double v) {
  const double r = RoundHalfEven(v);
  if (!(r >= -2147483648.0)) return -1;  // also NaN
  if (r > 2147483647.0) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(r);
}

// Calls fn(node) for every node of a candidate in path order; stops early
// when fn returns false.
template <typename F>
void ForEachNode(t2DiPoint first, const t2DiPoints& inner, t2DiPoint last, F&& fn) {
  if (!fn(first)) return;
  for (const t2DiPoint& p : inner)
    if (!fn(p)) return;
  fn(last);
}

// Climb-only (d = 1) or descend-only (d = -1) test of one candidate. Each
// step may go against the direction by at most tolerance; every node but the
// last must hold topography data.
bool SlopeValid(const tLiveRaster& topo, int d, double tolerance, t2DiPoint first,
                const t2DiPoints& inner, t2DiPoint last) {
  t2DiPoint p = first;
  float zp = static_cast<float>(topo.GetCell(p.row, p.col));
  const double allowance = d * tolerance;
  auto step = [&](t2DiPoint q) {
    const float zq = static_cast<float>(topo.GetCell(q.row, q.col));
    const double dz = static_cast<double>(zq) - static_cast<double>(zp);
    if ((dz + allowance) * d < 0) return false;
    if (topo.IsFlagged(p.row, p.col)) return false;
    p = q;
    zp = zq;
    return true;
  };
  for (const t2DiPoint& q : inner)
    if (!step(q)) return false;
  return step(last);
}

inline bool IsFiniteFloat(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return (bits & 0x7F800000u) != 0x7F800000u;
}

// The criterion value from the sum s and sum of squares q of n frictions.
long double ValueOfSums(tMinimiseCriterion criterion, long double s, long double q, uint32_t n) {
  if (criterion == mcFrictionSum) return s;
  if (criterion == mcFrictionMean) return s / n;
  long double mean = 0, variance = 0;
  MeanAndVariance(n, mean, variance, s, q);
  return SDFromVariance(variance);
}

// The criterion value walking the nodes with saturating sums: criteria 0 and
// 1 go on after saturation, criterion 2 stops at the first one.
long double SaturatedValue(const tMatrixOfSingle& friction, tMinimiseCriterion criterion,
                           t2DiPoint first, const t2DiPoints& inner, t2DiPoint last) {
  constexpr long double kMax = LeastCostSaturation;
  long double s = 0, q = 0;
  uint32_t n = 0;
  bool saturated = false;
  ForEachNode(first, inner, last, [&](t2DiPoint p) {
    const float f = friction[p.row][p.col];
    ++n;
    if (f < kMax - s) {
      s += f;
    } else {
      s = kMax;
      saturated = true;
    }
    if (criterion != mcFrictionSD) return true;
    const long double f2 = static_cast<long double>(f) * f;
    if (f2 < kMax - q) {
      q += f2;
    } else {
      q = kMax;
      saturated = true;
    }
    return !saturated;
  });
  // A saturated SD has no meaningful value (the squared mean overflows):
  // the candidate rates as saturated rather than as NaN or 0.
  if (criterion == mcFrictionSD && saturated) return kMax;
  return ValueOfSums(criterion, s, q, n);
}

// The criterion value of a built candidate. While every friction is finite
// the sums stay below about 2^32 * FLT_MAX^2, far under the saturation value,
// so every saturation test would pass and plain sums are exact (kept in a
// loop of their own, where the 80-bit accumulators stay in registers); a
// non-finite friction sends the candidate through SaturatedValue.
long double CriterionValue(const tMatrixOfSingle& friction, tMinimiseCriterion criterion,
                           t2DiPoint first, const t2DiPoints& inner, t2DiPoint last) {
  bool finite = true;
  long double s = 0, q = 0;
  if (criterion == mcFrictionSD) {
    ForEachNode(first, inner, last, [&](t2DiPoint p) {
      const float f = friction[p.row][p.col];
      finite &= IsFiniteFloat(f);
      s += f;
      q += static_cast<long double>(f) * f;
      return true;
    });
  } else {
    ForEachNode(first, inner, last, [&](t2DiPoint p) {
      const float f = friction[p.row][p.col];
      finite &= IsFiniteFloat(f);
      s += f;
      return true;
    });
  }
  if (!finite) return SaturatedValue(friction, criterion, first, inner, last);
  return ValueOfSums(criterion, s, q, static_cast<uint32_t>(inner.size() + 2));
}

} // namespace

void SubdividePath(tSubdivision& s, double aRow, double aCol, double bRow, double bCol) {
  auto emit = [&](int32_t row, int32_t col) { s.inner.push_back({row, col}); };
  auto onSmallGrid = [&](double v) { return v >= 0 && v < 0x1p20 && v == std::floor(v); };
  if (s.rows < 0x1p20 && s.cols < 0x1p20 && onSmallGrid(aRow) && onSmallGrid(aCol) &&
      onSmallGrid(bRow) && onSmallGrid(bCol))
    Subdivide(s, static_cast<int64_t>(aRow), static_cast<int64_t>(aCol),
              static_cast<int64_t>(bRow), static_cast<int64_t>(bCol), emit);
  else
    Subdivide(s, aRow, aCol, bRow, bCol, emit);
}

void FindLeastCostPath(int32_t candidates, const tMatrixOfSingle& friction, t2DiPoints& path,
                       double tolerance, int32_t direction, const tLiveRaster* topography,
                       double lengthWeight, double frictionWeight, tMinimiseCriterion criterion,
                       long double& cost, uint32_t& length, double row1, double col1,
                       double row2, double col2) {
  if (candidates < 0) throw ERangeError("Range check error");
  if (criterion < mcFrictionSum || criterion > mcFrictionSD) throw ERangeError("Range check error");

  // Direction pre-check: an impossible direction draws no random number.
  if (topography && direction != 0) {
    const float z1 = static_cast<float>(topography->GetCell(LooseIndex(row1), LooseIndex(col1)));
    const float z2 = static_cast<float>(topography->GetCell(LooseIndex(row2), LooseIndex(col2)));
    if ((static_cast<double>(z2) - static_cast<double>(z1)) * direction < 0) {
      path.clear();
      length = 0;
      cost = -1;
      return;
    }
  }

  const std::size_t rowCount = friction.size();
  const std::size_t colCount = rowCount > 0 ? friction[0].size() : 0;
  const double rows = static_cast<double>(rowCount);
  const double cols = static_cast<double>(colCount);
  auto inMatrix = [&](double r, double c) {
    return r >= 0 && r <= rows - 1 && c >= 0 && c <= cols - 1;
  };
  if (!inMatrix(row1, col1) || !inMatrix(row2, col2))
    throw EAssertionFailed("Error in Least-Cost Path: path ends are out of map:(" +
                           FormatGeneral(row1) + "," + FormatGeneral(col1) + "),(" +
                           FormatGeneral(row2) + "," + FormatGeneral(col2) + ")");
  // Nodes are only checked against the first row's length.
  for (const auto& r : friction)
    if (r.size() != colCount)
      throw EAssertionFailed("Error in Least-Cost Path: friction matrix is not rectangular");

  tRandomGenerator& random = CurrentRandom();
  const int d = Sign(direction);
  const bool checkSlope = topography != nullptr && d != 0;
  const t2DiPoint first{RoundToInt32(row1), RoundToInt32(col1)};
  const t2DiPoint last{RoundToInt32(row2), RoundToInt32(col2)};

  tWorkspace& ws = Workspace();
  tWorkspaceTrim trim(ws);
  long double bestCost = LeastCostSaturation;
  uint64_t bestLength = 0;
  bool haveBest = false;
  try {
    for (int32_t i = 0; i < candidates; ++i) {
      ws.candidate.clear();
      tSubdivision s{random, rows, cols, 0, ws.candidate};
      SubdividePath(s, row1, col1, row2, col2);
      const uint64_t nodes = static_cast<uint64_t>(ws.candidate.size()) + 2;
      if (nodes > std::numeric_limits<uint32_t>::max()) throw EOutOfResources(kPathTooLong);

      if (checkSlope && !SlopeValid(*topography, d, tolerance, first, ws.candidate, last))
        continue;

      const long double value = CriterionValue(friction, criterion, first, ws.candidate, last);
      const long double c = value * static_cast<long double>(frictionWeight) +
                            static_cast<long double>(nodes) * static_cast<long double>(lengthWeight);
      if (c < bestCost || (c == bestCost && nodes < bestLength)) {
        std::swap(ws.candidate, ws.best);
        haveBest = true;
        bestCost = c;
        bestLength = nodes;
      }
    }

    if (!haveBest) {
      path.clear();
      length = 0;
      cost = -1;
      return;
    }
    path.resize(bestLength);
    path.front() = first;
    std::copy(ws.best.begin(), ws.best.end(), path.begin() + 1);
    path.back() = last;
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kPathTooLong);
  } catch (const std::length_error&) {
    throw EOutOfResources(kPathTooLong);
  }
  length = static_cast<uint32_t>(bestLength);
  cost = bestCost;
}

} // namespace stravex
