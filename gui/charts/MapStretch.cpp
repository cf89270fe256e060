#include "MapStretch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
  float lo = 0, hi = 0;
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) {
    const float v = cells[i];
    if (mask.Hidden(v)) continue;
    if (!any) {
      lo = hi = v;
      any = true;
    }
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (!any) return std::nullopt;
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
    for (double s : StepValues(span)) candidates.push_back(fLo + s);
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
                                       const tCellMask& mask, std::optional<double> lowest) {
  const auto range = ShownRange(cells, n, mask);
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
  std::vector<int32_t> table;
  double scale = 0;
  if (span > 0) {
    table.assign(kBins, -1);
    const double width = span / kBins;
    scale = kBins / span;
    std::vector<int> edge(kBins + 3);
    for (int b = 0; b < kBins + 3; ++b) edge[b] = stretch.Level(lo + (b - 1) * width, levels);
    for (int b = 0; b < kBins; ++b)
      if (edge[b] == edge[b + 3]) table[b] = edge[b];
  }
  for (std::size_t i = 0; i < n; ++i) {
    const float v = cells[i];
    if (mask.Hidden(v)) {
      out[i] = 0;
      continue;
    }
    int level = -1;
    const double x = (v - lo) * scale;
    if (!table.empty() && x >= 0 && x < kBins) level = table[static_cast<std::size_t>(x)];
    if (level < 0) level = stretch.Level(v, levels);
    out[i] = colours[static_cast<std::size_t>(level)];
  }
}

std::string TickText(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.4g", v);
  return buffer;
}

} // namespace stravex::gui
