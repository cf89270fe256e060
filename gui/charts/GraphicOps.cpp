#include "GraphicOps.h"

#include <QApplication>
#include <QBuffer>
#include <QChart>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QInputDialog>
#include <QLayout>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

#include "ColorOps.h"
#include "PopUpMenus.h"
#include "analysis/ReportWriter.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"

namespace stravex::gui {

namespace {

const tPalette& SeriesPalette() {
  static const tPalette palette = Palette(piQualitative1024);
  return palette;
}

metafile::tColor ToColor(const QColor& c) {
  return {static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
          static_cast<uint8_t>(c.blue())};
}

metafile::tPoint ToPoint(const QPointF& p) {
  auto clampInt = [](double v) {
    return static_cast<int>(std::lround(std::clamp(v, -1.0e9, 1.0e9)));
  };
  return {clampInt(p.x()), clampInt(p.y())};
}

int DecimalsOf(double interval) {
  return std::clamp(static_cast<int>(-std::floor(std::log10(interval) + 1e-9)), 0, 15);
}

} // namespace

QString tAxisTicks::Label(int k) const {
  QString s = QString::number(Value(k), 'f', Decimals);
  if (s.startsWith('-') && s.count(QRegularExpression("[1-9]")) == 0) s.remove(0, 1); // no "-0.0"
  return s;
}

tAxisTicks RoundTicks(double min, double max, double pixels, bool vertical,
                      const QFontMetrics& metrics) {
  tAxisTicks t;
  const double span = max - min;
  if (!(span > 0) || !std::isfinite(span)) {
    t.First = min;
    t.Count = 1;
    return t;
  }
  const auto make = [&](double interval) {
    tAxisTicks c;
    c.Interval = interval;
    c.Decimals = DecimalsOf(interval);
    c.First = std::ceil(min / interval - 1e-9) * interval + 0.0; // + 0.0: no negative zero
    c.Count = static_cast<int>(std::floor((max - c.First) / interval + 1e-9)) + 1;
    return c;
  };
  // Labels side by side need their width and a gap; stacked ones twice a line.
  const auto fits = [&](const tAxisTicks& c) {
    double need = 2.0 * metrics.height();
    if (!vertical) {
      int widest = 0;
      for (int k = 0; k < c.Count; ++k)
        widest = std::max(widest, metrics.horizontalAdvance(c.Label(k)));
      need = std::max(widest + 12.0, 40.0);
    }
    return pixels * c.Interval / span >= need;
  };
  // Two ticks at least when they fit, else one round tick rather than labels
  // that run into each other.
  const double top = std::pow(10.0, std::floor(std::log10(span)) + 1);
  for (const int least : {2, 1})
    for (double power = top / 1e4; power <= top; power *= 10)
      for (const double m : {1.0, 2.0, 5.0}) {
        const tAxisTicks c = make(m * power);
        if (c.Count >= least && fits(c)) return c;
      }
  // No room even for one: the ends alone.
  t.First = min;
  t.Interval = span;
  t.Decimals = DecimalsOf(span / 10);
  t.Count = 2;
  return t;
}

std::optional<tPercentMargins> EqualScaleMargins(double clientWidth, double clientHeight,
                                                 double xRange, double yRange, double leftSpace,
                                                 double rightSpace, double topSpace,
                                                 double bottomSpace) {
  double a = std::abs(xRange), c = std::abs(yRange);
  if (a == 0) a = c;
  if (c == 0) c = a;
  if (a == 0) return std::nullopt;
  auto space = [](double s) { return s == 0 ? 5.0 : s; };
  const double L = space(leftSpace), Rt = space(rightSpace), T = space(topSpace),
               B = space(bottomSpace);
  const double W = clientWidth, H = clientHeight;
  // A chart too small for its axes has no plot to lay out.
  if (W - L - Rt <= 0 || H - T - B <= 0) return std::nullopt;
  auto round = [](double v) { return static_cast<int>(std::nearbyint(v)); };
  const double S = c / a;
  const double Q = (H - T - B) / (W - L - Rt);
  tPercentMargins m;
  if (S >= Q) {
    m.Top = round(T / H * 100);
    m.Bottom = round(B / H * 100);
    const double P = std::nearbyint((H - B - T) / S);
    m.Left = round((W - P) / W * 0.5 * 100);
    m.Right = m.Left;
  } else {
    m.Left = round(L / W * 100);
    m.Right = round(Rt / W * 100);
    const double P = std::nearbyint(S * (W - L - Rt));
    m.Top = round((H - P) / H * 0.5 * 100);
    m.Bottom = m.Top;
  }
  return m;
}

// ---------------------------------------------------------------- tGraphicChart

tGraphicChart::tGraphicChart(QWidget* container, const QString& title, const QString& xTitle,
                             const QString& yTitle)
    : QChartView(new QChart) {
  QChart* c = chart();
  c->legend()->hide();
  c->setBackgroundBrush(palette().color(QPalette::Window));
  c->setTitle(title);
  fAxisX = new QValueAxis;
  fAxisX->setTitleText(xTitle);
  fAxisY = new QValueAxis;
  fAxisY->setTitleText(yTitle);
  c->addAxis(fAxisX, Qt::AlignBottom);
  c->addAxis(fAxisY, Qt::AlignLeft);
  setRenderHint(QPainter::Antialiasing);
  for (QValueAxis* axis : {fAxisX, fAxisY}) {
    axis->setTickInterval(1);
    axis->setTickType(QValueAxis::TicksDynamic);
  }
  // Qt lays the chart out after the events that change it: ranges and ticks follow.
  connect(c, &QChart::plotAreaChanged, this, [this] { Relayout(); });

  const QString caption = title.isEmpty() ? QStringLiteral("Graphic") : title;
  if (!container) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    resize(400, 400);
    show();
  } else if (auto* pages = qobject_cast<QTabWidget*>(container)) {
    fPages = pages;
    pages->addTab(this, caption);
    pages->setCurrentWidget(this);
  } else {
    setParent(container);
    if (container->layout()) container->layout()->addWidget(this);
    show();
  }
}

