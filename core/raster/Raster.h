#pragma once
// tRaster: an IDRISI raster map (documentation record + image file on disk).
// tLiveRaster: the same, able to hold every cell in memory.
#include "base/CommonDecl.h"
#include "base/Reporter.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace stravex {

enum tDataType : uint8_t { dtUnknown = 0, dtByte = 1, dtInteger = 2, dtDummy = 3, dtReal = 4 };
enum tFileType : uint8_t { ftUnknown = 0, ftAscii = 1, ftBinary = 2, ftPackedBinary = 3 };
enum tFlagDef : uint8_t { fdNoBackground = 0, fdBackground = 1, fdNone = 2 };
enum tRefUnit : uint8_t {
  ruUnset = 0,
  ruMeters = 1,
  ruKilometers = 2,
  ruDegrees = 3,
  ruYards = 4,
  ruMiles = 5,
  ruOther = 6
};

using tStringList = std::vector<std::string>;

// Reads a real written with either "." or "," as decimal separator.
long double StrToFloatTolerant(const std::string& text);

class tRaster {
public:
  // Create: a blank raster with the documented defaults.
  tRaster();
  // CreateFromFile: only FileFormat is defaulted, then ReadDoc(fileName).
  explicit tRaster(const std::string& fileName);
  // The same for a map of the given file generation (classic ".doc"/".img"
  // or ".rdc"/".rst"), whatever the program's generation is.
  tRaster(const std::string& fileName, bool classic);
  // CreateLike: Create, then CopyGeometry(other).
  static std::unique_ptr<tRaster> CreateLike(const tRaster& other);
  tRaster(const tRaster&) = delete;
  tRaster& operator=(const tRaster&) = delete;
  virtual ~tRaster();

  // --- virtual operations; tLiveRaster serves them from memory ---
  virtual void ComputeMean();
  virtual void ComputeSD();
  virtual double GetCell(int32_t row, int32_t col) const;
  virtual void SetCell(int32_t row, int32_t col, float value);
  virtual void ReadDoubleMatrix(tMatrixOfDouble& m);
  virtual void ReadSingleMatrix(tMatrixOfSingle& m);
  virtual void ReadDoc(const std::string& fileName);
  virtual void ComputeMinMax();

  // --- documentation file ---
  // Replaces the file atomically: a failed or killed write leaves the old one.
  void WriteDoc();
  // The text WriteDoc writes; fills in the same defaults. A record that
  // cannot be written raises before any file is touched.
  std::string DocText();
  void ComputeResolution();

  // --- grid ---
  bool IsInside(int32_t row, int32_t col) const {
    return row >= 0 && row < Rows && col >= 0 && col < Columns;
  }
  // The cell of a coordinate under CellRule; a cell index beyond the 32-bit
  // range raises ERangeError.
  int32_t ColOfX(double x) const;
  int32_t RowOfY(double y) const;
  void CopyGeometry(const tRaster& other);
  std::string MapName() const;
  void FillConstant(float value);
  double GetMean();

  // The one missing-cell rule of every statistic: the background flag, and a
  // value that is no number (NaN, as GIS tools read it) or infinite, which no
  // sum or mean can take in.
  bool IsMissingValue(float v) const {
    return !std::isfinite(v) || (FlagDef == fdBackground && v == FlagValue);
  }

  // --- fields (metadata record and cached statistics) ---
  double Mean = 0;
  double SD = 0;
  bool MeanValid = false;
  bool SDValid = false;
  tFlagDef FlagDef = fdNoBackground;
  float FlagValue = 0;
  tStringList Legend;
  int32_t Columns = 0;
  tStringList Comments;
  tStringList Completeness;
  tStringList Consistency;
  tDataType DataType = dtUnknown;
  float DisplayMin = 0;
  float DisplayMax = 0;
  std::string FileFormat;
  std::string FileName;
  std::string Title;
  tFileType FileType = ftUnknown;
  int32_t LegendCats = 0;
  tStringList Lineage;
  long double MinX = 0;
  long double MaxX = 0;
  long double MinY = 0;
  long double MaxY = 0;
  float MinValue = 0;
  float MaxValue = 0;
  bool DocMissing = false;
  std::string PosError;
  std::string Resolution;
  float CellWidth = 0;
  float CellHeight = 0;
  std::string RefSystem;
  std::string RefUnits;
  int32_t Rows = 0;
  std::string UnitDist;
  tRefUnit UnitCode = ruUnset;
  std::string ValueUnits;
  std::string ValueError;

  // Content fingerprints (16 hex digits, ContentDigest.h) of the files this
  // map was read from: the documentation as ReadDoc read it, and the cells as
  // last read whole (LoadData, ReadSingleMatrix, ReadDoubleMatrix). Empty
  // until then, and DocDigest when the documentation is missing. ImageDigest
  // covers the on-disk bytes of the first Rows x Columns records. WriteDoc and
  // SaveData set them to the files written; a cell written to disk, a failed
  // read and FillConstant clear ImageDigest. A map read through GDAL has the
  // digest of its metadata record (grid, georeference, types, nodata) and of
  // its loaded cells (data type, then the cells in row order).
  std::string DocDigest;
  std::string ImageDigest;

  // How points become cells of this map; a run sets it on every map it uses.
  tCellRule CellRule = crContaining;

  // File generation of this map's files: the program's at creation unless
  // the map was opened with another one.
  bool Classic = false;
  const char* DocExtension() const { return Classic ? ".doc" : ".rdc"; }
  const char* ImageExtension() const { return Classic ? ".img" : ".rst"; }

