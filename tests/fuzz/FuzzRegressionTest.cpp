// Every input that ever crashed or hung a fuzzing harness, and the harness's
// seed corpus, fed through the harness's own entry point in the ordinary
// (gcc, sanitized) build.
#include "FuzzTargets.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;
using fuzz::tFuzzTarget;

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

void Replay(const tFuzzTarget& target, const std::vector<fs::path>& files) {
  for (const fs::path& f : files) {
    const std::string bytes = ReadFileBytes(f.string());
    try {
      target.Run(bytes);
    } catch (const std::exception& e) {
      ADD_FAILURE() << f << ": " << e.what();
    }
  }
}

} // namespace
} // namespace stravex::test

namespace stravex::fuzz {
// Names the harness in test output instead of dumping its bytes.
void PrintTo(const tFuzzTarget& target, std::ostream* os) { *os << target.Name; }
} // namespace stravex::fuzz

namespace stravex::test {
namespace {

class FuzzReplay : public ::testing::TestWithParam<tFuzzTarget> {};

TEST_P(FuzzReplay, RegressionsAndCorpusPass) {
  const tFuzzTarget& target = GetParam();
  const fs::path source(STRAVEX_SOURCE_DIR);
  const std::vector<fs::path> corpus = FilesIn(source / "fuzz/corpus" / target.Name);
  // A harness without seeds would fuzz from nothing; an empty folder also
  // means the folder and the harness no longer share a name.
  EXPECT_GE(corpus.size(), 3u) << target.Name;
  Replay(target, corpus);
  Replay(target, FilesIn(source / "tests/fuzz_regressions" / target.Name));
}

INSTANTIATE_TEST_SUITE_P(Harness, FuzzReplay, ::testing::ValuesIn(fuzz::FuzzTargets()),
                         [](const ::testing::TestParamInfo<tFuzzTarget>& info) {
                           return std::string(info.param.Name);
                         });

} // namespace
} // namespace stravex::test
