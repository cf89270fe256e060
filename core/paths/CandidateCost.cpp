#include "paths/CandidateCost.h"

#include "base/StatOps.h"
#include "paths/CandidateDraws.h"
#include "paths/CostPath.h"
#include "raster/Raster.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stravex::costpath {

namespace {

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

} // namespace

long double ValueOfSums(tMinimiseCriterion criterion, long double s, long double q, uint32_t n) {
  if (criterion == tMinimiseCriterion::FrictionSum) return s;
  if (criterion == tMinimiseCriterion::FrictionMean) return s / n;
  long double mean = 0, variance = 0;
  MeanAndVariance(n, mean, variance, s, q);
  return SDFromVariance(variance);
}

bool CandidateCost(const tSearch& q, tCells inner, uint64_t nodes, long double& cost) {
  if (q.topography && !SlopeValid(*q.topography, q.d, q.tolerance, q.first, inner, q.last))
    return false;
  cost = CostOf(q, CriterionValue(q.friction, q.criterion, q.first, inner, q.last), nodes);
  return true;
}

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

} // namespace stravex::costpath
