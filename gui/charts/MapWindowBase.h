#pragma once
// Base of the map windows.
#include <QWidget>

namespace stravex::gui {

class tGraphMapPopUp;

// Base of the map windows: the transparency the map pop-up menu sets.
class tMapWindowBase : public QWidget {
  Q_OBJECT
public:
  using QWidget::QWidget;
  // n % transparency: opacity 255 - Round(n / 100 * 255) with blending on; at
  // 100 % the opacity is 0 with blending off, which shows the window opaque.
  void SetTransparency(int percent);
  int AlphaBlendValue() const { return fAlphaBlendValue; }
  bool AlphaBlend() const { return fAlphaBlend; }
  // Its pop-up menu, made at the first right click.
  tGraphMapPopUp& PopUp();

private:
  int fAlphaBlendValue = 255;
  bool fAlphaBlend = false;
  tGraphMapPopUp* fPopUp = nullptr; // a child: goes with the window
};

} // namespace stravex::gui
