// stravex-cli info, run as a separate process on the example landscape and on
// damaged copies of it.
#include "CliSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace stravex::test {
namespace {

namespace fs = std::filesystem;

const std::string kLandscape = std::string(STRAVEX_EXAMPLES_DIR) + "/landscape/";

tCliRun Info(const std::vector<std::string>& names) {
  std::vector<std::string> args = {"info"};
  args.insert(args.end(), names.begin(), names.end());
  return RunCli(args, "/");
}

// One map per block of "key: value" lines; blocks are separated by a blank line.
using tBlock = std::multimap<std::string, std::string>;
std::vector<tBlock> Blocks(const std::string& text) {
  std::vector<tBlock> blocks(1);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) {
      blocks.emplace_back();
      continue;
    }
    const auto colon = line.find(':');
    EXPECT_NE(colon, std::string::npos) << line;
    blocks.back().emplace(line.substr(0, colon),
                          colon + 1 < line.size() ? line.substr(colon + 2) : "");
  }
  if (blocks.back().empty()) blocks.pop_back();
  return blocks;
}

std::string Get(const tBlock& b, const std::string& key) {
  const auto it = b.find(key);
  return it == b.end() ? "<" + key + " missing>" : it->second;
}

// Documentation values read directly: a label of 12 columns, ": ", the value.
std::map<std::string, std::string> DocText(const std::string& path) {
  std::map<std::string, std::string> doc;
  std::istringstream in(ReadFileBytes(path));
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 15) continue;
    line.pop_back(); // CR
    std::string key = line.substr(0, 12);
    key.erase(key.find_last_not_of(' ') + 1);
    doc[key] = line.substr(14);
  }
  return doc;
}

// Valid-cell statistics straight from the little-endian image bytes.
struct tStats {
  long valid = 0;
  double mean = 0, sd = 0, lo = 1e30, hi = -1e30;
};
tStats ImageStats(const std::string& bytes, const std::string& type, bool background, double flag) {
  const size_t size = type == "byte" ? 1 : type == "integer" ? 2 : 4;
  tStats s;
  long double sum = 0, sum2 = 0;
  for (size_t i = 0; i < bytes.size(); i += size) {
    const auto* p = reinterpret_cast<const unsigned char*>(&bytes[i]);
    double v = p[0];
    if (size == 2) v = static_cast<int16_t>(p[0] | (p[1] << 8));
    if (size == 4) {
      float f;
      const uint32_t u = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
      std::memcpy(&f, &u, 4);
      v = f;
    }
    if (background && v == flag) continue;
    s.lo = std::min(s.lo, v);
    s.hi = std::max(s.hi, v);
    sum += v;
    sum2 += static_cast<long double>(v) * v;
    ++s.valid;
  }
  s.mean = static_cast<double>(sum / s.valid);
  s.sd = std::sqrt(static_cast<double>(sum2 / s.valid) - s.mean * s.mean);
  return s;
}

TEST(InfoCommand, DescribesEveryExampleMapFromItsFiles) {
  const std::vector<std::string> names = {"forest_BL", "roads_NB", "cover_QT",
                                          "dem",       "friction", "landuse_CL"};
  std::vector<std::string> paths;
  for (const auto& n : names) paths.push_back(kLandscape + n + ".rst");
  const tCliRun r = Info(paths);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const auto blocks = Blocks(r.out);
  ASSERT_EQ(blocks.size(), names.size());

  for (size_t k = 0; k < names.size(); ++k) {
    SCOPED_TRACE(names[k]);
    const tBlock& b = blocks[k];
    auto doc = DocText(kLandscape + names[k] + ".rdc");
    EXPECT_EQ(Get(b, "map"), names[k]);
    for (const auto& [key, docKey] : {std::pair{"title", "file title"},
                                      {"data type", "data type"},
                                      {"columns", "columns"},
                                      {"rows", "rows"},
                                      {"reference units", "ref. units"},
                                      {"flag definition", "flag def'n"}})
      EXPECT_EQ(Get(b, key), doc[docKey]) << key;
    for (const auto& [key, docKey] : {std::pair{"min X", "min. X"},
                                      {"max X", "max. X"},
                                      {"min Y", "min. Y"},
                                      {"max Y", "max. Y"}})
      EXPECT_EQ(std::stod(Get(b, key)), std::stod(doc[docKey])) << key;
    EXPECT_EQ(Get(b, "legend categories"), doc["legend cats"]);
    EXPECT_EQ(b.count("legend"), std::stoul(doc["legend cats"]));

    const bool background = doc["flag def'n"] == "background";
    const double flag = background ? std::stod(doc["flag value"]) : 0;
    const tStats s = ImageStats(ReadFileBytes(kLandscape + names[k] + ".rst"), doc["data type"],
                                background, flag);
    EXPECT_EQ(Get(b, "valid cells"), std::to_string(s.valid));
    EXPECT_EQ(std::stol(Get(b, "missing cells")),
              std::stol(doc["columns"]) * std::stol(doc["rows"]) - s.valid);
    EXPECT_NEAR(std::stod(Get(b, "mean")), s.mean, 1e-9 * std::max(1.0, std::fabs(s.mean)));
    EXPECT_NEAR(std::stod(Get(b, "SD")), s.sd, 1e-6 * std::max(1.0, s.sd));
    // Flagged cells stay out of the extremes.
    EXPECT_EQ(std::stof(Get(b, "minimum")), static_cast<float>(s.lo));
    EXPECT_EQ(std::stof(Get(b, "maximum")), static_cast<float>(s.hi));
  }
}

