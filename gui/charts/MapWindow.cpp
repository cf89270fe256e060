#include "MapWindow.h"

#include <QContextMenuEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

#include "PopUpMenus.h"
#include "raster/Raster.h"

namespace stravex::gui {

namespace {
constexpr int kBarWidth = 16;
constexpr int kBarGap = 8;
constexpr int kLabelWidth = 72;
} // namespace

TMapWindow::TMapWindow(const std::string& mapFile,
                       const std::vector<std::pair<double, double>>& points, bool corridor,
                       QWidget* parent)
    : tMapWindowBase(parent, parent ? Qt::WindowFlags() : Qt::Window) {
  fPalette = Palette(corridor ? piFire : piGreyShade);
  stravex::tLiveRaster map(mapFile);
  map.LoadData();
  const int rows = std::max(0, map.Rows), cols = std::max(0, map.Columns);

  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const double v = map.GetCell(r, c);
      if (map.IsMissingValue(static_cast<float>(v)) || !std::isfinite(v)) continue;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  if (lo > hi) lo = hi = 0;
  fMin = lo;
  fMax = hi;

  fImage = QImage(cols, rows, QImage::Format_ARGB32);
  fImage.fill(Qt::transparent);
  const double span = hi - lo;
  const int last = static_cast<int>(fPalette.size()) - 1;
  for (int r = 0; r < rows; ++r) {
    auto* line = reinterpret_cast<QRgb*>(fImage.scanLine(r));
    for (int c = 0; c < cols; ++c) {
      const double v = map.GetCell(r, c);
      if (map.IsMissingValue(static_cast<float>(v)) || !std::isfinite(v)) continue;
      const int k = span > 0 ? static_cast<int>(std::nearbyint((v - lo) / span * last)) : 0;
      line[c] = fPalette[std::clamp(k, 0, last)];
    }
  }

  // Cell units: column 0 starts at MinX, row 0 at MaxY.
  const double width = static_cast<double>(map.MaxX - map.MinX),
               height = static_cast<double>(map.MaxY - map.MinY);
  for (const auto& [x, y] : points) {
    if (width <= 0 || height <= 0) break;
    fPointCells.emplace_back((x - static_cast<double>(map.MinX)) / width * cols,
                             (static_cast<double>(map.MaxY) - y) / height * rows);
  }

  setWindowTitle(QString::fromStdString(map.MapName()));
  const int scale = std::max(1, std::min(4, 512 / std::max({1, rows, cols})));
  resize(cols * scale + kBarGap * 2 + kBarWidth + kLabelWidth, std::max(rows * scale, 160) + 16);
}

QImage TMapWindow::RenderImage() const {
  QImage out = fImage.copy();
  QPainter p(&out);
  p.setPen(Qt::blue);
  for (const auto& [col, row] : fPointCells) {
    const int c = static_cast<int>(std::floor(col)), r = static_cast<int>(std::floor(row));
    if (c >= 0 && c < out.width() && r >= 0 && r < out.height()) p.drawPoint(c, r);
  }
  return out;
}

QRect TMapWindow::MapRect() const {
  const QRect area = rect().adjusted(8, 8, -(kBarGap * 2 + kBarWidth + kLabelWidth), -8);
  if (fImage.isNull() || area.width() <= 0 || area.height() <= 0) return QRect();
  const double k = std::min(static_cast<double>(area.width()) / fImage.width(),
                            static_cast<double>(area.height()) / fImage.height());
  const QSize size(static_cast<int>(fImage.width() * k), static_cast<int>(fImage.height() * k));
  return QRect(area.topLeft(), size);
}

void TMapWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  const QRect target = MapRect();
  if (target.isEmpty()) return;
  p.drawImage(target, fImage);

  // Sample points as small circles at their own place, not their cell's.
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Qt::blue, 1.5));
  p.setBrush(Qt::NoBrush);
  const double sx = static_cast<double>(target.width()) / fImage.width();
  const double sy = static_cast<double>(target.height()) / fImage.height();
  for (const auto& [col, row] : fPointCells)
    p.drawEllipse(QPointF(target.left() + col * sx, target.top() + row * sy), 3, 3);

  // Colour bar, highest value at the top.
  const QRect bar(target.right() + kBarGap, target.top(), kBarWidth, target.height());
  const int n = static_cast<int>(fPalette.size());
  for (int y = 0; y < bar.height(); ++y) {
    const int k = bar.height() > 1 ? (n - 1) - y * (n - 1) / (bar.height() - 1) : n - 1;
    p.setPen(QColor::fromRgb(fPalette[std::clamp(k, 0, n - 1)]));
    p.drawLine(bar.left(), bar.top() + y, bar.right(), bar.top() + y);
  }
  p.setPen(palette().color(QPalette::WindowText));
  p.setBrush(Qt::NoBrush);
  p.drawRect(bar);
  const QRect labels(bar.right() + 4, bar.top(), kLabelWidth, bar.height());
  p.drawText(labels, Qt::AlignLeft | Qt::AlignTop, QString::number(fMax, 'g', 6));
  p.drawText(labels, Qt::AlignLeft | Qt::AlignBottom, QString::number(fMin, 'g', 6));
}

void TMapWindow::contextMenuEvent(QContextMenuEvent* e) { PopUp().PopupFor(this, e->globalPos()); }

} // namespace stravex::gui
