// stravex-cli bootstrap with least-cost and exact paths on the example
// landscape, whose walks leave the map within a few replicates: every walk
// must still be written in full, on the friction map.
#include "CliSupport.h"
#include "TestSupport.h"
#include "analysis/RunSupport.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

const fs::path kLandscape = fs::path(STRAVEX_EXAMPLES_DIR) / "landscape";

std::string Map(const std::string& name) { return (kLandscape / name).string(); }

std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(sep, start)) != std::string::npos;
       start = end + sep.size())
    parts.push_back(text.substr(start, end - start));
  if (start < text.size()) parts.push_back(text.substr(start));
  return parts;
}

// The rows of a report, its header left out, as tab-separated fields.
std::vector<std::vector<std::string>> Rows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  const auto lines = Split(ReadFileBytes(path), "\r\n");
  for (std::size_t i = 1; i < lines.size(); ++i) rows.push_back(Split(lines[i], "\t"));
  return rows;
}

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

TEST(BootstrapWalkCli, LeastCostAndExactWalksFinishOnTheExampleLandscape) {
  TempDir tmp;
  const tRaster friction(Map("friction"));
  for (const std::vector<std::string>& algorithm :
       {std::vector<std::string>{"least-cost", "--width", "1"}, {"exact"}}) {
    SCOPED_TRACE(algorithm[0]);
    const std::string project = algorithm[0];
    const std::vector<std::string> args =
        With({"bootstrap", "--binary", Map("forest_BL"), "--data", Map("tracks.txt"),
              "--replicates", "20", "--distance-distribution", "--algorithm"},
             algorithm);
    const tCliRun r = RunCli(With(args, {"--friction", Map("friction"), "--project", project,
                                         "--log", tmp.file(project + ".log")}),
                             tmp.path().string());
    ASSERT_EQ(r.status, 0) << r.err;

    // Steps per walk and the lengths they draw from, after the distance file.
    std::map<std::string, std::vector<double>> lengths;
    std::size_t steps = 0;
    for (const std::string& line :
         Split(ReadFileBytes(tmp.file(project + "-Distances.txt")), "\r\n")) {
      const auto fields = Split(line, "\t");
      for (std::size_t k = 1; k < fields.size(); ++k)
        lengths[fields[0]].push_back(std::stod(fields[k]));
      steps += fields.size() - 1;
    }
    ASSERT_GT(steps, 0u);

    const auto rows = Rows(tmp.file(project + "-Bootstraps.txt"));
    ASSERT_EQ(rows.size(), 20 * steps);
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const auto& row = rows[k];
      ASSERT_EQ(row.size(), 14u) << k;
      const double x1 = std::stod(row[2]), y1 = std::stod(row[3]);
      const double x2 = std::stod(row[5]), y2 = std::stod(row[6]);
      const double length = std::stod(row[8]);
      bool drawn = false;
      for (double l : lengths.at(row[0])) drawn = drawn || std::fabs(l - length) < 1e-9 * l;
      EXPECT_TRUE(drawn) << k << ": " << length;
      EXPECT_NEAR(std::hypot(x2 - x1, y2 - y1), length, 1e-9 * length) << k;
      EXPECT_TRUE(PointOnGrid(friction, x2, y2)) << k;
      EXPECT_GT(std::stod(row[13]), 0) << k; // a path was found
    }
    // The walks did leave the map, and were drawn again rather than stopped.
    const std::string log = ReadFileBytes(tmp.file(project + ".log"));
    const size_t note = log.find("\r\nOff-map walk steps drawn again: ");
    ASSERT_NE(note, std::string::npos) << log;
    const std::string line = log.substr(note + 2, log.find("\r\n", note + 2) - note - 2);
    EXPECT_TRUE(line.ends_with("; walks ended early: 0")) << line;
  }
}

} // namespace
} // namespace stravex::test
