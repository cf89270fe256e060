#include "MapWindow.h"

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStatusBar>
#include <QSvgGenerator>
#include <QTemporaryDir>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>

#include "PopUpMenus.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "base/AtomicFile.h"
#include "base/Errors.h"
#include "raster/GdalMap.h"
#include "raster/IdrisiEnv.h"

namespace stravex::gui {

namespace {

constexpr double kLegendWidth = 120;
constexpr double kMaxZoom = 64; // screen pixels per cell
constexpr int kDimBase = 40;
const char* const kHint = "Wheel: zoom, drag: pan, F: whole map, right click: menu";
constexpr double kDimOpacity = 0.55;

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString Number(double v) { return QString::number(v, 'g', 10); }

// Images whose pixels first hold the cells as reals, then their colours: a
// map is never held a second time (4000 x 4000 cells are 64 MB).
QImage CellImage(int rows, int cols) {
  if (rows <= 0 || cols <= 0)
    return QImage(std::max(cols, 0), std::max(rows, 0), QImage::Format_ARGB32);
  // From the map store (huge pages where offered): far fewer page faults
  // than the heap for the first touch of 64 MB.
  const std::size_t bytes = static_cast<std::size_t>(rows) * cols * 4;
  void* block = nullptr;
  try {
    block = stravex::AllocateCellBlock(bytes);
  } catch (const std::bad_alloc&) {
    throw stravex::EOutOfMemory("Out of memory");
  }
  return QImage(
      static_cast<uchar*>(block), cols, rows, static_cast<qsizetype>(cols) * 4,
      QImage::Format_ARGB32,
      [](void* info) {
        auto* n = static_cast<std::pair<void*, std::size_t>*>(info);
        stravex::FreeCellBlock(n->first, n->second);
        delete n;
      },
      new std::pair<void*, std::size_t>(block, bytes));
}

// 32-bit lines have no padding: the pixels are one row-major array.
float* Reals(QImage& image) { return reinterpret_cast<float*>(image.bits()); }

// The next overview: each cell the highest shown value of its 2 x 2 cells,
// NaN (hidden) when none is shown. Branch-free, four cells at a time where
// the processor allows: this pass reads the whole map.
QImage HalveByMax(const float* cells, int rows, int cols, const tCellMask& mask) {
  const int r2 = (rows + 1) / 2, c2 = (cols + 1) / 2;
  QImage image = CellImage(r2, c2);
  float* out = Reals(image);
  constexpr float none = -std::numeric_limits<float>::infinity();
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  const bool flagged = mask.Flag.has_value(), zeros = mask.ZeroTransparent;
  const float flag = mask.Flag.value_or(0);
  auto shown = [&](float v) { return mask.Hidden(v) ? none : v; };
#if defined(__SSE2__)
  const __m128 zero = _mm_setzero_ps(), vnone = _mm_set1_ps(none), vnan = _mm_set1_ps(nan);
  const __m128 vflag = _mm_set1_ps(flag);
  auto shown4 = [&](__m128 v) {
    __m128 ok = _mm_cmpeq_ps(_mm_sub_ps(v, v), zero);
    if (flagged) ok = _mm_and_ps(ok, _mm_cmpneq_ps(v, vflag));
    if (zeros) ok = _mm_and_ps(ok, _mm_cmpneq_ps(v, zero));
    return _mm_or_ps(_mm_and_ps(ok, v), _mm_andnot_ps(ok, vnone));
  };
#endif
  for (int r = 0; r < r2; ++r) {
    const float* a = cells + static_cast<std::size_t>(2 * r) * cols;
    const float* b = 2 * r + 1 < rows ? a + cols : a;
    float* target = out + static_cast<std::size_t>(r) * c2;
    int c = 0;
#if defined(__SSE2__)
    for (; 2 * c + 8 <= cols; c += 4) {
      const __m128 m0 = _mm_max_ps(shown4(_mm_loadu_ps(a + 2 * c)),
                                   shown4(_mm_loadu_ps(b + 2 * c)));
      const __m128 m1 = _mm_max_ps(shown4(_mm_loadu_ps(a + 2 * c + 4)),
                                   shown4(_mm_loadu_ps(b + 2 * c + 4)));
      const __m128 m = _mm_max_ps(_mm_shuffle_ps(m0, m1, _MM_SHUFFLE(2, 0, 2, 0)),
                                  _mm_shuffle_ps(m0, m1, _MM_SHUFFLE(3, 1, 3, 1)));
      const __m128 empty = _mm_cmpeq_ps(m, vnone);
      _mm_storeu_ps(target + c, _mm_or_ps(_mm_and_ps(empty, vnan), _mm_andnot_ps(empty, m)));
    }
#endif
    for (; c < c2; ++c) {
      const int c0 = 2 * c, c1 = std::min(2 * c + 1, cols - 1);
      const float m = std::max(std::max(shown(a[c0]), shown(a[c1])),
                               std::max(shown(b[c0]), shown(b[c1])));
      target[c] = m == none ? nan : m;
    }
  }
  return image;
}

// Colours the reals of a cell image in place.
void ColourInPlace(QImage& image, const tMapStretch& stretch, const std::vector<uint32_t>& colours,
                   const tCellMask& mask) {
  const std::size_t n = static_cast<std::size_t>(image.width()) * image.height();
  ColourCells(Reals(image), n, stretch, colours, mask, reinterpret_cast<uint32_t*>(image.bits()));
}

// The map's value units; empty when its documentation leaves them open.
QString KnownUnit(const stravex::tRaster& map) {
  const QString unit = Q(map.ValueUnits).trimmed();
  return unit.compare(QStringLiteral("unspecified"), Qt::CaseInsensitive) == 0 ? QString() : unit;
}

// Coordinates to about a tenth of a cell.
QString Coordinate(double v, double cell) {
  const int decimals =
      cell > 0 ? std::clamp(static_cast<int>(-std::floor(std::log10(cell / 10))), 0, 9) : 6;
  return QString::number(v, 'f', decimals);
}

std::string Extension(const QString& fileName) {
  return QFileInfo(fileName).suffix().toLower().toStdString();
}

} // namespace

// The drawing surface: paints through the window and passes the mouse and
// keys on to it.
class tMapCanvas : public QWidget {
public:
  explicit tMapCanvas(TMapWindow* w) : QWidget(w), fWindow(w) {
    setObjectName(QStringLiteral("mapCanvas"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    setMinimumSize(200, 150);
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    fWindow->Paint(p, rect());
  }
  void resizeEvent(QResizeEvent*) override {
    if (fWindow->fFitted) fWindow->Fit();
  }
  void wheelEvent(QWheelEvent* e) override {
    const int steps = e->angleDelta().y();
    if (steps == 0) return;
    fWindow->ZoomAt(e->position(), std::pow(2.0, steps / 240.0));
    fWindow->UpdateStatus(e->position());
    e->accept();
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) {
      fDrag = e->position();
      fDragging = true;
      setCursor(Qt::ClosedHandCursor);
    }
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) {
      fDragging = false;
      setCursor(Qt::CrossCursor);
    }
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (fDragging && (e->buttons() & Qt::LeftButton)) {
      fWindow->PanBy(e->position() - fDrag);
      fDrag = e->position();
    }
    fWindow->UpdateStatus(e->position());
  }
  void keyPressEvent(QKeyEvent* e) override {
    const QPointF centre = fWindow->MapArea().center();
    switch (e->key()) {
    case Qt::Key_F:
    case Qt::Key_Home: fWindow->Fit(); break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: fWindow->ZoomAt(centre, 2); break;
    case Qt::Key_Minus: fWindow->ZoomAt(centre, 0.5); break;
    default: QWidget::keyPressEvent(e); return;
    }
    e->accept();
  }

private:
  TMapWindow* fWindow;
  QPointF fDrag;
  bool fDragging = false;
};

TMapWindow::TMapWindow(const std::string& mapFile,
                       const std::vector<std::pair<double, double>>& points, bool corridor,
                       QWidget* parent)
    : TMapWindow(tMapViewInput{mapFile, corridor, points, {}, {}, {}, parent}, parent) {}

TMapWindow::TMapWindow(const tMapViewInput& input, QWidget* parent)
    // Always a window of its own: only those have an opacity.
    : tMapWindowBase(parent, Qt::Window) {
  Build(input);
}

TMapWindow::~TMapWindow() = default;

void TMapWindow::Build(const tMapViewInput& input) {
  fCorridor = input.Corridor;
  // The background is read and coloured beside the map, on a thread of its own.
  std::future<tLayer> background;
  if (!input.BackgroundFile.empty())
    background = std::async(std::launch::async, &TMapWindow::ReadBackground, input.BackgroundFile);
  fTop.Map = stravex::OpenLiveMap(input.MapFile);
  fTop.Map->LoadData();
  const int rows = std::max(0, fTop.Map->Rows), cols = std::max(0, fTop.Map->Columns);
  if (fTop.Map->FlagDef == stravex::fdBackground) fTop.Mask.Flag = fTop.Map->FlagValue;
  fTop.Cells = QRectF(0, 0, cols, rows);
  if (fCorridor) {
    fTop.Kind = skLogarithmic;
    fTop.PaletteIndex = piFire;
    fTop.Mask.ZeroTransparent = true;
    fTop.Lowest = 0;
    fTop.Pyramid = true;
  }
  Recolour(fTop);

  // Cell units: column 0 starts at MinX, row 0 at MaxY.
  const stravex::tLiveRaster& map = *fTop.Map;
  const double width = static_cast<double>(map.MaxX - map.MinX),
               height = static_cast<double>(map.MaxY - map.MinY);
  for (const auto& [x, y] : input.Points) {
    if (width <= 0 || height <= 0) break;
    fPointCells.emplace_back((x - static_cast<double>(map.MinX)) / width * cols,
                             (static_cast<double>(map.MaxY) - y) / height * rows);
  }
  fLabels = input.Labels;
  fLabels.resize(fPointCells.size());

  setWindowTitle(Q(map.MapName()));

  // Tool bar: background, stretch, palette, fit.
  auto* bar = new QWidget(this);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(6, 4, 6, 0);
  fBackgroundBox = new QComboBox(bar);
  fBackgroundBox->setObjectName(QStringLiteral("cbBackground"));
  fBackgroundBox->addItem(QStringLiteral("None"), QString());
  // Each map once, whether named with its extension or without.
  std::vector<std::string> choices;
  auto same = [](const std::string& a, const std::string& b) {
    return stravex::StripExtension(a) == stravex::StripExtension(b);
  };
  if (!input.BackgroundFile.empty()) choices.push_back(input.BackgroundFile);
  for (const std::string& f : input.BackgroundChoices)
    if (std::none_of(choices.begin(), choices.end(), [&](const auto& c) { return same(c, f); }))
      choices.push_back(f);
  for (const std::string& f : choices)
    fBackgroundBox->addItem(QFileInfo(Q(f)).completeBaseName(), Q(f));
  fStretchBox = new QComboBox(bar);
  fStretchBox->setObjectName(QStringLiteral("cbStretch"));
  for (int k = 0; k < StretchCount; ++k) fStretchBox->addItem(QString::fromLatin1(StretchName(k)));
  fStretchBox->setCurrentIndex(fTop.Kind);
  fPaletteBox = new QComboBox(bar);
  fPaletteBox->setObjectName(QStringLiteral("cbPalette"));
  for (int k = 0; k < PaletteCount; ++k) fPaletteBox->addItem(PaletteName(k));
  fPaletteBox->setCurrentIndex(fTop.PaletteIndex);
  fFitButton = new QToolButton(bar);
  fFitButton->setObjectName(QStringLiteral("btFit"));
  fFitButton->setText(QStringLiteral("Fit"));
  fFitButton->setToolTip(QStringLiteral("Show the whole map (F)"));
  row->addWidget(new QLabel(QStringLiteral("Background:"), bar));
  row->addWidget(fBackgroundBox);
  row->addSpacing(8);
  row->addWidget(new QLabel(QStringLiteral("Stretch:"), bar));
  row->addWidget(fStretchBox);
  row->addSpacing(8);
  row->addWidget(new QLabel(QStringLiteral("Palette:"), bar));
  row->addWidget(fPaletteBox);
  row->addSpacing(8);
  row->addWidget(fFitButton);
  row->addStretch(1);

  fCanvas = new tMapCanvas(this);
  fStatus = new QStatusBar(this);
  fStatus->setObjectName(QStringLiteral("sbStatus"));
  fStatus->setSizeGripEnabled(false);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  column->addWidget(bar);
  column->addWidget(fCanvas, 1);
  column->addWidget(fStatus);
  fStatus->showMessage(QString(kHint));

  if (background.valid()) {
    try {
      ShowBackground(background.get());
    } catch (const std::exception&) {
      // The map alone is still worth showing.
    }
  }
  connect(fBackgroundBox, &QComboBox::activated, this, [this](int i) {
    try {
      SetBackground(fBackgroundBox->itemData(i).toString().toStdString());
    } catch (const std::exception& e) {
      fStatus->showMessage(QString::fromUtf8(e.what()));
    }
  });
  connect(fStretchBox, &QComboBox::activated, this,
          [this](int i) { SetStretch(static_cast<tStretchKind>(i)); });
  connect(fPaletteBox, &QComboBox::activated, this, [this](int i) { SetPaletteIndex(i); });
  connect(fFitButton, &QToolButton::clicked, this, [this] { Fit(); });

  // Up to four screen pixels per cell, the whole map within about 800 pixels.
  const double scale = std::clamp(800.0 / std::max({1, rows, cols}), 0.05, 4.0);
  const int h = bar->sizeHint().height() + fStatus->sizeHint().height() + 8;
  resize(std::max(static_cast<int>(cols * scale + kLegendWidth) + 16, bar->sizeHint().width()),
         std::max(static_cast<int>(rows * scale) + 16, 200) + h);
  PlaceOnScreen(this, input.Anchor ? input.Anchor : QApplication::activeWindow());
  Fit();
}

void TMapWindow::Recolour(tLayer& layer) {
  layer.Colours = Palette(layer.PaletteIndex);
  const std::vector<uint32_t> colours(layer.Colours.begin(), layer.Colours.end());
  const stravex::tLiveRaster& map = *layer.Map;
  const int rows = std::max(0, map.Rows), cols = std::max(0, map.Columns);
  // The previous image's memory is reused when the map's size allows.
  QImage image = layer.Image.size() == QSize(cols, rows) ? layer.Image : QImage();
  layer.Image = QImage();
  layer.Overviews.clear();
  if (image.isNull()) image = CellImage(rows, cols);
  float* cells = Reals(image);
  const std::size_t n = static_cast<std::size_t>(rows) * cols;
  map.CopyCells(cells);
  tCellMask valued = layer.Mask;
  valued.ZeroTransparent = false;
  layer.Range = ShownRange(cells, n, valued);
  // The stretch from the range of all values: a corridor's starts at 0
  // anyway, so hiding its zeros does not move it.
  layer.Stretch = layer.Range
                      ? MakeStretch(layer.Kind, cells, n, layer.Mask, layer.Lowest, layer.Range)
                      : std::nullopt;
  if (!layer.Stretch) {
    image.fill(Qt::transparent);
    layer.Image = image;
    return;
  }
  if (layer.Pyramid) {
    const float* source = cells;
    int r = rows, c = cols;
    while (r > 64 || c > 64) {
      layer.Overviews.push_back(HalveByMax(source, r, c, layer.Mask));
      source = Reals(layer.Overviews.back());
      r = (r + 1) / 2;
      c = (c + 1) / 2;
    }
    for (QImage& overview : layer.Overviews)
      ColourInPlace(overview, *layer.Stretch, colours, layer.Mask);
  }
  ColourInPlace(image, *layer.Stretch, colours, layer.Mask);
  layer.Image = image;
}

void TMapWindow::SetStretch(tStretchKind kind) {
  fTop.Kind = kind;
  Recolour(fTop);
  if (fStretchBox) fStretchBox->setCurrentIndex(kind);
  if (fCanvas) fCanvas->update();
}

void TMapWindow::SetPaletteIndex(int index) {
  fTop.PaletteIndex = std::clamp(index, 0, PaletteCount - 1);
  Recolour(fTop);
  if (fPaletteBox) fPaletteBox->setCurrentIndex(fTop.PaletteIndex);
  if (fCanvas) fCanvas->update();
}

TMapWindow::tLayer TMapWindow::ReadBackground(const std::string& mapFile) {
  tLayer layer;
  layer.Source = mapFile;
  layer.Map = stravex::OpenLiveMap(mapFile);
  layer.Map->LoadData();
  if (layer.Map->FlagDef == stravex::fdBackground) layer.Mask.Flag = layer.Map->FlagValue;
  Recolour(layer);
  return layer;
}

void TMapWindow::SetBackground(const std::string& mapFile) {
  ShowBackground(mapFile.empty() ? tLayer() : ReadBackground(mapFile));
}

void TMapWindow::ShowBackground(tLayer layer) {
  if (layer.Map) {
    // Placed by its own extent, in the top map's cell units.
    const stravex::tLiveRaster& top = *fTop.Map;
    const double cw = static_cast<double>(top.MaxX - top.MinX) / std::max(1, top.Columns);
    const double ch = static_cast<double>(top.MaxY - top.MinY) / std::max(1, top.Rows);
    const stravex::tLiveRaster& m = *layer.Map;
    if (cw > 0 && ch > 0)
      layer.Cells = QRectF(
          static_cast<double>(m.MinX - top.MinX) / cw, static_cast<double>(top.MaxY - m.MaxY) / ch,
          static_cast<double>(m.MaxX - m.MinX) / cw, static_cast<double>(m.MaxY - m.MinY) / ch);
  }
  fBack = std::move(layer);
  if (fBackgroundBox) {
    const int i = fBackgroundBox->findData(Q(BackgroundFile()));
    if (i >= 0) fBackgroundBox->setCurrentIndex(i);
  }
  if (fCanvas) fCanvas->update();
}

QString TMapWindow::Unit() const {
  // A corridor map of currents names its unit; path counts have none.
  const QString own = KnownUnit(*fTop.Map);
  if (fCorridor && own.isEmpty()) return QStringLiteral("paths per cell");
  return own;
}

QWidget* TMapWindow::Canvas() const { return fCanvas; }

QRectF TMapWindow::MapArea() const {
  const QRectF all = fCanvas ? QRectF(fCanvas->rect()) : QRectF(rect());
  return all.adjusted(4, 4, -kLegendWidth, -4);
}

void TMapWindow::Fit() {
  const QRectF area = MapArea();
  const double w = std::max(1.0, fTop.Cells.width()), h = std::max(1.0, fTop.Cells.height());
  fZoom = std::max(1e-6, std::min(area.width() / w, area.height() / h));
  fOrigin = area.center() - QPointF(w, h) * fZoom / 2;
  fFitted = true;
  if (fCanvas) fCanvas->update();
}

void TMapWindow::ZoomAt(QPointF at, double factor) {
  const QPointF cell = CellAt(at);
  const QRectF area = MapArea();
  const double fit = std::min(area.width() / std::max(1.0, fTop.Cells.width()),
                              area.height() / std::max(1.0, fTop.Cells.height()));
  fZoom = std::clamp(fZoom * factor, std::min(fit / 4, kMaxZoom), std::max(fit * 8, kMaxZoom));
  fOrigin = at - cell * fZoom;
  fFitted = false;
  if (fCanvas) fCanvas->update();
}

void TMapWindow::PanBy(QPointF delta) {
  fOrigin += delta;
  fFitted = false;
  if (fCanvas) fCanvas->update();
}

void TMapWindow::DrawLayer(QPainter& p, const tLayer& layer, const QRectF& area) const {
  if (layer.Image.isNull() || layer.Cells.isEmpty()) return;
  const QRectF target(CanvasPos(layer.Cells.topLeft()), layer.Cells.size() * fZoom);
  const QRectF visible = target.intersected(area);
  if (visible.isEmpty()) return;
  // Zoomed out, the overview with cells no smaller than a screen pixel.
  const QImage* image = &layer.Image;
  const double perCell = fZoom * layer.Cells.width() / layer.Image.width();
  for (std::size_t k = 0; k < layer.Overviews.size() && perCell * (1 << k) < 1.0; ++k)
    image = &layer.Overviews[k];
  const double sx = image->width() / target.width(), sy = image->height() / target.height();
  const QRectF source((visible.left() - target.left()) * sx, (visible.top() - target.top()) * sy,
                      visible.width() * sx, visible.height() * sy);
  p.drawImage(visible, *image, source);
}

void TMapWindow::Paint(QPainter& p, const QRect& canvas) const {
  p.fillRect(canvas, QColor(250, 250, 250));
  const QRectF area = MapArea();
  p.save();
  p.setClipRect(area);
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  // The background dimmed on dark grey, so that the pale low end of the
  // top map's palette stands out on it.
  if (!fBack.Image.isNull()) {
    const QRectF under =
        QRectF(CanvasPos(fBack.Cells.topLeft()), fBack.Cells.size() * fZoom).intersected(area);
    p.fillRect(under, QColor(kDimBase, kDimBase, kDimBase));
    p.setOpacity(kDimOpacity);
    DrawLayer(p, fBack, area);
    p.setOpacity(1);
  }
  DrawLayer(p, fTop, area);

  // Sample points at their own place, not their cell's; labels beside them
  // with a light halo so they read on any colour.
  p.setRenderHint(QPainter::Antialiasing);
  QFont font = p.font();
  font.setBold(true);
  p.setFont(font);
  const QFontMetricsF metrics(font);
  for (std::size_t i = 0; i < fPointCells.size(); ++i) {
    const QPointF at = CanvasPos(QPointF(fPointCells[i].first, fPointCells[i].second));
    if (!area.adjusted(-20, -20, 20, 20).contains(at)) continue;
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(QColor(0, 70, 200));
    p.drawEllipse(at, 4, 4);
    if (fLabels[i].empty()) continue;
    QPainterPath text;
    text.addText(at + QPointF(6, -6), font, Q(fLabels[i]));
    p.strokePath(text,
                 QPen(QColor(255, 255, 255, 230), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.fillPath(text, QColor(0, 40, 140));
  }
  p.restore();
  p.setPen(QColor(160, 160, 160));
  p.setBrush(Qt::NoBrush);
  p.drawRect(area.adjusted(-0.5, -0.5, 0.5, 0.5));
  PaintLegend(p, QRectF(area.right() + 12, area.top(), kLegendWidth - 16, area.height()));
}

void TMapWindow::PaintLegend(QPainter& p, const QRectF& box) const {
  p.setPen(palette().color(QPalette::WindowText));
  const QFontMetricsF metrics(p.font());
  const QString unit = Unit();
  double top = box.top();
  if (!unit.isEmpty()) {
    p.drawText(QRectF(box.left(), top, box.width(), metrics.height() * 2),
               Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, unit);
    top += metrics.height() * (metrics.horizontalAdvance(unit) > box.width() ? 2 : 1) + 6;
  }
  if (!fTop.Stretch) {
    p.drawText(QPointF(box.left(), top + metrics.ascent()), QStringLiteral("no values"));
    return;
  }
  const QRectF bar(box.left(), top + metrics.height() / 2, 16,
                   std::max(20.0, box.bottom() - top - metrics.height()));
  // Highest level at the top; the bar shows the palette evenly, the ticks
  // sit where the stretch puts their values.
  const int n = static_cast<int>(fTop.Colours.size());
  const int h = static_cast<int>(bar.height());
  for (int y = 0; y < h; ++y) {
    const int k = h > 1 ? (n - 1) - y * (n - 1) / (h - 1) : n - 1;
    p.fillRect(QRectF(bar.left(), bar.top() + y, bar.width(), 1),
               QColor::fromRgb(fTop.Colours[std::clamp(k, 0, n - 1)]));
  }
  p.setBrush(Qt::NoBrush);
  p.drawRect(bar);
  for (double v : fTop.Stretch->Ticks(std::max(2, h / 40))) {
    const double y = bar.bottom() - fTop.Stretch->Fraction(v) * bar.height();
    p.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 4, y));
    p.drawText(QPointF(bar.right() + 7, y + metrics.ascent() / 2 - 1), Q(TickText(v)));
  }
}

QString TMapWindow::LayerValue(const tLayer& layer, QPointF topCell) const {
  const QPointF local = topCell - layer.Cells.topLeft();
  const stravex::tLiveRaster& m = *layer.Map;
  const double col = local.x() / layer.Cells.width() * m.Columns;
  const double row = local.y() / layer.Cells.height() * m.Rows;
  if (!(col >= 0 && col < m.Columns && row >= 0 && row < m.Rows)) return QStringLiteral("outside");
  const auto r = static_cast<int32_t>(row), c = static_cast<int32_t>(col);
  const double v = m.GetCell(r, c);
  if (!std::isfinite(v) || m.IsMissingValue(static_cast<float>(v)))
    return QStringLiteral("missing");
  return Number(v);
}

QString TMapWindow::StatusText(QPointF canvasPos) const {
  const QPointF cell = CellAt(canvasPos);
  const stravex::tLiveRaster& m = *fTop.Map;
  const double cols = std::max(1, m.Columns), rows = std::max(1, m.Rows);
  const double x = static_cast<double>(m.MinX) +
                   cell.x() / cols * static_cast<double>(m.MaxX - m.MinX);
  const double y = static_cast<double>(m.MaxY) -
                   cell.y() / rows * static_cast<double>(m.MaxY - m.MinY);
  QString text = QStringLiteral("X %1  Y %2")
                     .arg(Coordinate(x, static_cast<double>(m.MaxX - m.MinX) / cols),
                          Coordinate(y, static_cast<double>(m.MaxY - m.MinY) / rows));
  if (cell.x() >= 0 && cell.x() < m.Columns && cell.y() >= 0 && cell.y() < m.Rows)
    text += QStringLiteral("  |  row %1, column %2")
                .arg(static_cast<int>(cell.y()))
                .arg(static_cast<int>(cell.x()));
  text += QStringLiteral("  |  %1: %2").arg(Q(m.MapName()), LayerValue(fTop, cell));
  if (fBack.Map)
    text += QStringLiteral("  |  %1: %2").arg(Q(fBack.Map->MapName()), LayerValue(fBack, cell));
  return text;
}

QString TMapWindow::StatusMessage() const { return fStatus->currentMessage(); }

void TMapWindow::UpdateStatus(QPointF canvasPos) {
  fStatus->showMessage(MapArea().contains(canvasPos) ? StatusText(canvasPos) : QString(kHint));
}

QImage TMapWindow::RenderImage() const {
  QImage out = fTop.Image.copy();
  QPainter p(&out);
  p.setPen(Qt::blue);
  for (const auto& [col, row] : fPointCells) {
    const int c = static_cast<int>(std::floor(col)), r = static_cast<int>(std::floor(row));
    if (c >= 0 && c < out.width() && r >= 0 && r < out.height()) p.drawPoint(c, r);
  }
  return out;
}

void TMapWindow::SaveImageFile(const QString& fileName) {
  const std::string ext = Extension(fileName);
  if (ext != "png" && ext != "svg") throw stravex::EInOutError("Unsupported format");
  const QSize size = fCanvas->size();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (ext == "svg") {
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(windowTitle());
    QPainter p(&svg);
    Paint(p, QRect(QPoint(0, 0), size));
  } else {
    QImage image(size, QImage::Format_ARGB32);
    {
      QPainter p(&image);
      Paint(p, QRect(QPoint(0, 0), size));
    }
    if (!image.save(&buffer, "PNG"))
      throw stravex::EInOutError(fileName.toStdString() + ": the picture could not be encoded");
  }
  stravex::WriteFileAtomically(
      fileName.toStdString(),
      std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void TMapWindow::SaveDataFile(const QString& fileName) {
  const std::string ext = Extension(fileName);
  const bool tiff = ext == "tif" || ext == "tiff";
  if (!tiff && ext != "rst" && ext != "rdc") throw stravex::EInOutError("Unsupported format");
  const stravex::tLiveRaster& src = *fTop.Map;
  // GeoTIFF goes through an IDRISI copy, which the GeoTIFF writer reads.
  QTemporaryDir temp;
  if (tiff && !temp.isValid()) throw stravex::EInOutError("No room for a temporary map");
  const QFileInfo info(fileName);
  const std::string base =
      tiff ? temp.filePath(QStringLiteral("map")).toStdString()
           : (info.path() + QLatin1Char('/') + info.completeBaseName()).toStdString();
  stravex::tLiveRaster out;
  out.CopyGeometry(src);
  out.Classic = false;
  out.FileFormat = "IDRISI Raster A.1";
  out.FileType = stravex::ftBinary;
  out.FileName = base;
  out.DataType = src.DataType;
  out.FlagDef = src.FlagDef;
  out.FlagValue = src.FlagValue;
  out.Title = src.Title;
  out.ValueUnits = fCorridor && KnownUnit(src).isEmpty() ? "paths per cell" : src.ValueUnits;
  out.Comments = src.Comments;
  out.Lineage = src.Lineage;
  out.FillConstant(0);
  out.LoadData();
  for (int32_t r = 0; r < src.Rows; ++r)
    for (int32_t c = 0; c < src.Columns; ++c)
      out.SetCell(r, c, static_cast<float>(src.GetCell(r, c)));
  out.SaveData();
  out.ComputeMinMax();
  out.WriteDoc();
  if (tiff) stravex::WriteGeoTiff(out, fileName.toStdString());
}

QStringList TMapWindow::MetadataLines() const {
  const stravex::tLiveRaster& m = *fTop.Map;
  QString format = Q(m.FileFormat);
  QString type = QString::fromLatin1(stravex::DataTypeWord(m.DataType));
  QString file = Q(m.FileName + m.ImageExtension());
  if (const auto* g = dynamic_cast<const stravex::tGdalRaster*>(&m)) {
    format = Q(g->FormatName());
    type += QStringLiteral(" (%1)").arg(Q(g->SourceType()));
    file = Q(g->SourcePath());
  }
  const QString unit = Unit();
  QStringList lines{
      QStringLiteral("File: %1").arg(file),
      QStringLiteral("Format: %1").arg(format),
      QStringLiteral("Columns: %1").arg(m.Columns),
      QStringLiteral("Rows: %1").arg(m.Rows),
      QStringLiteral("Bounds: X %1 to %2, Y %3 to %4")
          .arg(Number(static_cast<double>(m.MinX)), Number(static_cast<double>(m.MaxX)),
               Number(static_cast<double>(m.MinY)), Number(static_cast<double>(m.MaxY))),
      QStringLiteral("Reference system: %1").arg(Q(m.RefSystem)),
      fTop.Range ? QStringLiteral("Value range: %1 to %2")
                       .arg(Number(fTop.Range->Lo), Number(fTop.Range->Hi))
                 : QStringLiteral("Value range: no values"),
      QStringLiteral("Unit: %1").arg(unit.isEmpty() ? QStringLiteral("unknown") : unit),
      QStringLiteral("Data type: %1").arg(type)};
  if (m.FlagDef == stravex::fdBackground)
    lines << QStringLiteral("Missing value: %1").arg(Number(m.FlagValue));
  return lines + fMetadata;
}

void TMapWindow::PlaceOnScreen(QWidget* w, const QWidget* anchor) {
  QScreen* screen = anchor ? anchor->screen() : nullptr;
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  // Room for the frame the window manager adds.
  const QRect avail = screen->availableGeometry().adjusted(8, 32, -8, -8);
  if (avail.isEmpty()) return;
  w->resize(std::min(w->width(), avail.width()), std::min(w->height(), avail.height()));
  QPoint at = anchor ? anchor->frameGeometry().center() - QPoint(w->width(), w->height()) / 2
                     : avail.center() - QPoint(w->width(), w->height()) / 2;
  at.setX(std::clamp(at.x(), avail.left(), avail.right() + 1 - w->width()));
  at.setY(std::clamp(at.y(), avail.top(), avail.bottom() + 1 - w->height()));
  w->move(at);
}

void TMapWindow::contextMenuEvent(QContextMenuEvent* e) { PopUp().PopupFor(this, e->globalPos()); }

} // namespace stravex::gui
