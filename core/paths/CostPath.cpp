#include "paths/CostPath.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/RandomFunctions.h"
#include "base/StatOps.h"
#include "raster/Raster.h"

#include <algorithm>
#include <array>
#include <bit>
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

// The factors 2u - 1 of the displacements (u as tRandomGenerator::Uniform returns it, so
// every factor is exact) come from a private copy of the generator that runs
// ahead in a ring: the subdivision steps it a few times per node drawn,
// ahead of the draws it takes, so that the generator's chain of dependent
// steps overlaps the geometry instead of preceding it. The caller's
// generator is then given the state after exactly the draws taken.
//
// Each step is stored whole: t, the 64-bit sum of the step, holds the new x0
// in its low half and the new carry in its high half, and the three older
// lags are the low halves of the three steps before. The state after step i
// is therefore read off slots i-3 .. i.
constexpr uint32_t kRing = 512; // a power of two
constexpr uint32_t kRingMask = kRing - 1;
// Steps the subdivision produces at most per node drawn, into the slots
// after the last one produced.
constexpr uint32_t kMaxAhead = 8;
// The most steps produced and not taken: the rest of the ring holds the four
// steps that give the state after the last draw taken.
constexpr int32_t kMaxLead = kRing - 4;
// How far a top-up runs ahead: the subdivision makes most of the steps it
// takes itself, as it goes.
constexpr int32_t kTopUpLead = 64;

struct tFactorRing {
  static constexpr uint32_t kLags = 4;

  explicit tFactorRing(const tRandomState& s) {
    Put(0, s.x3);
    Put(1, s.x2);
    Put(2, s.x1);
    Put(3, (uint64_t{s.carry} << 32) | s.x0);
  }
  tFactorRing(const tFactorRing&) = delete;
  tFactorRing& operator=(const tFactorRing&) = delete;

  // Slot s of the ring is Raw()[s]. The four slots before the start repeat
  // the last four, so that a run of steps can read the lags before it
  // without wrapping round; the kMaxAhead slots past the end take a run
  // that goes past it.
  uint64_t* Raw() { return storage.data() + kLags; }
  const uint64_t* Raw() const { return storage.data() + kLags; }

  // Step i (counted as `produced`).
  uint64_t Step(uint32_t i) const { return Raw()[i & kRingMask]; }
  void Put(uint32_t i, uint64_t t) {
    const uint32_t s = i & kRingMask;
    Raw()[s] = t;
    if (s >= kRing - kLags) Raw()[static_cast<int32_t>(s - kRing)] = t;
  }
  // After a run of steps written to Raw()[first] .. Raw()[end - 1]: copies
  // what lies past the end to the start, and the last four slots before it.
  void Settle(uint32_t first, uint32_t end) {
    for (uint32_t s = std::max(first, kRing - kLags); s < end; ++s)
      Raw()[static_cast<int32_t>(s) - static_cast<int32_t>(kRing)] = Raw()[s];
  }

  // Steps produced and not yet taken; negative when the subdivision has
  // passed draws whose values it did not need.
  int32_t Lead() const { return static_cast<int32_t>(produced - used); }

  // The factor of draw i (still in the ring).
  double Factor(uint32_t i) const { return 2 * UniformOfRaw(static_cast<uint32_t>(Step(i))) - 1; }

  // Runs kTopUpLead steps ahead of the draws taken (through any draws
  // passed over).
  [[gnu::noinline]] void TopUp() {
    tRandomState s = StateAt(produced);
    uint32_t p = produced;
    for (; static_cast<int32_t>(p - used) < kTopUpLead; ++p) {
      const uint32_t x0 = StepRandom(s);
      Put(p, (uint64_t{s.carry} << 32) | x0);
    }
    produced = p;
  }

  // The generator state after the last draw taken.
  tRandomState After() {
    if (Lead() < 0) TopUp();
    return StateAt(used);
  }

  // The state after `steps` steps, counted as `produced`.
  tRandomState StateAt(uint32_t steps) const {
    const uint64_t t = Step(steps - 1);
    return {static_cast<uint32_t>(t), static_cast<uint32_t>(Step(steps - 2)),
            static_cast<uint32_t>(Step(steps - 3)), static_cast<uint32_t>(Step(steps - 4)),
            static_cast<uint32_t>(t >> 32)};
  }

