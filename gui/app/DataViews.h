#pragma once
// The window's calls into the chart and map windows, in one place. Each
// returns the new top-level window (deleted when closed).
#include "MapWindow.h"
#include "analysis/LocationSequence.h"
#include "base/CommonDecl.h"

class QWidget;

namespace stravex::gui {

// "Patch map": the sample points of a population file.
QWidget* ShowPatchMapView(const stravex::t2DPoints& points);
// One line per individual of a location sequence.
QWidget* ShowTracksView(const stravex::tLocations& locations);
// A map in its own window over its background, with the labelled sample
// points on top. Core errors reading the map propagate.
QWidget* ShowMapView(const tMapViewInput& input);

} // namespace stravex::gui
