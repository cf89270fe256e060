#pragma once
// 4000 x 4000 maps of every data type with varied content (so that nothing is
// faster for being uniform), written once per benchmark program in a scratch
// folder that is removed at exit.
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace stravex::bench {

constexpr int32_t kSide = 4000;

inline std::size_t ImageBytes(tDataType t) { return static_cast<std::size_t>(kSide) * kSide * t; }

// Finite reals: the top exponent bit of every float is cleared.
inline std::vector<unsigned char> ImageContent(tDataType t) {
  std::vector<unsigned char> bytes(ImageBytes(t));
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>((i * 2654435761u) >> 24);
  if (t == dtReal)
    for (std::size_t i = 3; i < bytes.size(); i += 4) bytes[i] &= 0xBF;
  return bytes;
}

class tBenchMaps {
public:
  tBenchMaps() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "stravex-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    fDir = tmpl;
    for (const tDataType t : {dtByte, dtInteger, dtReal}) {
      tRaster r;
      r.FileName = Name(t);
      r.DataType = t;
      r.Rows = kSide;
      r.Columns = kSide;
      r.MaxX = kSide;
      r.MaxY = kSide;
      r.FillConstant(1);
      const std::vector<unsigned char> bytes = ImageContent(t);
      std::FILE* f = std::fopen((r.FileName + ImageExt()).c_str(), "wb");
      if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
      std::fclose(f);
    }
  }
  ~tBenchMaps() {
    std::error_code ec;
    std::filesystem::remove_all(fDir, ec);
  }
  tBenchMaps(const tBenchMaps&) = delete;
  tBenchMaps& operator=(const tBenchMaps&) = delete;
  // The map of a type, without extension.
  std::string Name(tDataType t) const { return (fDir / ("map" + std::to_string(t))).string(); }

private:
  std::filesystem::path fDir;
};

inline const tBenchMaps& Maps() {
  static const tBenchMaps maps;
  return maps;
}

} // namespace stravex::bench
