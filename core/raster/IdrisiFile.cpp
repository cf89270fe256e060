#include "raster/IdrisiFile.h"

#include "base/Errors.h"
#include "base/Reporter.h"
#include "raster/IdrisiEnv.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace stravex {

namespace {

// Records are little-endian; a big-endian host swaps them on the way.
constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

void SwapRecords(int16_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto u = static_cast<uint16_t>(p[i]);
    p[i] = static_cast<int16_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
  }
}

void SwapRecords(float* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    uint32_t u;
    std::memcpy(&u, &p[i], sizeof u);
    u = __builtin_bswap32(u);
    std::memcpy(&p[i], &u, sizeof u);
  }
}

std::string ErrnoText(const std::string& path) { return path + ": " + std::strerror(errno); }

void EnsureBuffer(tIdrisiFile& f) {
  if (f.buffer) return;
  auto b = std::make_unique<TDynSngVector>();
  b->Init(1, IdrisiBufferSize);
  f.buffer = std::move(b);
}

std::atomic<bool> gImageHashing{true};

// Hashed records still to come from the read at file offset `at`; 0 also
// when the read does not continue the hashed run, which then breaks the digest.
int64_t RecordsToHash(tIdrisiFile& f, int64_t at, int64_t recordSize) {
  if (f.digestRecords < 0 || f.digestBroken) return 0;
  const auto hashed = static_cast<int64_t>(f.digest.Bytes());
  const int64_t left = f.digestRecords - hashed / recordSize;
  if (left <= 0) return 0;
  if (at != hashed) {
    f.digestBroken = true;
    return 0;
  }
  return left;
}

// Bytes read at a time while hashing: a piece is hashed right after its read,
// while still in the core's cache. Hashed a 4 MB block at a time, from memory,
// the digest cost a load from the page cache about twice as much.
constexpr std::size_t kHashPieceBytes = std::size_t{256} << 10;

// fread that tells a read failure from the end of the file. The bytes are
// hashed as read, before any byte swap: the digest is of the file.
std::size_t ReadRecords(tIdrisiFile& f, void* dest, std::size_t recordSize, std::size_t n) {
  int64_t toHash = 0;
  if (f.digestRecords >= 0 && !f.digestBroken)
    toHash = RecordsToHash(f, static_cast<int64_t>(ftello(f.file)),
                           static_cast<int64_t>(recordSize));
  if (toHash == 0) {
    const std::size_t got = std::fread(dest, recordSize, n, f.file);
    if (got < n && std::ferror(f.file)) throw EInOutError(ErrnoText(f.path));
    return got;
  }
  auto* out = static_cast<unsigned char*>(dest);
  const std::size_t piece = std::max<std::size_t>(kHashPieceBytes / recordSize, 1);
  std::size_t got = 0;
  while (got < n) {
    const std::size_t want = std::min(n - got, piece);
    unsigned char* at = out + got * recordSize;
    const std::size_t m = std::fread(at, recordSize, want, f.file);
    if (m < want && std::ferror(f.file)) throw EInOutError(ErrnoText(f.path));
    const auto hashed = static_cast<std::size_t>(std::min<int64_t>(toHash, m));
    f.digest.Update(at, hashed * recordSize);
    toHash -= static_cast<int64_t>(hashed);
    got += m;
    if (m < want) break;
  }
  return got;
}

void RequireOpen(const tIdrisiFile& f, tDataType type, bool writing) {
  if (!f.file || f.writing != writing || f.dataType != type)
    throw EAssertionFailed("Image stream of " + f.path + " does not match the transfer");
}

