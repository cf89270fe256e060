// The file dialogs' filters follow the IDRISI generation and read alike in Qt.
#include "FileFilters.h"

#include "raster/IdrisiEnv.h"

#include <gtest/gtest.h>

using namespace stravex;
using namespace stravex::gui;

TEST(FileFilters, MapFilterFollowsTheGeneration) {
  SetIdrisiExtensions(false);
  EXPECT_EQ(MapFileFilter(), "All maps (*.rst)|*.rst"
                             "|Quantitative maps (*_QT)|*_QT.rst"
                             "|Qualitative maps (*_BL, *_CL, *_CL)|*_BL.rst;*_CL.rst;*_CL.rst"
                             "|Boolean maps (*_BL)|*_BL.rst"
                             "|Frequency/Probability maps (_FQ)|*_FQ.rst"
                             "|Count maps (*_NB)|*_NB.rst"
                             "|Statistical maps (*_ST)|*_ST.rst"
                             "|Category maps (*_CL)|*_CL.rst"
                             "|All files (*.*)|*.*");
  SetIdrisiExtensions(true);
  const std::string classic = MapFileFilter();
  SetIdrisiExtensions(false);
  EXPECT_EQ(classic.rfind("All maps (*.img)|*.img|Quantitative maps (*_QT)|*_QT.img|", 0), 0u);
  EXPECT_NE(classic.find("|*_BL.img;*_CL.img;*_CL.img|"), std::string::npos);
  EXPECT_EQ(classic.find(".rst"), std::string::npos);
}

TEST(FileFilters, QtFormKeepsLabelsAndPatternsAndGdalFormatsFollowIdrisi) {
  EXPECT_EQ(QtFileFilter("Text files (*.txt)|*.txt|All files (*.*)|*.*"),
            "Text files (*.txt);;All files (*.*)");
  EXPECT_EQ(QtFileFilter("Maps|*_BL.rst;*_CL.rst|Counts (_NB)|*_NB.rst"),
            "Maps (*_BL.rst *_CL.rst);;Counts (_NB) (*_NB.rst)");
  SetIdrisiExtensions(false);
  const std::string qt = QtFileFilter(MapFileFilter());
  EXPECT_EQ(qt.rfind("All maps (*.rst);;", 0), 0u) << qt;
  EXPECT_NE(qt.find(";;Frequency/Probability maps (_FQ) (*_FQ.rst);;"), std::string::npos) << qt;
  EXPECT_EQ(qt.substr(qt.size() - 17), ";;All files (*.*)") << qt;

  const std::string idrisi = MapFileFilter();
  const std::string withoutAll = idrisi.substr(0, idrisi.rfind("|All files"));
  const std::string any = AnyMapFileFilter();
  EXPECT_EQ(any.compare(0, withoutAll.size(), withoutAll), 0);
  EXPECT_EQ(QtFileFilter(any).substr(QtFileFilter(withoutAll).size()),
            ";;GeoTIFF (*.tif *.tiff);;ERDAS Imagine (*.img);;Arc/Info ASCII grid (*.asc);;"
            "GDAL virtual raster (*.vrt);;All files (*.*)");
}
