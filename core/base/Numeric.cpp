#include "base/Numeric.h"

#include <charconv>

namespace stravex {

std::string FormatGeneral(long double v, int significantDigits) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general,
                                 significantDigits);
  return std::string(buf, res.ptr);
}

} // namespace stravex
