// Map windows: colours and stretches, missing cells, background, zoom and
// pan, status bar, labels, menu items (saving, metadata), placement.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "MapWindow.h"
#include "PopUpMenus.h"
#include "base/Errors.h"
#include "raster/GdalMap.h"
#include "raster/Raster.h"

using namespace stravex::gui;

namespace {

// A byte map over x 100..100 + 10 cols, y 0..10 rows, row-major values.
std::string WriteMap(const QTemporaryDir& dir, const char* name, int rows, int cols,
                     const std::vector<float>& values, std::optional<float> flag = {},
                     const std::string& units = {}) {
  const std::string file = dir.filePath(name).toStdString();
  stravex::tLiveRaster m;
  m.FileName = file;
  m.DataType = stravex::dtByte;
  m.Rows = rows;
  m.Columns = cols;
  m.MinX = 100;
  m.MaxX = 100 + 10 * cols;
  m.MinY = 0;
  m.MaxY = 10 * rows;
  m.FlagDef = flag ? stravex::fdBackground : stravex::fdNone;
  m.FlagValue = flag.value_or(0);
  m.ValueUnits = units;
  m.FillConstant(0);
  m.LoadData();
  for (int k = 0; k < rows * cols; ++k) m.SetCell(k / cols, k % cols, values[k]);
  m.SaveData();
  m.WriteDoc();
  return file;
}

// A 2 x 3 map over x 100..130, y 0..20, flag 9 in cell (1, 2) when it is missing.
std::string SmallMap(const QTemporaryDir& dir, bool background) {
  return WriteMap(dir, "m", 2, 3, {1, 2, 3, 4, 5, 9},
                  background ? std::optional<float>(9.0f) : std::nullopt);
}

QRgb Level(const tPalette& p, double fraction) {
  return p[static_cast<int>(std::nearbyint(fraction * (p.size() - 1)))];
}

// Answers the next modal dialog with f, from the event loop.
template <typename F>
void WhenModal(F f) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, f] {
    if (QWidget* m = QApplication::activeModalWidget()) {
      poll->deleteLater();
      f(m);
    }
  });
  poll->start(10);
}

