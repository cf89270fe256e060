#include "analysis/OrderedRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace stravex;

namespace {
// Uneven work so that later items often finish before earlier ones.
std::size_t SlowSquare(std::size_t i) {
  if (i % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return i * i;
}
} // namespace

TEST(OrderedRunner, ResultsArriveInItemOrderWhateverTheThreadCount) {
  for (int threads : {1, 2, 4, 8}) {
    std::vector<std::size_t> seen;
    RunOrdered<std::size_t>(100, threads, SlowSquare, [&](std::size_t i, std::size_t& r) {
      EXPECT_EQ(r, i * i);
      seen.push_back(i);
      return true;
    });
    ASSERT_EQ(seen.size(), 100u) << threads;
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i);
  }
}

TEST(OrderedRunner, StoppingEarlyConsumesNothingMore) {
  for (int threads : {1, 3}) {
    std::atomic<int> computed{0};
    std::vector<std::size_t> seen;
    RunOrdered<int>(
        1000, threads,
        [&](std::size_t) {
          ++computed;
          return 1;
        },
        [&](std::size_t i, int&) {
          seen.push_back(i);
          return i < 4;
        });
    EXPECT_EQ(seen, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    // Workers may run a little ahead, but not through the whole list.
    EXPECT_LT(computed.load(), 100);
  }
}

TEST(OrderedRunner, ErrorSurfacesAfterEverythingBeforeItWasConsumed) {
  for (int threads : {1, 2}) {
    std::vector<std::size_t> seen;
    EXPECT_THROW(RunOrdered<std::size_t>(
                     50, threads,
                     [](std::size_t i) -> std::size_t {
                       if (i == 17) throw std::runtime_error("bad item");
                       return SlowSquare(i);
                     },
                     [&](std::size_t i, std::size_t&) {
                       seen.push_back(i);
                       return true;
                     }),
                 std::runtime_error);
    ASSERT_EQ(seen.size(), 17u);
    EXPECT_EQ(seen.back(), 16u);
  }
}
