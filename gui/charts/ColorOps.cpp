#include "ColorOps.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/Errors.h"
#include "base/RandomFunctions.h"

namespace stravex::gui {

namespace {

int Channel(double v) { return static_cast<int>(std::clamp(v, 0.0, 1.0) * 255.0); }

// Built from a generator of its own, so that choosing colours never moves the
// generator the analyses draw their least-cost candidates from.
tPalette Qualitative(int count) {
  stravex::tRandomGenerator g;
  g.Seed(0, 0);
  tPalette p;
  p.reserve(count);
  for (int k = 0; k < count; ++k) {
    const double h = g.Uniform();
    const double i = 0.3 + 0.7 * g.Uniform();
    p.push_back(HsiToRgb(h, 1.0, i));
  }
  return p;
}

} // namespace

QString PaletteName(int index) {
  static const char* const names[PaletteCount] = {"Boolean", "Rainbow",         "Grey shade",
                                                  "Fire",    "Qualitative 256", "Qualitative 1024"};
  if (index < 0 || index >= PaletteCount) throw stravex::ERangeError("Palette index out of range");
  return QString::fromLatin1(names[index]);
}

tPalette Gradient(const QList<QRgb>& steps, int colorsPerStep) {
  if (steps.size() < 2)
    throw stravex::EInvalidOperation("Color gradient needs at least two colour steps.");
  if (colorsPerStep < 1)
    throw stravex::ERangeError("Color gradient needs at least one colour per step.");
  tPalette p;
  p.reserve((steps.size() - 1) * colorsPerStep);
  for (qsizetype s = 0; s + 1 < steps.size(); ++s) {
    const QRgb a = steps[s], b = steps[s + 1];
    for (int j = 0; j < colorsPerStep; ++j) {
      const double f = static_cast<double>(j) / colorsPerStep;
      auto mix = [f](int ca, int cb) { return static_cast<int>(ca + f * (cb - ca)); };
      p.push_back(qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b))));
    }
  }
  return p;
}

QRgb HsiToRgb(double hue, double saturation, double intensity) {
  constexpr double third = 2.0 * std::numbers::pi / 3.0; // 120 degrees
  constexpr double sixth = std::numbers::pi / 3.0;       // 60 degrees
  const double low = (1.0 - saturation) / 3.0;
  double h = 2.0 * std::numbers::pi * hue;
  double r, g, b;
  auto high = [&](double angle) {
    return (1.0 + saturation * std::cos(angle) / std::cos(sixth - angle)) / 3.0;
  };
  if (hue < 1.0 / 3.0) {
    b = low;
    r = high(h);
    g = 1.0 - (r + b);
  } else if (hue < 2.0 / 3.0) {
    h -= third;
    r = low;
    g = high(h);
    b = 1.0 - (r + g);
  } else {
    h -= 2.0 * third;
    g = low;
    b = high(h);
    r = 1.0 - (g + b);
  }
  const double k = 3.0 * intensity;
  return qRgb(Channel(r * k), Channel(g * k), Channel(b * k));
}

tPalette Palette(int index) {
  const QRgb white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
  switch (index) {
  case piBoolean: return {white, black};
  case piRainbow:
    return Gradient({black, qRgb(0, 0, 255), qRgb(255, 0, 0), qRgb(255, 255, 0), white}, 256);
  case piGreyShade: return Gradient({white, black}, 256);
  case piFire: return Gradient({white, qRgb(255, 255, 0), qRgb(255, 0, 0)}, 256);
  case piQualitative256: return Qualitative(256);
  case piQualitative1024: return Qualitative(1024);
  default: throw stravex::ERangeError("Palette index out of range");
  }
}

} // namespace stravex::gui
