// tLiveRaster: a map whose cells can be held in memory. The cell reader and
// writer are chosen at LoadData and ReleaseData, so a loaded cell access is a
// plain matrix access with no test of the data type.
#include "base/AtomicFile.h"
#include "base/ContentDigest.h"
#include "base/Errors.h"
#include "raster/IdrisiFile.h"
#include "raster/Raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <sys/mman.h>
#include <vector>

namespace stravex {

namespace {

const char* const kNoData = "Map contains no data";

bool SupportedType(tDataType t) { return t == dtByte || t == dtInteger || t == dtReal; }

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t v, std::size_t to) { return (v + to - 1) / to * to; }

// Reads n records straight into cells; an image holding fewer is refused.
template <typename T>
void LoadCells(tIdrisiFile& f, tCellVector<T>& cells, int64_t n) {
  cells.resize(static_cast<std::size_t>(n));
  const int64_t got = ReadIdrisiBlocks(f, cells.data(), n);
  if (got < n) RaiseShortImage(f.path, got, n);
}

} // namespace

void* AllocateCellBlock(std::size_t bytes) {
  if (bytes < kHugePage) {
    void* p = std::malloc(bytes > 0 ? bytes : 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  // Over-map by one huge page and trim, so the block starts on a huge-page boundary.
  const std::size_t len = RoundUp(bytes, kHugePage);
  void* raw = mmap(nullptr, len + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                   -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = RoundUp(start, kHugePage);
  if (aligned > start) munmap(raw, aligned - start);
  const std::uintptr_t end = start + len + kHugePage;
  if (end > aligned + len) munmap(reinterpret_cast<void*>(aligned + len), end - (aligned + len));
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), len, MADV_HUGEPAGE); // advice only
#endif
  return reinterpret_cast<void*>(aligned);
}

void FreeCellBlock(void* p, std::size_t bytes) noexcept {
  if (!p) return;
  if (bytes < kHugePage)
    std::free(p);
  else
    munmap(p, RoundUp(bytes, kHugePage));
}

tLiveRaster::tLiveRaster() = default;

// The base reads the documentation; the raster is released at that point anyway.
tLiveRaster::tLiveRaster(const std::string& fileName) : tRaster(fileName) {}
tLiveRaster::tLiveRaster(const std::string& fileName, bool classic) : tRaster(fileName, classic) {}

std::unique_ptr<tLiveRaster> tLiveRaster::CreateLike(const tRaster& other) {
  auto r = std::make_unique<tLiveRaster>();
  r->CopyGeometry(other);
  return r;
}

tLiveRaster::~tLiveRaster() { ReleaseData(); }

// --- getters and setters ---

float tLiveRaster::GetReleased(int32_t row, int32_t col) const { return ReleasedCell(row, col); }

float tLiveRaster::ReleasedCell(int32_t row, int32_t col) const {
  return static_cast<float>(tRaster::GetCell(row, col));
}
float tLiveRaster::GetByte(int32_t row, int32_t col) const { return fBytes[Index(row, col)]; }
float tLiveRaster::GetShort(int32_t row, int32_t col) const {
  return static_cast<float>(fShorts[Index(row, col)]);
}
float tLiveRaster::GetInteger(int32_t row, int32_t col) const {
  return static_cast<float>(fIntegers[Index(row, col)]);
}
float tLiveRaster::GetReal(int32_t row, int32_t col) const { return fReals[Index(row, col)]; }

void tLiveRaster::SetReleased(int32_t row, int32_t col, float value) {
  tRaster::SetCell(row, col, value);
}

void tLiveRaster::SetByte(int32_t row, int32_t col, float value) {
  const float r = std::nearbyint(value);
  if (!(r >= 0.0f && r <= 255.0f)) RaiseValueRange(value, "the byte range 0..255", MemoryLabel());
  fBytes[Index(row, col)] = static_cast<uint8_t>(r);
  MeanValid = false;
  SDValid = false;
}

void tLiveRaster::SetShort(int32_t row, int32_t col, float value) {
  const float r = std::nearbyint(value);
  if (!(r >= -32768.0f && r <= 32767.0f)) {
    // Held in 32 bits from here on, as any integer map may be in memory.
    if (!(static_cast<double>(r) >= -2147483648.0 && static_cast<double>(r) < 2147483648.0))
      RaiseValueRange(value, "the 32-bit integer range", MemoryLabel());
    WidenShorts();
    SetInteger(row, col, value);
    return;
  }
  fShorts[Index(row, col)] = static_cast<int16_t>(r);
  MeanValid = false;
  SDValid = false;
}

void tLiveRaster::WidenShorts() {
  tCellVector<int32_t> wide(fShorts.size());
  std::copy(fShorts.begin(), fShorts.end(), wide.begin());
  fIntegers.swap(wide);
  decltype(fShorts)().swap(fShorts);
  fLoadedShorts = false;
  fGetter = &tLiveRaster::GetInteger;
  fSetter = &tLiveRaster::SetInteger;
}

void tLiveRaster::SetInteger(int32_t row, int32_t col, float value) {
  const double r = std::nearbyint(value);
  if (!(r >= -2147483648.0 && r < 2147483648.0))
    RaiseValueRange(value, "the 32-bit integer range", MemoryLabel());
  fIntegers[Index(row, col)] = static_cast<int32_t>(r);
  MeanValid = false;
  SDValid = false;
}

void tLiveRaster::SetReal(int32_t row, int32_t col, float value) {
  fReals[Index(row, col)] = value;
  MeanValid = false;
  SDValid = false;
}

void tLiveRaster::InstallReleased() {
  fGetter = &tLiveRaster::GetReleased;
  fSetter = &tLiveRaster::SetReleased;
  fLoaded = false;
}

float tLiveRaster::LoadedValue(std::size_t i) const {
  switch (fLoadedType) {
  case dtByte: return fBytes[i];
  case dtInteger: return static_cast<float>(fLoadedShorts ? fShorts[i] : fIntegers[i]);
  default: return fReals[i];
  }
}

std::string tLiveRaster::MemoryLabel() const { return "map " + FileName + " in memory"; }

// Visits every cell in row order through the loaded matrix, loading the map
// for the visit when it is released.
template <typename F>
void tLiveRaster::VisitCells(F&& visit) {
  const bool wasLoaded = fLoaded;
  if (!wasLoaded) LoadData();
  try {
    for (int32_t row = 0; row < Rows; ++row)
      for (int32_t col = 0; col < Columns; ++col) visit(row, col, tLiveRaster::GetCell(row, col));
  } catch (...) {
    if (!wasLoaded) ReleaseData();
    throw;
  }
  if (!wasLoaded) ReleaseData();
}

// --- cells ---

double tLiveRaster::GetCell(int32_t row, int32_t col) const {
  if (!IsInside(row, col)) return FlagValue;
  return (this->*fGetter)(row, col);
}

void tLiveRaster::SetCell(int32_t row, int32_t col, float value) {
  if (!IsInside(row, col)) throw ERangeError("Cell out of map");
  (this->*fSetter)(row, col, value);
}

bool tLiveRaster::IsFlagged(int32_t row, int32_t col) const {
  return IsMissingValue(static_cast<float>(tLiveRaster::GetCell(row, col)));
}

void tLiveRaster::CopyCells(float* out) const {
  if (!fLoaded) throw EInvalidOperation(FileName + ": the map is not loaded.");
  switch (fLoadedType) {
  case dtByte: std::copy(fBytes.begin(), fBytes.end(), out); break;
  case dtInteger:
    if (fLoadedShorts)
      std::copy(fShorts.begin(), fShorts.end(), out);
    else
      for (std::size_t i = 0; i < fIntegers.size(); ++i) out[i] = static_cast<float>(fIntegers[i]);
    break;
  default: std::copy(fReals.begin(), fReals.end(), out); break;
  }
}

void tLiveRaster::ReadDoubleMatrix(tMatrixOfDouble& m) {
  m.assign(static_cast<std::size_t>(std::max(Rows, 0)),
           tVectorOfDouble(static_cast<std::size_t>(std::max(Columns, 0)), 0.0));
  VisitCells([&m](int32_t row, int32_t col, double v) { m[row][col] = v; });
}

void tLiveRaster::ReadSingleMatrix(tMatrixOfSingle& m) {
  m.assign(static_cast<std::size_t>(std::max(Rows, 0)),
           std::vector<float>(static_cast<std::size_t>(std::max(Columns, 0)), 0.0f));
  VisitCells([&m](int32_t row, int32_t col, double v) { m[row][col] = static_cast<float>(v); });
}

void tLiveRaster::ReadDoc(const std::string& fileName) {
  // Released also when reading fails: the record may already describe another
  // grid than the one in memory.
  try {
    tRaster::ReadDoc(fileName);
  } catch (...) {
    ReleaseData();
    throw;
  }
  ReleaseData();
}

// --- statistics ---

void tLiveRaster::ComputeMean() {
  if (!fLoaded) {
    tRaster::ComputeMean();
    return;
  }
  double mean = 0;
  double n = 0;
  for (int32_t row = 0; row < Rows; ++row)
    for (int32_t col = 0; col < Columns; ++col) {
      const double x = tLiveRaster::GetCell(row, col);
      if (IsMissingValue(static_cast<float>(x))) continue;
      mean = n == 0 ? x : x / (n + 1) + n / (n + 1) * mean;
      n += 1;
    }
  if (n == 0) throw EInvalidOperation(kNoData);
  Mean = mean;
  MeanValid = true;
}

void tLiveRaster::ComputeSD() {
  if (!fLoaded) {
    tRaster::ComputeSD();
    return;
  }
  double q = 0;
  double n = 0;
  for (int32_t row = 0; row < Rows; ++row)
    for (int32_t col = 0; col < Columns; ++col) {
      const double x = tLiveRaster::GetCell(row, col);
      if (IsMissingValue(static_cast<float>(x))) continue;
      q = n == 0 ? x * x : x * x / (n + 1) + n / (n + 1) * q;
      n += 1;
    }
  if (n == 0) throw EInvalidOperation(kNoData);
  const double mean = GetMean();
  // Rounding can leave q a hair below mean² for a constant map; that is 0, not NaN.
  SD = std::sqrt(std::max(0.0, q - mean * mean));
  SDValid = true;
}

void tLiveRaster::ComputeMinMax() {
  float lo = std::numeric_limits<float>::infinity();
  float hi = -std::numeric_limits<float>::infinity();
  bool any = false;
  VisitCells([&](int32_t, int32_t, double v) {
    const auto x = static_cast<float>(v);
    if (!std::isfinite(x)) return; // no value to document
    any = true;
    if (x < lo) lo = x;
    if (x > hi) hi = x;
  });
  MinValue = any ? lo : 3.4E38f;
  MaxValue = any ? hi : -3.4E38f;
}

// --- loading and saving ---

void tLiveRaster::LoadData() {
  ReleaseData();
  // Whatever was cached may describe changes this load discards, and a
  // failed load leaves no fingerprint of a file that may have changed.
  MeanValid = false;
  SDValid = false;
  ImageDigest.clear();
  try {
    ReadImage(CellCount(*this));
    switch (DataType) {
    case dtByte:
      fGetter = &tLiveRaster::GetByte;
      fSetter = &tLiveRaster::SetByte;
      break;
    case dtInteger:
      // Whichever the source filled; an empty grid reads nothing from either.
      fLoadedShorts = fIntegers.empty();
      fGetter = fLoadedShorts ? &tLiveRaster::GetShort : &tLiveRaster::GetInteger;
      fSetter = fLoadedShorts ? &tLiveRaster::SetShort : &tLiveRaster::SetInteger;
      break;
    default:
      fGetter = &tLiveRaster::GetReal;
      fSetter = &tLiveRaster::SetReal;
      break;
    }
  } catch (const std::bad_alloc&) {
    ReleaseData();
    throw EOutOfMemory("Out of memory");
  } catch (...) {
    ReleaseData();
    throw;
  }
  fLoadedType = DataType;
  fColumns = static_cast<std::size_t>(std::max(Columns, 0));
  fLoaded = true;
}

void tLiveRaster::ReadImage(int64_t n) {
  tIdrisiFile f;
  OpenIdrisiRead(*this, f);
  if (!SupportedType(DataType)) throw EInOutError("Error while reading map.");
  if (f.fileRecords < n) RaiseShortImage(f.path, f.fileRecords, n);
  HashImageRecords(f, n);
  switch (DataType) {
  case dtByte: LoadCells(f, fBytes, n); break;
  case dtInteger: LoadCells(f, fShorts, n); break;
  default: LoadCells(f, fReals, n); break;
  }
  CloseIdrisi(f);
  ImageDigest = ImageDigestOf(f);
}

void tLiveRaster::SaveData() {
  if (!fLoaded) throw ERangeError("Map " + FileName + " is not loaded in memory");
  if (fReadOnlyImage)
    throw EInOutError("Map " + FileName + " is not an IDRISI map; its cells are not saved.");
  if (!SupportedType(DataType)) throw EInOutError("Error while saving map.");
  const std::string path = ImagePath(*this);
  const std::size_t n = fLoadedType == dtByte ? fBytes.size()
                        : fLoadedType == dtInteger
                            ? (fLoadedShorts ? fShorts.size() : fIntegers.size())
                            : fReals.size();
  // Every value is checked before the file is replaced: a map that cannot be
  // saved in full keeps its previous image.
  if (DataType == fLoadedType) {
    if (DataType == dtInteger)
      for (const int32_t v : fIntegers)
        if (v < -32768 || v > 32767)
          RaiseValueRange(static_cast<float>(v), "the 16-bit integer range -32768..32767", path);
  } else {
    for (std::size_t i = 0; i < n; ++i) RecordValue(LoadedValue(i), DataType, path);
  }

  // The image is replaced only once complete: a full disk or a file-size
  // limit leaves the previous image, never a short one. The fingerprint goes
  // before anything is written: a target written in place may keep part of
  // the new cells after a failure.
  ImageDigest.clear();
  tAtomicFile out(path);
  tContentDigest written;
  const auto recordSize = static_cast<std::size_t>(DataType);
  std::vector<unsigned char> block;
  for (std::size_t done = 0; done < n;) {
    const std::size_t m = std::min<std::size_t>(n - done, IdrisiBufferSize);
    block.resize(m * recordSize);
    for (std::size_t k = 0; k < m; ++k) {
      const float v = DataType == fLoadedType ? LoadedValue(done + k)
                                              : RecordValue(LoadedValue(done + k), DataType, path);
      EncodeRecord(v, DataType, &block[k * recordSize]);
    }
    out.Write(block.data(), block.size());
    written.Update(block.data(), block.size());
    done += m;
  }
  out.Commit();
  ImageDigest = written.Hex();
}

void tLiveRaster::ReleaseData() {
  // Swapped with empty vectors so the memory really goes back.
  decltype(fBytes)().swap(fBytes);
  decltype(fShorts)().swap(fShorts);
  decltype(fIntegers)().swap(fIntegers);
  fLoadedShorts = false;
  decltype(fReals)().swap(fReals);
  fLoadedType = dtUnknown;
  fColumns = 0;
  InstallReleased();
}

} // namespace stravex
