#pragma once
// Internals of the exact least-cost search (ExactPath.h): the waiting cells
// of one bucket of its queue put in the order they are settled in.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

namespace stravex::exact {

// A waiting cell and its cost (as bits), 12 bytes.
struct __attribute__((packed)) tEntry {
  uint64_t Key;
  uint32_t Cell;
};
static_assert(sizeof(tEntry) == 12);

inline bool Before(const tEntry& a, const tEntry& b) {
  return a.Key < b.Key || (a.Key == b.Key && a.Cell < b.Cell);
}

// Runs shorter than this are put in order by insertion, in place.
constexpr std::size_t kRunSortDirect = 8;
// Groups of the distribution, at most.
constexpr std::size_t kRunSortGroups = std::size_t{1} << 12;
// Groups of up to this many entries are put in order by insertion.
constexpr std::size_t kRunSortInsertion = 16;

// Room a sort of n entries needs beside them.
constexpr std::size_t RunSortSpare(std::size_t n) { return n < kRunSortDirect ? 0 : n; }

// A sort by comparisons mispredicts about every other branch on such runs;
// this one spreads the entries over about two groups per entry by the high
// bits of the cost above the run's least, or, when the run has one cost
// (whole-number frictions), of the cell index above the least (monotone in
// the order, so the groups come in order), in two passes without
// data-dependent branches, and then puts each group in order by insertion.
class tRunSorter {
public:
  // Sorts run[0, n) by (Key, Cell); spare holds RunSortSpare(n) entries.
  // Returns where the sorted run is: run or spare.
  tEntry* Sort(tEntry* run, std::size_t n, tEntry* spare) {
    if (n < kRunSortDirect) {
      Insert(run, n);
      return run;
    }
    uint64_t keyLo = run[0].Key, keyHi = keyLo;
    uint32_t cellLo = run[0].Cell, cellHi = cellLo;
    for (std::size_t i = 1; i < n; ++i) {
      keyLo = std::min(keyLo, run[i].Key);
      keyHi = std::max(keyHi, run[i].Key);
      cellLo = std::min(cellLo, run[i].Cell);
      cellHi = std::max(cellHi, run[i].Cell);
    }
    if (keyLo == keyHi)
      return Distribute(run, n, spare, cellLo, cellHi,
                        [](const tEntry& e) -> uint64_t { return e.Cell; });
    return Distribute(run, n, spare, keyLo, keyHi, [](const tEntry& e) { return e.Key; });
  }

private:
  static void Insert(tEntry* run, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) {
      const tEntry e = run[i];
      std::size_t j = i;
      for (; j > 0 && Before(e, run[j - 1]); --j) run[j] = run[j - 1];
      run[j] = e;
    }
  }

  // A large group: with costs in whole numbers mostly cells at one cost.
  static void SortDirect(tEntry* run, std::size_t n) {
    if (n < 2) return;
    const uint64_t key = run[0].Key;
    if (std::all_of(run, run + n, [key](const tEntry& e) { return e.Key == key; }))
      std::sort(run, run + n, [](const tEntry& a, const tEntry& b) { return a.Cell < b.Cell; });
    else
      std::sort(run, run + n, Before);
  }

  template <typename tProject>
  tEntry* Distribute(const tEntry* src, std::size_t n, tEntry* dst, uint64_t lo, uint64_t hi,
                     tProject key) {
    const std::size_t groups = std::min(std::bit_ceil(2 * n), kRunSortGroups);
    const auto groupBits = static_cast<uint32_t>(std::countr_zero(groups));
    const auto bits = static_cast<uint32_t>(std::bit_width(hi - lo));
    const uint32_t shift = bits > groupBits ? bits - groupBits : 0;
    std::fill_n(fCounts, groups, 0u);
    for (std::size_t i = 0; i < n; ++i) ++fCounts[(key(src[i]) - lo) >> shift];
    uint32_t sum = 0, most = 0;
    for (std::size_t g = 0; g < groups; ++g) {
      most = std::max(most, fCounts[g]);
      sum += std::exchange(fCounts[g], sum);
    }
    for (std::size_t i = 0; i < n; ++i) dst[fCounts[(key(src[i]) - lo) >> shift]++] = src[i];
    // fCounts[g] is now the end of group g. Large groups (many cells at
    // nearly one cost) are sorted whole; insertion then orders the rest
    // without moving an entry out of its group.
    if (most > kRunSortInsertion)
      for (std::size_t g = 0, begin = 0; g < groups; begin = fCounts[g++])
        if (fCounts[g] - begin > kRunSortInsertion) SortDirect(dst + begin, fCounts[g] - begin);
    Insert(dst, n);
    return dst;
  }

  // Held apart from the search's other members, which stay close together.
  std::unique_ptr<uint32_t[]> fCountsHeld{new uint32_t[kRunSortGroups]};
  uint32_t* fCounts = fCountsHeld.get();
};

} // namespace stravex::exact
