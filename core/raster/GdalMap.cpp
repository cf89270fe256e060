// Maps read through GDAL; cells are held in the same matrices as an IDRISI
// map's, so every consumer of tLiveRaster / tRaster serves them unchanged.
#include "raster/GdalMap.h"

#include "base/ContentDigest.h"
#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/TextUtils.h"
#include "raster/IdrisiEnv.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <mutex>
#include <vector>

namespace stravex {

namespace {

namespace fs = std::filesystem;

constexpr double kFloatMax = std::numeric_limits<float>::max();

void RegisterDrivers() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

// GDAL's own error printing is silenced while a map is handled; the last
// message becomes part of the exception instead.
class tQuietGdal {
public:
  tQuietGdal() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
  }
  ~tQuietGdal() { CPLPopErrorHandler(); }
  tQuietGdal(const tQuietGdal&) = delete;
  tQuietGdal& operator=(const tQuietGdal&) = delete;
};

std::string LastGdalError() {
  const char* m = CPLGetLastErrorMsg();
  return m && *m ? std::string(" (") + m + ")" : std::string();
}

class tDataset {
public:
  explicit tDataset(const std::string& path) {
    RegisterDrivers();
    fHandle = GDALOpen(path.c_str(), GA_ReadOnly);
    if (!fHandle)
      throw EInOutError(path + " cannot be opened as a raster map" + LastGdalError() + ".");
  }
  ~tDataset() { GDALClose(fHandle); }
  tDataset(const tDataset&) = delete;
  tDataset& operator=(const tDataset&) = delete;
  GDALDatasetH Get() const { return fHandle; }

private:
  GDALDatasetH fHandle = nullptr;
};

GDALRasterBandH FirstBand(const tDataset& ds, const std::string& path) {
  if (GDALGetRasterCount(ds.Get()) < 1) throw EInOutError(path + " holds no raster band.");
  return GDALGetRasterBand(ds.Get(), 1);
}

void ReadRows(GDALRasterBandH band, int32_t row, int32_t rows, int32_t cols, void* into,
              GDALDataType as, const std::string& path) {
  if (GDALRasterIO(band, GF_Read, 0, row, cols, rows, into, cols, rows, as, 0, 0) != CE_None)
    throw EInOutError(path + ": the cells cannot be read" + LastGdalError() + ".");
}

// GDAL's spatial reference as the text IDRISI maps carry in "ref. system",
// so that a converted map overlays its original: "plane" without one,
// "latlong" for geographic, "utm-30n" for UTM zones, else its name.
void DescribeReference(GDALDatasetH ds, std::string& system, std::string& units) {
  system = "plane";
  units = "m";
  const char* wkt = GDALGetProjectionRef(ds);
  if (!wkt || !*wkt) return;
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  if (OSRImportFromWkt(srs, const_cast<char**>(&wkt)) == OGRERR_NONE && !OSRIsLocal(srs)) {
    int north = 0;
    if (OSRIsGeographic(srs)) {
      system = "latlong";
      units = "deg";
    } else if (const int zone = OSRGetUTMZone(srs, &north); zone != 0) {
      system = "utm-" + std::to_string(zone) + (north ? "n" : "s");
    } else if (const char* name = OSRGetName(srs); name && *name) {
      system = name;
    }
    if (OSRIsProjected(srs)) {
      char* unitName = nullptr;
      const double factor = OSRGetLinearUnits(srs, &unitName);
      units = factor == 1.0 ? "m" : factor == 1000.0 ? "km" : unitName ? unitName : "unspecified";
    }
  }
  OSRDestroySpatialReference(srs);
}

// Data types whose every value is exact in a 32-bit real.
bool ExactInFloat(GDALDataType t) {
  return t == GDT_Byte || t == GDT_Int16 || t == GDT_UInt16 || t == GDT_Float32;
}

bool ReadableType(GDALDataType t) { return !GDALDataTypeIsComplex(t) && t != GDT_Unknown; }

std::string RowColumn(int32_t row, int32_t col) {
  return "row " + std::to_string(row) + ", column " + std::to_string(col);
}

// Shortest text that reads back as v exactly, the same on every host.
std::string ExactText(double v) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

// Fingerprint of loaded cells: the loaded type, then the cells in row order.
template <typename T>
std::string CellsDigest(tDataType type, const tCellVector<T>& cells) {
  tContentDigest d;
  const auto t = static_cast<uint8_t>(type);
  d.Update(&t, 1);
  d.Update(cells.data(), cells.size() * sizeof(T));
  return d.Hex();
}

} // namespace

