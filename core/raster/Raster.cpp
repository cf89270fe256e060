// tRaster: cells on disk, addressed one at a time or streamed whole.
#include "raster/Raster.h"
#include "base/AtomicFile.h"
#include "base/ContentDigest.h"
#include "base/Errors.h"
#include "base/Reporter.h"
#include "base/TextUtils.h"
#include "raster/IdrisiEnv.h"
#include "raster/IdrisiFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <vector>

namespace stravex {

namespace {

const char* const kOutsideGrid = "Coordinates must be between 0 and number of columns or rows.";
const char* const kNoData = "Map contains no data";

int32_t RoundToCell(long double v) {
  const long double r = std::nearbyintl(v);
  if (!(r >= -2147483648.0L && r <= 2147483647.0L))
    RaiseRangeCheckReal("cell index", v, -2147483648.0L, 2147483647.0L);
  return static_cast<int32_t>(r);
}

float DecodeRecord(const unsigned char* rec, tDataType t) {
  switch (t) {
  case dtByte: return rec[0];
  case dtInteger: return static_cast<int16_t>(static_cast<uint16_t>(rec[0] | (rec[1] << 8)));
  default: {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(rec[i]) << (8 * i);
    float v;
    std::memcpy(&v, &u, sizeof v);
    return v;
  }
  }
}

bool SupportedType(tDataType t) { return t == dtByte || t == dtInteger || t == dtReal; }

// Closes a single-cell file handle on every way out.
struct tFileCloser {
  std::FILE* f;
  ~tFileCloser() {
    if (f) std::fclose(f);
  }
};

// A whole-map stream pass into m; an image with fewer records than cells is
// refused. Returns the fingerprint of the records read.
template <typename T>
std::string StreamMatrix(const tRaster& r, std::vector<std::vector<T>>& m) {
  const int32_t rows = r.Rows > 0 ? r.Rows : 0;
  const int32_t cols = r.Columns > 0 ? r.Columns : 0;
  m.assign(static_cast<std::size_t>(rows), std::vector<T>(static_cast<std::size_t>(cols), T(0)));
  const int64_t expected = CellCount(r);
  tIdrisiFile f;
  OpenIdrisiRead(r, f);
  if (f.fileRecords < expected) RaiseShortImage(f.path, f.fileRecords, expected);
  HashImageRecords(f, expected);
  float v = 0;
  for (int32_t row = 0; row < rows; ++row) {
    T* cells = m[static_cast<std::size_t>(row)].data();
    for (int32_t col = 0; col < cols; ++col) {
      const int64_t before = f.delivered;
      ReadIdrisi(f, v);
      if (f.delivered == before) break;
      cells[col] = static_cast<T>(v);
    }
    if (f.delivered < static_cast<int64_t>(row + 1) * cols) break;
  }
  const int64_t got = f.delivered;
  if (got < expected) RaiseShortImage(f.path, got, expected);
  CloseIdrisi(f);
  return ImageDigestOf(f);
}

// Opens a read stream for a statistics pass; a short image would give figures
// over part of the map only.
void OpenWholeImage(const tRaster& r, tIdrisiFile& f) {
  OpenIdrisiRead(r, f);
  if (f.fileRecords < CellCount(r)) RaiseShortImage(f.path, f.fileRecords, CellCount(r));
}

} // namespace

void EncodeRecord(float v, tDataType t, unsigned char* rec) {
  switch (t) {
  case dtByte: rec[0] = static_cast<uint8_t>(v); break;
  case dtInteger: {
    const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
    rec[0] = static_cast<unsigned char>(u & 0xFF);
    rec[1] = static_cast<unsigned char>(u >> 8);
    break;
  }
  default: {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    for (int i = 0; i < 4; ++i) rec[i] = static_cast<unsigned char>(u >> (8 * i));
    break;
  }
  }
}

std::unique_ptr<tRaster> tRaster::CreateLike(const tRaster& other) {
  auto r = std::make_unique<tRaster>();
  r->CopyGeometry(other);
  return r;
}

namespace {

// floor(offset / (extent / cells)); an offset of exactly the extent (a point on
// the far edge) is in the last cell, as the near edge is in the first.
int32_t ContainingCell(long double offset, long double extent, int32_t cells) {
  const long double v = offset / (extent / cells);
  const long double f = std::floor(v);
  if (!(f >= -2147483648.0L && f <= 2147483647.0L))
    RaiseRangeCheckReal("cell index", v, -2147483648.0L, 2147483647.0L);
  const auto c = static_cast<int32_t>(f);
  return c == cells && offset <= extent ? cells - 1 : c;
}

} // namespace

int32_t tRaster::ColOfX(double x) const {
  if (CellRule == crRounded) return RoundToCell((static_cast<long double>(x) - MinX) / CellWidth);
  return ContainingCell(static_cast<long double>(x) - MinX, MaxX - MinX, Columns);
}

int32_t tRaster::RowOfY(double y) const {
  if (CellRule == crRounded) return RoundToCell((MaxY - static_cast<long double>(y)) / CellHeight);
  return ContainingCell(MaxY - static_cast<long double>(y), MaxY - MinY, Rows);
}

void tRaster::CopyGeometry(const tRaster& other) {
  CellRule = other.CellRule;
  FileFormat = other.FileFormat;
  Columns = other.Columns;
  FileType = other.FileType;
  Rows = other.Rows;
  RefSystem = other.RefSystem;
  RefUnits = other.RefUnits;
  UnitDist = other.UnitDist;
  UnitCode = other.UnitCode;
  MinX = other.MinX;
  MaxX = other.MaxX;
  MinY = other.MinY;
  MaxY = other.MaxY;
  PosError = other.PosError;
  Resolution = other.Resolution;
  DocMissing = other.DocMissing;
  // Derived from the extent and grid just copied; without them a raster made
  // like another could not turn coordinates into cells.
  CellWidth = other.CellWidth;
  CellHeight = other.CellHeight;
}

std::vector<std::string> GeometryDifferences(const tRaster& a, const tRaster& b) {
  // Bounds read from text are not exact: 40.0001 - 40 comes out a hair below
  // 0.0001, and must still count as a difference of 0.0001.
  constexpr long double tolerance = 0.0001L - 1e-10L;
  std::vector<std::string> differ;
  if (a.Columns != b.Columns) differ.emplace_back("columns");
  if (a.Rows != b.Rows) differ.emplace_back("rows");
  if (!(std::fabs(a.MinX - b.MinX) < tolerance)) differ.emplace_back("min X");
  if (!(std::fabs(a.MaxX - b.MaxX) < tolerance)) differ.emplace_back("max X");
  if (!(std::fabs(a.MinY - b.MinY) < tolerance)) differ.emplace_back("min Y");
  if (!(std::fabs(a.MaxY - b.MaxY) < tolerance)) differ.emplace_back("max Y");
  if (!SameTextIgnoringCase(a.RefSystem, b.RefSystem)) differ.emplace_back("reference system");
  return differ;
}

bool SameGeometry(const tRaster& a, const tRaster& b) { return GeometryDifferences(a, b).empty(); }

std::string tRaster::MapName() const {
  const auto sep = FileName.find_last_of('/');
  return sep == std::string::npos ? FileName : FileName.substr(sep + 1);
}

double tRaster::GetCell(int32_t row, int32_t col) const {
  if (!IsInside(row, col)) throw ERangeError(kOutsideGrid);
  if (!SupportedType(DataType)) return 0;
  const std::string path = ImagePath(*this);
  const int recordSize = static_cast<int>(DataType);
  const int64_t index = static_cast<int64_t>(row) * Columns + col;

  tFileCloser h{std::fopen(path.c_str(), "rb")};
  if (!h.f) {
    ReporterOr(Reporter).ErrorBox("File reading error #2");
    return 0;
  }
  std::setvbuf(h.f, nullptr, _IONBF, 0);
  struct stat st {};
  if (fstat(fileno(h.f), &st) != 0) {
    ReporterOr(Reporter).ErrorBox("File reading error #2");
    return 0;
  }
  // A cell beyond the end of the file is corrupted data, not a zero.
  if (S_ISREG(st.st_mode) && index >= st.st_size / recordSize)
    RaiseShortImage(path, st.st_size / recordSize, CellCount(*this));
  if (fseeko(h.f, static_cast<off_t>(index) * recordSize, SEEK_SET) != 0) {
    ReporterOr(Reporter).ErrorBox("File reading error #2");
    return 0;
  }
  unsigned char rec[4] = {0, 0, 0, 0};
  if (std::fread(rec, static_cast<std::size_t>(recordSize), 1, h.f) != 1) {
    if (std::ferror(h.f)) {
      ReporterOr(Reporter).ErrorBox("File reading error #2");
    } else {
      static const char* const byType[] = {"", "File reading error #1c", "File reading error #1b",
                                           "", "File reading error #1a"};
      ReporterOr(Reporter).ErrorBox(byType[DataType]);
    }
    return 0;
  }
  return DecodeRecord(rec, DataType);
}

void tRaster::SetCell(int32_t row, int32_t col, float value) {
  if (!IsInside(row, col)) throw ERangeError(kOutsideGrid);
  if (!SupportedType(DataType)) return;
  const std::string path = ImagePath(*this);
  // Checked before the file is touched: a value that does not fit is refused,
  // not stored wrapped.
  const float v = RecordValue(value, DataType, path);
  const int recordSize = static_cast<int>(DataType);
  const int64_t index = static_cast<int64_t>(row) * Columns + col;
  unsigned char rec[4];
  EncodeRecord(v, DataType, rec);

  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) throw EInOutError("File writing error");
  // Writing past the end of a short image would pad it with made-up zero cells.
  struct stat st {};
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && index >= st.st_size / recordSize) {
    std::fclose(f);
    RaiseShortImage(path, st.st_size / recordSize, CellCount(*this));
  }
  bool ok = fseeko(f, static_cast<off_t>(index) * recordSize, SEEK_SET) == 0 &&
            std::fwrite(rec, static_cast<std::size_t>(recordSize), 1, f) == 1;
  // The file no longer holds what the cached statistics and fingerprint
  // describe (also after a failed write, which may have changed it).
  ImageDigest.clear();
  ok = (std::fclose(f) == 0) && ok;
  if (!ok) throw EInOutError("File writing error");
  MeanValid = false;
  SDValid = false;
}

