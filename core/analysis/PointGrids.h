#pragma once
// The maps whose grids a run's sample points must fall on, and what the
// outside-points error adds when none of them does.
#include "base/CommonDecl.h"
#include "raster/Raster.h"

#include <string>
#include <vector>

namespace stravex {

class tMapSet;

// The grids a run turns its points into cells on: the friction map when the
// run has one; else (strips) the first binary map, the first quantitative map
// and the topography map, as each strip scanner converts with its own (the
// roles are not checked against each other). Empty when there is none.
std::vector<const tRaster*> PointGrids(const tMapSet& maps, const tRaster* friction);

// True when (x, y) falls on a cell of every grid.
bool OnEveryGrid(const std::vector<const tRaster*>& grids, double x, double y);

// The sentence (". None of the ...") that ends the outside-points error when
// none of the points lies on the grids: it names the first grid that none of them lies on (else
// the first), its extent and reference system, so that points in another
// coordinate system show as such. `noun` is "point" or "location".
std::string NoPointOnMapNote(const t2DPoints& points, const std::string& noun,
                             const std::vector<const tRaster*>& grids);

} // namespace stravex
