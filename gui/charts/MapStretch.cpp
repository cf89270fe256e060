#include "MapStretch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace stravex::gui {

namespace {

// Candidate tick offsets from lo: 1, 2, 5 times powers of ten up to span.
std::vector<double> StepValues(double span) {
  std::vector<double> out;
  if (!(span > 0)) return out;
  const int top = static_cast<int>(std::ceil(std::log10(span)));
  for (int e = top - 7; e <= top; ++e)
    for (double m : {1.0, 2.0, 5.0}) {
      const double v = m * std::pow(10.0, e);
      if (v < span) out.push_back(v);
    }
  return out;
}

// Rounds to two significant digits (for quantile ticks).
double RoundValue(double v) {
  if (v == 0 || !std::isfinite(v)) return v;
  const double p = std::pow(10.0, std::floor(std::log10(std::fabs(v))) - 1);
  return std::nearbyint(v / p) * p;
}

} // namespace

const char* StretchName(int kind) {
  switch (kind) {
  case skLogarithmic: return "Logarithmic";
  case skEqualised: return "Histogram equalised";
  default: return "Linear";
  }
}

std::optional<tValueRange> ShownRange(const float* cells, std::size_t n, const tCellMask& mask) {
  constexpr float inf = std::numeric_limits<float>::infinity();
  const bool flagged = mask.Flag.has_value(), zeros = mask.ZeroTransparent;
  const float flag = mask.Flag.value_or(0);
  float lo = inf, hi = -inf;
  std::size_t i = 0;
#if defined(__SSE2__)
  // Four cells at a time without branches: a map's cells are often noisy,
  // and a 4000 x 4000 map is read whole each time it is opened or restretched.
  const __m128 zero = _mm_setzero_ps();
  const __m128 pinf = _mm_set1_ps(inf), ninf = _mm_set1_ps(-inf), vflag = _mm_set1_ps(flag);
  __m128 lo4 = pinf, hi4 = ninf;
  for (; i + 4 <= n; i += 4) {
    const __m128 v = _mm_loadu_ps(cells + i);
    __m128 ok = _mm_cmpeq_ps(_mm_sub_ps(v, v), zero); // finite
    if (flagged) ok = _mm_and_ps(ok, _mm_cmpneq_ps(v, vflag));
    if (zeros) ok = _mm_and_ps(ok, _mm_cmpneq_ps(v, zero));
    lo4 = _mm_min_ps(lo4, _mm_or_ps(_mm_and_ps(ok, v), _mm_andnot_ps(ok, pinf)));
    hi4 = _mm_max_ps(hi4, _mm_or_ps(_mm_and_ps(ok, v), _mm_andnot_ps(ok, ninf)));
  }
  alignas(16) float l[4], h[4];
  _mm_store_ps(l, lo4);
  _mm_store_ps(h, hi4);
  lo = std::min({l[0], l[1], l[2], l[3]});
  hi = std::max({h[0], h[1], h[2], h[3]});
#endif
  for (; i < n; ++i) {
    const float v = cells[i];
    if (mask.Hidden(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (lo > hi) return std::nullopt;
  return tValueRange{lo, hi};
}

tMapStretch::tMapStretch(tStretchKind kind, double lo, double hi, std::vector<float> sample)
    : fKind(kind), fLo(lo), fHi(std::max(lo, hi)), fSorted(std::move(sample)) {
  fK = std::max(fHi - fLo, 1.0);
  if (fKind == skEqualised) {
    std::sort(fSorted.begin(), fSorted.end());
    if (fSorted.empty())
      fKind = skLinear;
    else
      fBase = static_cast<double>(std::upper_bound(fSorted.begin(), fSorted.end(), fLo) -
                                  fSorted.begin()) /
              static_cast<double>(fSorted.size());
  } else {
    fSorted.clear();
  }
}

double tMapStretch::Fraction(double v) const {
  if (!(v > fLo)) return 0; // also NaN
  if (v >= fHi) return 1;
  const double t = (v - fLo) / (fHi - fLo);
  switch (fKind) {
  case skLogarithmic: return std::log1p(fK * t) / std::log1p(fK);
  case skEqualised: {
    if (fBase >= 1) return 0;
    const double share = static_cast<double>(std::upper_bound(fSorted.begin(), fSorted.end(),
                                                              static_cast<float>(v)) -
                                             fSorted.begin()) /
                         static_cast<double>(fSorted.size());
    return std::clamp((share - fBase) / (1 - fBase), 0.0, 1.0);
  }
  default: return t;
  }
}

double tMapStretch::ValueAt(double f) const {
  f = std::clamp(f, 0.0, 1.0);
  switch (fKind) {
  case skLogarithmic: return fLo + std::expm1(f * std::log1p(fK)) / fK * (fHi - fLo);
  case skEqualised: {
    const double share = fBase + f * (1 - fBase);
    const auto m = static_cast<double>(fSorted.size());
    const auto k = static_cast<std::size_t>(std::clamp(std::ceil(share * m) - 1, 0.0, m - 1));
    return std::clamp(static_cast<double>(fSorted[k]), fLo, fHi);
  }
  default: return fLo + f * (fHi - fLo);
  }
}

int tMapStretch::Level(double v, int levels) const {
  if (levels <= 1) return 0;
  return std::clamp(static_cast<int>(std::nearbyint(Fraction(v) * (levels - 1))), 0, levels - 1);
}

std::vector<double> tMapStretch::Ticks(int maxTicks) const {
  std::vector<double> out{fLo};
  if (!(fHi > fLo)) return out;
  const double gap = 0.8 / std::max(maxTicks, 2);
  std::vector<double> candidates;
  const double span = fHi - fLo;
  if (fKind == skLinear) {
    // The finest 1-2-5 step that gives at most maxTicks ticks.
    double step = span;
    for (double s : StepValues(span * 1.0000001))
      if (span / s <= maxTicks) {
        step = s;
        break;
      }
    for (double k = std::ceil(fLo / step); k * step < fHi; ++k) candidates.push_back(k * step);
  } else if (fKind == skLogarithmic) {
    // Below 1 (with a span of at least 1) the scale is nearly linear and
    // squeezed at the bottom: no ticks there.
    for (double s : StepValues(span))
      if (s >= 1 || span < 1) candidates.push_back(fLo + s);
  } else {
    for (int k = 1; k < maxTicks; ++k)
      candidates.push_back(RoundValue(ValueAt(static_cast<double>(k) / maxTicks)));
  }
  for (double v : candidates) {
    if (!(v > fLo) || !(v < fHi)) continue;
    if (Fraction(v) - Fraction(out.back()) >= gap && Fraction(fHi) - Fraction(v) >= gap / 2)
      out.push_back(v);
  }
  out.push_back(fHi);
  return out;
}

std::optional<tMapStretch> MakeStretch(tStretchKind kind, const float* cells, std::size_t n,
                                       const tCellMask& mask, std::optional<double> lowest,
                                       std::optional<tValueRange> range) {
  if (!range) range = ShownRange(cells, n, mask);
  if (!range) return std::nullopt;
  const double lo = lowest ? std::min(*lowest, range->Lo) : range->Lo;
  std::vector<float> sample;
  if (kind == skEqualised) {
    constexpr std::size_t kSample = std::size_t{1} << 17;
    const std::size_t stride = std::max<std::size_t>(1, n / kSample);
    for (std::size_t i = 0; i < n; i += stride)
      if (!mask.Hidden(cells[i])) sample.push_back(cells[i]);
    if (sample.empty()) sample.push_back(static_cast<float>(range->Hi));
  }
  return tMapStretch(kind, lo, range->Hi, std::move(sample));
}

void ColourCells(const float* cells, std::size_t n, const tMapStretch& stretch,
                 const std::vector<uint32_t>& colours, const tCellMask& mask, uint32_t* out) {
  const int levels = static_cast<int>(colours.size());
  if (levels == 0) {
    std::fill(out, out + n, 0u);
    return;
  }
  // Values fall into equal bins; a bin whose neighbours on both sides share
  // its level takes its colour from the table (the stretch is monotonic, so
  // rounding at a bin's edge cannot change the level); the others are
  // computed exactly.
  constexpr int kBins = 1 << 16;
  const double lo = stretch.Lo(), span = stretch.Hi() - stretch.Lo();
  // The table holds the colour itself; 0 (no colour of an opaque palette)
  // sends the cell to the exact computation.
  std::vector<uint32_t> table(kBins, 0);
  double scale = 0;
  if (span > 0) {
    const double width = span / kBins;
    scale = kBins / span;
    std::vector<int> edge(kBins + 3);
    for (int b = 0; b < kBins + 3; ++b) edge[b] = stretch.Level(lo + (b - 1) * width, levels);
    for (int b = 0; b < kBins; ++b)
      if (edge[b] == edge[b + 3]) table[b] = colours[static_cast<std::size_t>(edge[b])];
  }
  // Each cell is read before its colour is written: through bytes, since
  // out may overlay cells. In single precision: the error is far below the
  // bin the table's neighbour check allows for.
  const auto* bytes = reinterpret_cast<const unsigned char*>(cells);
  const auto flo = static_cast<float>(lo), fscale = static_cast<float>(scale);
  for (std::size_t i = 0; i < n; ++i) {
    float v;
    std::memcpy(&v, bytes + i * sizeof(float), sizeof v);
    if (mask.Hidden(v)) {
      out[i] = 0;
      continue;
    }
    const float x = (v - flo) * fscale;
    uint32_t colour = x >= 0 && x < kBins ? table[static_cast<std::size_t>(x)] : 0;
    if (colour == 0) colour = colours[static_cast<std::size_t>(stretch.Level(v, levels))];
    out[i] = colour;
  }
}

std::string TickText(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", v);
  return buffer;
}

} // namespace stravex::gui
