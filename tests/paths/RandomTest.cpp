#include "RandomFunctions.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

using namespace stravex;

namespace {

// Straightforward re-derivation of the generator from its published
// recurrence: x[n] = 5115 x[n-1] + 1776 x[n-2] + 1492 x[n-3] + 2111111111 x[n-4]
// + c (mod 2^32), c = the high word of that sum; history kept oldest first.
class ReferenceMwc {
public:
  explicit ReferenceMwc(uint64_t seed) {
    uint64_t s = seed == 0 ? 0xFFFFFFFFull : seed;
    std::array<uint64_t, 5> init{};
    for (auto& v : init) {
      s = (s ^ (s << 13)) & 0xFFFFFFFFull;
      s = s ^ (s >> 17);
      s = (s ^ (s << 5)) & 0xFFFFFFFFull;
      v = s;
    }
    // init = x0, x1, x2, x3, carry: x0 newest.
    history = {init[3], init[2], init[1], init[0]};
    carry = init[4];
    for (int i = 0; i < 19; ++i) Next();
  }
  uint64_t Next() {
    const uint64_t sum = 2111111111ull * history[0] + 1492ull * history[1] +
                         1776ull * history[2] + 5115ull * history[3] + carry;
    history.erase(history.begin());
    history.push_back(sum % 4294967296ull);
    carry = sum / 4294967296ull;
    return history.back();
  }

private:
  std::vector<uint64_t> history;
  uint64_t carry = 0;
};

std::vector<uint32_t> Draws(tRandomGenerator& g, int count) {
  std::vector<uint32_t> v;
  for (int i = 0; i < count; ++i) v.push_back(g.NextRaw());
  return v;
}

} // namespace

TEST(Random, StreamMatchesIndependentRecurrence) {
  for (const auto& [a, b] : std::vector<std::pair<int32_t, int32_t>>{{10, 10}, {20, 3}, {-7, 123}}) {
    tRandomGenerator g;
    g.Seed(a, b);
    ReferenceMwc ref(static_cast<uint32_t>(static_cast<int64_t>(a) * 10000 + b));
    for (int i = 0; i < 200; ++i) {
      const uint64_t expected = ref.Next();
      ASSERT_EQ(g.NextRaw(), expected) << "seed (" << a << "," << b << ") draw " << i;
    }
  }
  // The scaled forms are the raw output times 2^-32, exactly.
  tRandomGenerator g, h;
  g.Seed(10, 10);
  h.Seed(10, 10);
  for (int i = 0; i < 50; ++i) {
    const uint32_t raw = h.NextRaw();
    const long double next = g.Next();
    EXPECT_EQ(next, std::ldexp(static_cast<long double>(raw), -32));
    const uint32_t raw2 = h.NextRaw();
    EXPECT_EQ(g.Uniform(), std::ldexp(static_cast<double>(raw2), -32));
  }
}

TEST(Random, SeedingRules) {
  tRandomGenerator a, b;
  a.Seed(42, 7);
  b.Seed(42, 7);
  EXPECT_EQ(Draws(a, 100), Draws(b, 100));
  EXPECT_EQ(a.SeedA(), 42);
  EXPECT_EQ(a.SeedB(), 7);

  // Seed 0 would freeze the xorshift; it stands for all bits set.
  a.Seed(0, 0);
  b.InitState(4294967295u);
  EXPECT_EQ(Draws(a, 20), Draws(b, 20));
  a.InitState(0);
  b.InitState(4294967295u);
  EXPECT_EQ(Draws(a, 20), Draws(b, 20));

  // Both seed 10000.
  a.Seed(1, 0);
  b.Seed(0, 10000);
  EXPECT_EQ(Draws(a, 50), Draws(b, 50));
  // 429497 * 10000 wraps to 2704 in 32 bits.
  a.Seed(429497, 0);
  b.Seed(0, 2704);
  EXPECT_EQ(Draws(a, 50), Draws(b, 50));
  a.Seed(1, 2);
  b.Seed(2, 1);
  EXPECT_NE(Draws(a, 5), Draws(b, 5));
}

TEST(Random, UniformAndIntRanges) {
  tRandomGenerator g;
  // Output all bits set: the largest uniform value, still below 1.
  g.SetState(0, 0, 0, 0, 0xFFFFFFFFu);
  EXPECT_EQ(g.Uniform(), 1.0 - std::ldexp(1.0, -32));
  g.SetState(0, 0, 0, 0, 0xFFFFFFFFu);
  EXPECT_LT(g.Next(), 1.0L);
  g.SetState(0, 0, 0, 0, 0xFFFFFFFFu);
  EXPECT_EQ(g.Int(1000), 999);
  g.SetState(0, 0, 0, 0, 0xFFFFFFFFu);
  EXPECT_EQ(g.Int(INT32_MIN), INT32_MIN + 1);
  g.SetState(0, 0, 0, 0, 0);
  EXPECT_EQ(g.Uniform(), 0.0);

  g.Seed(3, 4);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(g.Int(1), 0);

  // Exact truncation toward zero of x0 * n / 2^32 (a long double holds the
  // 64-bit product exactly).
  for (const int32_t n : {1, 7, 1000, 2147483647, -1, -7, -1000, INT32_MIN, 0}) {
    g.Seed(n, 99);
    for (int i = 0; i < 5000; ++i) {
      tRandomGenerator peek = g;
      const long double raw = peek.NextRaw();
      const auto expected = static_cast<int32_t>(std::trunc(raw * n / 4294967296.0L));
      const int32_t got = g.Int(n);
      ASSERT_EQ(got, expected) << "n=" << n << " draw " << i;
      if (n > 0) {
        ASSERT_TRUE(got >= 0 && got < n);
      } else if (n < 0) {
        ASSERT_TRUE(got <= 0 && got > n);
      }
    }
  }
}

TEST(Random, EveryThreadStartsInTheStartUpState) {
  tRandomGenerator expected;
  expected.Seed(10, 10);
  expected.Seed(20, 3);
  const std::vector<uint32_t> startUp = Draws(expected, 30);

  tRandomGenerator fresh;
  EXPECT_EQ(fresh.SeedA(), 20);
  EXPECT_EQ(fresh.SeedB(), 3);
  EXPECT_EQ(Draws(fresh, 30), startUp);

  // Disturb this thread's generator; a new thread must not see it, and the
  // new thread's draws must not move this one.
  SeedRandom(5, 5);
  const double mainFirst = RandomUniform();
  tRandomGenerator mainCopy = CurrentRandom();
  std::vector<uint32_t> inThread;
  std::thread t([&] { inThread = Draws(CurrentRandom(), 30); });
  t.join();
  EXPECT_EQ(inThread, startUp);
  EXPECT_EQ(Draws(CurrentRandom(), 10), Draws(mainCopy, 10));

  SeedRandom(5, 5);
  EXPECT_EQ(RandomUniform(), mainFirst);
  SeedRandom(5, 5);
  tRandomGenerator same;
  same.Seed(5, 5);
  EXPECT_EQ(RandomInt(12345), same.Int(12345));
}
