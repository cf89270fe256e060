#include "ChartExport.h"

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
#include "analysis/ReportWriter.h"
#include "base/AtomicFile.h"
#include "base/Errors.h"

namespace stravex::gui {

namespace {

// Writes the whole file or nothing (atomic replacement, as every whole file
// the program writes); one retry, as every file the system creates.
void WriteWholeFile(const QString& fileName, const QByteArray& bytes) {
  const std::string path = QDir::toNativeSeparators(fileName).toStdString();
  const std::string_view data(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  try {
    stravex::WriteFileAtomically(path, data);
  } catch (const stravex::EInOutError&) {
    stravex::WriteFileAtomically(path, data);
  }
}

QByteArray FromBytes(const std::vector<uint8_t>& v) {
  return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

} // namespace

void SaveChartData(const tGraphicChart& chart, const QString& fileName) {
  QByteArray out;
  for (int i = 0; i < chart.SeriesCount(); ++i) {
    const QXYSeries* s = chart.Series(i);
    const QList<QPointF> points = s->points();
    out += s->name().toUtf8() + "\r\n";
    for (const QPointF& p : points)
      out += QByteArray::fromStdString(stravex::FormatReal23(p.x())) + '\t';
    out += "\r\n";
    for (const QPointF& p : points)
      out += QByteArray::fromStdString(stravex::FormatReal23(p.y())) + '\t';
    out += "\r\n";
  }
  for (const QString& line : chart.Metadata) out += line.toUtf8() + "\r\n";
  WriteWholeFile(fileName, out);
}

bool IsSupportedPictureFile(const QString& fileName) {
  static const QStringList formats{"wmf", "emf", "bmp", "png", "svg"};
  return formats.contains(QFileInfo(fileName).suffix().toLower());
}

QString SuffixOfFilter(const QString& filter) {
  const qsizetype star = filter.lastIndexOf(QStringLiteral("(*."));
  const qsizetype close = filter.indexOf(QLatin1Char(')'), star);
  if (star < 0 || close < 0) return QString();
  const QString suffix = filter.mid(star + 3, close - star - 3);
  return suffix.contains(QLatin1Char(' ')) || suffix == QLatin1String("*") ? QString() : suffix;
}

void FollowFilterSuffix(QFileDialog& dialog, const QString& filter) {
  dialog.selectNameFilter(filter);
  dialog.setDefaultSuffix(SuffixOfFilter(filter));
  QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                   [&dialog](const QString& f) { dialog.setDefaultSuffix(SuffixOfFilter(f)); });
}

void SaveChartPicture(const tGraphicChart& chart, const QString& fileName) {
  if (!IsSupportedPictureFile(fileName)) throw stravex::EInOutError("Unsupported format");
  const QString ext = QFileInfo(fileName).suffix().toLower();
  auto& view = const_cast<tGraphicChart&>(chart); // rendering does not change the chart
  const QSize size = view.size();
  QByteArray bytes;
  if (ext == "wmf") {
    bytes = FromBytes(metafile::WmfBytes(chart.Drawing()));
  } else if (ext == "emf") {
    try {
      bytes = FromBytes(metafile::EmfBytes(chart.Drawing()));
    } catch (const std::runtime_error& e) {
      throw stravex::EInOutError(e.what());
    }
  } else if (ext == "svg") {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(size);
    svg.setViewBox(QRect(QPoint(0, 0), size));
    svg.setTitle(view.chart()->title());
    QPainter painter(&svg);
    view.render(&painter, QRectF(QPointF(0, 0), size), QRect(QPoint(0, 0), size));
  } else {
    QImage image(size, QImage::Format_RGB32);
    image.fill(view.chart()->backgroundBrush().color());
    {
      QPainter painter(&image);
      view.render(&painter, QRectF(QPointF(0, 0), size), QRect(QPoint(0, 0), size));
    }
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, ext == "bmp" ? "BMP" : "PNG"))
      throw stravex::EInOutError(fileName.toStdString() + ": the picture could not be encoded");
  }
  WriteWholeFile(fileName, bytes);
}

} // namespace stravex::gui
