#pragma once
// The example landscape's files, and the least-cost runs on it that several
// command-line tests share.
#include <filesystem>
#include <string>
#include <vector>

namespace stravex::test {

inline std::string Land(const char* name) {
  return (std::filesystem::path(STRAVEX_EXAMPLES_DIR) / "landscape" / name).string();
}

inline std::vector<std::string> With(std::vector<std::string> args,
                                     const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// clang-format off
inline std::vector<std::string> LeastCostSequenceArgs(const std::string& project) {
  return {"sequence", "--binary", Land("forest_BL"), "--quantitative", Land("cover_QT"),
          "--data", Land("tracks.txt"), "--algorithm", "least-cost", "--friction",
          Land("friction"), "--width", "3", "--project", project};
}
// clang-format on

// Strips over the example's maps as copied to dir with the extension ext
// (another format, or other cells), with the example's sample points.
inline std::vector<std::string> StripArgs(const std::filesystem::path& dir,
                                          const std::string& ext) {
  auto m = [&](const char* name) { return (dir / (name + ext)).string(); };
  return {"matrix",
          "--binary",
          m("forest_BL"),
          m("roads_NB"),
          m("landuse_CL"),
          "--quantitative",
          m("cover_QT"),
          "--topography",
          m("dem"),
          "--data",
          Land("samples.txt"),
          "--width",
          "3",
          "--delaunay",
          "include",
          "--project",
          "strips"};
}

} // namespace stravex::test
