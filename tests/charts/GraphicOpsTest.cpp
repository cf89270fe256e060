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

  // The vertical axis leaves 1 % of the plot height free on each side.
  EXPECT_DOUBLE_EQ(chart->AxisX()->min(), 0);
  EXPECT_DOUBLE_EQ(chart->AxisX()->max(), 10);
  EXPECT_NEAR(chart->AxisY()->min(), -5.0 / 98, 1e-12);
  EXPECT_NEAR(chart->AxisY()->max(), 5 + 5.0 / 98, 1e-12);
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
