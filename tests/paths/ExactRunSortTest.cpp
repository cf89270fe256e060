#include "paths/ExactRunSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

using namespace stravex::exact;

namespace {

// How the waiting cells of one bucket may look.
enum class tRun {
  Distinct,      // costs spread over the bucket, cells all over the map
  Equal,         // one cost (whole-number frictions), cells all over 32 bits
  EqualStrips,   // one cost, cells in a few strips of neighbouring indices
  FewCosts,      // a handful of costs, many cells each
  AcrossBinade,  // costs on both sides of a power of two
  ZeroAndHuge,   // costs from +0 to near the largest double
  SameCellOrder, // distinct costs, cells in falling order
};

std::vector<tEntry> MakeRun(std::mt19937_64& g, tRun kind, std::size_t n) {
  std::vector<tEntry> run(n);
  std::uniform_real_distribution<double> bucket(1000.0, 1000.0 + 1.0 / 64);
  std::uniform_real_distribution<double> binade(2.0 - 1e-9, 2.0 + 1e-9);
  std::uniform_int_distribution<uint32_t> cell(0, UINT32_MAX);
  const double few[] = {7.25, 7.25 + 1e-12, 7.2500001};
  std::size_t k = 0;
  for (tEntry& e : run) {
    switch (kind) {
    case tRun::Distinct: e = {std::bit_cast<uint64_t>(bucket(g)), cell(g) % 64000000}; break;
    case tRun::Equal: e = {std::bit_cast<uint64_t>(12.0), cell(g)}; break;
    case tRun::EqualStrips: // rows of a front: runs of consecutive indices
      e = {std::bit_cast<uint64_t>(3.5), static_cast<uint32_t>((k % 5) * 8000 + k / 5)};
      break;
    case tRun::FewCosts: e = {std::bit_cast<uint64_t>(few[g() % 3]), cell(g) % 4000}; break;
    case tRun::AcrossBinade: e = {std::bit_cast<uint64_t>(binade(g)), cell(g)}; break;
    case tRun::ZeroAndHuge:
      e = {k % 7 == 0 ? uint64_t{0} : std::bit_cast<uint64_t>(1e300) - g() % 1000, cell(g)};
      break;
    case tRun::SameCellOrder:
      e = {std::bit_cast<uint64_t>(bucket(g)), static_cast<uint32_t>(n - k)};
      break;
    }
    ++k;
  }
  // Entries are unique, as cells are; shuffled, as pushes arrive.
  std::sort(run.begin(), run.end(), Before);
  run.erase(std::unique(run.begin(), run.end(),
                        [](const tEntry& a, const tEntry& b) {
                          return a.Key == b.Key && a.Cell == b.Cell;
                        }),
            run.end());
  std::shuffle(run.begin(), run.end(), g);
  return run;
}

} // namespace

// Whatever the run, the sorter must give the order of a comparison sort by
// (cost, cell index): the order in which the search settles cells.
TEST(ExactRunSort, OrdersAsAComparisonSortByCostThenCell) {
  std::mt19937_64 g(77);
  tRunSorter sorter;
  // Around the least run that is spread, and runs that need more groups
  // than there are.
  const std::size_t sizes[] = {
      0,  1,  2,   3,    kRunSortDirect - 1,     kRunSortDirect,        kRunSortDirect + 1,
      33, 96, 257, 1000, kRunSortGroups / 2 + 1, 3 * kRunSortGroups + 3};
  const tRun kinds[] = {tRun::Distinct,     tRun::Equal,       tRun::EqualStrips,  tRun::FewCosts,
                        tRun::AcrossBinade, tRun::ZeroAndHuge, tRun::SameCellOrder};
  for (const tRun kind : kinds)
    for (const std::size_t n : sizes)
      for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(kind) << ", n " << n);
        std::vector<tEntry> run = MakeRun(g, kind, n);
        std::vector<tEntry> want = run;
        std::sort(want.begin(), want.end(), Before);
        std::vector<tEntry> spare(RunSortSpare(run.size()));
        const tEntry* got = sorter.Sort(run.data(), run.size(), spare.data());
        ASSERT_TRUE(got == run.data() || got == spare.data());
        for (std::size_t i = 0; i < want.size(); ++i) {
          ASSERT_EQ(got[i].Key, want[i].Key) << "at " << i;
          ASSERT_EQ(got[i].Cell, want[i].Cell) << "at " << i;
        }
      }
}
