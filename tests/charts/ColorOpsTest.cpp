// Palettes: gradient rule, fixed palettes, the qualitative generator kept apart
// from the analyses' generator, and the hue-saturation-intensity conversion.
#include <QSet>
#include <gtest/gtest.h>

#include "ColorOps.h"
#include "base/Errors.h"

using namespace stravex::gui;

namespace {

::testing::AssertionResult Rgb(QRgb c, int r, int g, int b) {
  if (qRed(c) == r && qGreen(c) == g && qBlue(c) == b) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got (" << qRed(c) << "," << qGreen(c) << "," << qBlue(c) << ")";
}

TEST(Palettes, GradientsTruncateAndNeverReachTheLastStep) {
  const tPalette boolean = Palette(piBoolean);
  ASSERT_EQ(boolean.size(), 2);
  EXPECT_TRUE(Rgb(boolean[0], 255, 255, 255));
  EXPECT_TRUE(Rgb(boolean[1], 0, 0, 0));

  const tPalette rainbow = Palette(piRainbow);
  ASSERT_EQ(rainbow.size(), 1024);
  EXPECT_TRUE(Rgb(rainbow[0], 0, 0, 0));
  EXPECT_TRUE(Rgb(rainbow[255], 0, 0, 254)); // 255 * 255/256 truncated
  EXPECT_TRUE(Rgb(rainbow[256], 0, 0, 255));
  EXPECT_TRUE(Rgb(rainbow[384], 127, 0, 127));
  EXPECT_TRUE(Rgb(rainbow[512], 255, 0, 0));
  EXPECT_TRUE(Rgb(rainbow[768], 255, 255, 0));
  EXPECT_TRUE(Rgb(rainbow[1023], 255, 255, 254));

  const tPalette grey = Palette(piGreyShade);
  ASSERT_EQ(grey.size(), 256);
  EXPECT_TRUE(Rgb(grey[0], 255, 255, 255));
  EXPECT_TRUE(Rgb(grey[1], 254, 254, 254));
  EXPECT_TRUE(Rgb(grey[128], 127, 127, 127));
  EXPECT_TRUE(Rgb(grey[255], 0, 0, 0));

  const tPalette fire = Palette(piFire);
  ASSERT_EQ(fire.size(), 512);
  EXPECT_TRUE(Rgb(fire[0], 255, 255, 255));
  EXPECT_TRUE(Rgb(fire[128], 255, 255, 127));
  EXPECT_TRUE(Rgb(fire[256], 255, 255, 0));
  EXPECT_TRUE(Rgb(fire[511], 255, 0, 0));

  EXPECT_EQ(PaletteName(piQualitative1024), "Qualitative 1024");
  EXPECT_THROW(Palette(6), stravex::ERangeError);
  EXPECT_THROW(Palette(-1), stravex::ERangeError);
}

TEST(Palettes, GradientNeedsTwoSteps) {
  for (const QList<QRgb>& steps : {QList<QRgb>{}, QList<QRgb>{qRgb(1, 2, 3)}}) {
    try {
      Gradient(steps, 4);
      ADD_FAILURE() << "no error for " << steps.size() << " step(s)";
    } catch (const stravex::EStravexError& e) {
      EXPECT_STREQ(e.what(), "Color gradient needs at least two colour steps.");
    }
  }
  EXPECT_THROW(Gradient({qRgb(0, 0, 0), qRgb(9, 9, 9)}, 0), stravex::ERangeError);
  // Three colours per step of a falling channel: 9, 9 - 3, 9 - 6.
  const tPalette g = Gradient({qRgb(9, 0, 0), qRgb(0, 0, 0)}, 3);
  ASSERT_EQ(g.size(), 3);
  EXPECT_TRUE(Rgb(g[1], 6, 0, 0));
  EXPECT_TRUE(Rgb(g[2], 3, 0, 0));
}

TEST(Palettes, HsiSectors) {
  EXPECT_TRUE(Rgb(HsiToRgb(0.0, 1, 0.4), 255, 0, 0));
  EXPECT_TRUE(Rgb(HsiToRgb(1.0 / 3, 1, 0.4), 0, 255, 0));
  EXPECT_TRUE(Rgb(HsiToRgb(2.0 / 3, 1, 0.4), 0, 0, 255));
  EXPECT_TRUE(Rgb(HsiToRgb(1.0 / 6, 1, 0.25), 95, 95, 0)); // 95.625 truncated
  // 60 degrees: red and green share the intensity.
  EXPECT_TRUE(Rgb(HsiToRgb(1.0 / 6, 1, 0.5), 191, 191, 0));
  // 3i beyond 1 is capped.
  EXPECT_TRUE(Rgb(HsiToRgb(1.0 / 6, 1, 1.0), 255, 255, 0));
  EXPECT_TRUE(Rgb(HsiToRgb(0.5, 0, 1.0 / 3), 85, 85, 85));
}

TEST(Palettes, QualitativeColoursAreFixed) {
  const tPalette q1024 = Palette(piQualitative1024);
  const tPalette q256 = Palette(piQualitative256);
  // The same colours on every call: the palette draws from a generator of its own.
  EXPECT_EQ(Palette(piQualitative1024), q1024);

  ASSERT_EQ(q1024.size(), 1024);
  ASSERT_EQ(q256.size(), 256);
  EXPECT_EQ(q256, q1024.mid(0, 256)); // both start from seed 0
  QSet<QRgb> distinct(q1024.begin(), q1024.end());
  EXPECT_GT(distinct.size(), 700); // bright colours saturate to shared values
  // Full saturation: one channel is 0; intensity at least 0.3: never black.
  for (QRgb c : q1024) {
    EXPECT_EQ(std::min({qRed(c), qGreen(c), qBlue(c)}), 0);
    EXPECT_GT(qRed(c) + qGreen(c) + qBlue(c), 200);
  }
}

} // namespace
