// The metadata record of tRaster and its IDRISI documentation file.
#include "base/AtomicFile.h"
#include "base/ContentDigest.h"
#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/TextUtils.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace stravex {

const char* DataTypeWord(tDataType t) {
  static const char* const words[] = {"unknown", "byte", "integer", "dummy", "real"};
  return t <= dtReal ? words[t] : words[dtUnknown];
}

const char* FileTypeWord(tFileType t) {
  static const char* const words[] = {"unknown", "ascii", "binary", "packed binary"};
  return t <= ftPackedBinary ? words[t] : words[ftUnknown];
}

const char* FlagDefWord(tFlagDef f) {
  switch (f) {
  case fdNoBackground: return "no background";
  case fdBackground: return "background";
  default: return "none";
  }
}

namespace {

const char* const kDefaultFileFormat = "IDRISI Raster A.1";
const char* const kSeparatorError =
    "There was a problem with floating point values. It is probably due to a bad decimal "
    "separator setting";

// Marks text that is not a number; a real holding exactly this value cannot be read.
constexpr long double kNotANumber = -31415926.0L;

constexpr std::size_t kKeyLength = 14;

// Locale-independent reading with "." as separator: the whole text (blanks
// around it aside) must be one finite decimal number, else kNotANumber.
long double ReadReal(const std::string& text) {
  const std::string t = TrimBlanks(text);
  const char* first = t.data();
  const char* const last = t.data() + t.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return kNotANumber;
  }
  // from_chars also takes "inf" and "nan", which no documentation file holds.
  const char* digit = (first != last && *first == '-') ? first + 1 : first;
  if (digit == last || !((*digit >= '0' && *digit <= '9') || *digit == '.')) return kNotANumber;
  long double v = 0;
  const auto res = std::from_chars(first, last, v, std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != last || !std::isfinite(v)) return kNotANumber;
  return v;
}

int32_t ReadInteger(const std::string& value) {
  const std::string t = TrimBlanks(value);
  const char* first = t.data();
  const char* const last = t.data() + t.size();
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  int32_t v = 0;
  const auto res = std::from_chars(first, last, v, 10);
  if (first == last || res.ec != std::errc() || res.ptr != last)
    throw EConvertError("'" + value + "' is not a valid integer value");
  return v;
}

tDataType DataTypeOf(const std::string& value) {
  const std::string v = LowerAscii(TrimBlanks(value));
  if (v == "byte") return dtByte;
  if (v == "integer") return dtInteger;
  if (v == "real") return dtReal;
  return dtUnknown;
}

tFileType FileTypeOf(const std::string& value) {
  const std::string v = LowerAscii(TrimBlanks(value));
  if (v == "ascii") return ftAscii;
  if (v == "binary") return ftBinary;
  if (v == "packed binary") return ftPackedBinary;
  return ftUnknown;
}

tRefUnit RefUnitOf(const std::string& value) {
  const std::string v = LowerAscii(TrimBlanks(value));
  // "mètres", "kilomètres" come in the 8-bit code page or in UTF-8.
  if (v == "m" || v == "meters" || v == "m\xE8tres" || v == "m\xC3\xA8tres") return ruMeters;
  if (v == "km" || v == "kilometers" || v == "kilom\xE8tres" || v == "kilom\xC3\xA8tres")
    return ruKilometers;
  if (v.compare(0, 3, "deg") == 0) return ruDegrees;
  if (v == "yards") return ruYards;
  if (v == "mi" || v == "miles" || v == "milles") return ruMiles;
  return ruOther;
}

float FlagValueOf(const std::string& value) {
  if (value == "none") return 0;
  try {
    const long double r = RoundHalfEven(StrToFloatTolerant(value));
    // A flag that does not fit a 64-bit whole number is taken as no flag at all.
    if (!(std::fabs(r) < 9.2e18L)) return 0;
    return static_cast<float>(r);
  } catch (const EConvertError&) {
    return 0;
  }
}

// The map path without extension: only the image or documentation extension
// is taken off, so a map named "site.2020" keeps its own name.
std::string MapPathOf(const std::string& name, const tRaster& map) {
  const std::string stripped = StripExtension(name);
  const std::string ext = name.substr(stripped.size());
  if (SameTextIgnoringCase(ext, map.ImageExtension()) ||
      SameTextIgnoringCase(ext, map.DocExtension()))
    return stripped;
  return name;
}

} // namespace