  uint32_t produced = 4; // steps so far, counting the four of the initial state
  uint32_t used = 4;     // draws taken, counted alike
  alignas(16) std::array<uint64_t, kLags + kRing + kMaxAhead> storage;
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
constexpr int32_t Midpoint(int32_t a, int32_t b) {
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
// first: here |m|, |p / depth| < 2^20, so p * (1 / depth) (or, with one more
// rounding, f * (extent * (1 / depth))) is within 2^-30 of p / depth, and whenever it lands farther
// than 2^-20 from a half-integer both round to the same cell. Only otherwise is p divided. mMagic
// is m + 1.5 * 2^52, where the units are the last place: adding the displacement to it rounds m +
// displacement once, halves to even, and leaves the cell in the low 32 bits.
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

inline bool Inside(int32_t row, int32_t col, int32_t maxRow, int32_t maxCol) {
  return static_cast<uint32_t>(row) <= static_cast<uint32_t>(maxRow) &&
         static_cast<uint32_t>(col) <= static_cast<uint32_t>(maxCol);
}
inline bool Inside(double row, double col, double maxRow, double maxCol) {
  return row >= 0 && row <= maxRow && col >= 0 && col <= maxCol;
}

// ---------------------------------------------------------------------------
// Settled parts

// Deep down, the displacement can no longer move a midpoint: at depth D, a
// segment whose ends differ by at most k cells in each axis is displaced by
// at most k / D of a cell in each axis (|2u - 1| <= 1), so for 2k < D the
// node drawn is the rounded midpoint whatever the draws, and so is every
// node below it (smaller differences, greater depths). Such a part is
// settled: it still takes two draws per node, but its nodes follow from the
// differences alone and the parities of its first end (moving both ends by
// two cells moves every midpoint by two), and are looked up. Differences up
// to 4 are kept; such a part holds at most three nodes.
constexpr int32_t kSettledSpan = 4;
constexpr int32_t kSettledWidth = 2 * kSettledSpan + 1;
constexpr uint32_t kSettledEntries = kSettledWidth * kSettledWidth * 4;
// An entry without nodes, for parts that are not settled.
constexpr uint32_t kNoSettled = kSettledEntries;
// Nodes written per entry, whatever its count, so that copying one does
// not branch on it.
constexpr std::size_t kSettledSlots = 4;

constexpr uint32_t SettledIndex(int32_t dRow, int32_t dCol, int32_t aRow, int32_t aCol) {
  return static_cast<uint32_t>(((dRow + kSettledSpan) * kSettledWidth + dCol + kSettledSpan) * 4 +
                               (aRow & 1) * 2 + (aCol & 1));
}

struct tSettledTable {
  std::array<std::array<t2DiPoint, kSettledSlots>, kSettledEntries + 1> offsets{};
  std::array<uint32_t, kSettledEntries + 1> count{};
};

constexpr int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

// In path order, the nodes between a and b with every node a midpoint.
constexpr void Bisect(int32_t aRow, int32_t aCol, int32_t bRow, int32_t bCol,
                      std::array<t2DiPoint, kSettledSlots>& out, uint32_t& n) {
  if (std::max(Abs(bRow - aRow), Abs(bCol - aCol)) <= 1) return;
  const int32_t mRow = Midpoint(aRow, bRow), mCol = Midpoint(aCol, bCol);
  Bisect(aRow, aCol, mRow, mCol, out, n);
  if (n == kSettledSlots) throw "settled part too long"; // stops the compilation
  out[n++] = {mRow, mCol};
  Bisect(mRow, mCol, bRow, bCol, out, n);
}

constexpr tSettledTable kSettled = [] {
  tSettledTable t{};
  for (int32_t dRow = -kSettledSpan; dRow <= kSettledSpan; ++dRow)
    for (int32_t dCol = -kSettledSpan; dCol <= kSettledSpan; ++dCol)
      for (int32_t aRow = 8; aRow < 10; ++aRow)
        for (int32_t aCol = 8; aCol < 10; ++aCol) {
          const uint32_t i = SettledIndex(dRow, dCol, aRow, aCol);
          Bisect(aRow, aCol, aRow + dRow, aCol + dCol, t.offsets[i], t.count[i]);
          for (t2DiPoint& p : t.offsets[i]) p = {p.row - aRow, p.col - aCol};
          for (uint32_t k = t.count[i]; k < kSettledSlots; ++k) t.offsets[i][k] = {};
        }
  return t;
}();

// The largest difference at which a part at `depth` is settled (at least 1:
// neighbours need no node).
inline int32_t SettledLimit(int32_t depth) { return std::clamp((depth - 1) >> 1, 1, kSettledSpan); }

// Whether a part (a, b) at a depth whose limit is `limit` holds nodes drawn
// at random (open) and, when it does not, its entry in the table. Real
// nodes are not looked up: a part is open when it needs a node.
struct tPart {
  bool open;
  uint32_t entry;
};
inline tPart Classify(int32_t aRow, int32_t aCol, int32_t bRow, int32_t bCol, int32_t limit) {
  const int32_t dRow = bRow - aRow, dCol = bCol - aCol;
  const bool open = std::max(Abs(dRow), Abs(dCol)) > limit;
  return {open, open ? kNoSettled : SettledIndex(dRow, dCol, aRow, aCol)};
}
inline tPart Classify(double aRow, double aCol, double bRow, double bCol, int32_t) {
  return {NeedsMidpoint(aRow, aCol, bRow, bCol), kNoSettled};
}

// Writes the nodes of a settled part starting at a; returns the end.
inline t2DiPoint* EmitSettled(t2DiPoint* out, uint32_t entry, int32_t aRow, int32_t aCol) {
  const std::array<t2DiPoint, kSettledSlots>& offsets = kSettled.offsets[entry];
  for (std::size_t i = 0; i < kSettledSlots; ++i)
    out[i] = {aRow + offsets[i].row, aCol + offsets[i].col};
  return out + kSettled.count[entry];
}

// ---------------------------------------------------------------------------
// Building

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

enum class tBuildStop { kDone, kNeedFactors, kNeedRoom };

// Runs the subdivision in st until it is done, or needs the factor ring
// topped up or more buffer room; it then leaves its state in st, and the
// next call resumes it. Everything touched per node is a local and nothing
// is called, so that it all stays in registers.
template <typename tCoord>
[[gnu::noinline]] tBuildStop BuildSome(tBuildState<tCoord>& st) {
  const tCoord maxRow = st.maxRow, maxCol = st.maxCol;
  tFactorRing& ring = *st.ring;
  const uint32_t produced = ring.produced;
  uint32_t used = ring.used;
  t2DiPoint* const outStart = st.cells->data();
  t2DiPoint* out = outStart + st.emitted;
  tDrawnNode* const drawnStart = st.drawn->data();
  tDrawnNode* drawn = drawnStart + st.recorded;
  tPending<tCoord>* const base = st.pending->data();
  tPending<tCoord>* top = base + st.waiting;
  // Every node drawn writes at most kCellsPerNode cells, one record and one
  // pending entry (at top, kept or not): one count guards the three buffers.
  std::size_t room = std::min({(st.cells->size() - st.emitted) / kCellsPerNode,
                               st.drawn->size() - st.recorded, st.pending->size() - st.waiting});
  tCoord aRow = st.aRow, aCol = st.aCol, bRow = st.bRow, bCol = st.bCol;
  int32_t depth = st.depth;
  tBuildStop stop;
  for (;;) {
    // (a, b) is open at this depth: draw its node.
    if (room == 0) [[unlikely]] {
      stop = tBuildStop::kNeedRoom;
      goto leave;
    }
    --room;
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
      if (static_cast<int32_t>(produced - used) < 2) [[unlikely]] {
        stop = tBuildStop::kNeedFactors;
        goto leave;
      }
      const double f[2] = {ring.Factor(used), ring.Factor(used + 1)};
      if constexpr (std::is_same_v<tCoord, int32_t>) {
        nRow = Displaced(mRow, mRowMagic, f[0] * rowExtent, depth, reciprocal);
        nCol = Displaced(mCol, mColMagic, f[1] * colExtent, depth, reciprocal);
      } else {
        nRow = Displaced(mRow, f[0] * rowExtent, depth);
        nCol = Displaced(mCol, f[1] * colExtent, depth);
      }
      used += 2;
    } while (!Inside(nRow, nCol, maxRow, maxCol));

    const int32_t limit = SettledLimit(depth + 1);
    const tPart left = Classify(aRow, aCol, nRow, nCol, limit);
    const tPart right = Classify(nRow, nCol, bRow, bCol, limit);
    const t2DiPoint cell{static_cast<int32_t>(nRow), static_cast<int32_t>(nCol)};
    *drawn++ = {cell, left.open * kLeftOpen + right.open * kRightOpen};
    *out++ = cell;
    uint32_t leftDraws = 0, rightDraws = 0;
    if constexpr (std::is_same_v<tCoord, int32_t>) {
      out = EmitSettled(out, left.entry, aRow, aCol);
      out = EmitSettled(out, right.entry, nRow, nCol);
      leftDraws = 2 * kSettled.count[left.entry];
      rightDraws = 2 * kSettled.count[right.entry];
    }
    // The left part's draws come next, the right part's after the left
    // part: when that is open, after the part waiting on top.
    const tPending<tCoord> waiting = top[-1];
    top[-1].skip = waiting.skip + (left.open ? rightDraws : 0);
    used += leftDraws + (left.open ? 0 : rightDraws);
    // Next comes the left part if open, else the right part if open, else
    // the part waiting on top (none: done).
    *top = {nRow, nCol, bRow, bCol, depth + 1, 0};
    const bool push = left.open && right.open;
    const bool pop = !left.open && !right.open;
    top += static_cast<std::ptrdiff_t>(push) - static_cast<std::ptrdiff_t>(pop);
    used += pop ? waiting.skip : 0;
    if (top == base) {
      stop = tBuildStop::kDone;
      goto leave;
    }
    const tCoord nextARow = left.open ? aRow : right.open ? nRow : waiting.aRow;
    const tCoord nextACol = left.open ? aCol : right.open ? nCol : waiting.aCol;
    const tCoord nextBRow = left.open ? nRow : right.open ? bRow : waiting.bRow;
    const tCoord nextBCol = left.open ? nCol : right.open ? bCol : waiting.bCol;
    aRow = nextARow;
    aCol = nextACol;
    bRow = nextBRow;
    bCol = nextBCol;
    depth = pop ? waiting.depth : depth + 1;
  }
leave:
  ring.used = used;
  st.emitted = static_cast<std::size_t>(out - outStart);
  st.recorded = static_cast<std::size_t>(drawn - drawnStart);
  st.waiting = static_cast<std::size_t>(top - base);
  st.aRow = aRow;
  st.aCol = aCol;
  st.bRow = bRow;
  st.bCol = bCol;
  st.depth = depth;
  return stop;
}

#if defined(__SSE2__)
// The same for integer nodes with the coordinates side by side in vector
// registers: a segment is (aRow, aCol, bRow, bCol), and both coordinates of
// a node are displaced, tested and compared at once. The choice of the next
// part is made with masks, so that the chain from one node to the next holds
// no branch on the random shape of the subdivision.

// Both coordinates exactly, for a displacement near a half cell.
[[gnu::noinline]] __m128i ExactDisplaced(__m128i m, __m128d p, int32_t depth) {
  alignas(16) int32_t mm[4];
  alignas(16) double pp[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(mm), m);
  _mm_store_pd(pp, p);
  auto exact = [&](int k) {
    return RoundToInteger(static_cast<double>(mm[k]) + pp[k] / static_cast<double>(depth));
  };
  return _mm_setr_epi32(exact(0), exact(1), 0, 0);
}

inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Writes a settled part starting at the cell in the low half of `start`.
inline t2DiPoint* EmitSettled(t2DiPoint* out, uint32_t entry, __m128i start) {
  const __m128i* const offsets = reinterpret_cast<const __m128i*>(kSettled.offsets[entry].data());
  const __m128i twice = _mm_unpacklo_epi64(start, start);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_add_epi32(_mm_load_si128(offsets), twice));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2),
                   _mm_add_epi32(_mm_load_si128(offsets + 1), twice));
  return out + kSettled.count[entry];
}