  // Receives the error boxes of single-cell reads from disk; null: silent.
  // Not owned: whoever sets it keeps it alive while the map is read.
  tReporter* Reporter = nullptr;

protected:
  struct tNoDefaults {};
  explicit tRaster(tNoDefaults);
};

bool SameGeometry(const tRaster& a, const tRaster& b);
// What keeps a from overlaying b, of "columns", "rows", "min X", "max X",
// "min Y", "max Y", "reference system" in that order; empty when it overlays.
std::vector<std::string> GeometryDifferences(const tRaster& a, const tRaster& b);

// Storage of a loaded map's cells. Large blocks come straight from the system,
// in huge pages where it offers them, and are not zero-filled first: LoadData
// overwrites every cell, and page faults dominate the cost of loading a map.
void* AllocateCellBlock(std::size_t bytes);
void FreeCellBlock(void* p, std::size_t bytes) noexcept;

template <typename T>
struct tCellAllocator {
  using value_type = T;
  tCellAllocator() = default;
  template <typename U>
  tCellAllocator(const tCellAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(AllocateCellBlock(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { FreeCellBlock(p, n * sizeof(T)); }
  // Default-initialises (leaves cells as they come) where value-initialising would zero them.
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... A>
  void construct(U* p, A&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
  }
  template <typename U>
  bool operator==(const tCellAllocator<U>&) const noexcept {
    return true;
  }
};

template <typename T>
using tCellVector = std::vector<T, tCellAllocator<T>>;

class tLiveRaster : public tRaster {
public:
  tLiveRaster();
  explicit tLiveRaster(const std::string& fileName);
  tLiveRaster(const std::string& fileName, bool classic);
  static std::unique_ptr<tLiveRaster> CreateLike(const tRaster& other);
  ~tLiveRaster() override;

  void ComputeMean() override;
  void ComputeSD() override;
  double GetCell(int32_t row, int32_t col) const override;
  void SetCell(int32_t row, int32_t col, float value) override;
  void ReadDoubleMatrix(tMatrixOfDouble& m) override;
  void ReadSingleMatrix(tMatrixOfSingle& m) override;
  void ReadDoc(const std::string& fileName) override;
  void ComputeMinMax() override;

  void LoadData();
  void SaveData();
  void ReleaseData();
  // IsMissingValue of the cell; a cell off the grid reads as the flag value.
  bool IsFlagged(int32_t row, int32_t col) const;
  bool Loaded() const { return fLoaded; }
  // The loaded cells in row order as reals, Rows x Columns of them, without a
  // call per cell; EInvalidOperation when the map is not loaded.
  void CopyCells(float* out) const;

protected:
  // Where the cells come from: the IDRISI image by default. ReadImage fills
  // the matrix of DataType with n cells; ReleasedCell reads one cell of a
  // released map.
  virtual void ReadImage(int64_t n);
  virtual float ReleasedCell(int32_t row, int32_t col) const;
  // Cells whose source is not an IDRISI image are never written back to it.
  bool fReadOnlyImage = false;
  // Row-major, Rows x Columns; only the one of the map's DataType is filled.
  // An IDRISI integer image loads into fShorts, its records as they are (a
  // load then copies half the bytes it would widened); a cell set outside
  // 16 bits moves the map to fIntegers, as do other sources of integers.
  tCellVector<uint8_t> fBytes;
  tCellVector<int16_t> fShorts;
  tCellVector<int32_t> fIntegers;
  tCellVector<float> fReals;

private:
  // The getter and setter are chosen once, at LoadData and ReleaseData.
  using tGetter = float (tLiveRaster::*)(int32_t, int32_t) const;
  using tSetter = void (tLiveRaster::*)(int32_t, int32_t, float);
  float GetReleased(int32_t row, int32_t col) const;
  float GetByte(int32_t row, int32_t col) const;
  float GetShort(int32_t row, int32_t col) const;
  float GetInteger(int32_t row, int32_t col) const;
  float GetReal(int32_t row, int32_t col) const;
  void SetReleased(int32_t row, int32_t col, float value);
  void SetByte(int32_t row, int32_t col, float value);
  void SetShort(int32_t row, int32_t col, float value);
  void SetInteger(int32_t row, int32_t col, float value);
  void WidenShorts();
  void SetReal(int32_t row, int32_t col, float value);
  void InstallReleased();
  std::size_t Index(int32_t row, int32_t col) const {
    return static_cast<std::size_t>(row) * fColumns + static_cast<std::size_t>(col);
  }
  float LoadedValue(std::size_t i) const;
  std::string MemoryLabel() const;
  template <typename F>
  void VisitCells(F&& visit);

  tGetter fGetter = &tLiveRaster::GetReleased;
  tSetter fSetter = &tLiveRaster::SetReleased;
  bool fLoaded = false;
  // Type and row length of the filled matrix, as they were at LoadData.
  tDataType fLoadedType = dtUnknown;
  bool fLoadedShorts = false; // integer cells in fShorts
  std::size_t fColumns = 0;
};

// The documentation file's words for a map's types: "byte", "integer",
// "real", "dummy" or "unknown"; "ascii", "binary", "packed binary" or
// "unknown"; "background", "no background" or "none".
const char* DataTypeWord(tDataType t);
const char* FileTypeWord(tFileType t);
const char* FlagDefWord(tFlagDef f);

} // namespace stravex
