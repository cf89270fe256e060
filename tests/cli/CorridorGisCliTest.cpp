// A corridor map read by GIS software: cells no path crossed count as 0, not
// as nodata, in GDAL's statistics; Stravex reads its own map as before.
#include "CliSupport.h"
#include "ExampleArgs.h"
#include "TestSupport.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

namespace stravex::test {

TEST(CorridorGisCli, GdalCountsUncrossedCellsAsZero) {
  TempDir dir;
  const tCliRun run = RunCli(With(LeastCostSequenceArgs("p"), {"--corridor", "corr"}),
                             dir.path().string());
  ASSERT_EQ(run.status, 0) << run.err;
  const tCliRun info = RunProgram("/usr/bin/env", {"gdalinfo", "-stats", dir.file("corr.rst")},
                                  "/");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out.find("NoData"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Minimum=0.000"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("STATISTICS_VALID_PERCENT=100"), std::string::npos) << info.out;

  tLiveRaster corridor(dir.file("corr"));
  corridor.LoadData();
  EXPECT_EQ(corridor.FlagDef, fdNone);
  EXPECT_FALSE(corridor.IsMissingValue(0));
  EXPECT_GT(corridor.MaxValue, 0);
}

} // namespace stravex::test
