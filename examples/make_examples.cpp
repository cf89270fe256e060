// make-examples OUTDIR: writes the small example landscape (six maps, a
// population data file, a location sequence file and a map list) into OUTDIR.
//
// The output must be identical on every build and platform, because the
// committed copy under examples/landscape is compared byte for byte with a
// fresh run. Every cell value is therefore computed in integer arithmetic and
// turned into a float by one exact division at the end; the only floating
// operation before that is a correctly rounded square root.
#include "base/Errors.h"
#include "raster/IdrisiEnv.h"
#include "raster/Raster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace stravex;
namespace fs = std::filesystem;

constexpr int32_t kColumns = 200;
constexpr int32_t kRows = 150;
constexpr int32_t kCell = 10; // metres
constexpr int64_t kMinX = 500000;
constexpr int64_t kMinY = 4000000;
constexpr int64_t kMaxX = kMinX + kColumns * kCell;
constexpr int64_t kMaxY = kMinY + kRows * kCell;
// Eastern columns outside the surveyed area: missing in the forest and cover maps.
constexpr int32_t kSurveyEdge = 195;

// Land-use categories.
enum : int {
  luUnclassified = 0,
  luForest = 1,
  luGrassland = 2,
  luCropland = 3,
  luWater = 4,
  luRoad = 5
};

// Small local generator (Knuth's MMIX constants), independent of the program's.
class tLcg {
public:
  explicit tLcg(uint64_t seed) : fState(seed) {}
  uint32_t Next() {
    fState = fState * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(fState >> 33);
  }
  // Uniform in 0..n-1 (n small, bias irrelevant here).
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }

private:
  uint64_t fState;
};

using tGrid = std::vector<int64_t>; // row-major, kRows x kColumns

inline size_t At(int32_t row, int32_t col) {
  return static_cast<size_t>(row) * kColumns + static_cast<size_t>(col);
}

// A rounded bump: amplitude * r^2 / (r^2 + d^2), all in integers.
int64_t Bump(int32_t row, int32_t col, int32_t cRow, int32_t cCol, int64_t amplitude,
             int64_t radius) {
  const int64_t dr = row - cRow;
  const int64_t dc = col - cCol;
  const int64_t r2 = radius * radius;
  return amplitude * r2 / (r2 + dr * dr + dc * dc);
}

bool InLake(int32_t row, int32_t col) {
  const int32_t dr = row - 40;
  const int32_t dc = col - 100;
  return dr * dr * 4 + dc * dc * 3 <= 300; // a small ellipse north of the centre
}

struct tLandscape {
  tGrid elevationCm, forest, roads, coverTenths, landuse, frictionHundredths;
};