// What a node at a given depth needs of it: 1 / depth twice, and the
// settled limit of its parts four times.
struct alignas(16) tDepthConstants {
  double reciprocal[2];
  int32_t limit[4];
};
constexpr std::size_t kDepthTableSize = 64;
constexpr std::array<tDepthConstants, kDepthTableSize> kDepthTable = [] {
  std::array<tDepthConstants, kDepthTableSize> t{};
  for (std::size_t i = 1; i < t.size(); ++i) {
    const int32_t d = static_cast<int32_t>(i);
    const int32_t limit = std::clamp(d >> 1, 1, kSettledSpan); // SettledLimit(d + 1)
    t[i] = {{kReciprocals[i], kReciprocals[i]}, {limit, limit, limit, limit}};
  }
  return t;
}();

// The top of the stack moves by one entry when both parts are open, back by
// one when neither is, by the open bits of the parts (left 1, right 4).
constexpr std::array<std::ptrdiff_t, 16> kStackStep = [] {
  std::array<std::ptrdiff_t, 16> s{};
  for (std::size_t bits = 0; bits < s.size(); ++bits) {
    const bool left = (bits & kLeftOpen) != 0, right = (bits & kRightOpen) != 0;
    s[bits] = left && right ? 1 : !left && !right ? -1 : 0;
  }
  return s;
}();

