#include "paths/Corridor.h"

#include "base/Errors.h"
#include "base/Numeric.h"
#include "base/Reporter.h"
#include "raster/IdrisiEnv.h"
#include "raster/IdrisiFile.h"
#include "raster/Raster.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace stravex {

namespace {

const char* const kWriteError = "File writing error";
const char* const kReadError = "Error while reading map.";

// The fixed text, then the file and the system's cause ("No space left on device").
[[noreturn]] void RaiseWriteError(const std::string& file, int err) {
  throw EInOutError(std::string(kWriteError) + ": " + file + ": " + std::strerror(err));
}

// Records closer than this are written as one run, unchanged records in
// between included (memory and file agree on them): one system call for a
// short gap is cheaper than two.
constexpr uint64_t kMergeGap = 64;

class tFd {
public:
  explicit tFd(int fd) : fFd(fd) {}
  ~tFd() {
    if (fFd >= 0) ::close(fFd);
  }
  tFd(const tFd&) = delete;
  tFd& operator=(const tFd&) = delete;
  int get() const { return fFd; }
  // Hands the descriptor over; this object no longer closes it.
  int Release() {
    const int fd = fFd;
    fFd = -1;
    return fd;
  }
  // Closes now so that a failing close is reported.
  bool Close() {
    const int fd = fFd;
    fFd = -1;
    return ::close(fd) == 0;
  }

private:
  int fFd;
};

int OpenForUpdate(const std::string& file) {
  int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC); // one retry, as every file open
  if (fd < 0) RaiseWriteError(file, errno);
  return fd;
}

// False with errno set when the records cannot all be written.
bool WriteAll(int fd, const unsigned char* data, std::size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

} // namespace

tCorridorMap::tCorridorMap(const tRaster& friction, const std::string& name)
    : fRaster(tLiveRaster::CreateLike(friction)) {
  fRaster->DataType = dtInteger;
  // Every count is a value, 0 included: with "flag def'n : none" GDAL (and so
  // QGIS) counts the cells no path crossed in its statistics instead of
  // taking 0 for nodata. Stravex reads such a map with no missing cells, as before.
  fRaster->FlagDef = fdNone;
  fRaster->MinValue = 0;
  fRaster->MaxValue = 1;
  fRaster->FileName = name;
}

tCorridorMap::~tCorridorMap() = default;

tCorridorMap::tFileStamp tCorridorMap::StampOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw EInOutError(kWriteError);
  tFileStamp s;
  s.device = static_cast<uint64_t>(st.st_dev);
  s.inode = static_cast<uint64_t>(st.st_ino);
  s.size = static_cast<uint64_t>(st.st_size);
  s.mtimeSec = static_cast<int64_t>(st.st_mtim.tv_sec);
  s.mtimeNsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  return s;
}

void tCorridorMap::FillZero() {
  fCountsValid = false;
  fRaster->FillConstant(0);
  const std::string image = ImagePath(*fRaster);
  tFd fd(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) RaiseWriteError(image, errno);
  fCounts.assign(static_cast<std::size_t>(CellCount(*fRaster)), 0);
  fFileState = StampOf(fd.get());
  fCountsFile = image;
  fCountsValid = true;
  fWarned = false;
}

// Counts in memory must describe the file about to be changed; otherwise
// (first path, another FileName, or a file rewritten by someone else) they
// are read back from it, as LoadData would: a short file is refused.
void tCorridorMap::EnsureCounts(int fd, const std::string& imageFile) {
  const auto cells = static_cast<std::size_t>(CellCount(*fRaster));
  const tFileStamp now = StampOf(fd);
  if (fCountsValid && fCountsFile == imageFile && fCounts.size() == cells && now == fFileState)
    return;
  fCountsValid = false;
  if (fCountsFile != imageFile) fWarned = false;
  fCounts.assign(cells, 0);
  constexpr std::size_t kChunk = 1 << 16; // records per read
  std::vector<unsigned char> buf(kChunk * 2);
  std::size_t done = 0;
  while (done < cells) {
    const std::size_t want = std::min(kChunk, cells - done) * 2;
    const ssize_t n = ::pread(fd, buf.data(), want, static_cast<off_t>(done * 2));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EInOutError(kReadError);
    }
    const std::size_t records = static_cast<std::size_t>(n) / 2;
    for (std::size_t i = 0; i < records; ++i)
      fCounts[done + i] = static_cast<int16_t>(static_cast<uint16_t>(buf[2 * i]) |
                                               static_cast<uint16_t>(buf[2 * i + 1] << 8));
    if (records == 0)
      RaiseShortImage(imageFile, static_cast<int64_t>(done), static_cast<int64_t>(cells));
    done += records;
  }
  fCountsFile = imageFile;
  fCountsValid = true;
}

void tCorridorMap::AddPath(const t2DiPoints& path) {
  if (path.empty()) return;
  const int32_t cols = fRaster->Columns;
  fChanged.clear();
  fChanged.reserve(path.size());
  for (const t2DiPoint& p : path) {
    if (!fRaster->IsInside(p.row, p.col)) throw ERangeError("Cell out of map");
    fChanged.push_back(static_cast<uint64_t>(p.row) * static_cast<uint64_t>(cols) +
                       static_cast<uint64_t>(p.col));
  }

  const std::string image = ImagePath(*fRaster);
  tFd fd(OpenForUpdate(image));
  EnsureCounts(fd.get(), image);

  float maxValue = fRaster->MaxValue;
  bool saturated = false;
  for (const uint64_t i : fChanged) {
    int32_t v = fCounts[i];
    if (v >= CorridorMaxCount)
      saturated = true;
    else
      fCounts[i] = static_cast<int16_t>(++v);
    if (static_cast<float>(v) > maxValue) maxValue = static_cast<float>(v);
  }

  WriteChangedAndClose(fd.Release(), image);
  fRaster->MaxValue = maxValue;
  if (saturated && !fWarned) {
    fWarned = true;
    ReporterOr(fRaster->Reporter)
        .Warning("Corridor map " + fRaster->FileName + ": some cells were crossed by more than " +
                 std::to_string(CorridorMaxCount) + " paths; their count is held at " +
                 std::to_string(CorridorMaxCount) + ".");
  }
}