tGdalRaster::tGdalRaster(const std::string& path) {
  fReadOnlyImage = true;
  Describe(path);
}

void tGdalRaster::Describe(const std::string& path) {
  const tQuietGdal quiet;
  const tDataset ds(path);
  GDALRasterBandH band = FirstBand(ds, path);
  const auto type = GDALGetRasterDataType(band);
  fPath = path;
  fSourceType = GDALGetDataTypeName(type);
  if (!ReadableType(type))
    throw EInOutError(path + ": data type " + fSourceType + " is not supported.");
  GDALDriverH driver = GDALGetDatasetDriver(ds.Get());
  fFormat = driver ? GDALGetDriverLongName(driver) : "";
  fGdalType = type;
  const char* pixelType = GDALGetMetadataItem(band, "PIXELTYPE", "IMAGE_STRUCTURE");
  fSignedByte = type == GDT_Byte && pixelType && std::string(pixelType) == "SIGNEDBYTE";

  Columns = GDALGetRasterXSize(ds.Get());
  Rows = GDALGetRasterYSize(ds.Get());
  double gt[6] = {0, 1, 0, 0, 0, 1};
  if (GDALGetGeoTransform(ds.Get(), gt) != CE_None) {
    // No georeference: cell coordinates, row 0 at the top.
    gt[0] = 0;
    gt[1] = 1;
    gt[2] = gt[4] = 0;
    gt[3] = Rows;
    gt[5] = -1;
  }
  if (gt[2] != 0 || gt[4] != 0)
    throw EInOutError(path + " is a rotated grid; only north-up maps can be read.");
  if (!(gt[1] > 0) || !(gt[5] < 0))
    throw EInOutError(path + " is not a north-up grid; only north-up maps can be read.");
  MinX = gt[0];
  MaxX = static_cast<long double>(gt[0]) + static_cast<long double>(gt[1]) * Columns;
  MaxY = gt[3];
  MinY = static_cast<long double>(gt[3]) + static_cast<long double>(gt[5]) * Rows;
  CellWidth = static_cast<float>(gt[1]);
  CellHeight = static_cast<float>(-gt[5]);
  Resolution = FormatGeneral((static_cast<long double>(CellWidth) + CellHeight) / 2);
  DescribeReference(ds.Get(), RefSystem, RefUnits);
  UnitCode = RefUnits == "m"     ? ruMeters
             : RefUnits == "km"  ? ruKilometers
             : RefUnits == "deg" ? ruDegrees
                                 : ruOther;
  UnitDist = "1";
  PosError = "unknown";
  ValueError = "unknown";
  FileType = ftBinary;
  DataType = type == GDT_Byte && !fSignedByte   ? dtByte
             : type == GDT_Int16 || fSignedByte ? dtInteger
                                                : dtReal;
  // The map's name is its file name without folder and extension, as for IDRISI.
  FileName = StripExtension(path);
  Title = GDALGetDescription(band) ? GDALGetDescription(band) : "";
  if (const char* u = GDALGetRasterUnitType(band); u && *u) ValueUnits = u;

  int has = 0;
  const double nodata = GDALGetRasterNoDataValue(band, &has);
  fHasNoData = has != 0;
  fNoData = nodata;
  if (fHasNoData) {
    FlagDef = fdBackground;
    // NaN never equals itself, and a value beyond the 32-bit range has no
    // float of its own: both are stood in for by a flag a cell can equal.
    FlagValue = std::isnan(nodata)              ? -std::numeric_limits<float>::max()
                : std::fabs(nodata) > kFloatMax ? (nodata < 0 ? -std::numeric_limits<float>::max()
                                                              : std::numeric_limits<float>::max())
                                                : static_cast<float>(nodata);
  } else {
    FlagDef = fdNone;
    FlagValue = 0;
  }
  int hasMin = 0, hasMax = 0;
  const double lo = GDALGetRasterMinimum(band, &hasMin);
  const double hi = GDALGetRasterMaximum(band, &hasMax);
  if (hasMin && hasMax && std::fabs(lo) <= kFloatMax && std::fabs(hi) <= kFloatMax) {
    MinValue = DisplayMin = static_cast<float>(lo);
    MaxValue = DisplayMax = static_cast<float>(hi);
  }

  // No documentation file: the fingerprint is of the record as read here, the
  // source's grid and georeference exact. The value range is left out, as
  // LoadData recomputes it from the cells.
  std::string record;
  auto put = [&record](const char* key, const std::string& value) {
    record += key;
    record += '=';
    record += value;
    record += '\n';
  };
  put("format", fFormat);
  put("source type", fSourceType + (fSignedByte ? " signed" : ""));
  put("data type", std::to_string(static_cast<int>(DataType)));
  put("columns", std::to_string(Columns));
  put("rows", std::to_string(Rows));
  put("origin x", ExactText(gt[0]));
  put("origin y", ExactText(gt[3]));
  put("cell width", ExactText(gt[1]));
  put("cell height", ExactText(-gt[5]));
  put("ref. system", RefSystem);
  put("ref. units", RefUnits);
  put("nodata", fHasNoData ? ExactText(fNoData) : std::string("none"));
  put("flag", FlagDef == fdBackground ? ExactText(FlagValue) : std::string("none"));
  put("title", Title);
  put("value units", ValueUnits);
  DocDigest = DigestOf(record);
}

