#include "DataViews.h"

#include "GraphicOps.h"
#include "MapWindow.h"

namespace stravex::gui {

QWidget* ShowPatchMapView(const stravex::t2DPoints& points) { return ShowPatchMap(points); }

QWidget* ShowTracksView(const stravex::tLocations& locations) { return ShowTracks(locations); }

QWidget* ShowMapView(const std::string& mapFile, bool corridor,
                     const std::vector<std::pair<double, double>>& points) {
  auto* w = new TMapWindow(mapFile, points, corridor);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->show();
  return w;
}

} // namespace stravex::gui
