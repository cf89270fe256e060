// Map stretches: value to palette level, legend ticks, whole-map colouring.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "MapStretch.h"

using namespace stravex::gui;

namespace {

TEST(MapStretch, LinearAndLogarithmicFractionsLevelsAndInverse) {
  const tMapStretch lin(skLinear, 0, 357);
  EXPECT_DOUBLE_EQ(lin.Fraction(0), 0);
  EXPECT_DOUBLE_EQ(lin.Fraction(357), 1);
  EXPECT_DOUBLE_EQ(lin.Fraction(178.5), 0.5);
  EXPECT_DOUBLE_EQ(lin.Fraction(-5), 0); // clamped
  EXPECT_DOUBLE_EQ(lin.Fraction(400), 1);
  EXPECT_EQ(lin.Level(3, 6), 0); // 3/357*5 = 0.04
  EXPECT_EQ(lin.Level(357, 512), 511);
  EXPECT_DOUBLE_EQ(lin.ValueAt(0.25), 89.25);

  // Counts from 0: log(1 + v) / log(1 + max), so one path is far from white.
  const tMapStretch log(skLogarithmic, 0, 357);
  EXPECT_NEAR(log.Fraction(1), std::log(2.0) / std::log(358.0), 1e-12);
  EXPECT_NEAR(log.Fraction(10), std::log(11.0) / std::log(358.0), 1e-12);
  EXPECT_EQ(log.Level(1, 512),
            static_cast<int>(std::nearbyint(511 * std::log(2.0) / std::log(358.0))));
  for (double v : {0.5, 1.0, 7.0, 100.0, 356.0}) EXPECT_NEAR(log.ValueAt(log.Fraction(v)), v, 1e-9);
  // Shifted ranges behave alike; a span below 1 is nearly linear.
  const tMapStretch shifted(skLogarithmic, 1000, 1357);
  EXPECT_NEAR(shifted.Fraction(1001), log.Fraction(1), 1e-12);
  const tMapStretch narrow(skLogarithmic, 0, 0.01); // k = 1
  EXPECT_NEAR(narrow.Fraction(0.005), std::log(1.5) / std::log(2.0), 1e-12);
  // A flat map: everything on the lowest level.
  const tMapStretch flat(skLogarithmic, 4, 4);
  EXPECT_EQ(flat.Level(4, 512), 0);
  EXPECT_EQ(flat.Ticks(), std::vector<double>{4});
}

TEST(MapStretch, EqualisedFollowsTheDistribution) {
  // 60 ones, 30 twos, 9 tens, one 357; lo 0 (no sample value there).
  std::vector<float> sample;
  sample.insert(sample.end(), 60, 1.0f);
  sample.insert(sample.end(), 30, 2.0f);
  sample.insert(sample.end(), 9, 10.0f);
  sample.push_back(357.0f);
  std::shuffle(sample.begin(), sample.end(), std::mt19937(3));
  const tMapStretch eq(skEqualised, 0, 357, sample);
  EXPECT_DOUBLE_EQ(eq.Fraction(0), 0);
  EXPECT_DOUBLE_EQ(eq.Fraction(1), 0.6);
  EXPECT_DOUBLE_EQ(eq.Fraction(1.5), 0.6);
  EXPECT_DOUBLE_EQ(eq.Fraction(2), 0.9);
  EXPECT_DOUBLE_EQ(eq.Fraction(10), 0.99);
  EXPECT_DOUBLE_EQ(eq.Fraction(357), 1);
  EXPECT_DOUBLE_EQ(eq.ValueAt(0.5), 1);
  EXPECT_DOUBLE_EQ(eq.ValueAt(0.8), 2);
  // lo itself in the sample: its share is the start of the scale.
  const tMapStretch base(skEqualised, 1, 357, sample);
  EXPECT_DOUBLE_EQ(base.Fraction(1), 0);
  EXPECT_DOUBLE_EQ(base.Fraction(2), 0.75); // (0.9 - 0.6) / 0.4
}

TEST(MapStretch, TicksFollowTheStretch) {
  EXPECT_EQ(tMapStretch(skLinear, 0, 357).Ticks(6), (std::vector<double>{0, 100, 200, 300, 357}));
  EXPECT_EQ(tMapStretch(skLinear, 0.2, 0.9).Ticks(8).size(), 8u); // 0.2, 0.3 ... 0.8, 0.9
  const tMapStretch log(skLogarithmic, 0, 357);
  const std::vector<double> ticks = log.Ticks(8);
  ASSERT_GE(ticks.size(), 5u);
  EXPECT_EQ(ticks.front(), 0);
  EXPECT_EQ(ticks.back(), 357);
  for (double v : {1.0, 5.0, 10.0, 100.0})
    EXPECT_NE(std::find(ticks.begin(), ticks.end(), v), ticks.end()) << v;
  EXPECT_EQ(ticks[1], 1); // nothing between 0 and 1 for counts
  for (std::size_t i = 1; i + 1 < ticks.size(); ++i)
    EXPECT_GE(log.Fraction(ticks[i]) - log.Fraction(ticks[i - 1]), 0.8 / 8 - 1e-12);

  std::vector<float> sample;
  for (int k = 0; k < 1000; ++k) sample.push_back(static_cast<float>(k * k) / 1000.0f);
  const tMapStretch eq(skEqualised, 0, 998, sample);
  const std::vector<double> q = eq.Ticks(4);
  ASSERT_EQ(q.size(), 5u); // 0, quartiles rounded to two digits, 998
  EXPECT_EQ(q[2], 250);    // the median, 249.5 -> 250
  EXPECT_NEAR(eq.Fraction(q[2]), 0.5, 0.01);
  EXPECT_EQ(TickText(0.000123456), "0.0001235");
  EXPECT_EQ(TickText(357), "357");
}

TEST(MapStretch, ShownCellsAndExactColouring) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> cells{0, 3, -9, nan, 7, std::numeric_limits<float>::infinity(), 1};
  tCellMask mask;
  mask.Flag = -9;
  auto range = ShownRange(cells.data(), cells.size(), mask);
  ASSERT_TRUE(range);
  EXPECT_EQ(range->Lo, 0);
  EXPECT_EQ(range->Hi, 7);
  mask.ZeroTransparent = true;
  range = ShownRange(cells.data(), cells.size(), mask);
  EXPECT_EQ(range->Lo, 1);
  // A corridor's scale starts at 0 although no shown cell is 0.
  EXPECT_EQ(MakeStretch(skLinear, cells.data(), cells.size(), mask, 0.0)->Lo(), 0);
  const std::vector<float> none{0, -9, nan};
  EXPECT_FALSE(MakeStretch(skLinear, none.data(), none.size(), mask));

