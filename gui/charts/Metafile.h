#pragma once
// A chart reduced to a list of vector shapes in pixels, and the two Windows
// metafile forms it is written in. Qt-free, so that the Win32-style headers of
// the enhanced-metafile library never meet Qt's.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace stravex::gui {

namespace metafile {

struct tColor {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const tColor&) const = default;
};

struct tPoint {
  int x = 0, y = 0;
};

struct tPolyline {
  std::vector<tPoint> points;
  tColor color;
  int width = 1;
};

// Axis-aligned rectangle, filled, without outline.
struct tFilledRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  tColor fill;
};

// Ellipse inscribed in the box, with an outline and optionally a fill.
struct tEllipse {
  int left = 0, top = 0, right = 0, bottom = 0;
  tColor pen;
  int width = 1;
  bool filled = false;
  tColor fill;
};

enum class tAlign { Left, Centre, Right };

// Text whose reference point (x, y) is on the baseline; angle in tenths of a degree,
// counter-clockwise.
struct tText {
  int x = 0, y = 0;
  std::string utf8;
  tColor color;
  int height = 12; // character cell height in pixels
  int angle = 0;
  tAlign align = tAlign::Left;
};

using tShape = std::variant<tFilledRect, tPolyline, tEllipse, tText>;

struct tDrawing {
  int width = 0, height = 0;
  std::vector<tShape> shapes; // drawn in order
};

// Placeable Windows Metafile (16-bit coordinates; values outside are clamped).
std::vector<uint8_t> WmfBytes(const tDrawing& d);

// Enhanced Metafile; throws std::runtime_error when the library fails.
std::vector<uint8_t> EmfBytes(const tDrawing& d);

} // namespace metafile

} // namespace stravex::gui
