// Chart windows: layout, series, selection, pop-up menus, data view, and the
// equal-scale layout.
#include <QApplication>
#include <QLineSeries>
#include <QPointer>
#include <QScatterSeries>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QValueAxis>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "ColorOps.h"
#include "GraphicOps.h"
#include "PopUpMenus.h"

using namespace stravex::gui;

namespace {

// Charts made without a container free themselves when closed; tests own them instead.
std::unique_ptr<tGraphicChart> Owned(tGraphicChart* c) {
  c->setAttribute(Qt::WA_DeleteOnClose, false);
  return std::unique_ptr<tGraphicChart>(c);
}

TEST(EqualScales, MarginsOfBothBranches) {
  // 400 x 400, data 100 across and 50 up: the width limits.
  auto m = EqualScaleMargins(400, 400, 100, 50, 30, 0, 0, 30);
  ASSERT_TRUE(m);
  EXPECT_EQ(*m, (tPercentMargins{8, 27, 1, 27})); // 7.5 -> 8, 1.25 -> 1, plot height 182.5 -> 182
  const double plotW = 400 * (100 - m->Left - m->Right) / 100.0,
               plotH = 400 * (100 - m->Top - m->Bottom) / 100.0;
  EXPECT_NEAR(plotW / plotH, 2.0, 0.05);

  // 50 across, 100 up: the height limits, plot centred across.
  m = EqualScaleMargins(400, 400, 50, 100, 30, 0, 0, 30);
  ASSERT_TRUE(m);
  EXPECT_EQ(*m, (tPercentMargins{27, 1, 27, 8}));

  // Halves to even: 10 / 400 -> 2.5 % -> 2; 18 / 400 -> 4.5 % -> 4.
  m = EqualScaleMargins(400, 400, 100, 10, 10, 18, 0, 0);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Left, 2);
  EXPECT_EQ(m->Right, 4);

  // A zero range takes the other one; both zero: no layout.
  EXPECT_EQ(EqualScaleMargins(400, 200, 0, 50, 20, 20, 20, 20),
            EqualScaleMargins(400, 200, 50, 50, 20, 20, 20, 20));
  EXPECT_EQ(EqualScaleMargins(400, 200, 50, 0, 20, 20, 20, 20),
            EqualScaleMargins(400, 200, 50, 50, 20, 20, 20, 20));
  EXPECT_FALSE(EqualScaleMargins(400, 400, 0, 0, 20, 20, 20, 20));
  EXPECT_FALSE(EqualScaleMargins(30, 400, 10, 10, 20, 20, 20, 20)); // no room left for the plot
}

TEST(GraphicChart, ContainersAndDefaults) {
  auto window = Owned(new tGraphicChart(nullptr));
  EXPECT_EQ(window->windowTitle(), "Graphic");
  EXPECT_EQ(window->size(), QSize(400, 400));
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->chart()->legend()->isVisible());
  EXPECT_FALSE(window->Closable);
  EXPECT_EQ(window->SelectedSeries(), -1);

  QTabWidget pages;
  pages.addTab(new QWidget, "Log");
  auto* page = new tGraphicChart(&pages, "Tracks", "X", "Y");
  EXPECT_EQ(pages.count(), 2);
  EXPECT_EQ(pages.currentWidget(), page);
  EXPECT_EQ(pages.tabText(1), "Tracks");
  EXPECT_EQ(page->AxisX()->titleText(), "X");
  EXPECT_EQ(page->Pages(), &pages);

  // Closing a closable page removes it; "&Close graph" follows the flag.
  // Each chart owns its menu.
  QPointer<tGraphPopUp> owned = &page->PopUp();
  EXPECT_EQ(&page->PopUp(), owned.data());
  EXPECT_EQ(owned->Target(), page);
  tGraphPopUp& menu = *owned;
  menu.SetTarget(page);
  EXPECT_FALSE(menu.CloseGraphItem->isEnabled());
  menu.CloseGraphClick();
  EXPECT_EQ(pages.count(), 2);
  page->Closable = true;
  menu.SetTarget(page);
  EXPECT_TRUE(menu.CloseGraphItem->isEnabled());
  menu.CloseGraphClick();
  EXPECT_EQ(pages.count(), 1);
  EXPECT_EQ(menu.Target(), nullptr);
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(owned.isNull()); // gone with its chart
}

