#pragma once
// Rounding and checked arithmetic used wherever a real becomes an index or a
// counter grows: errors instead of silent wrap-around.
#include "base/Errors.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace stravex {

// Nearest integer, halves to the even neighbour (default rounding mode).
inline double RoundHalfEven(double x) { return std::nearbyint(x); }
inline long double RoundHalfEven(long double x) { return std::nearbyintl(x); }

// Rounded as above; a result outside signed 32 bits (or NaN) raises ERangeError.
inline int32_t RoundToInt32(double x) {
  const double r = std::nearbyint(x);
  if (!(r >= -2147483648.0 && r <= 2147483647.0))
    RaiseRangeCheckReal("rounded value", static_cast<long double>(x), -2147483648.0L,
                        2147483647.0L);
  return static_cast<int32_t>(r);
}

// Unsigned 32-bit addition that raises EIntOverflow instead of wrapping.
inline uint32_t CheckedAdd(uint32_t a, uint32_t b) {
  uint32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow("Integer overflow");
  return r;
}

// Shortest general-format text with up to 15 significant digits, always with
// "." as decimal separator so that other programs can read it.
std::string FormatGeneral(long double v, int significantDigits = 15);

} // namespace stravex