  // The table-driven colouring gives the level of every cell exactly.
  std::vector<uint32_t> colours(512);
  for (uint32_t k = 0; k < colours.size(); ++k) colours[k] = 0xff000000u | k;
  std::mt19937 g(11);
  std::vector<float> values(200000);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float u = std::uniform_real_distribution<float>(0, 1)(g);
    values[i] = i % 3 == 0 ? std::floor(u * 400)
                           : std::pow(10.0f, u * 6 - 3); // counts and wide range
  }
  values[5] = -9;
  values[6] = 0;
  // The range of a long run (four at a time) as cell by cell.
  values[7] = nan;
  values[9] = -std::numeric_limits<float>::infinity();
  values[values.size() - 2] = 1e7f; // in the tail
  double lo = 1e30, hi = -1e30;
  for (float v : values)
    if (std::isfinite(v) && v != -9 && v != 0)
      lo = std::min<double>(lo, v), hi = std::max<double>(hi, v);
  range = ShownRange(values.data(), values.size() - 1, mask);
  ASSERT_TRUE(range);
  EXPECT_EQ(range->Lo, lo);
  EXPECT_EQ(range->Hi, 1e7f);
  for (tStretchKind kind : {skLinear, skLogarithmic, skEqualised}) {
    const auto stretch = MakeStretch(kind, values.data(), values.size(), mask, 0.0);
    ASSERT_TRUE(stretch);
    std::vector<uint32_t> out(values.size());
    ColourCells(values.data(), values.size(), *stretch, colours, mask, out.data());
    EXPECT_EQ(out[5], 0u);
    EXPECT_EQ(out[6], 0u);
    int wrong = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
      if (!mask.Hidden(values[i]) && out[i] != colours[stretch->Level(values[i], 512)]) ++wrong;
    EXPECT_EQ(wrong, 0) << StretchName(kind);
  }
}

} // namespace