tLandscape BuildLandscape() {
  tLandscape l;
  const size_t n = static_cast<size_t>(kRows) * kColumns;
  l.elevationCm.assign(n, 0);
  l.forest.assign(n, 0);
  l.roads.assign(n, 0);
  l.coverTenths.assign(n, 0);
  l.landuse.assign(n, 0);
  l.frictionHundredths.assign(n, 0);

  // Elevation: a tilted plain with four hills and a valley.
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t c = 0; c < kColumns; ++c) {
      int64_t h = 30000 + 20 * c + 12 * r; // cm
      h += Bump(r, c, 35, 50, 9000, 28);
      h += Bump(r, c, 110, 150, 12000, 32);
      h += Bump(r, c, 120, 40, 5000, 20);
      h += Bump(r, c, 20, 170, 6500, 25);
      h -= Bump(r, c, 80, 100, 4000, 18);
      l.elevationCm[At(r, c)] = h;
    }

  // Roads: a gently sloping east-west road, a north-south road and a diagonal.
  for (int32_t c = 0; c < kColumns; ++c) l.roads[At(30 + c / 4, c)] += 1;
  for (int32_t r = 0; r < kRows; ++r) l.roads[At(r, 130)] += 1;
  for (int32_t c = 0; c <= 100; ++c) l.roads[At(kRows - 1 - c, c)] += 1;

  // Forest: where a smooth suitability field, with a little per-cell noise at
  // the edges, is high enough; never on roads or water.
  tLcg noise(20240517);
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t c = 0; c < kColumns; ++c) {
      int64_t s = Bump(r, c, 35, 50, 1000, 22) + Bump(r, c, 110, 150, 1000, 26) +
                  Bump(r, c, 125, 60, 700, 15) + Bump(r, c, 60, 175, 600, 12);
      s += noise.Below(240) - 120;
      const bool forest = s > 520 && l.roads[At(r, c)] == 0 && !InLake(r, c);
      l.forest[At(r, c)] = forest ? 1 : 0;
    }

  // Land use, canopy cover and friction follow from the above.
  tLcg cover(77);
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t c = 0; c < kColumns; ++c) {
      const size_t i = At(r, c);
      int lu;
      if (c >= kSurveyEdge)
        lu = luUnclassified;
      else if (InLake(r, c))
        lu = luWater;
      else if (l.roads[i] > 0)
        lu = luRoad;
      else if (l.forest[i] == 1)
        lu = luForest;
      else if (l.elevationCm[i] < 36000)
        lu = luCropland;
      else
        lu = luGrassland;
      l.landuse[i] = lu;

      int64_t tenths; // canopy cover, per cent x 10
      switch (lu) {
      case luForest: tenths = 600 + cover.Below(351); break;
      case luGrassland: tenths = cover.Below(151); break;
      case luCropland: tenths = cover.Below(51); break;
      default: tenths = 0; break;
      }
      l.coverTenths[i] = tenths;

      // Friction x 100, from what covers the ground (also east of the survey
      // boundary, where the land use is not classified).
      int64_t base;
      if (lu == luWater)
        base = 10000;
      else if (l.roads[i] > 0)
        base = 100;
      else if (l.forest[i] == 1)
        base = 200;
      else if (lu == luCropland)
        base = 1500;
      else
        base = 1000;
      // Higher ground is a little harder to cross.
      l.frictionHundredths[i] = base + base * (l.elevationCm[i] - 30000) / 50000;
    }
  return l;
}

struct tMapRecipe {
  std::string name;
  std::string title;
  tDataType dataType;
  tFlagDef flagDef;
  float flagValue;
  std::string valueUnits;
  tStringList legend;
  tStringList comments;
};

std::string LegendLine(int code, const std::string& text) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "code %6d : ", code);
  return buf + text;
}

// Writes one map through the raster classes: blank file, cells in memory,
// image saved, documentation rewritten with the value range of the valid cells.
void WriteMap(const fs::path& folder, const tMapRecipe& recipe, const tGrid& grid,
              int64_t divisor) {
  tLiveRaster map;
  map.FileName = (folder / recipe.name).string();
  map.Title = recipe.title;
  map.DataType = recipe.dataType;
  map.FileType = ftBinary;
  map.Columns = kColumns;
  map.Rows = kRows;
  map.MinX = kMinX;
  map.MaxX = kMaxX;
  map.MinY = kMinY;
  map.MaxY = kMaxY;
  map.RefSystem = "plane";
  map.RefUnits = "m";
  map.UnitCode = ruMeters;
  map.UnitDist = "1";
  map.PosError = "unknown";
  map.ValueUnits = recipe.valueUnits;
  map.ValueError = "unknown";
  map.FlagDef = recipe.flagDef;
  map.FlagValue = recipe.flagValue;
  map.Legend = recipe.legend;
  map.LegendCats = static_cast<int32_t>(recipe.legend.size());
  map.Comments = recipe.comments;
  map.Lineage = {"Synthetic example landscape written by make-examples."};

  map.FillConstant(0);
  map.LoadData();
  bool any = false;
  float lo = 0, hi = 0;
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t c = 0; c < kColumns; ++c) {
      const int64_t raw = grid[At(r, c)];
      // One exact division of two integers: the same float everywhere.
      const float v = divisor == 1 ? static_cast<float>(raw)
                                   : static_cast<float>(static_cast<double>(raw) /
                                                        static_cast<double>(divisor));
      map.SetCell(r, c, v);
      if (map.IsMissingValue(v)) continue;
      if (!any || v < lo) lo = v;
      if (!any || v > hi) hi = v;
      any = true;
    }
  map.SaveData();
  map.ReleaseData();
  map.MinValue = lo;
  map.MaxValue = hi;
  map.DisplayMin = lo;
  map.DisplayMax = hi;
  map.WriteDoc();
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw EInOutError("Cannot write " + file.string());
}

