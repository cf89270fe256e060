#pragma once
// Internals of the Monte-Carlo least-cost search (CostPath.h): the parts of
// a subdivision whose nodes no draw can move, looked up in a table.
#include "base/CommonDecl.h"
#include "paths/CandidateDraws.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace stravex::costpath {

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

inline constexpr tSettledTable kSettled = [] {
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

} // namespace stravex::costpath
