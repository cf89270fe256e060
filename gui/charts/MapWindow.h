#pragma once
// A window showing one raster map coloured with a palette, with optional
// sample points on top and a colour bar; right click opens the map pop-up menu.
#include <QImage>
#include <QString>

#include <string>
#include <utility>
#include <vector>

#include "ColorOps.h"
#include "GraphicOps.h"
#include "MapWindowBase.h"

namespace stravex::gui {

class TMapWindow : public tMapWindowBase {
  Q_OBJECT
public:
  // Reads the map (documentation and image; core errors propagate). Corridor
  // maps are coloured "Fire", other maps "Grey shade"; missing cells are
  // transparent. points are in map units.
  TMapWindow(const std::string& mapFile, const std::vector<std::pair<double, double>>& points,
             bool corridor, QWidget* parent = nullptr);

  // One pixel per cell, row 0 at the top (the MaxY edge), without points.
  const QImage& MapImage() const { return fImage; }
  // The map with the sample points drawn on it, one pixel per cell.
  QImage RenderImage() const;
  // Lowest and highest value of the cells that are not missing (0 and 0 when all are).
  double MinValue() const { return fMin; }
  double MaxValue() const { return fMax; }
  const tPalette& Colors() const { return fPalette; }
  // The sample points in cell units (column, row), fractions kept.
  const std::vector<std::pair<double, double>>& PointCells() const { return fPointCells; }

protected:
  void paintEvent(QPaintEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

private:
  QRect MapRect() const;

  QImage fImage;
  tPalette fPalette;
  double fMin = 0, fMax = 0;
  std::vector<std::pair<double, double>> fPointCells;
};

} // namespace stravex::gui
