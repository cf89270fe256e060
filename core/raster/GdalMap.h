#pragma once
// Maps in any raster format GDAL reads (GeoTIFF, ERDAS Imagine, ASCII grids,
// VRT...), served as tLiveRaster like an IDRISI map, and the factories that
// choose between the two by the name given.
#include "raster/Raster.h"

#include <memory>
#include <string>

namespace stravex {

// A map read through GDAL: band 1 gives the cells, the geotransform the
// extent, the nodata value the missing-value flag. Byte, Int16 and Float32
// become byte, integer and real; signed bytes integer; UInt16 real; Int32,
// UInt32, Int64, UInt64 and Float64 real when every value is exact as a
// 32-bit real (checked as the cells are read). Other types, rotated or
// south-up grids are refused with EInOutError at construction.
class tGdalRaster : public tLiveRaster {
public:
  explicit tGdalRaster(const std::string& path);

  const std::string& SourcePath() const { return fPath; }
  // GDAL's long name of the format ("GeoTIFF") and of the band's data type ("Float64").
  const std::string& FormatName() const { return fFormat; }
  const std::string& SourceType() const { return fSourceType; }

  void ComputeMean() override;
  void ComputeSD() override;
  void SetCell(int32_t row, int32_t col, float value) override;
  void ReadDoc(const std::string& fileName) override;

protected:
  void ReadImage(int64_t n) override;
  float ReleasedCell(int32_t row, int32_t col) const override;

private:
  void Describe(const std::string& path);
  // A source value as a cell: nodata (also NaN) becomes FlagValue.
  bool IsNoData(double v) const;

  std::string fPath;
  std::string fFormat;
  std::string fSourceType;
  int fGdalType = 0; // GDALDataType of band 1
  bool fSignedByte = false;
  bool fHasNoData = false;
  double fNoData = 0;
};

// True when name is opened as an IDRISI map: its documentation file exists
// ("NAME.rdc" for NAME or NAME.rst, "NAME.doc" for NAME.img: ".img" without
// one is ERDAS Imagine), or no file of that name exists (the IDRISI reader
// then reports what is missing).
bool IsIdrisiMapName(const std::string& name);

// A map with its documentation fields, cells not yet loaded: an IDRISI map
// as tRaster(name) / tLiveRaster(name) opens it (a map of the other file
// generation, named with its extension or found by its documentation file,
// with that generation), any other file through GDAL.
std::unique_ptr<tRaster> OpenMap(const std::string& name);
std::unique_ptr<tLiveRaster> OpenLiveMap(const std::string& name);

// Writes the IDRISI map (base name, without extension) as a tiled,
// deflate-compressed GeoTIFF at tifPath, replacing it only once complete.
void WriteGeoTiff(const tRaster& map, const std::string& tifPath);

// A corridor map named ".tif": its IDRISI working copy (map.FileName, the
// ".tif" name plus the IDRISI extensions) written as GeoTIFF at tifPath. The
// copy is removed after a completed run; a cancelled one keeps it, so that a
// resumed run goes on with its counts.
void FinishGeoTiffCorridor(const tRaster& map, const std::string& tifPath, bool completed);

// Whether a map name asks for a GeoTIFF (".tif" or ".tiff", any case).
bool IsGeoTiffName(const std::string& name);

} // namespace stravex