void Wheel(QWidget* w, QPointF at, int delta) {
  QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

void Mouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
  QMouseEvent e(type, at, w->mapToGlobal(at),
                type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST(MapWindow, ColoursStretchesMissingCellsAndPoints) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string name = SmallMap(dir, true);

  // Corridor maps: counts on a logarithmic "Fire" scale from 0.
  TMapWindow corridor(name, {{100, 20}, {125, 5}}, true);
  const tPalette fire = Palette(piFire);
  EXPECT_EQ(corridor.Colors(), fire);
  EXPECT_EQ(corridor.Stretch(), skLogarithmic);
  EXPECT_DOUBLE_EQ(corridor.MinValue(), 1);
  EXPECT_DOUBLE_EQ(corridor.MaxValue(), 5); // the flagged 9 is left out
  EXPECT_EQ(corridor.Scale()->Lo(), 0);
  ASSERT_EQ(corridor.MapImage().size(), QSize(3, 2));
  EXPECT_EQ(corridor.MapImage().pixel(0, 0), Level(fire, std::log(2.0) / std::log(6.0)));
  EXPECT_EQ(corridor.MapImage().pixel(1, 1), fire.last());
  EXPECT_EQ(qAlpha(corridor.MapImage().pixel(2, 1)), 0); // missing cell
  EXPECT_EQ(corridor.windowTitle(), "m");
  EXPECT_EQ(corridor.Unit(), "paths per cell");
  // A current map names its unit, which the legend keeps.
  EXPECT_EQ(
      TMapWindow(WriteMap(dir, "current", 2, 3, {1, 2, 3, 4, 5, 9}, {}, "current (A)"), {}, true)
          .Unit(),
      "current (A)");

  // Linear stretch: (3 - 0) / 5 * 511 = 306.6 -> 307.
  corridor.SetStretch(skLinear);
  const QImage& img = corridor.MapImage();
  EXPECT_EQ(img.pixel(2, 0), fire[307]);
  EXPECT_EQ(img.pixel(0, 0), fire[102]);
  EXPECT_EQ(img.pixel(1, 1), fire.last());
  EXPECT_EQ(qAlpha(img.pixel(0, 1)), 255);
  corridor.SetPaletteIndex(piRainbow);
  EXPECT_EQ(corridor.MapImage().pixel(1, 1), Palette(piRainbow).last());
  // The tool bar's boxes: equalised, 1 of 5 values at or below 1 from 0.
  emit corridor.findChild<QComboBox*>("cbStretch")->activated(skEqualised);
  EXPECT_EQ(corridor.Stretch(), skEqualised);
  EXPECT_EQ(corridor.MapImage().pixel(0, 0), Level(Palette(piRainbow), 0.2));
  emit corridor.findChild<QComboBox*>("cbPalette")->activated(piFire);
  EXPECT_EQ(corridor.MapImage().pixel(0, 0), Level(fire, 0.2));
  corridor.SetStretch(skLinear);

  // Points in cell units: (MinX, MaxY) is the corner of cell (0, 0).
  ASSERT_EQ(corridor.PointCells().size(), 2u);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[0].first, 0);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[0].second, 0);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[1].first, 2.5);
  EXPECT_DOUBLE_EQ(corridor.PointCells()[1].second, 1.5);
  const QImage withPoints = corridor.RenderImage();
  EXPECT_NE(withPoints.pixel(2, 1), corridor.MapImage().pixel(2, 1));
  EXPECT_EQ(withPoints.pixel(1, 0), corridor.MapImage().pixel(1, 0));

  // Without a background flag, 9 is a value like any other; other maps are
  // grey on a linear stretch from their lowest value.
  TMapWindow plain(SmallMap(dir, false), {}, false);
  EXPECT_EQ(plain.Stretch(), skLinear);
  EXPECT_DOUBLE_EQ(plain.MaxValue(), 9);
  EXPECT_EQ(plain.MapImage().pixel(2, 1), Palette(piGreyShade).last());
  EXPECT_EQ(plain.MapImage().pixel(0, 0), Palette(piGreyShade).first());
  EXPECT_EQ(plain.Unit(), "");

  // Transparency acts on the map window itself, a window of its own.
  plain.PopUp().SetTarget(&plain);
  plain.PopUp().TransparencyItems[2]->trigger();
  EXPECT_EQ(plain.AlphaBlendValue(), 204);
  EXPECT_NEAR(plain.windowOpacity(), 204 / 255.0, 0.01);
  QWidget owner;
  TMapWindow child(name, {}, false, &owner);
  EXPECT_TRUE(child.isWindow());

  EXPECT_THROW(TMapWindow(dir.filePath("none").toStdString(), {}, false), stravex::EStravexError);
}

// A 4 x 5 corridor (0: no path) over a 4 x 5 friction map in metres.
struct tLayers {
  QTemporaryDir dir;
  std::string corridor, friction;
  tLayers() {
    corridor = WriteMap(dir, "corr", 4, 5,
                        {0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 1, 20, 0, 0, 0, 0, 0, 255}, 255.0f);
    friction = WriteMap(dir, "fric", 4, 5,
                        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, {},
                        "m");
  }
  std::unique_ptr<TMapWindow> Open(std::vector<std::string> labels = {"7", "B"}) {
    tMapViewInput in;
    in.MapFile = corridor;
    in.Corridor = true;
    in.Points = {{105, 25}, {145, 5}}; // cells (0.5, 1.5) and (4.5, 3.5)
    in.Labels = std::move(labels);
    in.BackgroundFile = friction;
    in.BackgroundChoices = {friction + ".rst", corridor};
    auto w = std::make_unique<TMapWindow>(in);
    w->resize(700, 500);
    w->show();
    QApplication::processEvents();
    w->Fit();
    return w;
  }
};

