#include "base/Numeric.h"

#include <gtest/gtest.h>

using namespace stravex;

TEST(Numeric, RoundToInt32RoundsHalvesToEvenAndChecksRange) {
  EXPECT_EQ(RoundToInt32(0.5), 0);
  EXPECT_EQ(RoundToInt32(1.5), 2);
  EXPECT_EQ(RoundToInt32(2.5), 2);
  EXPECT_EQ(RoundToInt32(-2.5), -2);
  EXPECT_EQ(RoundToInt32(-9.6), -10);
  EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
  EXPECT_THROW(RoundToInt32(2147483648.0), ERangeError);
  EXPECT_THROW(RoundToInt32(-2147483649.0), ERangeError);
  EXPECT_THROW(RoundToInt32(std::nan("")), ERangeError);
}

TEST(Numeric, CheckedAddRaisesInsteadOfWrapping) {
  EXPECT_EQ(CheckedAdd(4294967294u, 1u), 4294967295u);
  EXPECT_THROW(CheckedAdd(4294967295u, 1u), EIntOverflow);
}

TEST(Numeric, FormatGeneralIsShortestWithFifteenDigits) {
  EXPECT_EQ(FormatGeneral(512.5L), "512.5");
  EXPECT_EQ(FormatGeneral(0.0L), "0");
  EXPECT_EQ(FormatGeneral(-3.0L), "-3");
  EXPECT_EQ(FormatGeneral(0.1L), "0.1");
  EXPECT_EQ(FormatGeneral(1.0L / 3.0L), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(1e20L), "1e+20");
}
