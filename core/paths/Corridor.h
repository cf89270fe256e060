#pragma once
// Corridor map: a 16-bit integer raster on the friction map's grid in which
// every cell counts how often it occurs in the least-cost paths added so far.
#include "base/CommonDecl.h"
#include "paths/CostPathDecl.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace stravex {

class tRaster;
class tLiveRaster;

// Largest count a 16-bit cell holds; a cell stays there once reached.
constexpr int32_t CorridorMaxCount = 32767;

// Owns the corridor raster and keeps its counts in memory, so that adding a
// path rewrites in place only the image records it changes: the image file
// holds a complete, valid map after every path without a whole-file rewrite.
class tCorridorMap {
public:
  // CreateCorridorMap: CreateLike(friction), dtInteger, MinValue 0,
  // MaxValue 1, FileName = name. Nothing is written yet.
  tCorridorMap(const tRaster& friction, const std::string& name);
  ~tCorridorMap();
  tCorridorMap(const tCorridorMap&) = delete;
  tCorridorMap& operator=(const tCorridorMap&) = delete;

  // The raster, for its metadata (FileName, Comments, MaxValue...). To
  // (re)create the map on disk use FillZero, which also resets the counts;
  // counts are reread from the image file whenever FileName changes or the
  // file was changed behind this object's back.
  tLiveRaster& Raster() { return *fRaster; }
  const tLiveRaster& Raster() const { return *fRaster; }

  // FillConstant(0) under the current FileName: image and documentation
  // files with every cell 0, MinValue = MaxValue = 0.
  void FillZero();

  // Adds 1 to every listed cell (a cell listed twice gains 2) and writes the
  // changed records into the image file in place. MaxValue follows the
  // largest count. Counts stop at CorridorMaxCount, with one warning per map
  // to Raster().Reporter.
  // An empty path changes nothing. A cell outside the grid raises ERangeError
  // before anything changes; a file that cannot be written, EInOutError.
  void AddPath(const t2DiPoints& path);

  // Rewrites the documentation file (MaxValue on disk follows the counts).
  void WriteDoc();

  // Continues the map on disk under the current FileName instead of
  // creating it: the counts are read from its image (a short image is
  // refused), MaxValue becomes their largest and the display range is that
  // of its documentation file.
  void Reopen();

  // A cell by its record index (row x Columns + col) and its count.
  using tCellCount = std::pair<uint64_t, int16_t>;
  // The current count of every distinct cell of the paths, in record order.
  std::vector<tCellCount> CountsOf(const std::vector<t2DiPoints>& paths);
  // Sets the cells to the given counts, in memory and in the image. Setting
  // absolute values makes it harmless to apply the same list twice.
  void Restore(const std::vector<tCellCount>& cells);

  // Current count of a cell as held in memory (the image file agrees).
  int32_t Count(int32_t row, int32_t col) const;

private:
  // Identity and last change of an image file.
  struct tFileStamp {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t mtimeSec = 0, mtimeNsec = 0;
    bool operator==(const tFileStamp&) const = default;
  };
  static tFileStamp StampOf(int fd);
  void EnsureCounts(int fd, const std::string& imageFile);
  // Writes the records of fChanged (sorted, distinct) from fCounts.
  bool WriteChanged(int fd);
  // Sorts fChanged, writes its records, closes fd; EInOutError naming the
  // image when either fails.
  void WriteChangedAndClose(int fd, const std::string& image);

  std::unique_ptr<tLiveRaster> fRaster;
  std::vector<int16_t> fCounts; // row-major, Rows x Columns
  bool fCountsValid = false;
  std::string fCountsFile;           // image file the counts belong to
  tFileStamp fFileState;             // that file as this object last left it
  bool fWarned = false;              // saturation reported for this map
  std::vector<uint64_t> fChanged;    // scratch: records touched by one path
  std::vector<unsigned char> fBytes; // scratch: one run of records
};

std::unique_ptr<tCorridorMap> CreateCorridorMap(const tRaster& friction, const std::string& name);
void AddPathToCorridor(tCorridorMap& corridor, const t2DiPoints& path);
// Whether adding the paths changes any count: one of them is not empty.
bool AddsCells(const std::vector<t2DiPoints>& paths);

// The name offered for a new corridor map: "Corridors-Min" + criterion name.
std::string CorridorDefaultName(tMinimiseCriterion criterion);

} // namespace stravex