int tGraphicChart::SeriesCount() const { return static_cast<int>(chart()->series().size()); }

QXYSeries* tGraphicChart::Series(int index) const {
  const auto all = chart()->series();
  if (index < 0 || index >= all.size()) return nullptr;
  return qobject_cast<QXYSeries*>(all[index]);
}

QXYSeries* tGraphicChart::AddPoints(const QString& title, const stravex::t2DPoints& points) {
  auto* s = new QScatterSeries;
  s->setMarkerShape(QScatterSeries::MarkerShapeCircle);
  s->setMarkerSize(3);
  return Add(s, title, points);
}

QXYSeries* tGraphicChart::AddLine(const QString& title, const stravex::t2DPoints& points) {
  return Add(new QLineSeries, title, points);
}

QXYSeries* tGraphicChart::Add(QXYSeries* s, const QString& title,
                              const stravex::t2DPoints& points) {
  const int index = SeriesCount();
  s->setName(title);
  QList<QPointF> list;
  list.reserve(static_cast<qsizetype>(points.size()));
  for (const stravex::t2DPoint& p : points) list.append(QPointF(p.x, p.y));
  s->append(list);
  const tPalette& pal = SeriesPalette();
  s->setColor(QColor::fromRgb(pal[index % pal.size()]));
  chart()->addSeries(s);
  s->attachAxis(fAxisX);
  s->attachAxis(fAxisY);
  connect(s, &QXYSeries::clicked, this, [this, index](const QPointF&) { ClickSeries(index); });
  RefreshPens();
  FitAxes();
  return s;
}

void tGraphicChart::RefreshPens() {
  for (int i = 0; i < SeriesCount(); ++i) {
    QXYSeries* s = Series(i);
    QPen pen(s->color(), i == fSelected ? 2 : 1);
    if (auto* scatter = qobject_cast<QScatterSeries*>(s)) {
      scatter->setBorderColor(s->color());
      pen.setColor(s->color());
    }
    s->setPen(pen);
  }
}

void tGraphicChart::SelectSeries(int index) {
  fSelected = index >= 0 && index < SeriesCount() ? index : -1;
  RefreshPens();
}

void tGraphicChart::ClickSeries(int index) {
  SelectSeries(index == fSelected ? -1 : index);
  if (OnClickSeries) OnClickSeries(index);
}

void tGraphicChart::FitAxes() {
  double minX = std::numeric_limits<double>::infinity(), maxX = -minX, minY = minX, maxY = -minX;
  for (int i = 0; i < SeriesCount(); ++i) {
    for (const QPointF& p : Series(i)->points()) {
      if (!std::isfinite(p.x()) || !std::isfinite(p.y())) continue;
      minX = std::min(minX, p.x());
      maxX = std::max(maxX, p.x());
      minY = std::min(minY, p.y());
      maxY = std::max(maxY, p.y());
    }
  }
  if (minX > maxX) { // no data
    minX = minY = 0;
    maxX = maxY = 1;
  }
  // An axis needs some extent to place a single value.
  if (maxX == minX) {
    minX -= 0.5;
    maxX += 0.5;
  }
  if (maxY == minY) {
    minY -= 0.5;
    maxY += 0.5;
  }
  fMinX = minX;
  fMaxX = maxX;
  fMinY = minY;
  fMaxY = maxY;
  Relayout();
}