template <uint32_t kAhead>
[[gnu::noinline]] tBuildStop BuildSomeIntegral(tBuildState<int32_t>& st) {
  static_assert(kSettledSlots == 4 && sizeof(t2DiPoint) == 8 && sizeof(tPending<int32_t>) == 24);
  tFactorRing& ring = *st.ring;
  uint32_t produced = ring.produced;
  uint32_t used = ring.used;
  uint64_t* const raw = ring.Raw();
  t2DiPoint* const outStart = st.cells->data();
  t2DiPoint* out = outStart + st.emitted;
  tDrawnNode* const drawnStart = st.drawn->data();
  tDrawnNode* drawn = drawnStart + st.recorded;
  tPending<int32_t>* const base = st.pending->data();
  tPending<int32_t>* top = base + st.waiting;
  std::size_t room = std::min({(st.cells->size() - st.emitted) / kCellsPerNode,
                               st.drawn->size() - st.recorded, st.pending->size() - st.waiting});
  const __m128i one = _mm_set1_epi32(1);
  const __m128i sign = _mm_set1_epi32(INT32_MIN);
  // Unsigned comparison through signed: lanes 2 and 3 never count.
  const __m128i maxBiased = _mm_xor_si128(
      _mm_setr_epi32(st.maxRow, st.maxCol, INT32_MAX ^ INT32_MIN, INT32_MAX ^ INT32_MIN), sign);
  const __m128d magic = _mm_set1_pd(kRoundingMagic);
  const __m128d nearHalf = _mm_set1_pd(0.5 - 0x1p-20);
  const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
  // (row + 4) * 36 + (col + 4) * 4 + (first row & 1) * 2 + (first col & 1),
  // from 16-bit halves of small lanes.
  const __m128i spanOffset = _mm_set1_epi32(kSettledSpan);
  const __m128i diffWeights = _mm_setr_epi32(kSettledWidth * 4, 4, kSettledWidth * 4, 4);
  const __m128i parityWeights = _mm_setr_epi32(2, 1, 2, 1);
  const __m128i noSettled = _mm_set1_epi32(static_cast<int32_t>(kNoSettled));
  __m128i seg = _mm_setr_epi32(st.aRow, st.aCol, st.bRow, st.bCol);
  int32_t depth = st.depth;
  tBuildStop stop;
  for (;;) {
    // seg is open at this depth: draw its node.
    if (room == 0) [[unlikely]] {
      stop = tBuildStop::kNeedRoom;
      goto leave;
    }
    --room;
    if (static_cast<int32_t>(produced - used) <= kMaxLead - static_cast<int32_t>(kAhead))
        [[likely]] {
      // kAhead steps on from `produced`, the generator's state read back
      // from the ring.
      const uint32_t slot = produced & kRingMask;
      uint64_t* const run = raw + slot;
      tRandomState s{static_cast<uint32_t>(run[-1]), static_cast<uint32_t>(run[-2]),
                     static_cast<uint32_t>(run[-3]), static_cast<uint32_t>(run[-4]),
                     static_cast<uint32_t>(run[-1] >> 32)};
      for (uint32_t k = 0; k < kAhead; ++k) {
        const uint32_t x0 = StepRandom(s);
        run[k] = (uint64_t{s.carry} << 32) | x0;
      }
      if (slot + kAhead > kRing - tFactorRing::kLags) [[unlikely]]
        ring.Settle(slot, slot + kAhead);
      produced += kAhead;
    }
    // m = round((a + b) / 2), halves to even, in lanes 0 and 1.
    const __m128i sum = _mm_add_epi32(seg, _mm_shuffle_epi32(seg, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m128i half = _mm_srai_epi32(sum, 1);
    const __m128i mid = _mm_add_epi32(half, _mm_and_si128(_mm_and_si128(sum, half), one));
    // The row moves along aCol - bCol, the column along bRow - aRow.
    const __m128d extent =
        _mm_mul_pd(_mm_cvtepi32_pd(_mm_sub_epi32(_mm_shuffle_epi32(seg, _MM_SHUFFLE(3, 3, 2, 1)),
                                                 _mm_shuffle_epi32(seg, _MM_SHUFFLE(3, 3, 0, 3)))),
                   _mm_set1_pd(0x1p-31));
    const __m128d midMagic = _mm_add_pd(_mm_cvtepi32_pd(mid), magic);
    // extent / depth, so that the factor, which comes last, has one
    // multiplication to go: f * (extent * (1 / depth)) is as near p / depth
    // as Displaced needs.
    tDepthConstants deep;
    const tDepthConstants* constants;
    if (static_cast<std::size_t>(depth) >= kDepthTableSize) [[unlikely]] {
      const int32_t limit = SettledLimit(depth + 1);
      const double reciprocal = 1 / static_cast<double>(depth);
      deep = {{reciprocal, reciprocal}, {limit, limit, limit, limit}};
      constants = &deep;
    } else {
      constants = &kDepthTable[static_cast<std::size_t>(depth)];
    }
    const __m128d scale = _mm_mul_pd(extent, _mm_load_pd(constants->reciprocal));
    __m128i node;
    do {
      if (static_cast<int32_t>(produced - used) < 2) [[unlikely]] {
        stop = tBuildStop::kNeedFactors;
        goto leave;
      }
      // used is even and the ring's size too, so the pair does not wrap.
      // x0 - 2^31 = (2u - 1) * 2^31, the factor times a power of two that
      // extent already divides out, so that p is the same product.
      const __m128i x0 = _mm_shuffle_epi32(
          _mm_load_si128(reinterpret_cast<const __m128i*>(&raw[used & kRingMask])),
          _MM_SHUFFLE(3, 3, 2, 0));
      const __m128d factor = _mm_cvtepi32_pd(_mm_xor_si128(x0, sign));
      const __m128d t = _mm_mul_pd(factor, scale);
      const __m128d y = _mm_add_pd(midMagic, t);
      const __m128d error = _mm_and_pd(_mm_sub_pd(t, _mm_sub_pd(y, midMagic)), absMask);
      node = _mm_shuffle_epi32(_mm_castpd_si128(y), _MM_SHUFFLE(3, 3, 2, 0));
      if (_mm_movemask_pd(_mm_cmplt_pd(error, nearHalf)) != 3) [[unlikely]]
        node = ExactDisplaced(mid, _mm_mul_pd(factor, extent), depth);
      used += 2;
    } while (_mm_movemask_ps(
                 _mm_castsi128_ps(_mm_cmpgt_epi32(_mm_xor_si128(node, sign), maxBiased))) != 0);

    // The parts (a, n) and (n, b) at depth + 1, side by side: open when a
    // difference exceeds the limit, else settled.
    const __m128i an = _mm_unpacklo_epi64(seg, node);                          // a, n
    const __m128i nb = _mm_unpacklo_epi64(node, _mm_unpackhi_epi64(seg, seg)); // n, b
    const __m128i diff = _mm_sub_epi32(nb, an);
    const __m128i diffSign = _mm_srai_epi32(diff, 31);
    const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(diff, diffSign), diffSign);
    const __m128i over = _mm_cmpgt_epi32(
        magnitude, _mm_load_si128(reinterpret_cast<const __m128i*>(constants->limit)));
    const __m128i open = _mm_or_si128(over, _mm_shuffle_epi32(over, _MM_SHUFFLE(2, 3, 0, 1)));
    // Left 0b0011, right 0b1100: kLeftOpen and kRightOpen among them.
    const uint32_t openBits = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(open)));
    const bool leftOpen = (openBits & kLeftOpen) != 0;
    const __m128i weighted =
        _mm_add_epi32(_mm_madd_epi16(_mm_add_epi32(diff, spanOffset), diffWeights),
                      _mm_madd_epi16(_mm_and_si128(an, one), parityWeights));
    const __m128i entries =
        Select(open, noSettled,
               _mm_add_epi32(weighted, _mm_shuffle_epi32(weighted, _MM_SHUFFLE(2, 3, 0, 1))));
    const uint32_t leftEntry = static_cast<uint32_t>(_mm_cvtsi128_si32(entries));
    const uint32_t rightEntry = static_cast<uint32_t>(_mm_extract_epi16(entries, 4));

    _mm_storel_epi64(reinterpret_cast<__m128i*>(&drawn->cell), node);
    drawn->open = openBits;
    ++drawn;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), node);
    out = EmitSettled(out + 1, leftEntry, seg);
    out = EmitSettled(out, rightEntry, node);

    // The left part's draws come next, the right part's after the left
    // part: when that is open, after the part waiting on top.
    const uint32_t leftDraws = 2 * kSettled.count[leftEntry];
    const uint32_t rightDraws = 2 * kSettled.count[rightEntry];
    const __m128i waitingSeg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top - 1));
    const int32_t waitingDepth = top[-1].depth;
    const uint32_t waitingSkip = top[-1].skip;
    const uint32_t leftMask = 0u - static_cast<uint32_t>(leftOpen);
    top[-1].skip = waitingSkip + (rightDraws & leftMask);
    used += leftDraws + (rightDraws & ~leftMask);
    // Next comes the left part if open, else the right part if open, else
    // the part waiting on top (none: done).
    _mm_storeu_si128(reinterpret_cast<__m128i*>(top), nb);
    top->depth = depth + 1;
    top->skip = 0;
    const bool pop = (openBits & (kLeftOpen | kRightOpen)) == 0;
    top += kStackStep[openBits];
    used += pop ? waitingSkip : 0;
    if (top == base) {
      stop = tBuildStop::kDone;
      goto leave;
    }
    seg = Select(_mm_shuffle_epi32(open, _MM_SHUFFLE(0, 0, 0, 0)), an,
                 Select(_mm_shuffle_epi32(open, _MM_SHUFFLE(2, 2, 2, 2)), nb, waitingSeg));
    depth = pop ? waitingDepth : depth + 1;
  }
