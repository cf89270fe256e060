#pragma once
// How map values become palette colours: the stretch (linear, logarithmic or
// histogram-equalised) from a value to a palette level, the legend's tick
// values, and the colouring of a whole map. Free of Qt.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace stravex::gui {

enum tStretchKind : int { skLinear = 0, skLogarithmic = 1, skEqualised = 2 };
constexpr int StretchCount = 3;
// "Linear", "Logarithmic", "Histogram equalised".
const char* StretchName(int kind);

// Lowest and highest value of the shown cells; nullopt when none is shown.
struct tValueRange {
  double Lo = 0, Hi = 0;
};

// Which cells have no colour: non-finite values, the missing-value flag and,
// when asked, zeros (a corridor map's cells no path crosses).
struct tCellMask {
  std::optional<float> Flag;
  bool ZeroTransparent = false;
  bool Hidden(float v) const {
    return !std::isfinite(v) || (Flag && v == *Flag) || (ZeroTransparent && v == 0);
  }
};

std::optional<tValueRange> ShownRange(const float* cells, std::size_t n, const tCellMask& mask);

class tMapStretch {
public:
  // Values lo..hi onto 0..1. Logarithmic: log(1 + k t) / log(1 + k) of the
  // linear fraction t with k = max(hi - lo, 1), i.e. log(1 + v) for counts
  // from 0. Equalised: the share of the sample's values at or below v (the
  // sample's distribution; its order does not matter), lo at 0.
  tMapStretch(tStretchKind kind, double lo, double hi, std::vector<float> sample = {});

  tStretchKind Kind() const { return fKind; }
  double Lo() const { return fLo; }
  double Hi() const { return fHi; }
  // 0..1, clamped outside lo..hi.
  double Fraction(double v) const;
  // The value whose fraction is f (for equalised: the sample's quantile).
  double ValueAt(double f) const;
  // Palette level 0..levels-1 of v: the fraction times levels - 1, rounded.
  int Level(double v, int levels) const;
  // Legend values, lowest first, always lo and hi, "round" values between
  // (1-2-5 steps for linear and logarithmic, rounded quantiles for equalised)
  // at least 0.8 / maxTicks of the bar apart.
  std::vector<double> Ticks(int maxTicks = 8) const;

private:
  tStretchKind fKind;
  double fLo, fHi;
  double fK = 1;
  std::vector<float> fSorted;
  double fBase = 0; // share of the sample at or below lo
};

// A stretch of the kind over the shown cells (the equalised one from a sample
// of at most 2^17 of them), from lowest when that is lower; nullopt when no
// cell is shown. range, when given, is taken for the shown cells' range.
std::optional<tMapStretch> MakeStretch(tStretchKind kind, const float* cells, std::size_t n,
                                       const tCellMask& mask,
                                       std::optional<double> lowest = std::nullopt,
                                       std::optional<tValueRange> range = std::nullopt);

// out[i] = colours[level of cells[i]], or 0 (transparent) for hidden cells.
// Exact, yet without a stretch computation per cell for most cells. out may
// be the memory of cells (colouring in place).
void ColourCells(const float* cells, std::size_t n, const tMapStretch& stretch,
                 const std::vector<uint32_t>& colours, const tCellMask& mask, uint32_t* out);

// A tick value as the legend writes it: up to 4 significant digits.
std::string TickText(double v);

} // namespace stravex::gui