TEST(GraphicChart, SeriesColoursSelectionAndClicks) {
  auto chart = Owned(AddPointSeries({{0, 0}, {10, 5}}, nullptr, "Points", "X", "Y"));
  EXPECT_EQ(chart->windowTitle(), "Points");
  EXPECT_EQ(AddPointSeries({{2, 2}}, chart.get(), "More", "", ""), chart.get());
  ASSERT_EQ(chart->SeriesCount(), 2);
  const tPalette q = Palette(piQualitative1024);
  for (int i = 0; i < 2; ++i) {
    auto* s = qobject_cast<QScatterSeries*>(chart->Series(i));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->color(), QColor::fromRgb(q[i]));
    EXPECT_EQ(s->markerSize(), 3);
    EXPECT_EQ(s->markerShape(), QScatterSeries::MarkerShapeCircle);
  }
  EXPECT_EQ(chart->Series(1)->name(), "More");

  std::vector<std::pair<int, int>> calls; // (clicked series, selection seen by the callback)
  chart->OnClickSeries = [&](int s) { calls.emplace_back(s, chart->SelectedSeries()); };
  chart->ClickSeries(1);
  EXPECT_EQ(chart->Series(1)->pen().width(), 2);
  EXPECT_EQ(chart->Series(0)->pen().width(), 1);
  chart->ClickSeries(0);
  EXPECT_EQ(chart->Series(1)->pen().width(), 1);
  EXPECT_EQ(chart->Series(0)->pen().width(), 2);
  chart->ClickSeries(0); // the selected one: deselected
  EXPECT_EQ(chart->SelectedSeries(), -1);
  EXPECT_EQ(chart->Series(0)->pen().width(), 1);
  EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{1, 1}, {0, 0}, {0, -1}}));
  chart->SelectSeries(7);
  EXPECT_EQ(chart->SelectedSeries(), -1);

  // Room for the markers on both axes; at least 1 % of the plot height on each
  // side of the vertical one.
  EXPECT_LT(chart->AxisX()->min(), 0);
  EXPECT_GT(chart->AxisX()->max(), 10);
  EXPECT_LE(chart->AxisY()->min(), -5.0 / 98 + 1e-12);
  EXPECT_GE(chart->AxisY()->max(), 5 + 5.0 / 98 - 1e-12);
}

// Sample points of a study in metres, as the example landscape has them.
const stravex::t2DPoints kSamples{{500385, 4000223.4}, {500520, 4001290},  {500650, 4000740},
                                  {501120, 4000850},   {501380, 4000870},  {501470, 4000820},
                                  {501500, 4001160},   {501805, 4001386.6}};

// What the chart shows lies inside it: every marker whole within the plot,
// tick labels apart from each other and within the chart.
void ExpectEverythingInside(tGraphicChart& c) {
  QApplication::processEvents();
  const QRectF plot = c.chart()->plotArea();
  const QSizeF size = c.chart()->size();
  ASSERT_GT(plot.width(), 50);
  for (int i = 0; i < c.SeriesCount(); ++i) {
    double radius = 1; // a line's pen
    if (auto* s = qobject_cast<QScatterSeries*>(c.Series(i))) radius = s->markerSize() / 2;
    for (const QPointF& p : c.Series(i)->points()) {
      const QPointF at = c.chart()->mapToPosition(p, c.Series(i));
      EXPECT_GE(std::min({at.x() - plot.left(), plot.right() - at.x(), at.y() - plot.top(),
                          plot.bottom() - at.y()}),
                radius)
          << "point " << p.x() << " " << p.y() << " at " << c.width() << "x" << c.height();
    }
  }
  const QFontMetrics fm(c.AxisX()->labelsFont());
  const tAxisTicks& x = c.TicksX();
  ASSERT_GE(x.Count, 1);
  double lastRight = -1e9;
  for (int k = 0; k < x.Count; ++k) {
    const double at = plot.left() + (x.Value(k) - c.AxisX()->min()) /
                                        (c.AxisX()->max() - c.AxisX()->min()) * plot.width();
    const double half = fm.horizontalAdvance(x.Label(k)) / 2.0;
    EXPECT_GE(at - half, std::max(0.0, lastRight + 4)) << x.Label(k).toStdString();
    EXPECT_LE(at + half, size.width()) << x.Label(k).toStdString();
    lastRight = at + half;
    // As many decimals as the interval needs: round values read back exactly.
    EXPECT_NEAR(x.Label(k).toDouble(), x.Value(k), x.Interval * 1e-9);
  }
  const tAxisTicks& y = c.TicksY();
  ASSERT_GE(y.Count, 1);
  if (y.Count > 1) {
    EXPECT_GE(y.Interval / (c.AxisY()->max() - c.AxisY()->min()) * plot.height(), fm.height());
  }
  int widest = 0;
  for (int k = 0; k < y.Count; ++k) widest = std::max(widest, fm.horizontalAdvance(y.Label(k)));
  EXPECT_GE(plot.left(), widest); // the vertical labels fit left of the plot
}