std::string Fixed(int64_t value, int decimals) {
  int64_t scale = 1;
  for (int k = 0; k < decimals; ++k) scale *= 10;
  const bool negative = value < 0;
  const int64_t a = negative ? -value : value;
  std::string s = (negative ? "-" : "") + std::to_string(a / scale);
  if (decimals > 0) {
    std::string frac = std::to_string(a % scale);
    s += "." + std::string(static_cast<size_t>(decimals) - frac.size(), '0') + frac;
  }
  return s;
}

bool UsableSite(const tLandscape& l, int32_t row, int32_t col) {
  return col < kSurveyEdge && l.landuse[At(row, col)] != luWater;
}

// Population data file: eight sampled populations at cell centres, with a
// genetic distance that grows with geographic distance plus noise, and the
// significance of each distance.
std::string PopulationFile(const tLandscape& l) {
  constexpr int n = 8;
  tLcg rng(4242);
  std::vector<int64_t> xs, ys; // decimetres
  while (static_cast<int>(xs.size()) < n) {
    const int32_t row = 8 + rng.Below(kRows - 16);
    const int32_t col = 8 + rng.Below(kSurveyEdge - 16);
    if (!UsableSite(l, row, col)) continue;
    xs.push_back(kMinX * 10 + static_cast<int64_t>(col) * kCell * 10 + kCell * 5);
    ys.push_back(kMaxY * 10 - static_cast<int64_t>(row) * kCell * 10 - kCell * 5);
  }
  std::vector<std::vector<int64_t>> gd(n, std::vector<int64_t>(n, 0));  // x 10000
  std::vector<std::vector<int64_t>> sig(n, std::vector<int64_t>(n, 0)); // x 1000
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < i; ++j) {
      const double dx = static_cast<double>(xs[i] - xs[j]);
      const double dy = static_cast<double>(ys[i] - ys[j]);
      const int64_t metres =
          static_cast<int64_t>(std::nearbyint(std::sqrt(dx * dx + dy * dy) / 10));
      const int64_t g = 150 + metres * 12 / 10 + rng.Below(300);
      const int64_t p = std::max<int64_t>(1, 500 - g / 5 + rng.Below(40));
      gd[i][j] = gd[j][i] = g;
      sig[i][j] = sig[j][i] = p;
    }
  const std::string eol = "\r\n";
  std::string s = "[Sample size]" + eol + std::to_string(n) + eol + "[Coordinates]" + eol;
  for (int i = 0; i < n; ++i) s += Fixed(xs[i], 1) + "\t" + Fixed(ys[i], 1) + eol;
  s += "[Genetic distance]" + eol;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) s += (j ? "\t" : "") + Fixed(gd[i][j], 4);
    s += eol;
  }
  s += "[Significance]" + eol;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) s += (j ? "\t" : "") + Fixed(sig[i][j], 3);
    s += eol;
  }
  return s;
}