TEST(InfoCommand, AcceptsEveryFormOfTheMapName) {
  const tCliRun rst = Info({kLandscape + "forest_BL.rst"});
  ASSERT_EQ(rst.status, 0) << rst.err;
  EXPECT_EQ(Info({kLandscape + "forest_BL.rdc"}).out, rst.out);
  EXPECT_EQ(Info({kLandscape + "forest_BL"}).out, rst.out);

  // The classic generation (chosen by the extension, or found when none is
  // given), and a map name holding a dot.
  TempDir tmp;
  for (const auto& [img, doc] : {std::pair{"old.img", "old.doc"}, {"v1.2.rst", "v1.2.rdc"}}) {
    fs::copy_file(kLandscape + "forest_BL.rst", tmp.file(img));
    fs::copy_file(kLandscape + "forest_BL.rdc", tmp.file(doc));
  }
  const std::string mean = Get(Blocks(rst.out).at(0), "mean");
  for (const char* name : {"old.img", "old.doc", "old", "v1.2"}) {
    const tCliRun r = Info({tmp.file(name)});
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(Get(Blocks(r.out).at(0), "mean"), mean) << name;
  }
  EXPECT_EQ(Get(Blocks(Info({tmp.file("old")}).out).at(0), "file"), tmp.file("old.img"));
}

void ExpectOneErrorLine(const tCliRun& r, const std::string& mentions) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("stravex-cli: ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
}

// Writes a copy of an example map with some documentation lines (key, new
// value) changed and its image cut to `imageBytes` (none: 0, all: negative).
using tEdits = std::vector<std::pair<std::string, std::string>>;
std::string DamagedCopy(const TempDir& tmp, const std::string& name, const std::string& from,
                        const tEdits& edits, long imageBytes = -1) {
  std::string doc = ReadFileBytes(kLandscape + from + ".rdc");
  for (const auto& [key, value] : edits) {
    const auto at = doc.find(key);
    EXPECT_NE(at, std::string::npos) << key;
    doc.replace(at + 14, doc.find('\r', at) - at - 14, value);
  }
  WriteFileBytes(tmp.file(name + ".rdc"), doc);
  const std::string image = ReadFileBytes(kLandscape + from + ".rst");
  if (imageBytes != 0)
    WriteFileBytes(tmp.file(name + ".rst"), image.substr(0, static_cast<size_t>(imageBytes)));
  return tmp.file(name);
}

TEST(InfoCommand, BrokenMapsFailWithOneLineAndTheOthersArePrinted) {
  TempDir tmp;
  tCliRun r = Info({kLandscape + "roads_NB", tmp.file("nothere"), kLandscape + "dem"});
  ExpectOneErrorLine(r, "nothere.rdc not found.");
  const auto blocks = Blocks(r.out);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(Get(blocks[1], "map"), "dem");

  ExpectOneErrorLine(
      Info({DamagedCopy(tmp, "badcols", "roads_NB", {{"columns     : ", "abc"}}) + ".rst"}),
      "badcols");
  ExpectOneErrorLine(Info({DamagedCopy(tmp, "dummy", "dem", {{"data type   : ", "dummy"}})}),
                     "dummy");
  ExpectOneErrorLine(Info({DamagedCopy(tmp, "text", "dem", {{"file type   : ", "ascii"}})}),
                     "not in binary");
  ExpectOneErrorLine(Info({DamagedCopy(tmp, "short", "dem", {}, 119999)}), "119999 bytes");
  ExpectOneErrorLine(Info({DamagedCopy(tmp, "noimage", "dem", {}, 0)}), "noimage.rst");
  // A documentation claiming a huge grid is refused before any memory is sized.
  const tEdits huge = {{"columns     : ", "2000000000"}, {"rows        : ", "2000000000"}};
  ExpectOneErrorLine(Info({DamagedCopy(tmp, "huge", "dem", huge)}), "huge");
  ExpectOneErrorLine(Info({tmp.file("two\nlines")}), "not found");
}

TEST(InfoCommand, MapsWithoutValidCellsOrWithoutSpread) {
  TempDir tmp;
  const std::string empty = DamagedCopy(tmp, "empty", "forest_BL", {}, 0);
  WriteFileBytes(empty + ".rst", std::string(30000, '\xff')); // all background
  const std::string flat = DamagedCopy(tmp, "flat", "dem", {}, 0);
  std::string cells;
  const float v = 0.1f; // no exact binary form: mean of squares and squared mean differ by rounding
  for (int i = 0; i < 30000; ++i) cells.append(reinterpret_cast<const char*>(&v), 4);
  WriteFileBytes(flat + ".rst", cells);

  const tCliRun r = Info({empty, flat});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto blocks = Blocks(r.out);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(Get(blocks[0], "statistics"), "no valid cells");
  EXPECT_EQ(blocks[0].count("mean"), 0u);
  EXPECT_EQ(Get(blocks[1], "minimum"), "0.1");
  const double sd = std::stod(Get(blocks[1], "SD"));
  EXPECT_TRUE(sd >= 0 && sd < 1e-6) << sd;
}

TEST(InfoCommand, HelpAndUsage) {
  const tCliRun help = Info({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("MAP"), std::string::npos) << help.out;
  EXPECT_NE(Info({}).status, 0);
}

} // namespace
} // namespace stravex::test