long double StrToFloatTolerant(const std::string& text) {
  const long double v = ReadReal(text);
  if (v != kNotANumber) return v;
  std::string swapped = text;
  for (char& c : swapped)
    if (c == ',') c = '.';
  // A text that holds a "." and a "," now holds two "." and stays refused,
  // as it is by a decimal-comma reader.
  const long double w = ReadReal(swapped);
  if (w != kNotANumber) return w;
  throw EConvertError(kSeparatorError);
}

tRaster::tRaster() : Classic(ClassicIdrisi()) {
  FileFormat = Classic ? std::string() : std::string(kDefaultFileFormat);
  DataType = dtReal;
  FileType = ftBinary;
  RefSystem = "plane";
  UnitDist = std::string("1"); // not = "1": GCC 12 -O3 reports a false -Wrestrict
}

tRaster::tRaster(tNoDefaults) : Classic(ClassicIdrisi()) {}

tRaster::tRaster(const std::string& fileName) : tRaster(fileName, ClassicIdrisi()) {}

tRaster::tRaster(const std::string& fileName, bool classic) : Classic(classic) {
  FileFormat = Classic ? std::string() : std::string(kDefaultFileFormat);
  tRaster::ReadDoc(fileName);
}

tRaster::~tRaster() = default;

void tRaster::ReadDoc(const std::string& fileName) {
  MeanValid = false;
  SDValid = false;
  Legend.clear();
  Comments.clear();
  Lineage.clear();
  Completeness.clear();
  Consistency.clear();

  // Both describe the files of the map read before, if any.
  DocDigest.clear();
  ImageDigest.clear();
  FileName = MapPathOf(fileName, *this);
  DocMissing = false;
  // The same path WriteDoc writes to, also for map names holding a ".".
  const std::string docPath = FileName + DocExtension();
  std::error_code ec;
  const auto status = std::filesystem::status(docPath, ec);
  if (!std::filesystem::exists(status) || std::filesystem::is_directory(status)) {
    DocMissing = true;
    throw EInOutError(docPath + " not found.");
  }

  // Read whole, once: the fingerprint is of exactly the bytes parsed.
  const std::string text = ReadWholeFile(docPath);

  FlagDef = fdNone;
  std::string line;
  bool firstLine = true;
  for (std::size_t pos = 0; pos < text.size();) {
    // Lines as getline gives them: a last line without its break counts.
    const std::size_t eol = text.find('\n', pos);
    const std::size_t end = eol == std::string::npos ? text.size() : eol;
    line.assign(text, pos, end - pos);
    pos = end + 1;
    // Files from other programs may end lines with LF alone or start with a UTF-8 mark.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (firstLine && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    firstLine = false;

    const std::string_view key = std::string_view(line).substr(0, kKeyLength);
    const std::string value = line.size() > kKeyLength ? line.substr(kKeyLength) : std::string();

    if (key == "file format : ")
      FileFormat = value.empty() ? kDefaultFileFormat : value;
    else if (key == "file title  : ")
      Title = value;
    else if (key == "data type   : ")
      DataType = DataTypeOf(value);
    else if (key == "file type   : ")
      FileType = FileTypeOf(value);
    else if (key == "columns     : ")
      Columns = ReadInteger(value);
    else if (key == "rows        : ")
      Rows = ReadInteger(value);
    else if (key == "ref. system : ")
      RefSystem = value;
    else if (key == "ref. units  : ") {
      RefUnits = value;
      UnitCode = RefUnitOf(value);
    } else if (key == "unit dist.  : ")
      UnitDist = value;
    else if (key == "min. X      : ")
      MinX = StrToFloatTolerant(value);
    else if (key == "max. X      : ")
      MaxX = StrToFloatTolerant(value);
    else if (key == "min. Y      : ")
      MinY = StrToFloatTolerant(value);
    else if (key == "max. Y      : ")
      MaxY = StrToFloatTolerant(value);
    else if (key == "pos'n error : ")
      PosError = value;
    else if (key == "resolution  : ")
      Resolution = value;
    else if (key == "min. value  : ")
      MinValue = static_cast<float>(StrToFloatTolerant(value));
    else if (key == "max. value  : ")
      MaxValue = static_cast<float>(StrToFloatTolerant(value));
    else if (key == "display min : ")
      DisplayMin = static_cast<float>(StrToFloatTolerant(value));
    else if (key == "display max : ")
      DisplayMax = static_cast<float>(StrToFloatTolerant(value));
    else if (key == "value units : ")
      ValueUnits = value;
    else if (key == "value error : ")
      ValueError = value;
    else if (key == "flag value  : ")
      FlagValue = FlagValueOf(value);
    else if (key == "flag def'n  : ") {
      const std::string def = TrimBlanks(value);
      if (def == "background" || def == "missing data" || def == "no data" || def == "nodata")
        FlagDef = fdBackground;
      else if (def == "no background")
        FlagDef = fdNoBackground;
    } else if (key == "legend cats : ")
      LegendCats = ReadInteger(value);
    else if (key == "comment     : ")
      Comments.push_back(value);
    else if (key == "lineage     : ")
      Lineage.push_back(value);
    else if (key == "completeness: ")
      Completeness.push_back(value);
    else if (key == "consistency : ")
      Consistency.push_back(value);
    else if (key.substr(0, 8) == "category" || key.substr(0, 4) == "code")
      Legend.push_back(line);
  }

  // A grid without cells has no cell size; such a map cannot be used.
  if (Columns <= 0 || Rows <= 0)
    throw EInOutError(docPath + ": the number of columns and rows must be positive.");
  CellWidth = static_cast<float>((MaxX - MinX) / Columns);
  CellHeight = static_cast<float>((MaxY - MinY) / Rows);
  DocDigest = DigestOf(text);
}