// Location sequence file: two individuals, six fixes each, four hours apart,
// moving in short steps that stay inside the surveyed part of the map.
std::string SequenceFile() {
  const std::string eol = "\r\n";
  std::string s = "X\tY\tID\tDay\tMonth\tYear\tHour\tMinute\tSecond" + eol;
  tLcg rng(31337);
  const int64_t loX = (kMinX + 50) * 10, hiX = (kMinX + kSurveyEdge * kCell - 50) * 10;
  const int64_t loY = (kMinY + 50) * 10, hiY = (kMaxY - 50) * 10;
  struct tStart {
    int id;
    int64_t x, y;
    int day, hour;
  };
  const tStart starts[] = {{1, (kMinX + 420) * 10, (kMinY + 1100) * 10, 3, 6},
                           {2, (kMinX + 1500) * 10, (kMinY + 350) * 10, 4, 5}};
  for (const tStart& st : starts) {
    int64_t x = st.x, y = st.y;
    for (int k = 0; k < 6; ++k) {
      const int hour = (st.hour + 4 * k) % 24;
      const int day = st.day + (st.hour + 4 * k) / 24;
      const int minute = rng.Below(60);
      const int second = rng.Below(60);
      s += Fixed(x, 1) + "\t" + Fixed(y, 1) + "\t" + std::to_string(st.id) + "\t" +
           std::to_string(day) + "\t5\t2021\t" + std::to_string(hour) + "\t" +
           std::to_string(minute) + "\t" + std::to_string(second) + eol;
      x = std::clamp<int64_t>(x + 10 * (rng.Below(401) - 200), loX, hiX);
      y = std::clamp<int64_t>(y + 10 * (rng.Below(401) - 200), loY, hiY);
    }
  }
  return s;
}

void MakeExamples(const fs::path& folder) {
  // Always the current generation (".rst"/".rdc"), whatever sits next to the program.
  SetIdrisiExtensions(false);
  fs::create_directories(folder);
  const tLandscape l = BuildLandscape();

  tGrid forest = l.forest;
  tGrid cover = l.coverTenths;
  for (int32_t r = 0; r < kRows; ++r)
    for (int32_t c = 0; c < kColumns; ++c) {
      if (c >= kSurveyEdge) {
        forest[At(r, c)] = 255;
        cover[At(r, c)] = -99990;
      } else if (InLake(r, c)) {
        cover[At(r, c)] = -99990;
      }
    }

  const tStringList survey = {"Cells east of the survey boundary are background."};
  WriteMap(folder,
           {"forest_BL",
            "Forest presence",
            dtByte,
            fdBackground,
            255,
            "presence",
            {LegendLine(0, "open land"), LegendLine(1, "forest")},
            survey},
           forest, 1);
  WriteMap(folder,
           {"roads_NB",
            "Number of roads per cell",
            dtInteger,
            fdNone,
            0,
            "roads",
            {},
            {"Crossings count every road that passes through the cell."}},
           l.roads, 1);
  WriteMap(folder,
           {"cover_QT",
            "Canopy cover",
            dtReal,
            fdBackground,
            -9999,
            "per cent",
            {},
            {"The lake and the cells east of the survey boundary are background."}},
           cover, 10);
  WriteMap(folder, {"dem", "Elevation", dtReal, fdNone, 0, "m", {}, {"Smooth synthetic hills."}},
           l.elevationCm, 100);
  WriteMap(folder,
           {"friction",
            "Movement friction",
            dtReal,
            fdNone,
            0,
            "cost per cell",
            {},
            {"Low in the forest and on roads, high on water, rising with elevation."}},
           l.frictionHundredths, 100);
  WriteMap(folder,
           {"landuse_CL",
            "Land use",
            dtByte,
            fdBackground,
            0,
            "category",
            {LegendLine(0, "unclassified"), LegendLine(1, "forest"), LegendLine(2, "grassland"),
             LegendLine(3, "cropland"), LegendLine(4, "water"), LegendLine(5, "road")},
            survey},
           l.landuse, 1);

  WriteText(folder / "samples.txt", PopulationFile(l));
  WriteText(folder / "tracks.txt", SequenceFile());
  WriteText(folder / "maps.txt", "forest_BL\r\nroads_NB\r\n");
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make-examples OUTDIR\n";
    return 2;
  }
  try {
    MakeExamples(argv[1]);
  } catch (const std::exception& e) {
    std::cerr << "make-examples: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
