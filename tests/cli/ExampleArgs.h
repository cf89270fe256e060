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

} // namespace stravex::test
