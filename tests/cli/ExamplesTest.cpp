// The committed example landscape: reproducible by make-examples, and its
// data files in the layouts their readers expect.
#include "CliSupport.h"
#include "TestSupport.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";

// Every line, the last one included, ends in CR LF.
std::vector<std::string> CrLfLines(const std::string& file) {
  const std::string text = ReadFileBytes((kLandscape / file).string());
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 2) {
    end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << file << ": last line not ended by CR LF";
      break;
    }
    lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(lines.back().find_first_of("\r\n"), std::string::npos) << file << ": bare CR or LF";
  }
  return lines;
}

std::vector<double> Numbers(const std::string& line) {
  std::istringstream in(line);
  std::vector<double> v;
  for (std::string token; in >> token;) {
    size_t used = 0;
    v.push_back(std::stod(token, &used));
    EXPECT_EQ(used, token.size()) << "not a number: " << token;
  }
  return v;
}

std::string Header(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  s.erase(0, s.find_first_not_of(' '));
  return s.erase(s.find_last_not_of(' ') + 1);
}

bool InsideTheMaps(double x, double y) {
  const tRaster map((kLandscape / "forest_BL").string());
  return x > map.MinX && x < map.MaxX && y > map.MinY && y < map.MaxY;
}

TEST(Examples, GeneratorReproducesTheCommittedLandscape) {
  std::string generator = STRAVEX_CLI_PATH;
  generator.replace(generator.rfind("cli/stravex-cli"), 15, "examples/make-examples");
  TempDir tmp;
  const tCliRun made = RunProgram(generator, {tmp.file("out")}, "/");
  ASSERT_EQ(made.status, 0) << made.err;
  const tCliRun usage = RunProgram(generator, {}, "/");
  EXPECT_GT(usage.status, 0);
  EXPECT_NE(usage.err, "");

  std::set<std::string> committed, generated;
  uintmax_t total = 0;
  for (const auto& e : fs::directory_iterator(kLandscape)) {
    committed.insert(e.path().filename().string());
    total += e.file_size();
  }
  for (const auto& e : fs::directory_iterator(tmp.file("out")))
    generated.insert(e.path().filename().string());
  EXPECT_EQ(generated, committed);
  EXPECT_EQ(committed.size(), 6 * 2 + 3u);
  EXPECT_LT(total, 1u << 20);
  for (const std::string& name : generated)
    EXPECT_TRUE(ReadFileBytes((kLandscape / name).string()) ==
                ReadFileBytes(tmp.file("out/" + name)))
        << name << " differs from a fresh run";
}

TEST(Examples, PopulationFileHasItsSections) {
  const auto lines = CrLfLines("samples.txt");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(Header(lines[0]), "[sample size]");
  const size_t n = static_cast<size_t>(Numbers(lines[1]).at(0));
  ASSERT_EQ(lines.size(), 5 + 3 * n);
  EXPECT_EQ(Header(lines[2]), "[coordinates]");
  std::set<std::vector<double>> points;
  for (size_t k = 0; k < n; ++k) {
    const auto xy = Numbers(lines[3 + k]);
    ASSERT_EQ(xy.size(), 2u);
    EXPECT_TRUE(InsideTheMaps(xy[0], xy[1])) << lines[3 + k];
    points.insert(xy);
  }
  EXPECT_EQ(points.size(), n) << "two samples at one place";
  for (size_t s = 0; s < 2; ++s) {
    const size_t first = 3 + n + s * (n + 1);
    EXPECT_EQ(Header(lines[first]), s == 0 ? "[genetic distance]" : "[significance]");
    for (size_t i = 0; i < n; ++i) {
      const auto row = Numbers(lines[first + 1 + i]);
      ASSERT_EQ(row.size(), n);
      EXPECT_EQ(row[i], 0);
      for (size_t j = 0; j < i; ++j)
        EXPECT_EQ(row[j], Numbers(lines[first + 1 + j])[i]) << i << "," << j;
    }
  }
}

TEST(Examples, SequenceAndMapListFiles) {
  const auto lines = CrLfLines("tracks.txt");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].find_first_of("0123456789"), std::string::npos) << "header line expected";
  std::map<int, int> fixes; // per ID
  std::vector<double> previous;
  for (size_t k = 1; k < lines.size(); ++k) {
    const auto v = Numbers(lines[k]);
    ASSERT_EQ(v.size(), 9u) << lines[k];
    EXPECT_TRUE(InsideTheMaps(v[0], v[1])) << lines[k];
    EXPECT_TRUE(v[3] >= 1 && v[3] <= 28 && v[4] >= 1 && v[4] <= 12 && v[6] < 24 && v[7] < 60 &&
                v[8] < 60);
    ++fixes[static_cast<int>(v[2])];
    // Year, month, day, hour, minute, second compared in that order.
    const std::vector<double> when = {v[2], v[5], v[4], v[3], v[6], v[7], v[8]};
    if (!previous.empty() && previous[0] == v[2]) {
      EXPECT_LT(previous, when) << "time goes back at line " << k;
    }
    previous = when;
  }
  EXPECT_EQ(fixes.size(), 2u);
  for (const auto& [id, count] : fixes) EXPECT_GE(count, 5) << id;

  EXPECT_EQ(CrLfLines("maps.txt"), (std::vector<std::string>{"forest_BL", "roads_NB"}));
}

} // namespace
} // namespace stravex::test