bool tGdalRaster::IsNoData(double v) const {
  return fHasNoData && (v == fNoData || (std::isnan(v) && std::isnan(fNoData)));
}

void tGdalRaster::ReadImage(int64_t n) {
  const tQuietGdal quiet;
  const tDataset ds(fPath);
  GDALRasterBandH band = FirstBand(ds, fPath);
  const auto source = static_cast<GDALDataType>(fGdalType);
  if (GDALGetRasterXSize(ds.Get()) != Columns || GDALGetRasterYSize(ds.Get()) != Rows ||
      GDALGetRasterDataType(band) != source)
    throw EInOutError(fPath + " has changed since it was opened.");
  const int32_t cols = Columns;
  switch (DataType) {
  case dtByte:
    fBytes.resize(static_cast<std::size_t>(n));
    if (n > 0) ReadRows(band, 0, Rows, cols, fBytes.data(), GDT_Byte, fPath);
    break;
  case dtInteger:
    fIntegers.resize(static_cast<std::size_t>(n));
    if (n > 0) ReadRows(band, 0, Rows, cols, fIntegers.data(), GDT_Int32, fPath);
    if (fSignedByte)
      for (int32_t& v : fIntegers)
        if (v > 127) v -= 256;
    break;
  default: {
    fReals.resize(static_cast<std::size_t>(n));
    if (ExactInFloat(source) && !(fHasNoData && std::isnan(fNoData))) {
      if (n > 0) ReadRows(band, 0, Rows, cols, fReals.data(), GDT_Float32, fPath);
      break;
    }
    // Row by row in double precision: every value must be exact as a 32-bit
    // real, else the map would be scanned with values it does not hold.
    std::vector<double> line(static_cast<std::size_t>(cols));
    for (int32_t row = 0; row < Rows; ++row) {
      ReadRows(band, row, 1, cols, line.data(), GDT_Float64, fPath);
      float* out = fReals.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(cols);
      for (int32_t col = 0; col < cols; ++col) {
        const double v = line[static_cast<std::size_t>(col)];
        if (IsNoData(v)) {
          out[col] = FlagValue;
        } else if (!std::isfinite(v) || (std::fabs(v) <= kFloatMax && static_cast<float>(v) == v)) {
          out[col] = static_cast<float>(v);
        } else {
          throw EInOutError(fPath + ": data type " + fSourceType + " is not supported: the value " +
                            FormatGeneral(v, 17) + " (" + RowColumn(row, col) +
                            ") is not exact as a 32-bit real.");
        }
      }
    }
    break;
  }
  }
  // The documented range is that of the valid cells, as an IDRISI map's is.
  bool any = false;
  auto range = [&](const auto& cells) {
    for (const auto c : cells) {
      const auto v = static_cast<float>(c);
      if (IsMissingValue(v)) continue;
      if (!any || v < MinValue) MinValue = v;
      if (!any || v > MaxValue) MaxValue = v;
      any = true;
    }
  };
  if (DataType == dtByte) {
    range(fBytes);
    ImageDigest = CellsDigest(DataType, fBytes);
  } else if (DataType == dtInteger) {
    range(fIntegers);
    ImageDigest = CellsDigest(DataType, fIntegers);
  } else {
    range(fReals);
    ImageDigest = CellsDigest(DataType, fReals);
  }
  if (any) {
    DisplayMin = MinValue;
    DisplayMax = MaxValue;
  }
}