double tGraphicChart::EdgePixels() const {
  // A line's pen, or a marker's radius and outline, and one pixel clear.
  double edge = 2;
  for (int i = 0; i < SeriesCount(); ++i)
    if (auto* scatter = qobject_cast<QScatterSeries*>(Series(i)))
      edge = std::max(edge, scatter->markerSize() / 2 + scatter->pen().widthF());
  return edge + 1;
}

QSizeF tGraphicChart::PlotPixels() const {
  const QSizeF size = chart()->size();
  if (fApplied && size.width() > 0 && size.height() > 0)
    return {size.width() * (100 - fApplied->Left - fApplied->Right) / 100.0,
            size.height() * (100 - fApplied->Top - fApplied->Bottom) / 100.0};
  const QRectF plot = chart()->plotArea();
  if (plot.width() > 1 && plot.height() > 1) return plot.size();
  return {std::max(1.0, width() - 90.0), std::max(1.0, height() - 90.0)};
}

void tGraphicChart::SetRanges(const QSizeF& plot) {
  // The range that puts edge pixels between the data and the plot's edges:
  // the data span D on P pixels of a range R leave (R - D) / 2 * P / R each side.
  const double edge = EdgePixels();
  const auto padded = [edge](double span, double pixels) {
    const double share = pixels > 4 * edge ? 2 * edge / pixels : 0.5;
    return (span / (1 - share) - span) / 2;
  };
  const double spanX = fMaxX - fMinX, spanY = fMaxY - fMinY;
  const double padX = padded(spanX, plot.width());
  const double padY = std::max(spanY / 98.0, padded(spanY, plot.height()));
  // Qt makes a label for every tick of the new range at once: the old
  // interval on a much wider range could ask for millions.
  fAxisX->setTickInterval(std::max(fAxisX->tickInterval(), spanX + 2 * padX));
  fAxisY->setTickInterval(std::max(fAxisY->tickInterval(), spanY + 2 * padY));
  fAxisX->setRange(fMinX - padX, fMaxX + padX);
  fAxisY->setRange(fMinY - padY, fMaxY + padY);
}

void tGraphicChart::SetTicks(const QSizeF& plot) {
  const auto apply = [](QValueAxis* axis, const tAxisTicks& t) {
    axis->setTickAnchor(t.First);
    axis->setTickInterval(t.Interval);
    axis->setLabelFormat(QStringLiteral("%.%1f").arg(t.Decimals));
  };
  fTicksX = RoundTicks(fAxisX->min(), fAxisX->max(), plot.width(), false,
                       QFontMetrics(fAxisX->labelsFont()));
  fTicksY = RoundTicks(fAxisY->min(), fAxisY->max(), plot.height(), true,
                       QFontMetrics(fAxisY->labelsFont()));
  apply(fAxisX, fTicksX);
  apply(fAxisY, fTicksY);
}

void tGraphicChart::Relayout() {
  if (fLayingOut) return;
  fLayingOut = true;
  // The plot's size sets the margins and ticks, which set the labels' room,
  // which sets the plot: a few rounds settle it.
  for (int round = 0; round < 4; ++round) {
    const QSizeF before = PlotPixels();
    SetRanges(before);
    ApplyEqualScales();
    SetTicks(PlotPixels());
    ApplyEqualScales();
    if (PlotPixels() == before) break;
  }
  fLayingOut = false;
}

void tGraphicChart::SetEqualScales(bool on) {
  fEqualScales = on;
  if (!on) {
    fApplied.reset();
    chart()->setPlotArea(QRectF());
  }
  Relayout();
}

double tGraphicChart::AxisSpace(const QValueAxis* axis, bool vertical) const {
  // What the chart lays out beside the plot: tick labels with their padding,
  // then the title with its own.
  double space = 0;
  if (axis->labelsVisible()) {
    const QFontMetrics fm(axis->labelsFont());
    if (vertical) {
      int widest = 0;
      const tAxisTicks& t = axis == fAxisY ? fTicksY : fTicksX;
      for (int k = 0; k < t.Count; ++k) widest = std::max(widest, fm.horizontalAdvance(t.Label(k)));
      space += widest + 14;
    } else {
      space += fm.height() + 10;
    }
  }
  if (!axis->titleText().isEmpty()) space += QFontMetrics(axis->titleFont()).height() + 10;
  return space;
}

