#include "base/StatOps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace stravex;

TEST(StatOps, MeanVarianceAndSD) {
  double mean = -1, variance = -1;
  long double meanX = -1, varianceX = -1;
  MeanAndVariance(3, mean, variance, 6.0L, 14.0L); // 1, 2, 3
  EXPECT_EQ(mean, 2.0);
  EXPECT_DOUBLE_EQ(variance, 2.0 / 3.0);
  MeanAndVariance(3, meanX, varianceX, 6.0L, 14.0L);
  EXPECT_EQ(meanX, 2.0L);
  EXPECT_NEAR(static_cast<double>(varianceX), 2.0 / 3.0, 1e-18);

  // Ten values of 0.1: the 64-bit mean rounds up (0.1 is no double), so the
  // variance from the squared stored mean comes out a hair below zero.
  MeanAndVariance(10, mean, variance, 1.0L, 0.1L);
  EXPECT_EQ(mean, 0.1);
  EXPECT_TRUE(variance < 0 && variance > -1e-17) << variance;
  EXPECT_EQ(SDFromVariance(variance), 0.0); // not NaN
  MeanAndVariance(10, meanX, varianceX, 1.0L, 0.1L);
  EXPECT_NE(static_cast<long double>(variance), varianceX);

  EXPECT_EQ(SDFromVariance(6.25), 2.5);
  EXPECT_EQ(SDFromVariance(6.25L), 2.5L);
  EXPECT_EQ(SDFromVariance(-1e-20L), 0.0L);
  EXPECT_TRUE(std::isnan(SDFromVariance(std::numeric_limits<double>::quiet_NaN())));
}

TEST(StatOps, SignSumVectorsAndRanges) {
  EXPECT_EQ(Sign(3.5), 1);
  EXPECT_EQ(Sign(-1e-300), -1);
  EXPECT_EQ(Sign(-0.0), 0);
  EXPECT_EQ(SumOfValues({}), 0.0);
  EXPECT_EQ(SumOfValues({1.0, 2.0, 3.5, -0.5}), 6.0);
  tVectorOfDouble tiny(2048, std::ldexp(1.0, -60)); // each lost to a 64-bit running sum
  tiny.insert(tiny.begin(), 1.0);
  EXPECT_EQ(SumOfValues(tiny), 1.0 + std::ldexp(1.0, -49));

  tVectorOfCardinal c{7, 8};
  NewZeroVector(c, 4);
  EXPECT_EQ(c, tVectorOfCardinal(4, 0));
  tVectorOfDouble d{1.5, 2.5, 3.5, 4.5};
  NewZeroVector(d, 3);
  EXPECT_EQ(d, tVectorOfDouble(3, 0.0));
  tVectorOfExtended e{9.0L};
  NewZeroVector(e, 2);
  EXPECT_EQ(e, tVectorOfExtended(2, 0.0L));
}
