#pragma once
// The filters of the window's file dialogs. Written as "Label|patterns|..."
// pairs, the way the dialogs have always listed them, and converted to Qt's
// form where a dialog takes them.
#include <string>

namespace stravex::gui {

// The IDRISI map filter of the generation in force ("All maps (*.rst)|*.rst|
// Quantitative maps (*_QT)|*_QT.rst|..."), ending with "All files (*.*)".
std::string MapFileFilter();
// MapFileFilter's IDRISI entries, then the common GDAL formats and "All files (*.*)".
std::string AnyMapFileFilter();
// Any "Label|patterns|..." filter in Qt's form: "Label (patterns)" entries
// joined by ";;", patterns separated by blanks.
std::string QtFileFilter(const std::string& filter);

} // namespace stravex::gui
