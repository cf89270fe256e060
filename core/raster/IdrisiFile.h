#pragma once
// tIdrisiFile: buffered sequential stream over the image file of a map. Whole-
// map passes read and write it in blocks of IdrisiBufferSize records, so that a
// map of any size is handled with a few file operations and a bounded buffer.
#include "base/ContentDigest.h"
#include "base/DynamicArrays.h"
#include "raster/Raster.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace stravex {

constexpr int32_t IdrisiBufferSize = 1024000;

// One per open image file; lives on the caller's stack and is never shared.
struct tIdrisiFile {
  std::FILE* file = nullptr;
  float flagValue = 0;
  bool useFlag = false;
  tDataType dataType = dtUnknown;
  // Reading: values of the buffer not yet handed out; writing: values not yet written.
  uint32_t count = 0;
  // Indices 1..IdrisiBufferSize; made on first use, so that block transfers
  // that bypass it cost no allocation.
  std::unique_ptr<TDynSngVector> buffer;
  bool atEnd = false;
  bool writing = false;

  // Image path and the raster's reporter, for messages.
  std::string path;
  tReporter* reporter = nullptr;
  // Reading: index (0-based) in buffer of the next value to hand out.
  uint32_t next = 0;
  // Reading: values handed out so far.
  int64_t delivered = 0;
  // Reading: size of the file when it was opened, and whole records in it.
  int64_t fileBytes = 0;
  int64_t fileRecords = 0;
  // Reading: fingerprint of the first digestRecords records (-1: none), fed
  // by every read while the reads run in order from the start of the file
  // (HashImageRecords).
  tContentDigest digest;
  int64_t digestRecords = -1;
  // A read that did not continue the hashed run: the digest describes nothing.
  bool digestBroken = false;

  tIdrisiFile() = default;
  tIdrisiFile(const tIdrisiFile&) = delete;
  tIdrisiFile& operator=(const tIdrisiFile&) = delete;
  // A stream left open by an error is closed here; values still buffered for
  // writing are dropped (the pass has already failed).
  ~tIdrisiFile();
};

// Open read-only (one retry; the second failure propagates as EInOutError).
void OpenIdrisiRead(const tRaster& raster, tIdrisiFile& f);
// Create or replace the image file for writing (one retry).
void OpenIdrisiWrite(const tRaster& raster, tIdrisiFile& f);
// Next value of the file; false when it is a missing cell (the flag value of
// a background map, NaN or infinite) or when the file is exhausted (then
// atEnd is set and value is unchanged).
bool ReadIdrisi(tIdrisiFile& f, float& value);
// Buffers value and writes a full block. A value that does not fit a byte or
// integer record raises ERangeError before anything is buffered; false when a
// block write fails.
bool WriteIdrisi(tIdrisiFile& f, float value);
// Writes the last partial block, closes the file and frees the buffer.
void CloseIdrisi(tIdrisiFile& f);

// Block transfers for whole-map loads and saves: records go straight between
// the file and the caller's cells, in blocks of IdrisiBufferSize records. The
// cell type must match the stream's data type (byte, integer as the 16-bit
// records or widened to 32 bits in memory, real). The reads return the number
// of records delivered; integer cells written must already fit 16 bits. Not
// to be mixed with ReadIdrisi / WriteIdrisi on the same stream.
int64_t ReadIdrisiBlocks(tIdrisiFile& f, uint8_t* cells, int64_t n);
int64_t ReadIdrisiBlocks(tIdrisiFile& f, int16_t* cells, int64_t n);
int64_t ReadIdrisiBlocks(tIdrisiFile& f, int32_t* cells, int64_t n);
int64_t ReadIdrisiBlocks(tIdrisiFile& f, float* cells, int64_t n);
void WriteIdrisiBlocks(tIdrisiFile& f, const uint8_t* cells, int64_t n);
void WriteIdrisiBlocks(tIdrisiFile& f, const int32_t* cells, int64_t n);
void WriteIdrisiBlocks(tIdrisiFile& f, const float* cells, int64_t n);

// Fingerprints of whole images: after OpenIdrisiRead, HashImageRecords(f, n)
// has the reads feed f.digest with the on-disk bytes of the first n records;
// ImageDigestOf gives its Hex() once exactly those were read in order from the
// start of the file, else "" (a partial or out-of-order read).
void HashImageRecords(tIdrisiFile& f, int64_t n);
std::string ImageDigestOf(const tIdrisiFile& f);
// Measurement hook: with false, HashImageRecords does nothing (and IDRISI
// whole-map reads leave ImageDigest empty), so a benchmark can time the bare load.
void SetImageHashing(bool on);

// --- helpers shared by the raster classes ---

// Rows x Columns, 0 for a grid with a negative side.
int64_t CellCount(const tRaster& raster);
// Image file path of a map: FileName + ImageExt.
std::string ImagePath(const tRaster& raster);
// EInOutError for an image file holding fewer records than the grid has cells.
[[noreturn]] void RaiseShortImage(const std::string& path, int64_t actual, int64_t expected);
// Value v rounded (halves to even) for a record of type t, ERangeError naming
// where when it does not fit a byte or a 16-bit integer. Reals pass unchanged.
float RecordValue(float v, tDataType t, const std::string& where);
// The little-endian record of type t (byte, integer, real) holding v, which
// must already fit it (RecordValue); the first t bytes of rec are set.
void EncodeRecord(float v, tDataType t, unsigned char* rec);
// ERangeError "Value <v> is outside <range> of <where>."
[[noreturn]] void RaiseValueRange(float v, const char* range, const std::string& where);

} // namespace stravex
