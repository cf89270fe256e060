#pragma once
// A chart written out: its data as a text file, its picture as a metafile,
// bitmap or drawing.
#include <QFileDialog>
#include <QString>

namespace stravex::gui {

class tGraphicChart;

// The data file: per series its title, its X values and its Y values, each
// value in the 23-character real form followed by a tab; then the metadata
// lines. Lines end in CR LF. EInOutError when the file cannot be written.
void SaveChartData(const tGraphicChart& chart, const QString& fileName);

// The picture, in the format its extension names (any case): ".wmf", ".emf",
// ".bmp", ".png" or ".svg". EInOutError "Unsupported format" for any other
// extension, before anything is written; EInOutError when writing fails.
void SaveChartPicture(const tGraphicChart& chart, const QString& fileName);
bool IsSupportedPictureFile(const QString& fileName);
// The extension a file-dialog filter stands for: "png" for "PNG image
// (*.png)"; empty when it names no single extension.
QString SuffixOfFilter(const QString& filter);
// Selects the filter and keeps the dialog's default extension that of the
// filter the user has chosen, so a name typed without one gets the type picked.
void FollowFilterSuffix(QFileDialog& dialog, const QString& filter);

} // namespace stravex::gui