// Loads the next block into the float buffer; returns the number of values.
uint32_t Refill(tIdrisiFile& f) {
  EnsureBuffer(f);
  float* out = f.buffer->Data();
  std::size_t n = 0;
  switch (f.dataType) {
  case dtByte: {
    TDynBytVector block;
    block.Init(1, IdrisiBufferSize);
    n = ReadRecords(f, block.Data(), 1, IdrisiBufferSize);
    const uint8_t* in = block.Data();
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
    break;
  }
  case dtInteger: {
    TDynSmiVector block;
    block.Init(1, IdrisiBufferSize);
    n = ReadRecords(f, block.Data(), 2, IdrisiBufferSize);
    if constexpr (!kLittleEndianHost) SwapRecords(block.Data(), n);
    const int16_t* in = block.Data();
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
    break;
  }
  case dtReal:
    n = ReadRecords(f, out, 4, IdrisiBufferSize);
    if constexpr (!kLittleEndianHost) SwapRecords(out, n);
    break;
  default:
    ReporterOr(f.reporter)
        .ErrorBox(
            "Guru's meditation\r\nA strange error occurred : bad type in ReadIdrisi function. "
            "Perhaps is the file corrupt ?");
    break;
  }
  f.next = 0;
  return static_cast<uint32_t>(n);
}

// Writes the first n values of the float buffer as records of the file's type;
// the values were rounded and checked when they were buffered.
bool WriteBuffered(tIdrisiFile& f, uint32_t n) {
  float* in = f.buffer->Data();
  switch (f.dataType) {
  case dtByte: {
    TDynBytVector block;
    block.Init(1, IdrisiBufferSize);
    uint8_t* out = block.Data();
    for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(in[i]);
    return std::fwrite(out, 1, n, f.file) == n;
  }
  case dtInteger: {
    TDynSmiVector block;
    block.Init(1, IdrisiBufferSize);
    int16_t* out = block.Data();
    for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<int16_t>(in[i]);
    if constexpr (!kLittleEndianHost) SwapRecords(out, n);
    return std::fwrite(out, 2, n, f.file) == n;
  }
  case dtReal:
    if constexpr (!kLittleEndianHost) SwapRecords(in, n);
    return std::fwrite(in, 4, n, f.file) == n;
  default: return true;
  }
}

void OpenStream(const tRaster& raster, tIdrisiFile& f, bool writing) {
  if (f.file) {
    std::fclose(f.file);
    f.file = nullptr;
  }
  f.dataType = raster.DataType;
  f.flagValue = raster.FlagValue;
  f.useFlag = raster.FlagDef == fdBackground;
  f.path = ImagePath(raster);
  f.reporter = raster.Reporter;
  f.buffer.reset();
  f.count = 0;
  f.next = 0;
  f.delivered = 0;
  f.atEnd = false;
  f.writing = writing;
  f.fileBytes = 0;
  f.fileRecords = 0;
  f.digest.Reset();
  f.digestRecords = -1;
  f.digestBroken = false;

  const char* mode = writing ? "wb" : "rb";
  std::FILE* h = std::fopen(f.path.c_str(), mode);
  if (!h) h = std::fopen(f.path.c_str(), mode);
  if (!h) throw EInOutError(ErrnoText(f.path));
  // Every transfer is a whole block: stdio's own buffer would only add a copy.
  std::setvbuf(h, nullptr, _IONBF, 0);
  f.file = h;
  if (!writing) {
    struct stat st {};
    if (fstat(fileno(h), &st) == 0 && S_ISREG(st.st_mode)) f.fileBytes = st.st_size;
    const int recordSize = static_cast<int>(f.dataType);
    f.fileRecords = recordSize > 0 ? f.fileBytes / recordSize : 0;
  }
}

std::string FormatValue(float v) {
  char buf[48];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

} // namespace

tIdrisiFile::~tIdrisiFile() {
  if (file) std::fclose(file);
}

void OpenIdrisiRead(const tRaster& raster, tIdrisiFile& f) { OpenStream(raster, f, false); }

void OpenIdrisiWrite(const tRaster& raster, tIdrisiFile& f) { OpenStream(raster, f, true); }

