#include "DataViews.h"

#include "GraphicOps.h"

namespace stravex::gui {

QWidget* ShowPatchMapView(const stravex::t2DPoints& points) { return ShowPatchMap(points); }

QWidget* ShowTracksView(const stravex::tLocations& locations) { return ShowTracks(locations); }

QWidget* ShowMapView(const tMapViewInput& input) {
  auto* w = new TMapWindow(input);
  w->setAttribute(Qt::WA_DeleteOnClose);
  w->show();
  return w;
}

} // namespace stravex::gui