leave:
  ring.produced = produced;
  ring.used = used;
  st.emitted = static_cast<std::size_t>(out - outStart);
  st.recorded = static_cast<std::size_t>(drawn - drawnStart);
  st.waiting = static_cast<std::size_t>(top - base);
  alignas(16) int32_t s[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(s), seg);
  st.aRow = s[0];
  st.aCol = s[1];
  st.bRow = s[2];
  st.bCol = s[3];
  st.depth = depth;
  return stop;
}

// Runs BuildSomeIntegral with st.ahead generator steps per node (3 to 7).
tBuildStop BuildSome(tBuildState<int32_t>& st) {
  switch (st.ahead) {
  case 0:
  case 1:
  case 2:
  case 3: return BuildSomeIntegral<3>(st);
  case 4: return BuildSomeIntegral<4>(st);
  case 5: return BuildSomeIntegral<5>(st);
  case 6: return BuildSomeIntegral<6>(st);
  default: return BuildSomeIntegral<7>(st);
  }
}
#endif

// Makes v hold at least n elements.
template <typename T>
void Reserve(std::vector<T>& v, std::size_t n) {
  constexpr std::size_t kFirst = 1024;
  if (v.size() < n) v.resize(std::max({n, 2 * v.size(), kFirst}));
}

// Grows whichever buffer is full (BuildSome may stop a little early, as it
// counts the room once per run).
template <typename tCoord>
void GrowBuffers(tBuildState<tCoord>& st) {
  Reserve(*st.cells, st.emitted + kCellsPerNode);
  Reserve(*st.drawn, st.recorded + 1);
  Reserve(*st.pending, st.waiting + 1);
}

