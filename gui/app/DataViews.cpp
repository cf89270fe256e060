#include "DataViews.h"

// Filled in with the chart library's windows.
void ShowPatchMapView(const stravex::t2DPoints&, QWidget*) {}
void ShowTracksView(const stravex::tLocations&, QWidget*) {}
void ShowMapView(const stravex::tRaster&, bool, const std::vector<std::pair<double, double>>&, QWidget*) {}
