#include "DataViews.h"

#include "GraphicOps.h"
#include "MapWindow.h"

QWidget* ShowPatchMapView(const stravex::t2DPoints& points) { return ShowPatchMap(points); }

QWidget* ShowTracksView(const stravex::tLocations& locations) {
  std::vector<tTrackPoint> track;
  track.reserve(locations.size());
  for (const stravex::tLocation& l : locations) track.push_back({l.X, l.Y, l.ID});
  return ShowTracks(track);
}

QWidget* ShowMapView(const std::string& mapFile, bool corridor, const std::vector<std::pair<double, double>>& points) {
  auto* w = new TMapWindow(mapFile, points, corridor);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->show();
  return w;
}
