// Map windows: palette colours, missing cells, sample points, errors.
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "MapWindow.h"
#include "PopUpMenus.h"
#include "base/Errors.h"
#include "raster/Raster.h"

using namespace stravex::gui;

namespace {

// A 2 x 3 byte map over x 100..130, y 0..20, background flag 9 in cell (1, 2).
std::string WriteMap(const QTemporaryDir& dir, bool background) {
  const std::string name = dir.filePath("m").toStdString();
  stravex::tLiveRaster m;
  m.FileName = name;
  m.DataType = stravex::dtByte;
  m.Rows = 2;
  m.Columns = 3;
  m.MinX = 100;
  m.MaxX = 130;
  m.MinY = 0;
  m.MaxY = 20;
  m.FlagDef = background ? stravex::fdBackground : stravex::fdNone;
  m.FlagValue = 9;
  m.FillConstant(0);
  const float values[6] = {1, 2, 3, 4, 5, 9};
  for (int k = 0; k < 6; ++k) m.SetCell(k / 3, k % 3, values[k]);
  return name;
}

TEST(MapWindow, ColoursMissingCellsAndPoints) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string name = WriteMap(dir, true);

  TMapWindow corridor(name, {{100, 20}, {125, 5}}, true);
  const QImage& img = corridor.MapImage();
  ASSERT_EQ(img.size(), QSize(3, 2));
  const tPalette fire = Palette(piFire);
  EXPECT_EQ(corridor.Colors(), fire);
  EXPECT_DOUBLE_EQ(corridor.MinValue(), 1);
  EXPECT_DOUBLE_EQ(corridor.MaxValue(), 5); // the flagged 9 is left out
  EXPECT_EQ(img.pixel(0, 0), fire.first()); // lowest value, row 0 at the top
  EXPECT_EQ(img.pixel(1, 1), fire.last());  // highest value
  EXPECT_EQ(img.pixel(2, 0), fire[256]);    // 3 is half way: (3 - 1) / 4 * 511 = 255.5 -> 256
  EXPECT_EQ(qAlpha(img.pixel(2, 1)), 0);    // missing cell
  EXPECT_EQ(qAlpha(img.pixel(0, 1)), 255);
  EXPECT_EQ(corridor.windowTitle(), "m");

  // Points in cell units: (MinX, MaxY) is the corner of cell (0, 0).
  ASSERT_EQ(corridor.PointCells().size(), 2u);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[0].first, 0);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[0].second, 0);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[1].first, 2.5);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[1].second, 1.5);
  const QImage withPoints = corridor.RenderImage();
  EXPECT_NE(withPoints.pixel(2, 1), img.pixel(2, 1));
  EXPECT_EQ(withPoints.pixel(1, 0), img.pixel(1, 0));

  // Without a background flag, 9 is a value like any other; other maps are grey.
  TMapWindow plain(WriteMap(dir, false), {}, false);
  EXPECT_DOUBLE_EQ(plain.MaxValue(), 9);
  EXPECT_EQ(plain.MapImage().pixel(2, 1), Palette(piGreyShade).last());
  EXPECT_EQ(plain.MapImage().pixel(0, 0), Palette(piGreyShade).first());

  // Transparency acts on the map window itself.
  plain.PopUp().SetTarget(&plain);
  plain.PopUp().TransparencyItems[2]->trigger();
  EXPECT_EQ(plain.AlphaBlendValue(), 204);

  EXPECT_THROW(TMapWindow(dir.filePath("none").toStdString(), {}, false), stravex::EStravexError);
}

} // namespace
