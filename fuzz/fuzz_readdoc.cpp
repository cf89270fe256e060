#include "FuzzTargets.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  stravex::fuzz::RunReadDoc({reinterpret_cast<const char*>(data), size});
  return 0;
}
