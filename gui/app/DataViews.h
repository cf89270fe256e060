#pragma once
// The window's calls into the chart and map windows, in one place.
#include "CommonDecl.h"
#include "LocationSequence.h"
#include "Raster.h"

#include <utility>
#include <vector>

class QWidget;

// "Patch map": the sample points of a population file.
void ShowPatchMapView(const stravex::t2DPoints& points, QWidget* owner);
// One line per individual of a location sequence.
void ShowTracksView(const stravex::tLocations& locations, QWidget* owner);
// A map in its own window with the sample points on top; corridor maps are
// shown with the "Fire" palette.
void ShowMapView(const stravex::tRaster& map, bool corridor, const std::vector<std::pair<double, double>>& points,
                 QWidget* owner);
