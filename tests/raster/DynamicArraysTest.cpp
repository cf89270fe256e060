#include "base/DynamicArrays.h"

#include <gtest/gtest.h>

using namespace stravex;

TEST(DynamicArrays, InitGivesZeroFilledRangeWithCheckedIndices) {
  TDynSngVector v;
  v.Init(1, 1024000);
  EXPECT_EQ(v.Count(), 1024000);
  EXPECT_EQ(v.Get(1), 0.0f);
  EXPECT_EQ(v.Get(1024000), 0.0f);
  v.Set(1024000, 2.5f);
  EXPECT_EQ(v.Data()[1023999], 2.5f);
  EXPECT_THROW(v.Get(0), ERangeError);
  EXPECT_THROW(v.Set(1024001, 1.0f), ERangeError);
}

TEST(DynamicArrays, SecondInitIsRefused) {
  TDynBytVector v;
  v.Init(0, 3);
  try {
    v.Init(0, 3);
    FAIL() << "second Init accepted";
  } catch (const EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Dynamic vectors can't be initialized twice");
  }
}

TEST(DynamicArrays, SizeLimitNamesRequestedCountAndMaximum) {
  TDynSngVector f;
  try {
    f.Init(1, 262144001);
    FAIL() << "oversized vector accepted";
  } catch (const ERangeError& e) {
    EXPECT_STREQ(
        e.what(),
        "Dynamic bytes vector too big (262144001). Maximum number of elements is 262144000");
  }
  TDynSmiVector s;
  EXPECT_THROW(s.Init(0, 524288000), ERangeError); // one more than the maximum
  TDynBytVector b;
  EXPECT_THROW(b.Init(-1, 1048576000), ERangeError);
  EXPECT_FALSE(b.Initialised());
}

TEST(DynamicArrays, ReversedRangeIsEmpty) {
  TDynSmiVector v;
  v.Init(5, 4);
  EXPECT_EQ(v.Count(), 0);
  EXPECT_THROW(v.Get(5), ERangeError);
  EXPECT_THROW(v.Get(4), ERangeError);
}
