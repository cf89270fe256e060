#include "raster/MapInfo.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/TextUtils.h"
#include "raster/GdalMap.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace stravex {

namespace {

namespace fs = std::filesystem;

struct tMapName {
  std::string base; // path without extension
  bool classic;     // ".img"/".doc" generation
};

tMapName ResolveMapName(const std::string& name) {
  const std::string ext = LowerAscii(fs::path(name).extension().string());
  if (ext == ".rst" || ext == ".rdc") return {StripExtension(name), false};
  if (ext == ".img" || ext == ".doc") return {StripExtension(name), true};
  const bool current = ClassicIdrisi();
  const char* currentDoc = current ? ".doc" : ".rdc";
  const char* otherDoc = current ? ".rdc" : ".doc";
  std::error_code ec;
  if (!fs::exists(name + currentDoc, ec) && fs::exists(name + otherDoc, ec))
    return {name, !current};
  return {name, current};
}

std::string Real(long double v) { return FormatGeneral(v); }

// 32-bit values (cells, documented range, cell size) in the shortest text that
// reads back as the same float: 320.87 rather than 320.869995117188.
std::string Single(double v) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v));
  return std::string(buf, res.ptr);
}

// The image must hold exactly one record per cell, checked before any memory
// is sized from the documentation alone (which would trust an arbitrary
// header); a longer image means the documentation describes another grid.
void CheckImageSize(const tRaster& map, const std::string& image) {
  std::error_code ec;
  const uintmax_t actual = fs::file_size(image, ec);
  if (ec) throw EInOutError(image + " not found.");
  // Cannot wrap: below (2^31)^2 x 4 bytes.
  const uint64_t expected = static_cast<uint64_t>(map.Rows) * static_cast<uint64_t>(map.Columns) *
                            static_cast<uint64_t>(map.DataType);
  if (actual != expected)
    throw EInOutError(image + " holds " + std::to_string(actual) + " bytes, " +
                      std::to_string(expected) + " expected for " + std::to_string(map.Rows) +
                      " rows x " + std::to_string(map.Columns) + " columns of " +
                      DataTypeWord(map.DataType) + ".");
}

} // namespace

namespace {

// An IDRISI map checked against its image size, or a map read through GDAL.
std::unique_ptr<tLiveRaster> OpenDescribedMap(const std::string& name, std::string& image) {
  if (!IsIdrisiMapName(name)) {
    auto map = std::make_unique<tGdalRaster>(name);
    image = map->SourcePath();
    return map;
  }
  const tMapName resolved = ResolveMapName(name);
  // Naming the documentation file keeps a dot inside the map's own name intact.
  auto map = std::make_unique<tLiveRaster>(resolved.base + (resolved.classic ? ".doc" : ".rdc"),
                                           resolved.classic);
  if (map->FileType != ftBinary) throw EInOutError(map->MapName() + " is not in binary format.");
  if (map->DataType != dtByte && map->DataType != dtInteger && map->DataType != dtReal)
    throw EInOutError(map->FileName + map->DocExtension() + ": unsupported data type \"" +
                      DataTypeWord(map->DataType) + "\".");
  image = map->FileName + map->ImageExtension();
  CheckImageSize(*map, image);
  return map;
}

} // namespace

std::vector<tMapInfoLine> DescribeMap(const std::string& name) {
  std::string image;
  const std::unique_ptr<tLiveRaster> opened = OpenDescribedMap(name, image);
  tLiveRaster& map = *opened;
  const auto* gdal = dynamic_cast<const tGdalRaster*>(&map);
  map.LoadData();

  // Own min/max: ComputeMinMax counts flagged cells too.
  uint64_t valid = 0;
  double lo = 0, hi = 0;
  for (int32_t r = 0; r < map.Rows; ++r)
    for (int32_t c = 0; c < map.Columns; ++c) {
      const double v = map.GetCell(r, c);
      if (map.IsMissingValue(static_cast<float>(v))) continue;
      if (valid == 0 || v < lo) lo = v;
      if (valid == 0 || v > hi) hi = v;
      ++valid;
    }
  const uint64_t cells = static_cast<uint64_t>(map.Rows) * static_cast<uint64_t>(map.Columns);

  std::vector<tMapInfoLine> out;
  auto line = [&out](const char* key, const std::string& value) { out.emplace_back(key, value); };
  auto lines = [&line](const char* key, const tStringList& values) {
    for (const std::string& v : values) line(key, v);
  };
  line("map", map.MapName());
  line("file", image);
  line("title", map.Title);
  line("file format", gdal ? gdal->FormatName() : map.FileFormat);
  line("data type", DataTypeWord(map.DataType));
  if (gdal) line("source data type", gdal->SourceType());
  line("file type", FileTypeWord(map.FileType));
  line("columns", std::to_string(map.Columns));
  line("rows", std::to_string(map.Rows));
  line("cell width", Single(map.CellWidth));
  line("cell height", Single(map.CellHeight));
  line("min X", Real(map.MinX));
  line("max X", Real(map.MaxX));
  line("min Y", Real(map.MinY));
  line("max Y", Real(map.MaxY));
  line("reference system", map.RefSystem);
  line("reference units", map.RefUnits);
  line("unit distance", map.UnitDist);
  line("position error", map.PosError);
  line("resolution", map.Resolution);
  line("value units", map.ValueUnits);
  line("value error", map.ValueError);
  line("min value", Single(map.MinValue));
  line("max value", Single(map.MaxValue));
  line("display min", Single(map.DisplayMin));
  line("display max", Single(map.DisplayMax));
  line("flag value", Single(map.FlagValue));
  line("flag definition", FlagDefWord(map.FlagDef));
  // GDAL's IDRISI reader takes any definition but "none" as a no-data flag,
  // so GIS tools drop cells that Stravex counts.
  if (map.FlagDef == fdNoBackground)
    line("flag note", "GDAL-based tools (gdalinfo, QGIS) take no-data = " + Single(map.FlagValue) +
                          " here (the flag value; \"none\" reads as 0) and leave out cells that "
                          "Stravex counts; \"flag def'n : none\" means no flag to both.");
  line("legend categories", std::to_string(map.Legend.size()));
  lines("legend", map.Legend);
  lines("comment", map.Comments);
  lines("lineage", map.Lineage);
  lines("completeness", map.Completeness);
  lines("consistency", map.Consistency);
  line("valid cells", std::to_string(valid));
  line("missing cells", std::to_string(cells - valid));
  if (valid == 0) {
    line("statistics", "no valid cells");
  } else {
    map.ComputeMean();
    map.ComputeSD();
    line("mean", Real(map.Mean));
    line("SD", Real(map.SD));
    line("minimum", Single(lo));
    line("maximum", Single(hi));
  }
  return out;
}

std::string FormatMapInfo(const std::vector<tMapInfoLine>& lines) {
  std::string out;
  for (const auto& [key, value] : lines) {
    out += key;
    out += ':';
    if (!value.empty()) {
      out += ' ';
      out += value;
    }
    out += '\n';
  }
  return out;
}

} // namespace stravex
