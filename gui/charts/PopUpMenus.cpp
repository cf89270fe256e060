#include "PopUpMenus.h"

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

// ---------------------------------------------------------------- tGraphPopUp

tGraphPopUp::tGraphPopUp(tGraphicChart* owner) : QMenu(owner) {
  SaveImageItem = addAction(QStringLiteral("Save graph &image..."), this,
                            &tGraphPopUp::SaveImageClick);
  SaveDataItem = addAction(QStringLiteral("Save graph &data..."), this,
                           &tGraphPopUp::SaveDataClick);
  addSeparator();
  ViewMetadataItem = addAction(QStringLiteral("&View metadata"), this,
                               &tGraphPopUp::ViewMetadataClick);
  AddMetadataItem = addAction(QStringLiteral("&Add metadata..."), this,
                              &tGraphPopUp::AddMetadataClick);
  addSeparator();
  CloseGraphItem = addAction(QStringLiteral("&Close graph"), this, &tGraphPopUp::CloseGraphClick);
  CloseGraphItem->setEnabled(false);
  SetTarget(owner);
}

void tGraphPopUp::SetTarget(tGraphicChart* chart) {
  fTarget = chart;
  CloseGraphItem->setEnabled(chart && chart->Closable);
}

void tGraphPopUp::PopupFor(tGraphicChart* chart, const QPoint& globalPos) {
  SetTarget(chart);
  exec(globalPos);
}

void tGraphPopUp::SaveImageClick() {
  if (!fTarget) return;
  QFileDialog dialog(fTarget, QStringLiteral("Save graph"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(
      QStringLiteral("Windows Metafile (*.wmf);;Windows Enhanced Metafile (*.emf);;Bitmap "
                     "(*.bmp);;PNG image (*.png);;SVG drawing (*.svg)"));
  // A name typed without an extension takes the chosen type's, EMF unless
  // the user picks another.
  FollowFilterSuffix(dialog, QStringLiteral("Windows Enhanced Metafile (*.emf)"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !fTarget) return;
  try {
    SaveChartPicture(*fTarget, dialog.selectedFiles().first());
  } catch (const std::exception& e) {
    QMessageBox::critical(fTarget, QCoreApplication::applicationName(),
                          QString::fromUtf8(e.what()));
  }
}

void tGraphPopUp::SaveDataClick() {
  if (!fTarget) return;
  QFileDialog dialog(fTarget, QStringLiteral("Save data"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(QStringLiteral("Tab-separated text file (*.txt);;All (*.*)"));
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !fTarget) return;
  try {
    SaveChartData(*fTarget, dialog.selectedFiles().first());
  } catch (const std::exception& e) {
    QMessageBox::critical(fTarget, QCoreApplication::applicationName(),
                          QString::fromUtf8(e.what()));
  }
}

void tGraphPopUp::ViewMetadataClick() {
  if (!fTarget) return;
  QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                  fTarget->Metadata.join('\n'), QMessageBox::Ok, fTarget);
  box.exec();
}

void tGraphPopUp::AddMetadataClick() {
  if (!fTarget) return;
  bool ok = false;
  const QString line = QInputDialog::getText(fTarget, QStringLiteral("Graph metadata"), QString(),
                                             QLineEdit::Normal, QString(), &ok);
  if (fTarget) fTarget->Metadata.append(ok ? line : QString());
}

void tGraphPopUp::CloseGraphClick() {
  tGraphicChart* chart = fTarget;
  if (!chart || !chart->Closable) return;
  fTarget = nullptr;
  if (QTabWidget* pages = chart->Pages()) {
    const int index = pages->indexOf(chart);
    if (index >= 0) pages->removeTab(index);
    chart->deleteLater();
  } else if (chart->isWindow()) {
    chart->close();
    if (!chart->testAttribute(Qt::WA_DeleteOnClose)) chart->deleteLater();
  } else {
    chart->deleteLater();
  }
}

// ---------------------------------------------------------------- map windows

tGraphMapPopUp::tGraphMapPopUp(tMapWindowBase* owner) : QMenu(owner) {
  SaveImageItem = addAction(QStringLiteral("Save map &image..."), this,
                            &tGraphMapPopUp::SaveImageClick);
  SaveDataItem = addAction(QStringLiteral("Save map &data..."), this,
                           &tGraphMapPopUp::SaveDataClick);
  ViewMetadataItem = addAction(QStringLiteral("&View metadata"), this,
                               &tGraphMapPopUp::ViewMetadataClick);
  AddMetadataItem = addAction(QStringLiteral("&Add metadata..."), this,
                              &tGraphMapPopUp::AddMetadataClick);
  TransparencyMenu = addMenu(QStringLiteral("&Transparency"));
  for (int percent = 0; percent <= 100; percent += 10) {
    QAction* a = TransparencyMenu->addAction(QStringLiteral("&%1%").arg(percent));
    connect(a, &QAction::triggered, this, [this, percent] {
      if (fTarget) fTarget->SetTransparency(percent);
    });
    TransparencyItems.append(a);
  }
  SetTarget(owner);
}

void tGraphMapPopUp::SetTarget(tMapWindowBase* w) {
  fTarget = w;
  const bool map = w && w->HasMap();
  for (QAction* a : {SaveImageItem, SaveDataItem, ViewMetadataItem, AddMetadataItem})
    a->setEnabled(map);
}

void tGraphMapPopUp::PopupFor(tMapWindowBase* w, const QPoint& globalPos) {
  SetTarget(w);
  exec(globalPos);
}

namespace {

// Asks a file name to save to; empty when cancelled.
QString AskSaveName(QWidget* parent, const QString& title, const QString& filters) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(filters);
  FollowFilterSuffix(dialog, filters.section(QStringLiteral(";;"), 0, 0));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

template <typename F>
void Reported(QWidget* parent, F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    QMessageBox::critical(parent, QCoreApplication::applicationName(), QString::fromUtf8(e.what()));
  }
}

} // namespace

void tGraphMapPopUp::SaveImageClick() {
  if (!fTarget || !fTarget->HasMap()) return;
  const QString name = AskSaveName(fTarget, QStringLiteral("Save map image"),
                                   QStringLiteral("PNG image (*.png);;SVG drawing (*.svg)"));
  if (name.isEmpty() || !fTarget) return;
  Reported(fTarget, [&] { fTarget->SaveImageFile(name); });
}

void tGraphMapPopUp::SaveDataClick() {
  if (!fTarget || !fTarget->HasMap()) return;
  const QString name = AskSaveName(fTarget, QStringLiteral("Save map data"),
                                   QStringLiteral("GeoTIFF (*.tif);;IDRISI map (*.rst)"));
  if (name.isEmpty() || !fTarget) return;
  Reported(fTarget, [&] { fTarget->SaveDataFile(name); });
}

void tGraphMapPopUp::ViewMetadataClick() {
  if (!fTarget || !fTarget->HasMap()) return;
  QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                  fTarget->MetadataLines().join('\n'), QMessageBox::Ok, fTarget);
  box.exec();
}

void tGraphMapPopUp::AddMetadataClick() {
  if (!fTarget || !fTarget->HasMap()) return;
  bool ok = false;
  const QString line = QInputDialog::getText(fTarget, QStringLiteral("Map metadata"), QString(),
                                             QLineEdit::Normal, QString(), &ok);
  if (ok && fTarget) fTarget->AddMetadataLine(line);
}

} // namespace stravex::gui
