#pragma once
// The environmental maps of a run: binary and count maps, quantitative maps
// and one topography map, all held in memory, plus the friction-map check.
#include "base/Reporter.h"
#include "raster/Raster.h"

#include <memory>
#include <string>
#include <vector>

namespace stravex {

inline constexpr const char* kCannotLoadAllMaps =
    "Cannot load all maps into memory. Try to reduce the number of maps.";

class tMapSet {
public:
  std::vector<std::unique_ptr<tLiveRaster>> BinaryMaps;
  std::vector<std::unique_ptr<tLiveRaster>> QuantitativeMaps;
  std::unique_ptr<tLiveRaster> TopographyMap;
  // BinaryMaps, then QuantitativeMaps, then the topography map; a view.
  std::vector<tRaster*> AllMaps;

  void BuildMapList();
  // Every map converts points to cells by this rule.
  void SetCellRule(tCellRule rule);
  int MapCount() const;
  // The scanners' view of one role.
  std::vector<tRaster*> Binary() const;
  std::vector<tRaster*> Quantitative() const;

  // Replaces the role's maps with those of names that pass the checks (binary
  // image type, overlay with the map accepted before); refusals are shown
  // through reporter.ErrorBox and skipped. Progress and the "Verifying maps"
  // label go to the reporter. Errors other than refusals propagate, leaving
  // the maps accepted before them.
  void LoadBinaryMaps(const std::vector<std::string>& names, tReporter& reporter);
  void LoadQuantitativeMaps(const std::vector<std::string>& names, tReporter& reporter);
  // Appends the maps of names that pass the same checks, the first compared
  // with the role's last map. An error other than a refusal leaves the role as
  // it was before the call and propagates.
  void AddBinaryMaps(const std::vector<std::string>& names, tReporter& reporter);
  void AddQuantitativeMaps(const std::vector<std::string>& names, tReporter& reporter);
  // Returns false (after an error box) when the map is refused.
  bool LoadTopographyMap(const std::string& name, tReporter& reporter);
  // Checks a friction map against the first map of AllMaps (rebuilt first);
  // false, after an error box, when it is refused.
  bool CheckFrictionMap(const std::string& name, tReporter& reporter);

  // The binary maps' names, one per line, CR LF; the file is replaced atomically.
  void SaveMapList(const std::string& fileName) const;
  // The names of a map-list file; blank lines are skipped.
  static std::vector<std::string> ReadMapList(const std::string& fileName);
};

} // namespace stravex