// Builds a subdivision of (a, b) below baseDepth: its inner nodes, in no
// particular order, in st.cells (returns their number), and its nodes drawn
// at random in st.drawn (st.recorded of them). Draws passed over may leave
// the ring behind the draws taken (After catches up).
template <typename tCoord>
std::size_t BuildInner(tBuildState<tCoord>& st, tCoord aRow, tCoord aCol, tCoord bRow, tCoord bCol,
                       int32_t baseDepth) {
  st.emitted = 0;
  st.recorded = 0;
  const tPart whole = Classify(aRow, aCol, bRow, bCol, SettledLimit(baseDepth + 1));
  if (!whole.open) {
    if constexpr (std::is_same_v<tCoord, int32_t>) {
      Reserve(*st.cells, kSettledSlots);
      st.emitted = static_cast<std::size_t>(EmitSettled(st.cells->data(), whole.entry, aRow, aCol) -
                                            st.cells->data());
      st.ring->used += 2 * kSettled.count[whole.entry];
    }
    return st.emitted;
  }
  st.aRow = aRow;
  st.aCol = aCol;
  st.bRow = bRow;
  st.bCol = bCol;
  st.depth = baseDepth + 1;
  Reserve(*st.pending, 1);
  (*st.pending)[0] = {};
  st.waiting = 1;
  if (st.ring->Lead() < 2) st.ring->TopUp();
  const uint32_t usedBefore = st.ring->used;
  for (;;) {
    switch (BuildSome(st)) {
    case tBuildStop::kDone:
      st.drawsTaken += st.ring->used - usedBefore;
      st.nodesDrawn += st.recorded;
      st.ahead = static_cast<uint32_t>(
          std::clamp(st.drawsTaken / st.nodesDrawn, uint64_t{2}, uint64_t{kMaxAhead}));
      return st.emitted;
    case tBuildStop::kNeedFactors: st.ring->TopUp(); break;
    case tBuildStop::kNeedRoom: GrowBuffers(st); break;
    }
  }
}