void tRaster::ComputeResolution() {
  if (Columns <= 0 || Rows <= 0)
    throw EInvalidOperation(FileName +
                            ": the number of columns and rows must be positive to compute the "
                            "resolution.");
  CellWidth = static_cast<float>((MaxX - MinX) / Columns);
  CellHeight = static_cast<float>((MaxY - MinY) / Rows);
  Resolution = FormatGeneral((static_cast<long double>(CellWidth) + CellHeight) / 2);
}

void tRaster::WriteDoc() {
  const std::string text = DocText();
  // Cleared first: a target written in place may keep part of the text after a failure.
  DocDigest.clear();
  WriteFileAtomically(FileName + DocExtension(), text);
  DocDigest = DigestOf(text);
}

std::string tRaster::DocText() {
  if (DisplayMin == DisplayMax) {
    DisplayMin = MinValue;
    DisplayMax = MaxValue;
  }

  std::string out;
  // A line break inside a value would start a line of its own and be read
  // back as another field; it is written as a blank instead.
  auto put = [&out](const char* key, const std::string& value) {
    out += key;
    for (char c : value) out += (c == '\r' || c == '\n') ? ' ' : c;
    out += "\r\n";
  };
  auto real = [](long double v) { return FormatGeneral(v); };

  if (!Classic) {
    if (FileFormat.empty()) FileFormat = kDefaultFileFormat;
    put("file format : ", FileFormat);
  }
  put("file title  : ", Title);
  put("data type   : ", DataTypeWord(DataType));
  put("file type   : ", FileTypeWord(FileType));
  put("columns     : ", std::to_string(Columns));
  put("rows        : ", std::to_string(Rows));
  if (RefSystem.empty()) RefSystem = "plane";
  put("ref. system : ", RefSystem);
  if (RefUnits.empty()) RefUnits = "unspecified";
  put("ref. units  : ", RefUnits);
  if (UnitDist.empty()) UnitDist = std::string("1"); // as in the constructor
  put("unit dist.  : ", UnitDist);
  put("min. X      : ", real(MinX));
  put("max. X      : ", real(MaxX));
  put("min. Y      : ", real(MinY));
  put("max. Y      : ", real(MaxY));
  put("pos'n error : ", PosError);
  if (Resolution.empty()) ComputeResolution();
  put("resolution  : ", Resolution);
  put("min. value  : ", real(MinValue));
  put("max. value  : ", real(MaxValue));
  if (!Classic) {
    put("display min : ", real(DisplayMin));
    put("display max : ", real(DisplayMax));
  }
  if (ValueUnits.empty()) ValueUnits = "unspecified";
  put("value units : ", ValueUnits);
  if (ValueError.empty()) ValueError = "unknown";
  put("value error : ", ValueError);
  put("flag value  : ", FlagDef == fdBackground ? real(FlagValue) : std::string("none"));
  put("flag def'n  : ", FlagDefWord(FlagDef));
  put("legend cats : ", std::to_string(Legend.size()));
  for (const std::string& l : Legend) put("", l);
  for (const std::string& c : Comments) put("comment     : ", c);
  for (const std::string& c : Lineage) put("lineage     : ", c);
  for (const std::string& c : Completeness) put("completeness: ", c);
  for (const std::string& c : Consistency) put("consistency : ", c);
  return out;
}

} // namespace stravex