double tGraphicChart::RightSpace() const {
  // The last label of the bottom axis is centred on the plot's right edge.
  if (!fAxisX->labelsVisible() || fTicksX.Count == 0) return 0;
  const QFontMetrics fm(fAxisX->labelsFont());
  return fm.horizontalAdvance(fTicksX.Label(fTicksX.Count - 1)) / 2.0 + 4;
}

void tGraphicChart::ApplyEqualScales() {
  if (!fEqualScales) return;
  const QSizeF size = chart()->size();
  if (size.width() <= 0 || size.height() <= 0) return;
  // The chart's title sits above the plot, where a top axis would.
  const double top = chart()->title().isEmpty() ? 0
                                                : QFontMetrics(chart()->titleFont()).height() + 8;
  // The layout centres the plot along one direction: each side gets the
  // room of the wider one, so that neither labels nor titles are clipped.
  const double across = std::max(AxisSpace(fAxisY, true), RightSpace());
  const double upDown = std::max(top, AxisSpace(fAxisX, false));
  fApplied = EqualScaleMargins(size.width(), size.height(), fAxisX->max() - fAxisX->min(),
                               fAxisY->max() - fAxisY->min(), across, across, upDown, upDown);
  if (!fApplied) {
    chart()->setPlotArea(QRectF());
    return;
  }
  const tPercentMargins& m = *fApplied;
  const double W = size.width(), H = size.height();
  chart()->setPlotArea(QRectF(W * m.Left / 100.0, H * m.Top / 100.0,
                              W * (100 - m.Left - m.Right) / 100.0,
                              H * (100 - m.Top - m.Bottom) / 100.0));
}

tGraphPopUp& tGraphicChart::PopUp() {
  if (!fPopUp) fPopUp = new tGraphPopUp(this);
  return *fPopUp;
}

void tGraphicChart::resizeEvent(QResizeEvent* e) {
  QChartView::resizeEvent(e);
  Relayout();
}

void tGraphicChart::contextMenuEvent(QContextMenuEvent* e) {
  PopUp().PopupFor(this, e->globalPos());
}