// A node whose left part is being put in order, with the end of its right part.
template <typename tCoord>
struct tFrame {
  t2DiPoint cell;
  uint32_t open;
  tCoord bRow, bCol;
};

// Writes the inner nodes of a subdivision of (a, b) built by BuildInner to
// `out` in path order; `out` has room for them plus kSettledSlots, `stack`
// for one frame per drawn node.
template <typename tCoord>
void Linearize(const tDrawnNode* drawn, std::size_t count, tCoord aRow, tCoord aCol, tCoord bRow,
               tCoord bCol, tFrame<tCoord>* stack, t2DiPoint* out) {
  constexpr bool kLookUp = std::is_same_v<tCoord, int32_t>;
  auto settled = [&](int32_t row1, int32_t col1, int32_t row2, int32_t col2) {
    out = EmitSettled(out, SettledIndex(row2 - row1, col2 - col1, row1, col1), row1, col1);
  };
  if (count == 0) { // the whole is settled, or needs no node
    if constexpr (kLookUp) settled(aRow, aCol, bRow, bCol);
    return;
  }
  tFrame<tCoord>* const bottom = stack;
  for (;;) {
    // (a, b) is open: its node is the next one drawn.
    const tDrawnNode d = *drawn++;
    if (d.open & kLeftOpen) {
      *stack++ = {d.cell, d.open, bRow, bCol};
      bRow = d.cell.row;
      bCol = d.cell.col;
      continue;
    }
    if constexpr (kLookUp) settled(aRow, aCol, d.cell.row, d.cell.col);
    // The node, then its right part; a settled right part ends the left
    // part of the node below on the stack.
    tFrame<tCoord> f{d.cell, d.open, bRow, bCol};
    for (;;) {
      *out++ = f.cell;
      if (f.open & kRightOpen) break;
      if constexpr (kLookUp) settled(f.cell.row, f.cell.col, f.bRow, f.bCol);
      if (stack == bottom) return;
      f = *--stack;
    }
    aRow = f.cell.row;
    aCol = f.cell.col;
    bRow = f.bRow;
    bCol = f.bCol;
  }
}