float tGdalRaster::ReleasedCell(int32_t row, int32_t col) const {
  const tQuietGdal quiet;
  const tDataset ds(fPath);
  GDALRasterBandH band = FirstBand(ds, fPath);
  double v = 0;
  if (GDALRasterIO(band, GF_Read, col, row, 1, 1, &v, 1, 1, GDT_Float64, 0, 0) != CE_None)
    throw EInOutError(fPath + ": the cells cannot be read" + LastGdalError() + ".");
  if (fSignedByte && v > 127) v -= 256;
  if (IsNoData(v)) return FlagValue;
  if (std::isfinite(v) && !(std::fabs(v) <= kFloatMax && static_cast<float>(v) == v))
    throw EInOutError(fPath + ": data type " + fSourceType + " is not supported: the value " +
                      FormatGeneral(v, 17) + " (" + RowColumn(row, col) +
                      ") is not exact as a 32-bit real.");
  return static_cast<float>(v);
}

// Statistics of a released map are taken over its cells loaded for the pass.
template <class Pass>
static void WithCellsLoaded(tGdalRaster& map, Pass pass) {
  const bool wasLoaded = map.Loaded();
  if (!wasLoaded) map.LoadData();
  try {
    pass();
  } catch (...) {
    if (!wasLoaded) map.ReleaseData();
    throw;
  }
  if (!wasLoaded) map.ReleaseData();
}

void tGdalRaster::ComputeMean() {
  WithCellsLoaded(*this, [this] { tLiveRaster::ComputeMean(); });
}

void tGdalRaster::ComputeSD() {
  WithCellsLoaded(*this, [this] { tLiveRaster::ComputeSD(); });
}

// Changes stay in memory: the source file is never written.
void tGdalRaster::SetCell(int32_t row, int32_t col, float value) {
  if (!Loaded()) LoadData();
  tLiveRaster::SetCell(row, col, value);
}

void tGdalRaster::ReadDoc(const std::string& fileName) {
  ReleaseData();
  MeanValid = false;
  SDValid = false;
  DocDigest.clear();
  ImageDigest.clear();
  Describe(fileName);
}

namespace {

// How a name is opened: an IDRISI map (the name to pass and its file
// generation) or, when gdal is set, through GDAL.
struct tMapNaming {
  bool gdal = false;
  std::string name;
  bool classic = false;
};

tMapNaming NamingOf(const std::string& name) {
  std::error_code ec;
  const bool current = ClassicIdrisi();
  const std::string ext = LowerAscii(fs::path(name).extension().string());
  const std::string base = StripExtension(name);
  const tMapNaming asGiven{false, name, current};
  // A map of the other generation is opened with its own extensions.
  if (ext == ".rst" || ext == ".rdc")
    return current && fs::exists(base + ".rdc", ec) ? tMapNaming{false, base + ".rdc", false}
                                                    : asGiven;
  if (ext == ".img" || ext == ".doc") {
    if (fs::exists(base + ".doc", ec)) return {false, base + ".doc", true};
    // ERDAS Imagine also names its files ".img".
    return ext == ".img" && fs::exists(name, ec) ? tMapNaming{true, name, false} : asGiven;
  }
  if (fs::exists(name + DocExt(), ec)) return asGiven;
  const std::string otherDoc = current ? ".rdc" : ".doc";
  if (fs::exists(name + otherDoc, ec)) return {false, name + otherDoc, !current};
  // A name that is no file is left to the IDRISI reader and its message.
  return fs::exists(name, ec) ? tMapNaming{true, name, false} : asGiven;
}

} // namespace

bool IsIdrisiMapName(const std::string& name) { return !NamingOf(name).gdal; }

std::unique_ptr<tRaster> OpenMap(const std::string& name) {
  const tMapNaming n = NamingOf(name);
  if (n.gdal) return std::make_unique<tGdalRaster>(name);
  if (n.name == name && n.classic == ClassicIdrisi()) return std::make_unique<tRaster>(name);
  return std::make_unique<tRaster>(n.name, n.classic);
}

