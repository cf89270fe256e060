#include "StatOps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace stravex;

TEST(StatOps, MeanAndVariance) {
  double mean = -1, variance = -1;
  MeanAndVariance(3, mean, variance, 6.0L, 14.0L);
  EXPECT_EQ(mean, 2.0);
  EXPECT_DOUBLE_EQ(variance, 2.0 / 3.0);
  long double meanX = -1, varianceX = -1;
  MeanAndVariance(3, meanX, varianceX, 6.0L, 14.0L);
  EXPECT_EQ(meanX, 2.0L);
  EXPECT_NEAR(static_cast<double>(varianceX), 2.0 / 3.0, 1e-18);

  // Ten values of 0.1: the 64-bit mean rounds up (0.1 is not a double), and
  // squaring the rounded mean makes the variance a hair negative.
  MeanAndVariance(10, mean, variance, 1.0L, 0.1L);
  EXPECT_EQ(mean, 0.1);
  EXPECT_LT(variance, 0.0);
  EXPECT_GT(variance, -1e-17);
  EXPECT_EQ(SDFromVariance(variance), 0.0);  // not NaN
  MeanAndVariance(10, meanX, varianceX, 1.0L, 0.1L);
  EXPECT_EQ(meanX, 1.0L / 10);
  EXPECT_NE(static_cast<long double>(variance), varianceX);

  EXPECT_EQ(SDFromVariance(6.25), 2.5);
  EXPECT_EQ(SDFromVariance(6.25L), 2.5L);
  EXPECT_EQ(SDFromVariance(-1e-20L), 0.0L);
  EXPECT_EQ(SDFromVariance(0.0), 0.0);
  EXPECT_TRUE(std::isnan(SDFromVariance(std::numeric_limits<double>::quiet_NaN())));
}

TEST(StatOps, SignAndSum) {
  EXPECT_EQ(Sign(3.5), 1);
  EXPECT_EQ(Sign(-1e-300), -1);
  EXPECT_EQ(Sign(0.0), 0);
  EXPECT_EQ(Sign(-0.0), 0);
  EXPECT_EQ(Sign(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(SumOfValues({}), 0.0);
  EXPECT_EQ(SumOfValues({1.0, 2.0, 3.5, -0.5}), 6.0);
  // 1 + many tiny values: a 64-bit running sum would lose every one of them.
  tVectorOfDouble v(2048, std::ldexp(1.0, -60));
  v.insert(v.begin(), 1.0);
  EXPECT_EQ(SumOfValues(v), 1.0 + std::ldexp(1.0, -49));
}

TEST(StatOps, ZeroVectorsMatricesAndRanges) {
  tVectorOfCardinal c{7, 8};
  NewZeroVector(c, 4);
  EXPECT_EQ(c, tVectorOfCardinal(4, 0));
  tVectorOfDouble d{1.5, 2.5, 3.5, 4.5, 5.5};
  NewZeroVector(d, 3);
  EXPECT_EQ(d, tVectorOfDouble(3, 0.0));
  tVectorOfExtended e{9.0L};
  NewZeroVector(e, 2);
  EXPECT_EQ(e, tVectorOfExtended(2, 0.0L));

  tMatrixOfBoolean m{{true}, {true, true}};
  NewZeroMatrix(m, 3, 5);
  ASSERT_EQ(m.size(), 3u);
  for (const auto& row : m) EXPECT_EQ(row, std::vector<bool>(5, false));

  EXPECT_EQ(RangeVector(3, 6), (tVectorOfCardinal{3, 4, 5, 6}));
  EXPECT_EQ(RangeVector(7, 7), (tVectorOfCardinal{7}));
  EXPECT_EQ(RangeVector(4294967294u, 4294967295u), (tVectorOfCardinal{4294967294u, 4294967295u}));
  EXPECT_THROW(RangeVector(5, 4), EIntOverflow);
}