TEST(MapWindow, BackgroundShowsWhereNoPathGoes) {
  tLayers maps;
  auto w = maps.Open();
  EXPECT_EQ(w->BackgroundFile(), maps.friction);
  ASSERT_EQ(w->BackgroundImage().size(), QSize(5, 4));
  const tPalette grey = Palette(piGreyShade);
  EXPECT_EQ(w->BackgroundImage().pixel(0, 0), grey.first());
  EXPECT_EQ(qAlpha(w->MapImage().pixel(0, 0)), 0);   // zero: transparent
  EXPECT_EQ(qAlpha(w->MapImage().pixel(4, 3)), 0);   // missing (flag 255)
  EXPECT_EQ(qAlpha(w->MapImage().pixel(1, 1)), 255); // a path

  // On screen: the friction grey at a zero cell, the corridor colour on a path.
  const QImage shot = w->Canvas()->grab().toImage();
  auto at = [&](double col, double row) {
    return shot.pixel(w->CanvasPos(QPointF(col, row)).toPoint());
  };
  // The background dimmed: 55 % of its grey over 40.
  auto dimmed = [](QRgb c) { return 0.55 * qRed(c) + 0.45 * 40; };
  EXPECT_NEAR(qRed(at(2.5, 0.5)), dimmed(Level(grey, 2.0 / 19)), 1.5);
  EXPECT_NEAR(qRed(at(4.5, 3.5 - 0.3)), dimmed(Level(grey, 1.0)), 1.5);
  EXPECT_EQ(qRed(at(2.5, 0.5)), qBlue(at(2.5, 0.5)));
  EXPECT_EQ(at(3.5, 2.5), Palette(piFire).last()); // 20, the highest count, undimmed

  // The choice of background: none, then each map once.
  auto* box = w->findChild<QComboBox*>("cbBackground");
  ASSERT_TRUE(box);
  ASSERT_EQ(box->count(), 3);
  EXPECT_EQ(box->itemText(1), "fric");
  EXPECT_EQ(box->itemText(2), "corr");
  EXPECT_EQ(box->currentIndex(), 1);
  emit box->activated(2);
  EXPECT_EQ(w->BackgroundFile(), maps.corridor);
  emit box->activated(0);
  EXPECT_TRUE(w->BackgroundFile().empty());

  // Legend unit of another map; none for the background leaves the map alone.
  w->SetBackground("");
  EXPECT_TRUE(w->BackgroundImage().isNull());
  EXPECT_EQ(w->Canvas()->grab().toImage().pixel(w->CanvasPos(QPointF(2.5, 0.5)).toPoint()),
            QColor(250, 250, 250).rgb());
  EXPECT_THROW(w->SetBackground(maps.dir.filePath("none").toStdString()), stravex::EStravexError);
  tMapViewInput other;
  other.MapFile = maps.friction;
  EXPECT_EQ(TMapWindow(other).Unit(), "m");
}