std::unique_ptr<tLiveRaster> OpenLiveMap(const std::string& name) {
  const tMapNaming n = NamingOf(name);
  if (n.gdal) return std::make_unique<tGdalRaster>(name);
  if (n.name == name && n.classic == ClassicIdrisi()) return std::make_unique<tLiveRaster>(name);
  return std::make_unique<tLiveRaster>(n.name, n.classic);
}

bool IsGeoTiffName(const std::string& name) {
  const std::string ext = LowerAscii(fs::path(name).extension().string());
  return ext == ".tif" || ext == ".tiff";
}

void WriteGeoTiff(const tRaster& map, const std::string& tifPath) {
  tLiveRaster src(map.FileName + map.DocExtension(), map.Classic);
  src.LoadData();
  const tQuietGdal quiet;
  RegisterDrivers();
  GDALDriverH driver = GDALGetDriverByName("GTiff");
  if (!driver) throw EInOutError(tifPath + ": GDAL has no GeoTIFF driver.");
  const GDALDataType type = src.DataType == dtByte      ? GDT_Byte
                            : src.DataType == dtInteger ? GDT_Int16
                                                        : GDT_Float32;
  // Written beside the target and renamed: a reader never sees half a map.
  const std::string temp = tifPath + ".part";
  const char* options[] = {"TILED=YES", "COMPRESS=DEFLATE", nullptr};
  GDALDatasetH ds = GDALCreate(driver, temp.c_str(), src.Columns, src.Rows, 1, type,
                               const_cast<char**>(options));
  if (!ds) throw EInOutError(tifPath + ": cannot be written" + LastGdalError() + ".");
  bool ok = true;
  double gt[6] = {static_cast<double>(src.MinX),
                  static_cast<double>((src.MaxX - src.MinX) / src.Columns),
                  0,
                  static_cast<double>(src.MaxY),
                  0,
                  -static_cast<double>((src.MaxY - src.MinY) / src.Rows)};
  ok = GDALSetGeoTransform(ds, gt) == CE_None && ok;
  OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
  const std::string system = LowerAscii(TrimBlanks(src.RefSystem));
  int zone = 0;
  char hemisphere = 0;
  bool haveSrs = false;
  if (system == "latlong") {
    haveSrs = OSRSetWellKnownGeogCS(srs, "WGS84") == OGRERR_NONE;
  } else if (std::sscanf(system.c_str(), "utm-%d%c", &zone, &hemisphere) == 2 &&
             (hemisphere == 'n' || hemisphere == 's')) {
    haveSrs = OSRSetWellKnownGeogCS(srs, "WGS84") == OGRERR_NONE &&
              OSRSetUTM(srs, zone, hemisphere == 'n') == OGRERR_NONE;
  }
  if (haveSrs) ok = GDALSetSpatialRef(ds, srs) == CE_None && ok;
  OSRDestroySpatialReference(srs);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  if (src.FlagDef == fdBackground)
    ok = GDALSetRasterNoDataValue(band, src.FlagValue) == CE_None && ok;
  std::vector<float> line(static_cast<std::size_t>(std::max(src.Columns, 0)));
  for (int32_t row = 0; ok && row < src.Rows; ++row) {
    for (int32_t col = 0; col < src.Columns; ++col)
      line[static_cast<std::size_t>(col)] = static_cast<float>(src.GetCell(row, col));
    ok = GDALRasterIO(band, GF_Write, 0, row, src.Columns, 1, line.data(), src.Columns, 1,
                      GDT_Float32, 0, 0) == CE_None;
  }
  GDALClose(ds);
  // Errors of the final flush show up only as GDAL's last error.
  ok = ok && CPLGetLastErrorType() < CE_Failure;
  const std::string error = LastGdalError();
  std::error_code ec;
  if (!ok) {
    fs::remove(temp, ec);
    throw EInOutError(tifPath + ": cannot be written" + error + ".");
  }
  fs::rename(temp, tifPath, ec);
  if (ec) {
    fs::remove(temp, ec);
    throw EInOutError(tifPath + ": cannot be written (" + ec.message() + ").");
  }
}

} // namespace stravex

namespace stravex {

void FinishGeoTiffCorridor(const tRaster& map, const std::string& tifPath, bool completed) {
  WriteGeoTiff(map, tifPath);
  if (completed) DeleteMap(map.FileName);
}

} // namespace stravex