// ---------------------------------------------------------------------------
// Candidates

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
  if (criterion == tMinimiseCriterion::FrictionSum) return s;
  if (criterion == tMinimiseCriterion::FrictionMean) return s / n;
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
    if (criterion != tMinimiseCriterion::FrictionSD) return true;
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
  if (criterion == tMinimiseCriterion::FrictionSD && saturated) return kMax;
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
  if (criterion == tMinimiseCriterion::FrictionSD) {
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

long double CostOf(const tSearch& q, long double value, uint64_t nodes) {
  return value * static_cast<long double>(q.frictionWeight) +
         static_cast<long double>(nodes) * static_cast<long double>(q.lengthWeight);
}

// The cost of a candidate of `nodes` nodes in path order, or nothing when
// the slope test refuses it.
bool CandidateCost(const tSearch& q, tCells inner, uint64_t nodes, long double& cost) {
  if (q.topography && !SlopeValid(*q.topography, q.d, q.tolerance, q.first, inner, q.last))
    return false;
  cost = CostOf(q, CriterionValue(q.friction, q.criterion, q.first, inner, q.last), nodes);
  return true;
}

// The friction sum of a candidate whose inner cells come in any order, when
// it is exact: it is then the sum in path order too, in long double as in
// double. Every friction is a whole multiple of the last place of the
// smallest nonzero magnitude among them; while the magnitudes add up to
// less than 2^53 of those units, so does every partial sum, in any order,
// and no addition rounds. Non-finite frictions fail the test (their sum is
// not finite).
bool ExactSum(const tMatrixOfSingle& friction, t2DiPoint first, tCells inner, t2DiPoint last,
              long double& sum) {
  auto at = [&](t2DiPoint p) {
    return friction[static_cast<std::size_t>(p.row)][static_cast<std::size_t>(p.col)];
  };
  const std::size_t n = inner.size();
  double total;
  uint32_t low, high; // the smallest nonzero and the largest magnitude, as bits
#if defined(__SSE2__)
  // Four frictions at a time, in two chains of additions; the magnitude
  // bits less one, with zero wrapped round to the top, give the smallest.
  const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(INT32_MAX));
  const __m128i allButSign = _mm_set1_epi32(INT32_MAX);
  __m128d s0 = _mm_setzero_pd(), s1 = _mm_setzero_pd();
  __m128 largest = _mm_setzero_ps();
  __m128i smallest = allButSign;
  auto add = [&](__m128 f) {
    const __m128 magnitude = _mm_and_ps(f, absMask);
    largest = _mm_max_ps(largest, magnitude);
    const __m128i key = _mm_and_si128(_mm_add_epi32(_mm_castps_si128(magnitude), allButSign),
                                      allButSign);
    smallest = Select(_mm_cmpgt_epi32(smallest, key), key, smallest);
    s0 = _mm_add_pd(s0, _mm_cvtps_pd(f));
    s1 = _mm_add_pd(s1, _mm_cvtps_pd(_mm_movehl_ps(f, f)));
  };
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4)
    add(_mm_setr_ps(at(inner[i]), at(inner[i + 1]), at(inner[i + 2]), at(inner[i + 3])));
  // The rest with the ends, zeros filling up (they change nothing).
  float rest[8] = {at(first), at(last)};
  for (std::size_t k = 2; i < n; ++i, ++k) rest[k] = at(inner[i]);
  add(_mm_loadu_ps(rest));
  add(_mm_loadu_ps(rest + 4));
  alignas(16) double parts[2];
  _mm_store_pd(parts, _mm_add_pd(s0, s1));
  total = parts[0] + parts[1];
  alignas(16) uint32_t lows[4], highs[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lows), smallest);
  _mm_store_si128(reinterpret_cast<__m128i*>(highs), _mm_castps_si128(largest));
  low = std::min({lows[0], lows[1], lows[2], lows[3]});
  high = std::max({highs[0], highs[1], highs[2], highs[3]});
#else
  double s0 = 0, s1 = 0; // two chains of additions
  low = ~0u;
  high = 0;
  auto add = [&](t2DiPoint p, double& s) {
    const float f = at(p);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    bits &= 0x7FFFFFFFu;
    low = std::min(low, bits - 1); // zero wraps round and drops out
    high = std::max(high, bits);
    s += f;
  };
  add(first, s0);
  add(last, s1);
  std::size_t i = 0;
  for (; i + 1 < n; i += 2) {
    add(inner[i], s0);
    add(inner[i + 1], s1);
  }
  if (i < n) add(inner[i], s0);
  total = s0 + s1;
#endif
  if (!std::isfinite(total)) return false;
  // A float of exponent field e (1 for subnormals) is a multiple of
  // 2^(e - 150) below 2^(e - 126).
  const int lowExponent = std::max(1, static_cast<int>((low + 1) >> 23));
  const int highExponent = std::max(1, static_cast<int>(high >> 23));
  const int countBits = std::bit_width(n + 1); // n + 2 terms: below 2^countBits
  if (countBits + highExponent - lowExponent + 24 > 53) return false;
  sum = static_cast<long double>(total);
  return true;
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
  tFactorRing ring(random.State());
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
    random.SetState(ring.After());
    throw;
  }
  random.SetState(ring.After());
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
  tFactorRing ring(s.random.State());
  auto run = [&](auto coord, auto& buffers, auto maxRow, auto maxCol) {
    using tCoord = decltype(coord);
    const tCoord ar = static_cast<tCoord>(aRow), ac = static_cast<tCoord>(aCol),
                 br = static_cast<tCoord>(bRow), bc = static_cast<tCoord>(bCol);
    tBuildState<tCoord> st{maxRow, maxCol, &ring, &ws.cells, &ws.drawn, &buffers.pending};
    std::size_t inner = 0;
    try {
      inner = BuildInner(st, ar, ac, br, bc, s.depth);
    } catch (...) {
      s.random.SetState(ring.After());
      throw;
    }
    s.random.SetState(ring.After());
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
