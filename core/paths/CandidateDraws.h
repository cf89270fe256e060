#pragma once
// Internals of the Monte-Carlo least-cost search (CostPath.h): the
// displacement factors its candidates draw, and where a drawn node lands.
#include "base/CommonDecl.h"
#include "base/Numeric.h"
#include "base/RandomFunctions.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stravex::costpath {

// ---------------------------------------------------------------------------
// Displacement factors

// The factors 2u - 1 of the displacements (u as tRandomGenerator::Uniform returns it, so
// every factor is exact) come from a private copy of the generator that runs
// ahead in a ring: the subdivision steps it a few times per node drawn,
// ahead of the draws it takes, so that the generator's chain of dependent
// steps overlaps the geometry instead of preceding it. The caller's
// generator is then given the state after exactly the draws taken.
//
// Each step is stored whole, as the generator's word t (tRandomWords), and
// the three older lags are the low halves of the three steps before. The
// state after step i is therefore read off slots i-3 .. i.
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

  explicit tFactorRing(const tRandomWords& w) {
    Put(0, w.x3);
    Put(1, w.x2);
    Put(2, w.x1);
    Put(3, w.t);
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
    centred[s] = Centred(t);
    if (s >= kRing - kLags) Raw()[static_cast<int32_t>(s - kRing)] = t;
  }
  // After a run of steps written to Raw()[first] .. Raw()[end - 1] and the
  // same slots of `centred`: copies what lies past the end to the start, and
  // the last four slots before it.
  void Settle(uint32_t first, uint32_t end) {
    for (uint32_t s = std::max(first, kRing - kLags); s < end; ++s)
      Raw()[static_cast<int32_t>(s) - static_cast<int32_t>(kRing)] = Raw()[s];
    for (uint32_t s = std::max(first, kRing); s < end; ++s) centred[s - kRing] = centred[s];
  }

  // x0 - 2^31 of a step: (2u - 1) * 2^31, exact. Converted as the step is
  // made, so that a draw taken is one load away from its product.
  static double Centred(uint64_t t) {
    return static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(t) ^ 0x80000000u));
  }

  // Steps produced and not yet taken; negative when the subdivision has
  // passed draws whose values it did not need.
  int32_t Lead() const { return static_cast<int32_t>(produced - used); }

  // The factor of draw i (still in the ring).
  double Factor(uint32_t i) const { return 2 * UniformOfRaw(static_cast<uint32_t>(Step(i))) - 1; }

  // Runs kTopUpLead steps ahead of the draws taken (through any draws
  // passed over).
  [[gnu::noinline]] void TopUp() {
    tRandomWords w = StateAt(produced);
    uint32_t p = produced;
    for (; static_cast<int32_t>(p - used) < kTopUpLead; ++p) {
      StepRandom(w);
      Put(p, w.t);
    }
    produced = p;
  }

  // The generator state after the last draw taken.
  tRandomWords After() {
    if (Lead() < 0) TopUp();
    return StateAt(used);
  }

  // The state after `steps` steps, counted as `produced`.
  tRandomWords StateAt(uint32_t steps) const {
    return {Step(steps - 1), static_cast<uint32_t>(Step(steps - 2)),
            static_cast<uint32_t>(Step(steps - 3)), static_cast<uint32_t>(Step(steps - 4))};
  }

  uint32_t produced = 4; // steps so far, counting the four of the initial state
  uint32_t used = 4;     // draws taken, counted alike
  alignas(16) std::array<uint64_t, kLags + kRing + kMaxAhead> storage;
  // Centred(step) by slot, with the kMaxAhead slots past the end as above.
  alignas(16) std::array<double, kRing + kMaxAhead> centred;
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

#if defined(__SSE2__)
// The lanes of a where mask is set, of b elsewhere.
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}
#endif

} // namespace stravex::costpath
