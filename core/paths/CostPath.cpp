#include "CostPath.h"

#include "Errors.h"
#include "Numeric.h"
#include "RandomFunctions.h"
#include "Raster.h"
#include "StatOps.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stravex {

namespace {

const char* const kPathTooLong = "Path is too long. Impossible to compute the least-cost path.";

// ---------------------------------------------------------------------------
// Displacement factors

// The factors 2u - 1 of the displacements (u as RandomUniform returns it, so
// every factor is exact) come from a private copy of the generator that runs
// ahead in a ring. The subdivision steps it twice per midpoint, before the
// branches that depend on the new node, so its chain of dependent steps
// overlaps the geometry instead of following every mispredicted branch. The
// caller's generator is then given the state after exactly the factors used.
//
// Each step is stored whole: t, the 64-bit sum of the step, holds the new x0
// in its low half and the new carry in its high half, and the three older
// lags are the low halves of the three steps before. The state after step i
// is therefore read off slots i-3 .. i.
constexpr uint32_t kRing = 256; // a power of two
constexpr uint32_t kRingMask = kRing - 1;
// Slots kept: the unused factors plus the four steps that give the state
// after the last factor used.
constexpr uint32_t kMaxLead = kRing - 4;

struct tFactorRing {
  explicit tFactorRing(const tRandomState& s) {
    raw[0] = s.x3;
    raw[1] = s.x2;
    raw[2] = s.x1;
    raw[3] = (uint64_t{s.carry} << 32) | s.x0;
  }

  uint32_t Lead() const { return produced - used; }

  // Produces step number `p` from the four before it; `last` is step p - 1
  // (kept in a register by the caller).
  [[gnu::always_inline]] uint64_t Produce(uint32_t p, uint64_t last) {
    tRandomState s{static_cast<uint32_t>(last), static_cast<uint32_t>(raw[(p - 2) & kRingMask]),
                   static_cast<uint32_t>(raw[(p - 3) & kRingMask]),
                   static_cast<uint32_t>(raw[(p - 4) & kRingMask]),
                   static_cast<uint32_t>(last >> 32)};
    const uint32_t x0 = StepRandom(s);
    const uint64_t t = (uint64_t{s.carry} << 32) | x0;
    raw[p & kRingMask] = t;
    factor[p & kRingMask] = 2 * UniformOfRaw(x0) - 1;
    return t;
  }

  uint64_t Last() const { return raw[(produced - 1) & kRingMask]; }

  // Runs ahead as far as the ring allows, leaving room for the subdivision
  // to step twice more before it takes a factor.
  [[gnu::noinline]] void TopUp() {
    uint64_t last = Last();
    uint32_t p = produced;
    for (; p - used < kMaxLead - 2; ++p) last = Produce(p, last);
    produced = p;
  }

  // The generator state after the last factor used.
  tRandomState After() const {
    const uint64_t t = raw[(used - 1) & kRingMask];
    return {static_cast<uint32_t>(t), static_cast<uint32_t>(raw[(used - 2) & kRingMask]),
            static_cast<uint32_t>(raw[(used - 3) & kRingMask]),
            static_cast<uint32_t>(raw[(used - 4) & kRingMask]), static_cast<uint32_t>(t >> 32)};
  }

