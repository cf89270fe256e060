#include "MapWindowBase.h"

#include "PopUpMenus.h"
#include "base/Errors.h"

#include <algorithm>
#include <cmath>

namespace stravex::gui {

void tMapWindowBase::SetTransparency(int percent) {
  percent = std::clamp(percent, 0, 100);
  fAlphaBlendValue = 255 - static_cast<int>(std::nearbyint(percent * 255 / 100.0));
  fAlphaBlend = percent != 100;
  // Without blending the window is drawn opaque whatever the value says.
  // Opacity acts on top-level windows only: a map window is always one.
  setWindowOpacity(fAlphaBlend ? fAlphaBlendValue / 255.0 : 1.0);
}

tGraphMapPopUp& tMapWindowBase::PopUp() {
  if (!fPopUp) fPopUp = new tGraphMapPopUp(this);
  return *fPopUp;
}

void tMapWindowBase::SaveImageFile(const QString&) {
  throw stravex::EInvalidOperation("No map to save");
}

void tMapWindowBase::SaveDataFile(const QString&) {
  throw stravex::EInvalidOperation("No map to save");
}

} // namespace stravex::gui
