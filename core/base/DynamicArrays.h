#pragma once
// Bounded vectors with a free index range, initialised once. The image-file
// stream uses them as block buffers; the size limit keeps one buffer within
// 1 048 576 000 bytes whatever the element type.
#include "base/Errors.h"

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace stravex {

constexpr int64_t kDynamicVectorMaxBytes = 1048576000;

template <typename T>
class tDynamicVector {
public:
  static constexpr int64_t kMaxElements = kDynamicVectorMaxBytes / static_cast<int64_t>(sizeof(T));

  tDynamicVector() = default;

  void Init(int32_t low, int32_t high) {
    if (fInitialised) throw EInvalidOperation("Dynamic vectors can't be initialized twice");
    const int64_t count = static_cast<int64_t>(high) - low + 1;
    if (count > kMaxElements) {
      char msg[160];
      std::snprintf(msg, sizeof msg,
                    "Dynamic bytes vector too big (%lld). Maximum number of elements is %lld",
                    static_cast<long long>(count), static_cast<long long>(kMaxElements));
      throw ERangeError(msg);
    }
    try {
      fData.assign(count > 0 ? static_cast<std::size_t>(count) : 0, T{});
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory("Out of memory");
    }
    fLow = low;
    fHigh = count > 0 ? high : low - 1;
    fInitialised = true;
  }

  bool Initialised() const { return fInitialised; }
  int32_t Low() const { return fLow; }
  int32_t High() const { return fHigh; }
  int32_t Count() const { return static_cast<int32_t>(fData.size()); }

  T Get(int32_t index) const { return fData[Offset(index)]; }
  void Set(int32_t index, T value) { fData[Offset(index)] = value; }

  T* Data() { return fData.data(); }
  const T* Data() const { return fData.data(); }

private:
  std::size_t Offset(int32_t index) const {
    if (index < fLow || index > fHigh) RaiseRangeCheck("vector index", index, fLow, fHigh);
    return static_cast<std::size_t>(static_cast<int64_t>(index) - fLow);
  }

  std::vector<T> fData;
  int32_t fLow = 0;
  int32_t fHigh = -1;
  bool fInitialised = false;
};

using TDynBytVector = tDynamicVector<uint8_t>;
using TDynSmiVector = tDynamicVector<int16_t>;
using TDynSngVector = tDynamicVector<float>;

} // namespace stravex
