#pragma once
#include <QIcon>

namespace stravex::gui {

// The program icon (scalable, with a 64-pixel bitmap), from the shell's resources.
QIcon StravexIcon();

} // namespace stravex::gui