bool tCorridorMap::WriteChanged(int fd) {
  bool ok = true;
  for (std::size_t a = 0; ok && a < fChanged.size();) {
    std::size_t b = a;
    while (b + 1 < fChanged.size() && fChanged[b + 1] - fChanged[b] <= kMergeGap) ++b;
    const uint64_t first = fChanged[a];
    const std::size_t count = fChanged[b] - first + 1;
    fBytes.resize(count * 2);
    for (std::size_t k = 0; k < count; ++k) {
      const auto u = static_cast<uint16_t>(fCounts[first + k]);
      fBytes[2 * k] = static_cast<unsigned char>(u & 0xFF);
      fBytes[2 * k + 1] = static_cast<unsigned char>(u >> 8);
    }
    ok = WriteAll(fd, fBytes.data(), fBytes.size(), static_cast<off_t>(first) * 2);
    a = b + 1;
  }
  return ok;
}

void tCorridorMap::Reopen() {
  const std::string image = ImagePath(*fRaster);
  tFd fd(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw EInOutError(image + " not found.");
  fCountsValid = false;
  EnsureCounts(fd.get(), image);
  fFileState = StampOf(fd.get());
  int16_t largest = 0;
  for (const int16_t v : fCounts) largest = std::max(largest, v);
  fRaster->MinValue = 0;
  fRaster->MaxValue = largest;
  // The display range is fixed by the first rewrite after a path; it is
  // taken over from the documentation on disk.
  const tRaster doc(fRaster->FileName + fRaster->DocExtension(), fRaster->Classic);
  fRaster->DisplayMin = doc.DisplayMin;
  fRaster->DisplayMax = doc.DisplayMax;
  fWarned = largest >= CorridorMaxCount;
}

std::vector<tCorridorMap::tCellCount> tCorridorMap::CountsOf(const std::vector<t2DiPoints>& paths) {
  std::vector<uint64_t> cells;
  const auto cols = static_cast<uint64_t>(fRaster->Columns);
  for (const t2DiPoints& path : paths)
    for (const t2DiPoint& p : path) {
      if (!fRaster->IsInside(p.row, p.col)) throw ERangeError("Cell out of map");
      cells.push_back(static_cast<uint64_t>(p.row) * cols + static_cast<uint64_t>(p.col));
    }
  std::sort(cells.begin(), cells.end());
  cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
  std::vector<tCellCount> counts;
  if (cells.empty()) return counts;
  const std::string image = ImagePath(*fRaster);
  tFd fd(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) throw EInOutError(kReadError);
  EnsureCounts(fd.get(), image);
  counts.reserve(cells.size());
  for (const uint64_t i : cells) counts.emplace_back(i, fCounts[i]);
  return counts;
}

void tCorridorMap::Restore(const std::vector<tCellCount>& cells) {
  if (cells.empty()) return;
  const std::string image = ImagePath(*fRaster);
  tFd fd(OpenForUpdate(image));
  EnsureCounts(fd.get(), image);
  fChanged.clear();
  for (const auto& [index, value] : cells) {
    if (index >= fCounts.size())
      RaiseRangeCheck("corridor cell", static_cast<long long>(index), 0,
                      static_cast<long long>(fCounts.size()) - 1);
    fCounts[index] = value;
    fChanged.push_back(index);
  }
  WriteChangedAndClose(fd.Release(), image);
}

void tCorridorMap::WriteChangedAndClose(int fd, const std::string& image) {
  tFd owner(fd);
  std::sort(fChanged.begin(), fChanged.end());
  fChanged.erase(std::unique(fChanged.begin(), fChanged.end()), fChanged.end());
  bool ok = WriteChanged(fd);
  int err = ok ? 0 : errno;
  if (ok) fFileState = StampOf(fd);
  if (!owner.Close() && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    // Memory is ahead of the file now: reread it before the next change.
    fCountsValid = false;
    RaiseWriteError(image, err);
  }
}

void tCorridorMap::WriteDoc() { fRaster->WriteDoc(); }

int32_t tCorridorMap::Count(int32_t row, int32_t col) const {
  if (!fRaster->IsInside(row, col)) throw ERangeError("Cell out of map");
  if (fCountsValid && fCountsFile == ImagePath(*fRaster))
    return fCounts[static_cast<std::size_t>(row) * static_cast<std::size_t>(fRaster->Columns) +
                   static_cast<std::size_t>(col)];
  return RoundToInt32(fRaster->GetCell(row, col));
}

std::unique_ptr<tCorridorMap> CreateCorridorMap(const tRaster& friction, const std::string& name) {
  return std::make_unique<tCorridorMap>(friction, name);
}

void AddPathToCorridor(tCorridorMap& corridor, const t2DiPoints& path) { corridor.AddPath(path); }

bool AddsCells(const std::vector<t2DiPoints>& paths) {
  return std::any_of(paths.begin(), paths.end(), [](const t2DiPoints& p) { return !p.empty(); });
}

std::string CorridorDefaultName(tMinimiseCriterion criterion) {
  // A cast integer may hold any value.
  return "Corridors-Min" + CriterionText(MinimiseCriterionOf(static_cast<int32_t>(criterion)));
}

} // namespace stravex