// A failed pass leaves no fingerprint: the file may have changed since the last one.
void tRaster::ReadDoubleMatrix(tMatrixOfDouble& m) {
  ImageDigest.clear();
  ImageDigest = StreamMatrix(*this, m);
}

void tRaster::ReadSingleMatrix(tMatrixOfSingle& m) {
  ImageDigest.clear();
  ImageDigest = StreamMatrix(*this, m);
}

void tRaster::ComputeMean() {
  tIdrisiFile f;
  OpenWholeImage(*this, f);
  float x = 0;
  bool found = false;
  while (!found && !f.atEnd) found = ReadIdrisi(f, x);
  if (!found) throw EInvalidOperation(kNoData);
  double mean = x;
  double n = 1;
  while (!f.atEnd) {
    if (ReadIdrisi(f, x)) {
      mean = n / (n + 1) * mean + x / (n + 1);
      n += 1;
    }
  }
  CloseIdrisi(f);
  Mean = mean;
  MeanValid = true;
}

void tRaster::ComputeSD() {
  double q = 0;
  {
    tIdrisiFile f;
    OpenWholeImage(*this, f);
    float x = 0;
    bool found = false;
    while (!found && !f.atEnd) found = ReadIdrisi(f, x);
    if (!found) throw EInvalidOperation(kNoData);
    q = static_cast<double>(x) * x;
    double n = 1;
    while (!f.atEnd)
      if (ReadIdrisi(f, x)) {
        q = static_cast<double>(x) * x / (n + 1) + n / (n + 1) * q;
        n += 1;
      }
    CloseIdrisi(f);
  }
  const double mean = GetMean();
  // Rounding can leave q a hair below mean² for a constant map; that is 0, not NaN.
  SD = std::sqrt(std::max(0.0, q - mean * mean));
  SDValid = true;
}