TEST(MapWindow, ZoomPanFitAndStatusBar) {
  tLayers maps;
  auto w = maps.Open();
  QWidget* canvas = w->Canvas();
  const double fitZoom = w->Zoom();
  const QPointF fitOrigin = w->Origin();
  EXPECT_GT(fitZoom, 50); // 5 x 4 cells in a 700 x 500 window
  EXPECT_TRUE(w->MapArea().contains(QRectF(w->CanvasPos({0, 0}), w->CanvasPos({5, 4}))));

  // The wheel zooms about the cursor: the map point under it stays put.
  const QPointF cursor = w->CanvasPos(QPointF(1.25, 2.75));
  Wheel(canvas, cursor, 240);
  EXPECT_NEAR(w->Zoom(), fitZoom * 2, 1e-9);
  EXPECT_NEAR(w->CellAt(cursor).x(), 1.25, 1e-9);
  EXPECT_NEAR(w->CellAt(cursor).y(), 2.75, 1e-9);
  Wheel(canvas, cursor, -120);
  EXPECT_NEAR(w->Zoom(), fitZoom * std::sqrt(2.0), 1e-9);
  EXPECT_NEAR(w->CellAt(cursor).x(), 1.25, 1e-9);

  // Dragging moves the map with the mouse.
  const QPointF before = w->Origin();
  Mouse(canvas, QEvent::MouseButtonPress, QPointF(300, 200), Qt::LeftButton);
  Mouse(canvas, QEvent::MouseMove, QPointF(320, 170), Qt::LeftButton);
  Mouse(canvas, QEvent::MouseMove, QPointF(340, 190), Qt::LeftButton);
  Mouse(canvas, QEvent::MouseButtonRelease, QPointF(340, 190), Qt::NoButton);
  EXPECT_NEAR(w->Origin().x() - before.x(), 40, 1e-9);
  EXPECT_NEAR(w->Origin().y() - before.y(), -10, 1e-9);
  Mouse(canvas, QEvent::MouseMove, QPointF(100, 100), Qt::NoButton); // no drag without button
  EXPECT_NEAR(w->Origin().x() - before.x(), 40, 1e-9);

  // Fit (the key and the button) restores the whole map.
  QTest::keyClick(canvas, Qt::Key_F);
  EXPECT_DOUBLE_EQ(w->Zoom(), fitZoom);
  EXPECT_EQ(w->Origin(), fitOrigin);
  Wheel(canvas, cursor, 120);
  QTest::mouseClick(w->findChild<QWidget*>("btFit"), Qt::LeftButton);
  EXPECT_DOUBLE_EQ(w->Zoom(), fitZoom);

  // The status bar: coordinates, row and column, both layers' values.
  // Coordinates to a tenth of a cell (10 m).
  EXPECT_TRUE(w->StatusText(w->CanvasPos(QPointF(3.5, 2.5))).startsWith("X 135  Y 15  |"));
  EXPECT_TRUE(w->StatusText(w->CanvasPos(QPointF(3.54, 2.56))).startsWith("X 135  Y 14  |"));
  QTest::mouseMove(canvas, w->CanvasPos(QPointF(3.5, 2.5)).toPoint());
  QString status = w->StatusMessage();
  EXPECT_TRUE(status.contains("row 2, column 3")) << status.toStdString();
  EXPECT_TRUE(status.contains("corr: 20")) << status.toStdString();
  EXPECT_TRUE(status.contains("fric: 14")) << status.toStdString();
  QTest::mouseMove(canvas, w->CanvasPos(QPointF(4.5, 3.5)).toPoint());
  status = w->StatusMessage();
  EXPECT_TRUE(status.contains("corr: missing")) << status.toStdString();
  EXPECT_TRUE(status.contains("fric: 20")) << status.toStdString();
  QTest::mouseMove(canvas, w->CanvasPos(QPointF(0.5, 0.5)).toPoint());
  EXPECT_TRUE(w->StatusMessage().contains("corr: 0"));        // no path, yet a value
  QTest::mouseMove(canvas, QPoint(canvas->width() - 10, 50)); // over the legend: the hint
  EXPECT_TRUE(w->StatusMessage().startsWith("Wheel: zoom")) << w->StatusMessage().toStdString();
}

TEST(MapWindow, PointLabelsAreDrawnBesideTheirPoints) {
  tLayers maps;
  // Pixels of the label colour right above the first point.
  auto labelPixels = [](TMapWindow& w) {
    const QImage shot = w.Canvas()->grab().toImage();
    const QPoint p = w.CanvasPos(QPointF(0.5, 1.5)).toPoint();
    int n = 0;
    for (int y = p.y() - 20; y < p.y() - 4; ++y)
      for (int x = p.x() + 5; x < p.x() + 20; ++x) {
        const QColor c = shot.pixelColor(x, y);
        n += c.blue() > 100 && c.red() < 60 && c.green() < 80;
      }
    return n;
  };
  auto labelled = maps.Open();
  auto bare = maps.Open({});
  EXPECT_EQ(labelled->PointLabels(), (std::vector<std::string>{"7", "B"}));
  EXPECT_GT(labelPixels(*labelled), 5);
  EXPECT_EQ(labelPixels(*bare), 0);
  // The point itself, in both.
  const QPoint p = bare->CanvasPos(QPointF(0.5, 1.5)).toPoint();
  EXPECT_EQ(bare->Canvas()->grab().toImage().pixelColor(p), QColor(0, 70, 200));
}

