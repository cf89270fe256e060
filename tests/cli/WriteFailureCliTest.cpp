// A file-size limit that stops a run midway: status 1, a message naming the
// file and the cause, and on disk only complete lines and maps whose cells
// are all real counts.
#include "CliSupport.h"
#include "TestSupport.h"
#include "raster/Raster.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

const std::string kLandscape = std::string(STRAVEX_EXAMPLES_DIR) + "/landscape";
const std::string kLeastCostReport = "Friction-LeastCost-MatrixAnalysis.txt";

// A least-cost run with a corridor map whose report rows are long: the maps
// are repeated, so that the report outgrows the corridor image (60000 bytes).
std::vector<std::string> LeastCostArgs(const std::string& workDir) {
  std::vector<std::string> args = {"matrix", "--binary"};
  for (int k = 0; k < 3; ++k) args.insert(args.end(), {"forest_BL", "roads_NB", "landuse_CL"});
  args.push_back("--quantitative");
  for (int k = 0; k < 8; ++k) args.insert(args.end(), {"cover_QT", "dem"});
  args.insert(args.end(), {"--data", "samples.txt", "--algorithm", "least-cost", "--friction",
                           "friction", "--width", "5", "--corridor", "corridors", "--workdir",
                           workDir, "--log", workDir + "/run.log"});
  return args;
}

std::set<std::string> Names(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename());
  return names;
}

// The longest prefix of text made of whole CR LF lines and at most limit bytes.
std::string WholeLinesWithin(const std::string& text, std::size_t limit) {
  const std::size_t end = text.rfind("\r\n", limit < 2 ? 0 : limit - 2);
  return end == std::string::npos || end + 2 > limit ? std::string() : text.substr(0, end + 2);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
    fields.push_back(line.substr(from, tab - from));
  fields.push_back(line.substr(from));
  return fields;
}

// Cells of a 16-bit corridor image.
std::vector<int> Counts(const std::string& image) {
  std::vector<int> counts;
  for (std::size_t i = 0; i + 1 < image.size(); i += 2)
    counts.push_back(static_cast<int16_t>(static_cast<uint8_t>(image[i]) |
                                          (static_cast<uint8_t>(image[i + 1]) << 8)));
  return counts;
}

// Cells the width least-cost paths of each pair add to the corridor map: the
// first binary map's mean path length times the number of paths.
std::vector<long> CellsAddedPerPair(const std::string& report, int width) {
  std::vector<long> added;
  std::size_t column = 0;
  std::size_t from = 0;
  for (std::size_t end; (end = report.find("\r\n", from)) != std::string::npos; from = end + 2) {
    const std::vector<std::string> f = Fields(report.substr(from, end - from));
    if (from == 0) {
      while (column < f.size() && f[column] != "forest_BL_Length") ++column;
      continue;
    }
    if (column >= f.size()) return {};
    added.push_back(std::lround(std::strtod(f[column].c_str(), nullptr) * width));
  }
  return added;
}

class FileSizeLimitCli : public ::testing::Test {
protected:
  void SetUp() override {
    const tCliRun full = RunCli(LeastCostArgs(fFull.path()), kLandscape);
    ASSERT_EQ(full.status, 0) << full.err;
    fReport = ReadFileBytes(fFull.file(kLeastCostReport));
    fImage = ReadFileBytes(fFull.file("corridors") + fMap.ImageExtension());
    fDoc = ReadFileBytes(fFull.file("corridors") + fMap.DocExtension());
    ASSERT_EQ(fImage.size(), 60000u);
    // Room for a limit between the image and the report, halfway through a row.
    ASSERT_GT(fReport.size(), fImage.size() + 10000);
  }
  TempDir fFull;
  tRaster fMap;
  std::string fReport, fImage, fDoc;
};