void HashImageRecords(tIdrisiFile& f, int64_t n) {
  if (!gImageHashing.load(std::memory_order_relaxed) || !f.file || f.writing) return;
  f.digest.Reset();
  f.digestRecords = std::max<int64_t>(n, 0);
  // Hashing starts with the first record: a stream already read from is out of order.
  f.digestBroken = ftello(f.file) != 0;
}

std::string ImageDigestOf(const tIdrisiFile& f) {
  const auto recordSize = static_cast<int64_t>(f.dataType);
  if (recordSize != 1 && recordSize != 2 && recordSize != 4) return std::string();
  if (f.digestRecords < 0 || f.digestBroken ||
      static_cast<int64_t>(f.digest.Bytes()) != f.digestRecords * recordSize)
    return std::string();
  return f.digest.Hex();
}

void SetImageHashing(bool on) { gImageHashing.store(on, std::memory_order_relaxed); }

bool ReadIdrisi(tIdrisiFile& f, float& value) {
  if (f.count == 0 && f.file && !f.writing) f.count = Refill(f);
  if (f.count == 0) {
    f.atEnd = true;
    return false;
  }
  value = f.buffer->Data()[f.next++];
  ++f.delivered;
  // The missing-cell rule of tRaster::IsMissingValue.
  const bool valid = std::isfinite(value) && (!f.useFlag || value != f.flagValue);
  if (--f.count == 0 && ftello(f.file) >= f.fileBytes) f.atEnd = true;
  return valid;
}

bool WriteIdrisi(tIdrisiFile& f, float value) {
  if (!f.file || !f.writing) return false;
  const float v = RecordValue(value, f.dataType, f.path);
  EnsureBuffer(f);
  f.buffer->Data()[f.count++] = v;
  if (f.count < static_cast<uint32_t>(IdrisiBufferSize)) return true;
  const uint32_t n = f.count;
  f.count = 0;
  return WriteBuffered(f, n);
}

void CloseIdrisi(tIdrisiFile& f) {
  bool ok = true;
  if (f.file && f.writing && f.count > 0) {
    const uint32_t n = f.count;
    f.count = 0;
    try {
      ok = WriteBuffered(f, n);
    } catch (...) {
      ok = false;
    }
  }
  if (f.file) {
    if (std::fclose(f.file) != 0 && f.writing) ok = false;
    f.file = nullptr;
  }
  f.buffer.reset();
  f.count = 0;
  if (!ok) throw EInOutError("Writing error while closing. Last data may be missing.");
}

namespace {

// Records read straight into the cells, a block at a time, in host byte order.
template <typename T>
int64_t ReadDirect(tIdrisiFile& f, T* cells, int64_t n, tDataType type) {
  RequireOpen(f, type, false);
  int64_t done = 0;
  while (done < n) {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(n - done, IdrisiBufferSize));
    const std::size_t got = ReadRecords(f, cells + done, sizeof(T), want);
    if constexpr (sizeof(T) > 1 && !kLittleEndianHost) SwapRecords(cells + done, got);
    done += static_cast<int64_t>(got);
    if (got < want) break;
  }
  return done;
}

} // namespace

int64_t ReadIdrisiBlocks(tIdrisiFile& f, uint8_t* cells, int64_t n) {
  return ReadDirect(f, cells, n, dtByte);
}

int64_t ReadIdrisiBlocks(tIdrisiFile& f, int16_t* cells, int64_t n) {
  return ReadDirect(f, cells, n, dtInteger);
}

int64_t ReadIdrisiBlocks(tIdrisiFile& f, int32_t* cells, int64_t n) {
  RequireOpen(f, dtInteger, false);
  TDynSmiVector block;
  block.Init(1, static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(n, 0), IdrisiBufferSize)));
  int16_t* in = block.Data();
  int64_t done = 0;
  while (done < n) {
    const auto want = static_cast<std::size_t>(std::min<int64_t>(n - done, IdrisiBufferSize));
    const std::size_t got = ReadRecords(f, in, 2, want);
    if constexpr (!kLittleEndianHost) SwapRecords(in, got);
    int32_t* out = cells + done;
    for (std::size_t i = 0; i < got; ++i) out[i] = in[i];
    done += static_cast<int64_t>(got);
    if (got < want) break;
  }
  return done;
}