metafile::tDrawing tGraphicChart::Drawing() const {
  using namespace metafile;
  QChart* c = chart();
  tDrawing d;
  d.width = width();
  d.height = height();
  auto view = [&](const QPointF& chartPoint) {
    return ToPoint(mapFromScene(c->mapToScene(chartPoint)));
  };
  d.shapes.push_back(
      tFilledRect{0, 0, d.width - 1, d.height - 1, ToColor(c->backgroundBrush().color())});

  const QRectF plot = c->plotArea();
  const tPoint tl = view(plot.topLeft()), br = view(plot.bottomRight());
  const tColor grid = ToColor(fAxisX->gridLineColor());
  const tColor axisColor = ToColor(fAxisX->linePenColor());
  const tColor labelColor = ToColor(fAxisX->labelsColor());

  // Grid, ticks and tick labels of both axes.
  const QFontMetrics labelFm(fAxisX->labelsFont());
  const int labelHeight = labelFm.height();
  int widestYLabel = 0;
  for (const QValueAxis* axis : {fAxisX, fAxisY}) {
    const bool vertical = axis == fAxisY;
    const tAxisTicks& ticks = vertical ? fTicksY : fTicksX;
    const double range = axis->max() - axis->min();
    for (int k = 0; k < ticks.Count; ++k) {
      double f = range > 0 ? (ticks.Value(k) - axis->min()) / range : 0;
      if (axis->isReverse()) f = 1 - f;
      const QString label = ticks.Label(k);
      if (vertical) {
        const int y = static_cast<int>(std::lround(br.y - f * (br.y - tl.y)));
        if (axis->isGridLineVisible())
          d.shapes.push_back(tPolyline{{{tl.x, y}, {br.x, y}}, grid, 1});
        d.shapes.push_back(tPolyline{{{tl.x - 4, y}, {tl.x, y}}, axisColor, 1});
        d.shapes.push_back(tText{tl.x - 6, y + labelFm.ascent() / 2, label.toStdString(),
                                 labelColor, labelHeight, 0, tAlign::Right});
        widestYLabel = std::max(widestYLabel, labelFm.horizontalAdvance(label));
      } else {
        const int x = static_cast<int>(std::lround(tl.x + f * (br.x - tl.x)));
        if (axis->isGridLineVisible())
          d.shapes.push_back(tPolyline{{{x, tl.y}, {x, br.y}}, grid, 1});
        d.shapes.push_back(tPolyline{{{x, br.y}, {x, br.y + 4}}, axisColor, 1});
        d.shapes.push_back(tText{x, br.y + 6 + labelFm.ascent(), label.toStdString(), labelColor,
                                 labelHeight, 0, tAlign::Centre});
      }
    }
  }
  d.shapes.push_back(tPolyline{
      {{tl.x, tl.y}, {br.x, tl.y}, {br.x, br.y}, {tl.x, br.y}, {tl.x, tl.y}}, axisColor, 1});

  // Titles: the chart's above the plot, the axes' beside their labels.
  if (!c->title().isEmpty()) {
    const QFontMetrics fm(c->titleFont());
    d.shapes.push_back(tText{d.width / 2, 6 + fm.ascent(), c->title().toStdString(),
                             ToColor(c->titleBrush().color()), fm.height(), 0, tAlign::Centre});
  }
  if (!fAxisX->titleText().isEmpty()) {
    const QFontMetrics fm(fAxisX->titleFont());
    d.shapes.push_back(tText{
        (tl.x + br.x) / 2, br.y + 8 + labelHeight + fm.ascent(), fAxisX->titleText().toStdString(),
        ToColor(fAxisX->titleBrush().color()), fm.height(), 0, tAlign::Centre});
  }
  if (!fAxisY->titleText().isEmpty()) {
    const QFontMetrics fm(fAxisY->titleFont());
    d.shapes.push_back(tText{std::max(fm.ascent(), tl.x - 10 - widestYLabel), (tl.y + br.y) / 2,
                             fAxisY->titleText().toStdString(),
                             ToColor(fAxisY->titleBrush().color()), fm.height(), 900,
                             tAlign::Centre});
  }

  // Series, in their order, clipped to the plot.
  for (int i = 0; i < SeriesCount(); ++i) {
    QXYSeries* s = Series(i);
    const tColor color = ToColor(s->color());
    const int penWidth = i == fSelected ? 2 : 1;
    if (auto* scatter = qobject_cast<QScatterSeries*>(s)) {
      const double r = scatter->markerSize() / 2.0;
      for (const QPointF& p : s->points()) {
        const QPointF at = c->mapToPosition(p, s);
        if (!plot.adjusted(-r, -r, r, r).contains(at)) continue;
        const tPoint a = view(at - QPointF(r, r)), b = view(at + QPointF(r, r));
        d.shapes.push_back(tEllipse{a.x, a.y, b.x, b.y, color, penWidth, true, color});
      }
    } else {
      tPolyline line{{}, color, penWidth};
      for (const QPointF& p : s->points()) line.points.push_back(view(c->mapToPosition(p, s)));
      d.shapes.push_back(std::move(line));
    }
  }
  return d;
}

tGraphicChart* AddPointSeries(const stravex::t2DPoints& points, QWidget* container,
                              const QString& title, const QString& xTitle, const QString& yTitle) {
  auto* chart = qobject_cast<tGraphicChart*>(container);
  if (!chart) chart = new tGraphicChart(container, title, xTitle, yTitle);
  chart->AddPoints(title, points);
  return chart;
}

// ---------------------------------------------------------------- data view

tGraphicChart* ShowPatchMap(const stravex::t2DPoints& points, QWidget* container) {
  tGraphicChart* chart = AddPointSeries(points, container, QStringLiteral("Patch map"),
                                        QStringLiteral("X"), QStringLiteral("Y"));
  chart->AxisY()->setReverse(true);
  chart->SetEqualScales(true);
  return chart;
}

tGraphicChart* ShowTracks(const std::vector<tTrackPoint>& locations, QWidget* container) {
  auto* chart = new tGraphicChart(container, QStringLiteral("Tracks"), QStringLiteral("X"),
                                  QStringLiteral("Y"));
  size_t first = 0;
  for (size_t k = 1; k <= locations.size(); ++k) {
    if (k < locations.size() && locations[k].ID == locations[first].ID) continue;
    stravex::t2DPoints run;
    run.reserve(k - first);
    for (size_t j = first; j < k; ++j) run.push_back({locations[j].X, locations[j].Y});
    chart->AddLine(QStringLiteral("ID %1").arg(locations[first].ID), run);
    first = k;
  }
  return chart;
}

tGraphicChart* ShowTracks(const stravex::tLocations& locations, QWidget* container) {
  std::vector<tTrackPoint> points;
  points.reserve(locations.size());
  for (const stravex::tLocation& l : locations) points.push_back({l.X, l.Y, l.ID});
  return ShowTracks(points, container);
}

} // namespace stravex::gui
