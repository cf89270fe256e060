#include "CostPath.h"

#include "Errors.h"
#include "Numeric.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "StatOps.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

namespace stravex {

namespace {

const char* const kPathTooLong = "Path is too long. Impossible to compute the least-cost path.";

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

// Gives back buffers that one unusually long search blew up (also when the
// search leaves by an error); ordinary sizes stay for the next call.
class tWorkspaceTrim {
public:
  explicit tWorkspaceTrim(tWorkspace& ws) : fWs(ws) {}
  ~tWorkspaceTrim() {
    constexpr std::size_t kKeep = std::size_t(1) << 20;
    if (fWs.candidate.capacity() > kKeep) t2DiPoints().swap(fWs.candidate);
    if (fWs.best.capacity() > kKeep) t2DiPoints().swap(fWs.best);
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
// when fn returns false. Returns false when stopped.
template <typename F>
bool ForEachNode(t2DiPoint first, const t2DiPoints& inner, t2DiPoint last, F&& fn) {
  if (!fn(first)) return false;
  for (const t2DiPoint& p : inner)
    if (!fn(p)) return false;
  return fn(last);
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

// Friction criterion of one candidate, with the running sums saturating at
// LeastCostSaturation.
long double CriterionValue(const tMatrixOfSingle& friction, tMinimiseCriterion criterion,
                           t2DiPoint first, const t2DiPoints& inner, t2DiPoint last) {
  constexpr long double kMax = LeastCostSaturation;
  long double s = 0;
  long double q = 0;
  uint32_t n = 0;
  // While every friction is finite the sums stay below about 2^32 * FLT_MAX^2,
  // far under the saturation value, so the saturation tests would all pass:
  // plain sums give the same values. Infinite or NaN friction takes the
  // step-by-step walk below.
  bool finite = true;
  if (criterion != mcFrictionSD) {
    ForEachNode(first, inner, last, [&](t2DiPoint p) {
      const float f = friction[p.row][p.col];
      finite &= IsFiniteFloat(f);
      s += f;
      return true;
    });
  } else {
    ForEachNode(first, inner, last, [&](t2DiPoint p) {
      const float f = friction[p.row][p.col];
      finite &= IsFiniteFloat(f);
      s += f;
      q += static_cast<long double>(f) * f;
      return true;
    });
  }
  n = static_cast<uint32_t>(inner.size() + 2);
  bool saturated = false;
  if (!finite) {
    s = 0;
    q = 0;
    n = 0;
    if (criterion != mcFrictionSD) {
      ForEachNode(first, inner, last, [&](t2DiPoint p) {
        const float f = friction[p.row][p.col];
        ++n;
        if (f < kMax - s)
          s += f;
        else
          s = kMax;
        return true;
      });
    } else {
      ForEachNode(first, inner, last, [&](t2DiPoint p) {
        const float f = friction[p.row][p.col];
        ++n;
        if (f < kMax - s) {
          s += f;
        } else {
          s = kMax;
          saturated = true;
        }
        const long double f2 = static_cast<long double>(f) * f;
        if (f2 < kMax - q) {
          q += f2;
        } else {
          q = kMax;
          saturated = true;
        }
        return !saturated;
      });
    }
  }
  if (criterion == mcFrictionSum) return s;
  if (criterion == mcFrictionMean) return s / n;
  // A saturated sum has no meaningful deviation (its square overflows);
  // rate the candidate as saturated rather than as NaN or 0.
  if (saturated) return kMax;
  long double mean = 0, variance = 0;
  MeanAndVariance(n, mean, variance, s, q);
  return SDFromVariance(variance);
}

} // namespace

namespace {

// std::nearbyint in the default rounding mode (halves to even), without the
// library call: adding and removing 2^52 leaves exactly the rounded value.
// Only the sign of a zero result may differ, which no caller can observe.
inline double RoundNearestEven(double x) {
  constexpr double kShift = 4503599627370496.0;  // 2^52
  if (x >= 0) return x < kShift ? (x + kShift) - kShift : x;
  return x > -kShift ? (x - kShift) + kShift : x;  // NaN goes here and stays NaN
}

inline bool NeedsMidpoint(double aRow, double aCol, double bRow, double bCol) {
  const double dRow = bRow - aRow;
  const double dCol = bCol - aCol;
  return dCol * dCol + dRow * dRow > 2;
}

// A segment whose left part is being refined: its midpoint m is emitted and
// its right part (m, b) refined once the left part is done.
struct tPendingRight {
  double mRow, mCol, bRow, bCol;
  int32_t depth;
};

std::vector<tPendingRight>& PendingStack() {
  thread_local std::vector<tPendingRight> stack;
  return stack;
}

} // namespace

// The recursion of the description, run on an explicit stack: at each
// segment the midpoint is drawn, then the left part is refined, then the
// midpoint is emitted, then the right part is refined.
void SubdividePath(tSubdivision& s, double aRow, double aCol, double bRow, double bCol) {
  if (!NeedsMidpoint(aRow, aCol, bRow, bCol)) return;
  std::vector<tPendingRight>& stack = PendingStack();
  const std::size_t bottom = stack.size();
  const int32_t baseDepth = s.depth;
  int32_t depth = baseDepth + 1;
  tRandomGenerator& random = s.random;
  const double maxRow = s.rows - 1;
  const double maxCol = s.cols - 1;
  for (;;) {
    // (a, b) needs a midpoint at this depth.
    s.depth = depth;
    const double level = depth;
    const double mRow = RoundNearestEven((aRow + bRow) / 2);
    const double mCol = RoundNearestEven((aCol + bCol) / 2);
    double nRow, nCol;
    do {
      const double u1 = random.Uniform();
      const double u2 = random.Uniform();
      nRow = RoundNearestEven(mRow + (2 * u1 - 1) * (aCol - bCol) / level);
      nCol = RoundNearestEven(mCol + (2 * u2 - 1) * (bRow - aRow) / level);
    } while (!(nRow >= 0 && nRow <= maxRow && nCol >= 0 && nCol <= maxCol));

    if (NeedsMidpoint(aRow, aCol, nRow, nCol)) {
      stack.push_back({nRow, nCol, bRow, bCol, depth});
      bRow = nRow;
      bCol = nCol;
      ++depth;
      continue;
    }
    s.inner.push_back({static_cast<int32_t>(nRow), static_cast<int32_t>(nCol)});
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
      const tPendingRight p = stack.back();
      stack.pop_back();
      s.inner.push_back({static_cast<int32_t>(p.mRow), static_cast<int32_t>(p.mCol)});
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