void tRaster::ComputeMinMax() {
  tIdrisiFile f;
  OpenWholeImage(*this, f);
  float lo = 3.4E38f;
  float hi = -3.4E38f;
  float x = 0;
  while (!f.atEnd)
    if (ReadIdrisi(f, x)) {
      if (x < lo) lo = x;
      if (x > hi) hi = x;
    }
  CloseIdrisi(f);
  MinValue = lo;
  MaxValue = hi;
}

void tRaster::FillConstant(float value) {
  // Refused before the file is replaced, so an existing map stays intact.
  const std::string image = ImagePath(*this);
  const float v = RecordValue(value, DataType, image);
  MinValue = value;
  MaxValue = value;
  MeanValid = false;
  SDValid = false;
  // Both files are complete on disk before either replaces its predecessor: a
  // full disk or a file-size limit leaves the old map (or none), never a short
  // image whose missing cells a reader would take for data.
  // No image fingerprint is kept: a corridor map patches the image in place
  // behind this object. The documentation one goes before anything is
  // written, as a target written in place may keep part of the new text.
  ImageDigest.clear();
  DocDigest.clear();
  tAtomicFile imageFile(image);
  if (SupportedType(DataType)) {
    const auto recordSize = static_cast<std::size_t>(DataType);
    unsigned char rec[4];
    EncodeRecord(v, DataType, rec);
    const int64_t n = CellCount(*this);
    const auto blockRecords = static_cast<std::size_t>(std::min<int64_t>(n, IdrisiBufferSize));
    std::vector<unsigned char> block(blockRecords * recordSize);
    for (std::size_t i = 0; i < block.size(); i += recordSize)
      std::memcpy(&block[i], rec, recordSize);
    for (int64_t done = 0; done < n;) {
      const auto m = static_cast<std::size_t>(std::min<int64_t>(n - done, IdrisiBufferSize));
      imageFile.Write(block.data(), m * recordSize);
      done += static_cast<int64_t>(m);
    }
  }
  imageFile.Finish();
  const std::string doc = DocText();
  tAtomicFile docFile(FileName + DocExtension());
  docFile.Write(doc);
  docFile.Finish();
  imageFile.Commit();
  docFile.Commit();
  DocDigest = DigestOf(doc);
}

double tRaster::GetMean() {
  if (!MeanValid) ComputeMean();
  return Mean;
}

} // namespace stravex
