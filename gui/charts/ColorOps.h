#pragma once
// Colour palettes for chart series and map display.
#include <QList>
#include <QRgb>
#include <QString>

namespace stravex::gui {

using tPalette = QList<QRgb>;

enum tPaletteIndex : int {
  piBoolean = 0,
  piRainbow = 1,
  piGreyShade = 2,
  piFire = 3,
  piQualitative256 = 4,
  piQualitative1024 = 5,
};
constexpr int PaletteCount = 6;

// "Boolean", "Rainbow", "Grey shade", "Fire", "Qualitative 256", "Qualitative 1024".
QString PaletteName(int index);

// The palette of that index; ERangeError outside 0..5.
tPalette Palette(int index);

// k steps of colorsPerStep colours between consecutive step colours; the last
// step colour is never produced. EInvalidOperation with fewer than two steps,
// ERangeError for colorsPerStep < 1.
tPalette Gradient(const QList<QRgb>& steps, int colorsPerStep);

// Hue in [0, 1), saturation and intensity in [0, 1] to red, green, blue by the
// three-sector formulas; each channel scaled by 3 * intensity, capped at 1.
QRgb HsiToRgb(double hue, double saturation, double intensity);

} // namespace stravex::gui
