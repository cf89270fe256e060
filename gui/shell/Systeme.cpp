#include "Systeme.h"
#include "base/Version.h"

#include <algorithm>

namespace stravex::gui {

namespace {
// Each part must fit the 16 bits a version resource gives it.
constexpr long long kParts[4] = {stravex::kVersionMajor, stravex::kVersionMinor,
                                 stravex::kVersionPatch, stravex::kVersionTweak};
static_assert(std::all_of(std::begin(kParts), std::end(kParts),
                          [](long long p) { return p >= 0 && p <= 0xFFFF; }),
              "version parts must fit in 16 bits");
} // namespace

tFileVersion GetFileVersion() {
  return {static_cast<uint16_t>(kParts[0]), static_cast<uint16_t>(kParts[1]),
          static_cast<uint16_t>(kParts[2]), static_cast<uint16_t>(kParts[3])};
}

QString GetVersionString(int n) {
  n = std::clamp(n, 1, 4);
  const tFileVersion v = GetFileVersion();
  const uint16_t parts[4] = {v.Major, v.Minor, v.Release, v.Build};
  QString s = QString::number(parts[0]);
  for (int i = 1; i < n; ++i) s += QLatin1Char('.') + QString::number(parts[i]);
  return s;
}

} // namespace stravex::gui