  uint32_t produced = 4; // steps so far, counting the four of the initial state
  uint32_t used = 4;     // factors taken, counted alike
  std::array<uint64_t, kRing> raw;
  std::array<double, kRing> factor;
};

// ---------------------------------------------------------------------------
// Subdivision

// Nodes are held as reals in general, and as integers on integral ends (what
// every caller passes) on grids below 2^20 cells a side (every real map):
// midpoints and neighbour tests then are integer operations and displaced
// coordinates are rounded straight to integers, which shortens the chain of
// dependent steps from one node to the next. Both give the same nodes.
constexpr double kSmallGrid = 0x1p20;

inline bool NeedsMidpoint(double aRow, double aCol, double bRow, double bCol) {
  const double dRow = bRow - aRow;
  const double dCol = bCol - aCol;
  return dCol * dCol + dRow * dRow > 2;
}

inline bool NeedsMidpoint(int32_t aRow, int32_t aCol, int32_t bRow, int32_t bCol) {
  const int64_t dRow = int64_t{bRow} - aRow;
  const int64_t dCol = int64_t{bCol} - aCol;
  return dCol * dCol + dRow * dRow > 2;
}

// round((a + b) / 2), halves to the even neighbour.
inline double Midpoint(double a, double b) { return RoundHalfEven((a + b) / 2); }
inline int32_t Midpoint(int32_t a, int32_t b) {
  const int32_t s = a + b; // both below 2^20
  const int32_t k = s >> 1;
  return k + (s & k & 1);
}

inline int32_t RoundToInteger(double v) {
#if defined(__SSE2__)
  return _mm_cvtsd_si32(_mm_set_sd(v)); // nearest, halves to even (default mode)
#else
  return static_cast<int32_t>(std::nearbyint(v));
#endif
}

// 1 / depth for the usual depths, so that no division lies on the chain.
constexpr std::array<double, 64> kReciprocals = [] {
  std::array<double, 64> r{};
  for (std::size_t i = 1; i < r.size(); ++i) r[i] = 1.0 / static_cast<double>(i);
  return r;
}();

// round(m + p / depth), the displaced coordinate.
inline double Displaced(double m, double p, int32_t depth) {
  return RoundHalfEven(m + p / static_cast<double>(depth));
}

// The division is the slowest step of the chain, so p * (1 / depth) is tried
// first: here |m|, |p / depth| < 2^20, so p * (1 / depth) is within 2^-30
// of p / depth, and whenever it lands farther than 2^-20 from a
// half-integer both round to the same cell. Only otherwise is p divided.
// mMagic is m + 1.5 * 2^52, where the units are the last place: adding the
// displacement to it rounds m + displacement once, halves to even, and
// leaves the cell in the low 32 bits.
constexpr double kRoundingMagic = 0x1.8p52;

inline int32_t Displaced(int32_t m, [[maybe_unused]] double mMagic, double p, int32_t depth,
                         double reciprocal) {
  const double t = p * reciprocal;
#if FLT_EVAL_METHOD == 0
  const double y = mMagic + t;
  uint64_t bits;
  std::memcpy(&bits, &y, sizeof bits);
  if (std::fabs(t - (y - mMagic)) < 0.5 - 0x1p-20) [[likely]]
    return static_cast<int32_t>(static_cast<uint32_t>(bits));
#else // sums kept wider than a double would not round at the units
  const double v = static_cast<double>(m) + t;
  const int32_t n = RoundToInteger(v);
  if (std::fabs(v - static_cast<double>(n)) < 0.5 - 0x1p-20) return n;
#endif
  return RoundToInteger(static_cast<double>(m) + p / static_cast<double>(depth));
}

// A drawn midpoint m of a segment (a, b) whose left part (a, m) is being
// refined: m is emitted once that is done, then (m, b) is refined if
// `right` says it needs a midpoint.
template <typename tCoord>
struct tPending {
  tCoord mRow, mCol, bRow, bCol;
  int32_t depth;
  int32_t right;
};

// A subdivision under way, with what lasts from one to the next: the
// bounds, the factor ring, and the two buffers it writes,
// the inner nodes in path order and the stack of pending right parts. Both
// buffers are only ever resized, so their sizes are their capacities.
template <typename tCoord>
struct tBuildState {
  tCoord maxRow, maxCol;
  tFactorRing* ring;
  t2DiPoints* cells;
  std::vector<tPending<tCoord>>* pending;
  // The segment (a, b) that needs a midpoint at `depth`, the nodes emitted
  // and the entries waiting on the stack.
  tCoord aRow = 0, aCol = 0, bRow = 0, bCol = 0;
  int32_t depth = 0;
  std::size_t emitted = 0, waiting = 0;
};

inline bool Inside(int32_t row, int32_t col, int32_t maxRow, int32_t maxCol) {
  return static_cast<uint32_t>(row) <= static_cast<uint32_t>(maxRow) &&
         static_cast<uint32_t>(col) <= static_cast<uint32_t>(maxCol);
}
inline bool Inside(double row, double col, double maxRow, double maxCol) {
  return row >= 0 && row <= maxRow && col >= 0 && col <= maxCol;
}

enum class tBuildStop { kDone, kNeedFactors, kNeedRoom };

// Runs the subdivision in st until it is done, or needs the factor ring
// topped up or more buffer room; it then leaves its state in st, and the
// next call resumes it. The recursive subdivision runs on an explicit stack:
// a segment that needs a midpoint draws it, then its left part is refined,
// then the midpoint is emitted, then its right part is refined. Everything
// touched per node is a local and nothing is called, so that it all stays in
// registers.
template <typename tCoord>
[[gnu::noinline]] tBuildStop BuildSome(tBuildState<tCoord>& st) {
  const tCoord maxRow = st.maxRow, maxCol = st.maxCol;
  tFactorRing& ring = *st.ring;
  uint32_t produced = ring.produced;
  uint32_t used = ring.used;
  uint64_t last = ring.Last();
  t2DiPoint* const outStart = st.cells->data();
  t2DiPoint* out = outStart + st.emitted;
  tPending<tCoord>* const base = st.pending->data();
  tPending<tCoord>* top = base + st.waiting;
  // Every pending entry emits one node later, so one count of free places,
  // taken at each push, guards both buffers.
  std::size_t room = std::min(st.cells->size() - st.emitted - st.waiting,
                              st.pending->size() - st.waiting);
  tCoord aRow = st.aRow, aCol = st.aCol, bRow = st.bRow, bCol = st.bCol;
  int32_t depth = st.depth;
  tBuildStop stop;
  for (;;) {
    // (a, b) needs a midpoint at this depth.
    if (room == 0) [[unlikely]] {
      stop = tBuildStop::kNeedRoom;
      goto leave;
    }
    // Two steps ahead for the two factors of this midpoint. The lead never
    // grows (every attempt takes two factors), and a top-up leaves room.
    last = ring.Produce(produced, last);
    last = ring.Produce(produced + 1, last);
    produced += 2;
    const tCoord mRow = Midpoint(aRow, bRow);
    const tCoord mCol = Midpoint(aCol, bCol);
    const double rowExtent = static_cast<double>(aCol - bCol);
    const double colExtent = static_cast<double>(bRow - aRow);
    [[maybe_unused]] const double reciprocal = static_cast<std::size_t>(depth) < kReciprocals.size()
                                                   ? kReciprocals[static_cast<std::size_t>(depth)]
                                                   : 1 / static_cast<double>(depth);
    [[maybe_unused]] const double mRowMagic = static_cast<double>(mRow) + kRoundingMagic;
    [[maybe_unused]] const double mColMagic = static_cast<double>(mCol) + kRoundingMagic;
    tCoord nRow, nCol;
    do {
      if (produced - used < 2) [[unlikely]] { // retries used up the lead
        stop = tBuildStop::kNeedFactors;
        goto leave;
      }
      // used is even and the ring's size too, so the pair does not wrap.
      const double* const f = &ring.factor[used & kRingMask];
      if constexpr (std::is_same_v<tCoord, int32_t>) {
        nRow = Displaced(mRow, mRowMagic, f[0] * rowExtent, depth, reciprocal);
        nCol = Displaced(mCol, mColMagic, f[1] * colExtent, depth, reciprocal);
      } else {
        nRow = Displaced(mRow, f[0] * rowExtent, depth);
        nCol = Displaced(mCol, f[1] * colExtent, depth);
      }
      used += 2;
    } while (!Inside(nRow, nCol, maxRow, maxCol));

    --room;
    *top++ = {nRow, nCol, bRow, bCol, depth, NeedsMidpoint(nRow, nCol, bRow, bCol)};
    if (NeedsMidpoint(aRow, aCol, nRow, nCol)) {
      bRow = nRow;
      bCol = nCol;
      ++depth;
      continue;
    }
    // Left part done: emit pending midpoints until one has a right part.
    for (;;) {
      --top;
      *out++ = {static_cast<int32_t>(top->mRow), static_cast<int32_t>(top->mCol)};
      if (top->right) {
        aRow = top->mRow;
        aCol = top->mCol;
        bRow = top->bRow;
        bCol = top->bCol;
        depth = top->depth + 1;
        break;
      }
      if (top == base) {
        stop = tBuildStop::kDone;
        goto leave;
      }
    }
  }
leave:
  ring.produced = produced;
  ring.used = used;
  st.emitted = static_cast<std::size_t>(out - outStart);
  st.waiting = static_cast<std::size_t>(top - base);
  st.aRow = aRow;
  st.aCol = aCol;
  st.bRow = bRow;
  st.bCol = bCol;
  st.depth = depth;
  return stop;
}

// Grows whichever buffer is full (BuildSome may stop a little early, as it
// counts the room of the stack once per run).
template <typename tCoord>
void GrowBuffers(tBuildState<tCoord>& st) {
  constexpr std::size_t kFirst = 1024;
  if (st.cells->size() == st.emitted + st.waiting)
    st.cells->resize(std::max(2 * st.cells->size(), kFirst));
  if (st.pending->size() == st.waiting)
    st.pending->resize(std::max(2 * st.pending->size(), kFirst));
}

// Writes, in path order, the nodes between a and b (neither a nor b) into
// st.cells and returns their number.
template <typename tCoord>
std::size_t BuildInner(tBuildState<tCoord>& st, tCoord aRow, tCoord aCol, tCoord bRow, tCoord bCol,
                       int32_t baseDepth) {
  if (!NeedsMidpoint(aRow, aCol, bRow, bCol)) return 0;
  st.aRow = aRow;
  st.aCol = aCol;
  st.bRow = bRow;
  st.bCol = bCol;
  st.depth = baseDepth + 1;
  st.emitted = 0;
  st.waiting = 0;
  if (st.ring->Lead() < 2) st.ring->TopUp(); // the lead is what hides the generator
  for (;;) {
    switch (BuildSome(st)) {
    case tBuildStop::kDone: return st.emitted;
    case tBuildStop::kNeedFactors: st.ring->TopUp(); break;
    case tBuildStop::kNeedRoom: GrowBuffers(st); break;
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
  std::vector<tPending<int32_t>> integerPending;
  std::vector<tPending<double>> realPending;
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
    Trim(fWs.candidate, kKeep);
    Trim(fWs.best, kKeep);
    Trim(fWs.integerPending, kKeep);
    Trim(fWs.realPending, kKeep);
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

using tCells = std::span<const t2DiPoint>;

// Calls fn(node) for every node of a candidate in path order; stops early
// when fn returns false.
template <typename F>
void ForEachNode(t2DiPoint first, tCells inner, t2DiPoint last, F&& fn) {
  if (!fn(first)) return;
  for (const t2DiPoint& p : inner)
    if (!fn(p)) return;
  fn(last);
}

// Climb-only (d = 1) or descend-only (d = -1) test of one candidate. Each
// step may go against the direction by at most tolerance; every node but the
// last must hold topography data.
bool SlopeValid(const tLiveRaster& topo, int d, double tolerance, t2DiPoint first, tCells inner,
                t2DiPoint last) {
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
                           t2DiPoint first, tCells inner, t2DiPoint last) {
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
                           t2DiPoint first, tCells inner, t2DiPoint last) {
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

// The cost of a built candidate of `nodes` nodes, or nothing when the slope
// test refuses it. Out of line: the building loop keeps its registers.
[[gnu::noinline]] bool CandidateCost(const tSearch& q, tCells inner, uint64_t nodes,
                                     long double& cost) {
  if (q.topography && !SlopeValid(*q.topography, q.d, q.tolerance, q.first, inner, q.last))
    return false;
  const long double value = CriterionValue(q.friction, q.criterion, q.first, inner, q.last);
  cost = value * static_cast<long double>(q.frictionWeight) +
         static_cast<long double>(nodes) * static_cast<long double>(q.lengthWeight);
  return true;
}

struct tBest {
  long double cost = LeastCostSaturation;
  uint64_t length = 0;
  bool found = false;
};

// Builds and rates `candidates` candidates between the ends (ra, ca) and
// (rb, cb); the best one's inner nodes are left in ws.best. The generator is
// given back the state after exactly the factors used, also when an error
// leaves the search, so it advances as if every number were drawn one by one.
template <typename tCoord>
tBest RunCandidates(int32_t candidates, const tSearch& q, tCoord ra, tCoord ca, tCoord rb,
                    tCoord cb, tCoord maxRow, tCoord maxCol, tRandomGenerator& random,
                    tWorkspace& ws, std::vector<tPending<tCoord>>& pending) {
  tFactorRing ring(random.State());
  tBuildState<tCoord> st{maxRow, maxCol, &ring, &ws.candidate, &pending};
  tBest best;
  try {
    for (int32_t i = 0; i < candidates; ++i) {
      const std::size_t inner = BuildInner(st, ra, ca, rb, cb, 0);
      const uint64_t nodes = static_cast<uint64_t>(inner) + 2;
      if (nodes > std::numeric_limits<uint32_t>::max()) throw EOutOfResources(kPathTooLong);
      long double c;
      if (!CandidateCost(q, tCells(ws.candidate.data(), inner), nodes, c)) continue;
      if (c < best.cost || (c == best.cost && nodes < best.length)) {
        std::swap(ws.candidate, ws.best);
        best = {c, nodes, true};
      }
    }
  } catch (...) {
    random.SetState(ring.After());
    throw;
  }
  random.SetState(ring.After());
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
  tFactorRing ring(s.random.State());
  t2DiPoints cells;
  auto run = [&](auto coord, auto& pending, auto maxRow, auto maxCol) {
    using tCoord = decltype(coord);
    tBuildState<tCoord> st{maxRow, maxCol, &ring, &cells, &pending};
    std::size_t inner = 0;
    try {
      inner = BuildInner(st, static_cast<tCoord>(aRow), static_cast<tCoord>(aCol),
                         static_cast<tCoord>(bRow), static_cast<tCoord>(bCol), s.depth);
    } catch (...) {
      s.random.SetState(ring.After());
      throw;
    }
    s.random.SetState(ring.After());
    s.inner.insert(s.inner.end(), cells.data(), cells.data() + inner);
  };
  auto integral = [](double v) { return v == std::floor(v); };
  if (s.rows < kSmallGrid && s.cols < kSmallGrid && integral(aRow) && integral(aCol) &&
      integral(bRow) && integral(bCol))
    run(int32_t{}, ws.integerPending, static_cast<int32_t>(s.rows) - 1,
        static_cast<int32_t>(s.cols) - 1);
  else
    run(double{}, ws.realPending, s.rows - 1, s.cols - 1);
}

void FindLeastCostPath(int32_t candidates, const tMatrixOfSingle& friction, t2DiPoints& path,
                       double tolerance, int32_t direction, const tLiveRaster* topography,
                       double lengthWeight, double frictionWeight, tMinimiseCriterion criterion,
                       long double& cost, uint32_t& length, double row1, double col1, double row2,
                       double col2) {
  if (candidates < 0) RaiseRangeCheck("number of candidates", candidates, 0, INT32_MAX);
  if (criterion < mcFrictionSum || criterion > mcFrictionSD)
    RaiseRangeCheck("minimisation criterion", criterion, mcFrictionSum, mcFrictionSD);

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
  CheckEnds(rows, cols, row1, col1, row2, col2);
  // Nodes are only checked against the first row's length.
  for (const auto& r : friction)
    if (r.size() != colCount)
      throw EAssertionFailed("Error in Least-Cost Path: friction matrix is not rectangular");

  const int d = Sign(direction);
  const tSearch q{friction,
                  d != 0 ? topography : nullptr,
                  d,
                  tolerance,
                  lengthWeight,
                  frictionWeight,
                  criterion,
                  {RoundToInt32(row1), RoundToInt32(col1)},
                  {RoundToInt32(row2), RoundToInt32(col2)}};

  tRandomGenerator& random = CurrentRandom();
  tWorkspace& ws = Workspace();
  tWorkspaceTrim trim(ws);
  tBest best;
  try {
    auto integral = [](double v) { return v == std::floor(v); };
    if (rows < kSmallGrid && cols < kSmallGrid && integral(row1) && integral(col1) &&
        integral(row2) && integral(col2))
      best = RunCandidates<int32_t>(candidates, q, q.first.row, q.first.col, q.last.row, q.last.col,
                                    static_cast<int32_t>(rowCount) - 1,
                                    static_cast<int32_t>(colCount) - 1, random, ws,
                                    ws.integerPending);
    else
      best = RunCandidates<double>(candidates, q, row1, col1, row2, col2, rows - 1, cols - 1,
                                   random, ws, ws.realPending);

    if (!best.found) {
      path.clear();
      length = 0;
      cost = -1;
      return;
    }
    path.resize(best.length);
    path.front() = q.first;
    std::copy_n(ws.best.begin(), best.length - 2, path.begin() + 1);
    path.back() = q.last;
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kPathTooLong);
  } catch (const std::length_error&) {
    throw EOutOfResources(kPathTooLong);
  }
  length = static_cast<uint32_t>(best.length);
  cost = best.cost;
}

} // namespace stravex
