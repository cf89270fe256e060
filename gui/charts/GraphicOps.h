#pragma once
// Chart windows for quick looks at input data (the data view of the main
// window). Their exports (included here) and pop-up menu have their own files.
#include <QAction>
#include <QChartView>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

#include "ChartExport.h"
#include "Metafile.h"
#include "analysis/LocationSequence.h"
#include "base/CommonDecl.h"

#include <QFontMetrics>
#include <QTabWidget>
class QValueAxis;
class QXYSeries;

namespace stravex::gui {

class tGraphPopUp;

// Margins of the plot in percent of the chart's client size.
struct tPercentMargins {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool operator==(const tPercentMargins&) const = default;
};

// The equal-scale layout: one unit across as long as one unit up. Spaces are
// the pixels each axis takes (labels and title); a space of 0 counts as 5.
// Empty when both ranges are 0. Roundings are to nearest, halves to even.
std::optional<tPercentMargins> EqualScaleMargins(double clientWidth, double clientHeight,
                                                 double xRange, double yRange, double leftSpace,
                                                 double rightSpace, double topSpace,
                                                 double bottomSpace);

// Tick marks of an axis at a round interval (1, 2 or 5 times a power of
// ten): the smallest interval whose labels keep clear of each other on the
// pixels the axis has. Labels have the decimals the interval needs.
struct tAxisTicks {
  double First = 0, Interval = 1;
  int Decimals = 0, Count = 0;
  double Value(int k) const { return First + k * Interval; }
  QString Label(int k) const;
};
tAxisTicks RoundTicks(double min, double max, double pixels, bool vertical,
                      const QFontMetrics& metrics);

class tGraphicChart : public QChartView {
  Q_OBJECT
public:
  // No container: a window of its own (caption = title, or "Graphic"), 400 x 400,
  // shown at once and freed when closed. A QTabWidget: a new current page
  // captioned the same way. Any other widget: placed in it (and in its layout).
  explicit tGraphicChart(QWidget* container = nullptr, const QString& title = QString(),
                         const QString& xTitle = QString(), const QString& yTitle = QString());

  QStringList Metadata;
  // Called after every click on a series, once the selection is updated.
  std::function<void(int series)> OnClickSeries;
  // Whether "&Close graph" is enabled; false for every chart the system makes.
  bool Closable = false;

  int SeriesCount() const;
  QXYSeries* Series(int index) const;
  QValueAxis* AxisX() const { return fAxisX; }
  QValueAxis* AxisY() const { return fAxisY; }

  // Circles of 3 x 3 pixels, or a line through the points in their order; the
  // colour is number (series count - 1) of "Qualitative 1024".
  QXYSeries* AddPoints(const QString& title, const stravex::t2DPoints& points);
  QXYSeries* AddLine(const QString& title, const stravex::t2DPoints& points);

  // -1 for none. The selected series is drawn 2 pixels wide, the others 1.
  int SelectedSeries() const { return fSelected; }
  void SelectSeries(int index);
  // What a click on a series does: selects it, or deselects it when it was
  // selected; then calls OnClickSeries.
  void ClickSeries(int index);

  bool EqualScales() const { return fEqualScales; }
  void SetEqualScales(bool on);
  // The margins last applied by the equal-scale layout.
  std::optional<tPercentMargins> AppliedMargins() const { return fApplied; }

  // Fits the axes to the data with room for the markers: the data fill at
  // most 1 % to 99 % of the plot height, and no point lies closer to an edge
  // of the plot than its marker's radius and outline (EdgePixels).
  void FitAxes();
  // Pixels between the outermost data and the plot's edges.
  double EdgePixels() const;
  const tAxisTicks& TicksX() const { return fTicksX; }
  const tAxisTicks& TicksY() const { return fTicksY; }

  // The chart as vector shapes, in the pixels of its current size.
  metafile::tDrawing Drawing() const;

  // Its pop-up menu, made at the first right click.
  tGraphPopUp& PopUp();

  // The page control holding the chart, if any.
  QTabWidget* Pages() const { return fPages; }

protected:
  void resizeEvent(QResizeEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

private:
  QXYSeries* Add(QXYSeries* s, const QString& title, const stravex::t2DPoints& points);
  void ApplyEqualScales();
  // Ranges, equal-scale plot and ticks follow each other until they settle.
  void Relayout();
  // The plot's pixels: the equal-scale plot, else the chart's, else a guess
  // from the view before its first layout.
  QSizeF PlotPixels() const;
  void SetRanges(const QSizeF& plot);
  void SetTicks(const QSizeF& plot);
  void RefreshPens();
  double AxisSpace(const QValueAxis* axis, bool vertical) const;
  double RightSpace() const;

  QValueAxis* fAxisX;
  QValueAxis* fAxisY;
  int fSelected = -1;
  bool fEqualScales = false;
  std::optional<tPercentMargins> fApplied;
  // The data's extent, without the margins.
  double fMinX = 0, fMaxX = 1, fMinY = 0, fMaxY = 1;
  tAxisTicks fTicksX, fTicksY;
  bool fLayingOut = false;
  QPointer<QTabWidget> fPages;
  tGraphPopUp* fPopUp = nullptr; // a child: goes with the chart
};

// A point series added to container when it is a chart, else to a new chart
// made as the constructor does (titled title). Returns the chart.
tGraphicChart* AddPointSeries(const stravex::t2DPoints& points, QWidget* container,
                              const QString& title, const QString& xTitle, const QString& yTitle);

// The data view of the main window. The sample points as a chart "Patch map"
// (small circles, equal scales, vertical axis inverted); the tracks of a
// location sequence, one line per run of equal IDs in file order.
tGraphicChart* ShowPatchMap(const stravex::t2DPoints& points, QWidget* container = nullptr);
struct tTrackPoint {
  double X = 0, Y = 0;
  uint32_t ID = 0;
};
tGraphicChart* ShowTracks(const std::vector<tTrackPoint>& locations, QWidget* container = nullptr);
tGraphicChart* ShowTracks(const stravex::tLocations& locations, QWidget* container = nullptr);

} // namespace stravex::gui