int64_t ReadIdrisiBlocks(tIdrisiFile& f, float* cells, int64_t n) {
  return ReadDirect(f, cells, n, dtReal);
}

void WriteIdrisiBlocks(tIdrisiFile& f, const uint8_t* cells, int64_t n) {
  RequireOpen(f, dtByte, true);
  for (int64_t done = 0; done < n;) {
    const auto m = static_cast<std::size_t>(std::min<int64_t>(n - done, IdrisiBufferSize));
    if (std::fwrite(cells + done, 1, m, f.file) != m) throw EInOutError(ErrnoText(f.path));
    done += static_cast<int64_t>(m);
  }
}

void WriteIdrisiBlocks(tIdrisiFile& f, const int32_t* cells, int64_t n) {
  RequireOpen(f, dtInteger, true);
  TDynSmiVector block;
  block.Init(1, static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(n, 0), IdrisiBufferSize)));
  int16_t* out = block.Data();
  for (int64_t done = 0; done < n;) {
    const auto m = static_cast<std::size_t>(std::min<int64_t>(n - done, IdrisiBufferSize));
    const int32_t* in = cells + done;
    for (std::size_t i = 0; i < m; ++i) {
      if (in[i] < -32768 || in[i] > 32767)
        RaiseValueRange(static_cast<float>(in[i]), "the 16-bit integer range -32768..32767",
                        f.path);
      out[i] = static_cast<int16_t>(in[i]);
    }
    if constexpr (!kLittleEndianHost) SwapRecords(out, m);
    if (std::fwrite(out, 2, m, f.file) != m) throw EInOutError(ErrnoText(f.path));
    done += static_cast<int64_t>(m);
  }
}

void WriteIdrisiBlocks(tIdrisiFile& f, const float* cells, int64_t n) {
  RequireOpen(f, dtReal, true);
  std::vector<float> swapped;
  for (int64_t done = 0; done < n;) {
    const auto m = static_cast<std::size_t>(std::min<int64_t>(n - done, IdrisiBufferSize));
    const float* out = cells + done;
    if constexpr (!kLittleEndianHost) {
      swapped.assign(out, out + m);
      SwapRecords(swapped.data(), m);
      out = swapped.data();
    }
    if (std::fwrite(out, 4, m, f.file) != m) throw EInOutError(ErrnoText(f.path));
    done += static_cast<int64_t>(m);
  }
}

int64_t CellCount(const tRaster& raster) {
  if (raster.Rows <= 0 || raster.Columns <= 0) return 0;
  return static_cast<int64_t>(raster.Rows) * raster.Columns;
}

std::string ImagePath(const tRaster& raster) { return raster.FileName + raster.ImageExtension(); }

void RaiseShortImage(const std::string& path, int64_t actual, int64_t expected) {
  throw EInOutError(path + " holds " + std::to_string(actual) + " records where " +
                    std::to_string(expected) + " are expected.");
}

void RaiseValueRange(float v, const char* range, const std::string& where) {
  throw ERangeError("Value " + FormatValue(v) + " is outside " + range + " of " + where + ".");
}

float RecordValue(float v, tDataType t, const std::string& where) {
  switch (t) {
  case dtByte: {
    const float r = std::nearbyint(v);
    if (!(r >= 0.0f && r <= 255.0f)) RaiseValueRange(v, "the byte range 0..255", where);
    return r;
  }
  case dtInteger: {
    const float r = std::nearbyint(v);
    if (!(r >= -32768.0f && r <= 32767.0f))
      RaiseValueRange(v, "the 16-bit integer range -32768..32767", where);
    return r;
  }
  default: return v;
  }
}

} // namespace stravex
