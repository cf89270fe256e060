#pragma once
// The window's calls into the chart and map windows, in one place. Each
// returns the new top-level window (deleted when closed).
#include "analysis/LocationSequence.h"
#include "base/CommonDecl.h"

#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace stravex::gui {

// "Patch map": the sample points of a population file.
QWidget* ShowPatchMapView(const stravex::t2DPoints& points);
// One line per individual of a location sequence.
QWidget* ShowTracksView(const stravex::tLocations& locations);
// A map in its own window with the sample points on top; corridor maps are
// shown with the "Fire" palette. Core errors reading the map propagate.
QWidget* ShowMapView(const std::string& mapFile, bool corridor,
                     const std::vector<std::pair<double, double>>& points);

} // namespace stravex::gui
