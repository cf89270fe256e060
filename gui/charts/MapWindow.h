#pragma once
// A window showing one raster map over an optional background map, with the
// sample points and their labels on top, a legend, zoom and pan, and a status
// bar telling the cell under the mouse; right click opens the map pop-up menu.
#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ColorOps.h"
#include "MapStretch.h"
#include "MapWindowBase.h"
#include "raster/Raster.h"

class QComboBox;
class QStatusBar;
class QToolButton;

namespace stravex::gui {

// What a map window shows.
struct tMapViewInput {
  std::string MapFile;
  // A corridor map: counts of paths per cell, "Fire" on a logarithmic
  // stretch from 0, cells no path crosses (0) transparent.
  bool Corridor = false;
  // Sample points in map units, and their labels (same order; missing or
  // empty labels are not written).
  std::vector<std::pair<double, double>> Points;
  std::vector<std::string> Labels;
  // The map drawn underneath in grey; empty: none.
  std::string BackgroundFile;
  // The maps offered as background besides none (the background is added
  // when it is not among them).
  std::vector<std::string> BackgroundChoices;
  // The window the new one is placed over (its screen); null: the active window.
  QWidget* Anchor = nullptr;
};

class tMapCanvas;

class TMapWindow : public tMapWindowBase {
  Q_OBJECT
public:
  // Reads the map and the background (core errors propagate, an unreadable
  // background only leaves none). Other maps than corridor maps are shown
  // "Grey shade" on a linear stretch; missing cells are transparent.
  explicit TMapWindow(const tMapViewInput& input, QWidget* parent = nullptr);
  TMapWindow(const std::string& mapFile, const std::vector<std::pair<double, double>>& points,
             bool corridor, QWidget* parent = nullptr);
  ~TMapWindow() override;

  // One pixel per cell, row 0 at the top (the MaxY edge), without points.
  const QImage& MapImage() const { return fTop.Image; }
  // The map with the sample points drawn on it, one pixel per cell.
  QImage RenderImage() const;
  // Lowest and highest value of the cells that are not missing (0 and 0 when
  // all are), zeros of a corridor map included.
  double MinValue() const { return fTop.Range ? fTop.Range->Lo : 0; }
  double MaxValue() const { return fTop.Range ? fTop.Range->Hi : 0; }
  const tPalette& Colors() const { return fTop.Colours; }
  // The sample points in cell units (column, row), fractions kept.
  const std::vector<std::pair<double, double>>& PointCells() const { return fPointCells; }
  const std::vector<std::string>& PointLabels() const { return fLabels; }
  bool Corridor() const { return fCorridor; }

  // Display choices; each recolours the map once.
  void SetStretch(tStretchKind kind);
  tStretchKind Stretch() const { return fTop.Kind; }
  void SetPaletteIndex(int index);
  int PaletteIndex() const { return fTop.PaletteIndex; }
  const std::optional<tMapStretch>& Scale() const { return fTop.Stretch; }
  // Another background map, or none for an empty name; an unreadable one
  // raises and keeps the current one.
  void SetBackground(const std::string& mapFile);
  const QImage& BackgroundImage() const { return fBack.Image; }
  // The background's file as it was named; empty for none.
  const std::string& BackgroundFile() const { return fBack.Source; }
  // The legend's unit: the map's value units, or "paths per cell" for a
  // corridor map without any.
  QString Unit() const;

  // The view: canvas position = Origin() + (column, row) * Zoom().
  double Zoom() const { return fZoom; }
  QPointF Origin() const { return fOrigin; }
  // The whole map in the map area, centred.
  void Fit();
  // Zoom by factor keeping the map point under canvas position at fixed.
  void ZoomAt(QPointF at, double factor);
  void PanBy(QPointF delta);
  QPointF CellAt(QPointF canvasPos) const { return (canvasPos - fOrigin) / fZoom; }
  QPointF CanvasPos(QPointF cell) const { return fOrigin + cell * fZoom; }
  // The part of the canvas the map is drawn in (the legend takes the rest).
  QRectF MapArea() const;
  // The status bar's text for the cell under a canvas position.
  QString StatusText(QPointF canvasPos) const;
  QString StatusMessage() const;
  QWidget* Canvas() const;

  bool HasMap() const override { return true; }
  void SaveImageFile(const QString& fileName) override;
  void SaveDataFile(const QString& fileName) override;
  QStringList MetadataLines() const override;

  // Sizes w to fit the available geometry of the anchor's screen (the primary
  // one without) and moves it to lie wholly on it, over the anchor when given.
  static void PlaceOnScreen(QWidget* w, const QWidget* anchor);

protected:
  void contextMenuEvent(QContextMenuEvent* e) override;

private:
  friend class tMapCanvas;
  struct tLayer {
    std::unique_ptr<stravex::tLiveRaster> Map;
    QImage Image;
    // Halved images (each cell the highest of its 2 x 2 cells) for corridor
    // maps, so that a path one cell wide stays visible zoomed out.
    std::vector<QImage> Overviews;
    tStretchKind Kind = skLinear;
    int PaletteIndex = piGreyShade;
    tPalette Colours;
    tCellMask Mask;
    std::optional<double> Lowest;
    std::optional<tValueRange> Range;
    std::optional<tMapStretch> Stretch;
    bool Pyramid = false;
    std::string Source; // the file as named
    // Its extent in the top map's cell units.
    QRectF Cells;
  };
  // Reads the stretch's reals into the layer's image and colours them.
  static void Recolour(tLayer& layer);
  // A background layer, read and coloured; safe off the window's thread.
  static tLayer ReadBackground(const std::string& mapFile);
  void ShowBackground(tLayer layer);
  void DrawLayer(QPainter& p, const tLayer& layer, const QRectF& area) const;
  void Paint(QPainter& p, const QRect& canvas) const;
  void PaintLegend(QPainter& p, const QRectF& box) const;
  QString LayerValue(const tLayer& layer, QPointF topCell) const;
  void UpdateStatus(QPointF canvasPos);
  void Build(const tMapViewInput& input);

  tLayer fTop, fBack;
  bool fCorridor = false;
  std::vector<std::pair<double, double>> fPointCells;
  std::vector<std::string> fLabels;
  double fZoom = 1;
  QPointF fOrigin;
  bool fFitted = true; // refits on resize until the user zooms or pans

  tMapCanvas* fCanvas = nullptr;
  QComboBox* fBackgroundBox = nullptr;
  QComboBox* fStretchBox = nullptr;
  QComboBox* fPaletteBox = nullptr;
  QToolButton* fFitButton = nullptr;
  QStatusBar* fStatus = nullptr;
};

} // namespace stravex::gui
