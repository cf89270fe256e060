#include "analysis/MapSet.h"

#include "analysis/PopulationFile.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"
#include "base/Numeric.h"
#include "raster/GdalMap.h"

#include <new>

namespace stravex {

namespace {

const char* const kNotBinary = " is not in binary format.";
const char* const kNoOverlay = " cannot be overlaid on the previous maps.";
const char* const kNoOverlayFriction = " cannot be overlaid on the ecogeographical maps.";

std::string GeometryText(const tRaster& m) {
  return m.MapName() + ": " + std::to_string(m.Columns) + " columns, " + std::to_string(m.Rows) +
         " rows, X " + FormatGeneral(m.MinX) + " to " + FormatGeneral(m.MaxX) + ", Y " +
         FormatGeneral(m.MinY) + " to " + FormatGeneral(m.MaxY) + ", reference system \"" +
         m.RefSystem + "\"";
}

// The refusal names what differs and both geometries, so the user can tell
// which map to fix.
std::string NoOverlay(const tRaster& map, const tRaster& other, const char* refusal) {
  std::string differ;
  for (const std::string& d : GeometryDifferences(map, other))
    differ += (differ.empty() ? "" : ", ") + d;
  return map.MapName() + refusal + " Differs in " + differ + ": " + GeometryText(map) + "; " +
         GeometryText(other) + ".";
}

// Loading ends, whatever the way out, with the idle label and an empty bar.
class tLoadingLabel {
public:
  explicit tLoadingLabel(tReporter& r) : fReporter(r) {
    fReporter.TaskLabel("Verifying maps");
    fReporter.Progress(0);
  }
  ~tLoadingLabel() {
    try {
      fReporter.TaskLabel("Ready");
      fReporter.Progress(0);
    } catch (...) {
    }
  }
  tLoadingLabel(const tLoadingLabel&) = delete;
  tLoadingLabel& operator=(const tLoadingLabel&) = delete;

private:
  tReporter& fReporter;
};

// LoadData, with running out of memory turned into the one message the user
// can act on.
void LoadCells(tLiveRaster& map) {
  try {
    map.LoadData();
  } catch (const EOutOfMemory&) {
    throw EOutOfMemory(kCannotLoadAllMaps);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(kCannotLoadAllMaps);
  }
}

void LoadRole(std::vector<std::unique_ptr<tLiveRaster>>& role,
              const std::vector<std::string>& names, tReporter& reporter, bool append = false) {
  if (!append) role.clear();
  tLoadingLabel label(reporter);
  role.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto map = OpenLiveMap(names[i]);
    if (map->FileType != ftBinary) {
      reporter.ErrorBox(map->MapName() + kNotBinary);
      continue;
    }
    // Compared with the map accepted last, not with the first one.
    if (!role.empty() && !SameGeometry(*map, *role.back())) {
      reporter.ErrorBox(NoOverlay(*map, *role.back(), kNoOverlay));
      continue;
    }
    try {
      LoadCells(*map);
    } catch (const EOutOfMemory&) {
      if (!append) role.clear();
      throw;
    }
    role.push_back(std::move(map));
    reporter.Progress(static_cast<int>(
        RoundHalfEven(static_cast<double>(i + 1) / static_cast<double>(names.size()) * 100.0)));
  }
  role.shrink_to_fit();
}

std::vector<tRaster*> View(const std::vector<std::unique_ptr<tLiveRaster>>& role) {
  std::vector<tRaster*> v;
  v.reserve(role.size());
  for (const auto& m : role) v.push_back(m.get());
  return v;
}

} // namespace

void tMapSet::SetCellRule(tCellRule rule) {
  for (auto& m : BinaryMaps) m->CellRule = rule;
  for (auto& m : QuantitativeMaps) m->CellRule = rule;
  if (TopographyMap) TopographyMap->CellRule = rule;
}

void tMapSet::BuildMapList() {
  AllMaps = View(BinaryMaps);
  for (const auto& m : QuantitativeMaps) AllMaps.push_back(m.get());
  if (TopographyMap) AllMaps.push_back(TopographyMap.get());
}

int tMapSet::MapCount() const {
  return static_cast<int>(BinaryMaps.size() + QuantitativeMaps.size()) + (TopographyMap ? 1 : 0);
}

std::vector<tRaster*> tMapSet::Binary() const { return View(BinaryMaps); }

std::vector<tRaster*> tMapSet::Quantitative() const { return View(QuantitativeMaps); }

void tMapSet::LoadBinaryMaps(const std::vector<std::string>& names, tReporter& reporter) {
  AllMaps.clear(); // the view would dangle once the old maps go
  LoadRole(BinaryMaps, names, reporter);
}

void tMapSet::LoadQuantitativeMaps(const std::vector<std::string>& names, tReporter& reporter) {
  AllMaps.clear();
  LoadRole(QuantitativeMaps, names, reporter);
}

namespace {
// An added batch goes in whole or not at all: the maps already there never go.
void AddToRole(std::vector<std::unique_ptr<tLiveRaster>>& role,
               const std::vector<std::string>& names, tReporter& reporter) {
  const std::size_t before = role.size();
  try {
    LoadRole(role, names, reporter, true);
  } catch (...) {
    role.resize(before);
    throw;
  }
}
} // namespace

void tMapSet::AddBinaryMaps(const std::vector<std::string>& names, tReporter& reporter) {
  AllMaps.clear();
  AddToRole(BinaryMaps, names, reporter);
}

void tMapSet::AddQuantitativeMaps(const std::vector<std::string>& names, tReporter& reporter) {
  AllMaps.clear();
  AddToRole(QuantitativeMaps, names, reporter);
}

bool tMapSet::LoadTopographyMap(const std::string& name, tReporter& reporter) {
  AllMaps.clear();
  TopographyMap.reset();
  tLoadingLabel label(reporter);
  auto map = OpenLiveMap(name);
  if (map->FileType != ftBinary) {
    reporter.ErrorBox(map->MapName() + kNotBinary);
    return false;
  }
  LoadCells(*map);
  TopographyMap = std::move(map);
  return true;
}

bool tMapSet::CheckFrictionMap(const std::string& name, tReporter& reporter) {
  BuildMapList();
  const std::unique_ptr<tRaster> opened = OpenMap(name);
  const tRaster& map = *opened;
  if (map.FileType != ftBinary) {
    reporter.ErrorBox(map.MapName() + kNotBinary);
    return false;
  }
  if (!AllMaps.empty() && !SameGeometry(map, *AllMaps.front())) {
    reporter.ErrorBox(NoOverlay(map, *AllMaps.front(), kNoOverlayFriction));
    return false;
  }
  return true;
}

void tMapSet::SaveMapList(const std::string& fileName) const {
  std::string text;
  for (const auto& m : BinaryMaps) text += m->MapName() + "\r\n";
  WriteFileAtomically(fileName, text);
}

std::vector<std::string> tMapSet::ReadMapList(const std::string& fileName) {
  const std::string text = tTextScanner::LoadFile(fileName);
  std::vector<std::string> names;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    // CR of a CR LF end and trailing blanks are no part of a file name; a
    // blank line names no map.
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    if (!line.empty()) names.push_back(std::move(line));
  }
  return names;
}

} // namespace stravex
