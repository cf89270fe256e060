#include "analysis/PointGrids.h"

#include "analysis/MapSet.h"
#include "analysis/RunSupport.h"
#include "base/Numeric.h"

namespace stravex {

std::vector<const tRaster*> PointGrids(const tMapSet& maps, const tRaster* friction) {
  if (friction) return {friction};
  std::vector<const tRaster*> grids;
  if (!maps.BinaryMaps.empty()) grids.push_back(maps.BinaryMaps.front().get());
  if (!maps.QuantitativeMaps.empty()) grids.push_back(maps.QuantitativeMaps.front().get());
  if (maps.TopographyMap) grids.push_back(maps.TopographyMap.get());
  return grids;
}

bool OnEveryGrid(const std::vector<const tRaster*>& grids, double x, double y) {
  for (const tRaster* g : grids)
    if (!PointOnGrid(*g, x, y)) return false;
  return true;
}

std::string NoPointOnMapNote(const t2DPoints& points, const std::string& noun,
                             const std::vector<const tRaster*>& grids) {
  if (grids.empty()) return {};
  const tRaster* named = grids.front();
  for (const tRaster* g : grids) {
    bool any = false;
    for (const t2DPoint& p : points) any = any || PointOnGrid(*g, p.x, p.y);
    if (!any) {
      named = g;
      break;
    }
  }
  const tRaster& m = *named;
  std::string system = m.RefSystem.empty() ? "no reference system" : m.RefSystem;
  if (!m.RefUnits.empty() && m.RefUnits != "unspecified") system += ", " + m.RefUnits;
  const std::string where = "the map " + m.MapName() + " (x " + FormatGeneral(m.MinX) + ".." +
                            FormatGeneral(m.MaxX) + ", y " + FormatGeneral(m.MinY) + ".." +
                            FormatGeneral(m.MaxY) + ", " + system + ")";
  if (points.size() == 1)
    return ". The only " + noun + " does not lie on " + where +
           ": is it in the map's coordinate system?";
  return ". None of the " + std::to_string(points.size()) + " " + noun + "s lies on " + where +
         ": are the " + noun + "s in the map's coordinate system?";
}

} // namespace stravex