TEST(MapWindow, MenuSavesPicturesAndMaps) {
  tLayers maps;
  auto w = maps.Open();
  tGraphMapPopUp& menu = w->PopUp();
  for (QAction* a :
       {menu.SaveImageItem, menu.SaveDataItem, menu.ViewMetadataItem, menu.AddMetadataItem})
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();

  QTemporaryDir out;
  const QString png = out.filePath("view.png"), svg = out.filePath("view.svg");
  w->SaveImageFile(png);
  QImage image(png);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), w->Canvas()->size());
  EXPECT_EQ(image.pixel(w->CanvasPos(QPointF(3.5, 2.5)).toPoint()), Palette(piFire).last());
  w->SaveImageFile(svg);
  QFile file(svg);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  EXPECT_TRUE(text.contains("<svg"));
  EXPECT_TRUE(text.contains("<image")); // the map layers as pictures
  try {
    w->SaveImageFile(out.filePath("view.bmp"));
    ADD_FAILURE() << "bmp accepted";
  } catch (const stravex::EInOutError& e) {
    EXPECT_STREQ(e.what(), "Unsupported format");
  }
  EXPECT_FALSE(QFile::exists(out.filePath("view.bmp")));
  EXPECT_THROW(w->SaveDataFile(out.filePath("map.asc")), stravex::EInOutError);

  // The map back from GeoTIFF and from IDRISI, cell by cell, with its flag.
  stravex::tLiveRaster source(maps.corridor);
  source.LoadData();
  for (const char* name : {"map.tif", "copy.rst"}) {
    const QString path = out.filePath(name);
    w->SaveDataFile(path);
    auto back = stravex::OpenLiveMap(path.toStdString());
    back->LoadData();
    ASSERT_EQ(back->Rows, 4) << name;
    ASSERT_EQ(back->Columns, 5) << name;
    EXPECT_DOUBLE_EQ(static_cast<double>(back->MinX), 100) << name;
    EXPECT_DOUBLE_EQ(static_cast<double>(back->MaxY), 40) << name;
    EXPECT_EQ(back->FlagDef, stravex::fdBackground) << name;
    EXPECT_EQ(back->FlagValue, 255) << name;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 5; ++c) EXPECT_EQ(back->GetCell(r, c), source.GetCell(r, c)) << name;
  }
  EXPECT_EQ(stravex::tLiveRaster(out.filePath("copy").toStdString()).ValueUnits, "paths per cell");
}

TEST(MapWindow, MetadataIsAddedAndShown) {
  tLayers maps;
  auto w = maps.Open();
  tGraphMapPopUp& menu = w->PopUp();
  QString title;
  WhenModal([&](QWidget* m) {
    auto* input = qobject_cast<QInputDialog*>(m);
    ASSERT_TRUE(input);
    title = input->windowTitle();
    input->setTextValue("Surveyed in 2024");
    input->accept();
  });
  menu.AddMetadataItem->trigger();
  EXPECT_EQ(title, "Map metadata");
  WhenModal([](QWidget* m) { m->close(); }); // cancelled: nothing added
  menu.AddMetadataItem->trigger();

  QString shown;
  WhenModal([&](QWidget* m) {
    auto* box = qobject_cast<QMessageBox*>(m);
    ASSERT_TRUE(box);
    shown = box->text();
    box->accept();
  });
  menu.ViewMetadataItem->trigger();
  const QStringList lines = shown.split('\n');
  EXPECT_TRUE(lines.contains("Columns: 5")) << shown.toStdString();
  EXPECT_TRUE(lines.contains("Rows: 4"));
  EXPECT_TRUE(lines.contains("Bounds: X 100 to 150, Y 0 to 40"));
  EXPECT_TRUE(lines.contains("Value range: 0 to 20"));
  EXPECT_TRUE(lines.contains("Unit: paths per cell"));
  EXPECT_TRUE(lines.contains("Data type: byte"));
  EXPECT_TRUE(lines.contains("Missing value: 255"));
  EXPECT_EQ(lines.last(), "Surveyed in 2024");
  EXPECT_EQ(lines.count("Surveyed in 2024"), 1);
}

TEST(MapWindow, NewWindowsLieWithinTheScreen) {
  QTemporaryDir dir;
  // Wider than the screen at its natural size.
  std::vector<float> values(3 * 1500, 1);
  tMapViewInput in;
  in.MapFile = WriteMap(dir, "wide", 3, 1500, values);
  const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
  QWidget anchor;
  anchor.setGeometry(avail.right() - 100, avail.bottom() - 100, 300, 300); // partly off
  in.Anchor = &anchor;
  TMapWindow w(in);
  EXPECT_TRUE(avail.contains(w.geometry())) << w.geometry().width() << " " << avail.width();
  EXPECT_LE(w.width(), avail.width());

  QWidget big;
  big.resize(avail.width() * 2, avail.height() * 2);
  big.move(-avail.width(), -avail.height());
  TMapWindow::PlaceOnScreen(&big, nullptr);
  EXPECT_TRUE(avail.contains(big.geometry()));
}

} // namespace
