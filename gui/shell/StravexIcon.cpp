#include "StravexIcon.h"

// A static library's resources are only linked in when something refers to them.
static void InitShellResources() { Q_INIT_RESOURCE(shell); }

namespace stravex::gui {

QIcon StravexIcon() {
  InitShellResources();
  QIcon icon(QStringLiteral(":/stravex/icons/stravex.svg"));
  icon.addFile(QStringLiteral(":/stravex/icons/stravex-64.png"), QSize(64, 64));
  return icon;
}

} // namespace stravex::gui