TEST(AxisTicks, TheSmallestRoundIntervalWhoseLabelsFit) {
  const QFontMetrics fm(QApplication::font());
  const tAxisTicks t = RoundTicks(500385, 501805, 300, false, fm);
  const double mantissa = t.Interval / std::pow(10.0, std::floor(std::log10(t.Interval)));
  EXPECT_TRUE(std::abs(mantissa - 1) < 1e-9 || std::abs(mantissa - 2) < 1e-9 ||
              std::abs(mantissa - 5) < 1e-9)
      << t.Interval;
  EXPECT_EQ(t.Decimals, 0);
  EXPECT_GE(t.First, 500385);
  EXPECT_LE(t.Value(t.Count - 1), 501805);
  EXPECT_GT(t.Value(t.Count), 501805);
  int widest = 0;
  for (int k = 0; k < t.Count; ++k) widest = std::max(widest, fm.horizontalAdvance(t.Label(k)));
  EXPECT_GE(300 * t.Interval / 1420, widest + 12.0);
  // The next smaller round interval would not fit.
  const double smaller = mantissa == 1   ? t.Interval / 2
                         : mantissa == 2 ? t.Interval / 2
                                         : t.Interval * 0.4;
  EXPECT_LT(300 * smaller / 1420, widest + 12.0);
  // More room, more ticks; stacked labels need less room than side by side.
  EXPECT_GT(RoundTicks(500385, 501805, 1200, false, fm).Count, t.Count);
  EXPECT_GT(RoundTicks(500385, 501805, 300, true, fm).Count, t.Count);
  // Small intervals get their decimals, and no negative zero.
  const tAxisTicks small = RoundTicks(-0.3, 0.7, 400, false, fm);
  EXPECT_GE(small.Decimals, 1);
  QStringList labels;
  for (int k = 0; k < small.Count; ++k) labels << small.Label(k);
  EXPECT_TRUE(labels.contains(QString::number(0.0, 'f', small.Decimals)))
      << labels.join(' ').toStdString();
  // Room for one round label only: one tick rather than two that collide.
  const tAxisTicks one = RoundTicks(500306, 501802, 100, false, fm);
  EXPECT_EQ(one.Count, 1);
  EXPECT_EQ(one.Label(0), "501000");
  // No room even for one: the two ends.
  const tAxisTicks cramped = RoundTicks(3, 7, 10, false, fm);
  EXPECT_EQ(cramped.Count, 2);
  EXPECT_EQ(cramped.Value(1), 7);
}

TEST(GraphicChart, PopUpMenus) {
  QStringList texts;
  auto chart = Owned(new tGraphicChart(nullptr));
  for (QAction* a : chart->PopUp().actions()) texts << (a->isSeparator() ? "-" : a->text());
  EXPECT_EQ(texts, (QStringList{"Save graph &image...", "Save graph &data...", "-",
                                "&View metadata", "&Add metadata...", "-", "&Close graph"}));

  tMapWindowBase mapWindow;
  tGraphMapPopUp& map = mapWindow.PopUp();
  EXPECT_EQ(map.Target(), &mapWindow);
  texts.clear();
  for (QAction* a : map.actions()) {
    texts << a->text();
    if (a->menu() == nullptr) {
      EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    }
  }
  EXPECT_EQ(texts, (QStringList{"Save map &image...", "Save map &data...", "&View metadata",
                                "&Add metadata...", "&Transparency"}));
  texts.clear();
  for (QAction* a : map.TransparencyMenu->actions()) texts << a->text();
  EXPECT_EQ(texts, (QStringList{"&0%", "&10%", "&20%", "&30%", "&40%", "&50%", "&60%", "&70%",
                                "&80%", "&90%", "&100%"}));

  tMapWindowBase w;
  EXPECT_EQ(w.AlphaBlendValue(), 255);
  map.SetTarget(&w);
  map.TransparencyItems[2]->trigger();
  EXPECT_EQ(w.AlphaBlendValue(), 204);
  EXPECT_TRUE(w.AlphaBlend());
  EXPECT_NEAR(w.windowOpacity(), 204 / 255.0, 0.01);
  map.TransparencyItems[5]->trigger();
  EXPECT_EQ(w.AlphaBlendValue(), 127); // 127.5 to even
  map.TransparencyItems[0]->trigger();
  EXPECT_EQ(w.AlphaBlendValue(), 255);
  EXPECT_TRUE(w.AlphaBlend());
  map.TransparencyItems[10]->trigger();
  EXPECT_EQ(w.AlphaBlendValue(), 0);
  EXPECT_FALSE(w.AlphaBlend());
  EXPECT_DOUBLE_EQ(w.windowOpacity(), 1.0);
}