TEST_F(FileSizeLimitCli, ALimitHitDuringTheReportLeavesWholeRowsAndAConsistentCorridorMap) {
  TempDir dir;
  const std::size_t limit = fImage.size() + (fReport.size() - fImage.size()) / 2;
  const tCliRun run = RunCliWithFileSizeLimit(LeastCostArgs(dir.path()), kLandscape, limit);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "stravex-cli: Cannot write to file \"" + dir.file(kLeastCostReport) +
                         "\": File too large\n");
  EXPECT_EQ(run.out, "") << "files are listed only after a complete run";

  const std::string report = ReadFileBytes(dir.file(kLeastCostReport));
  const std::string expectedReport = WholeLinesWithin(fReport, limit);
  EXPECT_EQ(report.size(), expectedReport.size());
  EXPECT_TRUE(report == expectedReport) << "the report is not the whole rows that fit";
  const std::vector<long> perPair = CellsAddedPerPair(fReport, 5);
  ASSERT_EQ(perPair.size(), 28u);

  // The corridor map holds the paths of every row written and of the pair
  // whose row failed (its paths are added before its row): no cell more, no
  // cell less, and its documentation was rewritten after them.
  const std::size_t rows = CellsAddedPerPair(report, 5).size();
  ASSERT_LT(rows, perPair.size());
  long expectedSum = 0;
  for (std::size_t p = 0; p <= rows; ++p) expectedSum += perPair[p];
  const tRaster map(dir.file("corridors"));
  EXPECT_EQ(map.Rows, 150);
  EXPECT_EQ(map.Columns, 200);
  const std::vector<int> counts =
      Counts(ReadFileBytes(dir.file("corridors") + map.ImageExtension()));
  const std::vector<int> fullCounts = Counts(fImage);
  ASSERT_EQ(counts.size(), fullCounts.size());
  long sum = 0;
  int max = 0, above = 0;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    sum += counts[i];
    max = std::max(max, counts[i]);
    if (counts[i] < 0 || counts[i] > fullCounts[i]) ++above;
  }
  EXPECT_EQ(above, 0) << "cells counted beyond the uninterrupted run";
  EXPECT_EQ(sum, expectedSum);
  EXPECT_EQ(map.MaxValue, max);

  // No log of a failed run, no temporary left; the journal lets it resume.
  EXPECT_EQ(Names(dir),
            (std::set<std::string>{kLeastCostReport, "Friction-LeastCost-MatrixAnalysis.journal",
                                   "Friction-LeastCost-MatrixAnalysis.digests",
                                   std::string("corridors") + map.ImageExtension(),
                                   std::string("corridors") + map.DocExtension()}));
}

TEST_F(FileSizeLimitCli, ALimitHitDuringTheCorridorMapLeavesThePreviousMapOrNone) {
  const std::string image = std::string("corridors") + fMap.ImageExtension();
  const std::string doc = std::string("corridors") + fMap.DocExtension();
  const std::size_t limit = fImage.size() / 2;
  for (const bool previousRun : {true, false}) {
    SCOPED_TRACE(previousRun ? "over the map of a previous run" : "in an empty folder");
    TempDir dir;
    if (previousRun) {
      WriteFileBytes(dir.file(image), fImage);
      WriteFileBytes(dir.file(doc), fDoc);
    }
    const tCliRun run = RunCliWithFileSizeLimit(LeastCostArgs(dir.path()), kLandscape, limit);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "stravex-cli: Cannot write to file \"" + dir.file(image) + "\": File too large\n");

    std::set<std::string> left = Names(dir);
    if (left.erase(kLeastCostReport) > 0) {
      const std::string report = ReadFileBytes(dir.file(kLeastCostReport));
      EXPECT_TRUE(report == WholeLinesWithin(fReport, report.size()))
          << "the report is not a prefix of whole rows";
    }
    if (previousRun) {
      EXPECT_TRUE(ReadFileBytes(dir.file(image)) == fImage) << "the previous image changed";
      EXPECT_EQ(ReadFileBytes(dir.file(doc)), fDoc);
      EXPECT_EQ(left, (std::set<std::string>{image, doc}));
    } else {
      EXPECT_EQ(left, std::set<std::string>{});
    }
  }
}

TEST(FileSizeLimitLog, ALogThatCannotBeWrittenFailsTheRunAndKeepsThePreviousLog) {
  // No pair is near enough: the report is its header, the log the echoed data.
  auto args = [](const TempDir& dir) {
    return std::vector<std::string>{"matrix",           "--binary",    "forest_BL",      "roads_NB",
                                    "--data",           "samples.txt", "--max-distance", "0",
                                    "--echo-points",    "--workdir",   dir.path(),       "--log",
                                    dir.file("run.log")};
  };
  const std::string reportName = "Friction-FixedStrip-MatrixAnalysis.txt";
  TempDir full;
  ASSERT_EQ(RunCli(args(full), kLandscape).status, 0);
  const std::string report = ReadFileBytes(full.file(reportName));
  const std::string log = ReadFileBytes(full.file("run.log"));
  ASSERT_LT(report.size() + 100, log.size());

  TempDir dir;
  WriteFileBytes(dir.file("run.log"), "the log of an earlier run\r\n");
  const tCliRun run = RunCliWithFileSizeLimit(args(dir), kLandscape,
                                              (report.size() + log.size()) / 2);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "stravex-cli: Cannot write to file \"" + dir.file("run.log") + "\": File too large\n");
  EXPECT_EQ(ReadFileBytes(dir.file("run.log")), "the log of an earlier run\r\n");
  EXPECT_EQ(ReadFileBytes(dir.file(reportName)), report);
  EXPECT_EQ(Names(dir), (std::set<std::string>{"run.log", reportName,
                                               "Friction-FixedStrip-MatrixAnalysis.journal",
                                               "Friction-FixedStrip-MatrixAnalysis.digests"}));
}

} // namespace
} // namespace stravex::test