TEST(DataView, PatchMapHasEqualScalesAndAnInvertedVerticalAxis) {
  auto chart = Owned(ShowPatchMap({{1000, 2000}, {1100, 2050}, {1050, 2020}}));
  QApplication::processEvents();
  EXPECT_EQ(chart->windowTitle(), "Patch map");
  EXPECT_EQ(chart->chart()->title(), "Patch map");
  EXPECT_TRUE(chart->AxisY()->isReverse());
  EXPECT_TRUE(chart->EqualScales());
  ASSERT_TRUE(chart->AppliedMargins());
  EXPECT_EQ(chart->AppliedMargins()->Top, chart->AppliedMargins()->Bottom);
  // One map unit is as long across as up.
  const QRectF plot = chart->chart()->plotArea();
  const double xUnit = plot.width() / (chart->AxisX()->max() - chart->AxisX()->min());
  const double yUnit = plot.height() / (chart->AxisY()->max() - chart->AxisY()->min());
  EXPECT_NEAR(xUnit / yUnit, 1.0, 0.05);

  chart->resize(600, 300); // now the height limits
  QApplication::processEvents();
  ASSERT_TRUE(chart->AppliedMargins());
  EXPECT_EQ(chart->AppliedMargins()->Left, chart->AppliedMargins()->Right);
  const QRectF wide = chart->chart()->plotArea();
  EXPECT_NEAR((wide.width() / 100) /
                  (wide.height() / (chart->AxisY()->max() - chart->AxisY()->min())),
              1.0, 0.08);

  chart->SetEqualScales(false);
  EXPECT_FALSE(chart->AppliedMargins());
}

TEST(DataView, PatchMapShowsWholeMarkersAndLabelsAtEverySize) {
  auto chart = Owned(ShowPatchMap(kSamples));
  for (const QSize size : {QSize(400, 400), QSize(640, 300), QSize(260, 520), QSize(900, 700)}) {
    chart->resize(size);
    ExpectEverythingInside(*chart);
    // Still one map unit as long across as up.
    const QRectF plot = chart->chart()->plotArea();
    EXPECT_NEAR((plot.width() / (chart->AxisX()->max() - chart->AxisX()->min())) /
                    (plot.height() / (chart->AxisY()->max() - chart->AxisY()->min())),
                1.0, 0.08)
        << size.width() << "x" << size.height();
  }
}

TEST(DataView, TrackLabelsKeepClearOfEachOther) {
  std::vector<tTrackPoint> track;
  for (int i = 0; i < 12; ++i)
    track.push_back({500306 + 130.0 * i, 4000342 + (i % 5) * 190.0, static_cast<uint32_t>(i / 6)});
  auto chart = Owned(ShowTracks(track));
  for (const QSize size : {QSize(400, 400), QSize(300, 300), QSize(800, 500)}) {
    chart->resize(size);
    ExpectEverythingInside(*chart);
  }
}

TEST(DataView, TracksFollowRunsOfEqualIdsInFileOrder) {
  const std::vector<tTrackPoint> track{{5, 1, 7}, {3, 2, 7}, {4, 3, 7},
                                       {1, 1, 2}, {0, 0, 2}, {9, 9, 7}};
  QTabWidget pages;
  tGraphicChart* chart = ShowTracks(track, &pages);
  ASSERT_EQ(chart->SeriesCount(), 3);
  const std::vector<int> sizes{3, 2, 1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(qobject_cast<QLineSeries*>(chart->Series(i)));
    EXPECT_EQ(chart->Series(i)->count(), sizes[i]);
  }
  EXPECT_EQ(chart->Series(0)->points(),
            (QList<QPointF>{{5, 1}, {3, 2}, {4, 3}})); // not sorted by X
  EXPECT_EQ(chart->Series(2)->points(), (QList<QPointF>{{9, 9}}));
  EXPECT_EQ(ShowTracks(std::vector<tTrackPoint>{}, &pages)->SeriesCount(), 0);
  stravex::tLocations read(2);
  read[0] = {3, 1.5, 2.5, 0};
  read[1] = {4, 0.5, 0.25, 0};
  tGraphicChart* fromFile = ShowTracks(read, &pages);
  ASSERT_EQ(fromFile->SeriesCount(), 2);
  EXPECT_EQ(fromFile->Series(1)->name(), "ID 4");
  EXPECT_EQ(fromFile->Series(1)->points(), (QList<QPointF>{{0.5, 0.25}}));
}

} // namespace
