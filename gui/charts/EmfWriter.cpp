// Enhanced Metafile through libEMF, which emulates the Win32 drawing calls and
// records them. Kept apart from every Qt header: the emulation defines the
// Win32 types and macros globally.
#define NOMINMAX
#include <libEMF/emf.h>

#include "Metafile.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace stravex::gui {

namespace metafile {
namespace {

COLORREF Ref(tColor c) { return RGB(c.r, c.g, c.b); }

std::vector<WCHAR> Wide(const std::string& utf8) {
  std::vector<WCHAR> out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    unsigned code = '?';
    size_t n = 1;
    auto cont = [&](size_t k) {
      return i + k < utf8.size() ? static_cast<unsigned char>(utf8[i + k]) & 0x3Fu : 0u;
    };
    if (c < 0x80) {
      code = c;
    } else if (c >= 0xC0 && c < 0xE0) {
      code = ((c & 0x1Fu) << 6) | cont(1);
      n = 2;
    } else if (c >= 0xE0 && c < 0xF0) {
      code = ((c & 0x0Fu) << 12) | (cont(1) << 6) | cont(2);
      n = 3;
    } else if (c >= 0xF0) {
      n = 4; // outside the 16-bit plane
    }
    out.push_back(static_cast<WCHAR>(code));
    i += n;
  }
  return out;
}

struct tMemStream {
  char* data = nullptr;
  size_t size = 0;
  FILE* fp = nullptr;
  ~tMemStream() {
    if (fp) std::fclose(fp);
    std::free(data);
  }
};

} // namespace

std::vector<uint8_t> EmfBytes(const tDrawing& d) {
  tMemStream mem;
  mem.fp = open_memstream(&mem.data, &mem.size);
  if (!mem.fp) throw std::runtime_error("Cannot create the metafile in memory");
  // No frame: the library takes the bounds of what is drawn, which the
  // background rectangle makes the whole chart, in its own device units.
  HDC dc = CreateEnhMetaFileWithFILEW(0, mem.fp, nullptr, nullptr);
  if (!dc) throw std::runtime_error("Cannot create the metafile");
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ firstPen = SelectObject(dc, GetStockObject(NULL_PEN));
  HGDIOBJ firstBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  WCHAR face[] = {'A', 'r', 'i', 'a', 'l', 0};

  for (const tShape& shape : d.shapes) {
    if (const auto* r = std::get_if<tFilledRect>(&shape)) {
      HBRUSH brush = CreateSolidBrush(Ref(r->fill));
      SelectObject(dc, GetStockObject(NULL_PEN));
      SelectObject(dc, brush);
      Rectangle(dc, r->left, r->top, r->right + 1, r->bottom + 1);
      SelectObject(dc, GetStockObject(NULL_BRUSH));
      DeleteObject(brush);
    } else if (const auto* l = std::get_if<tPolyline>(&shape)) {
      if (l->points.size() < 2) continue;
      HPEN pen = CreatePen(PS_SOLID, l->width, Ref(l->color));
      SelectObject(dc, pen);
      std::vector<POINT> pts;
      pts.reserve(l->points.size());
      for (const tPoint& p : l->points) pts.push_back(POINT{p.x, p.y});
      Polyline(dc, pts.data(), static_cast<INT>(pts.size()));
      SelectObject(dc, GetStockObject(NULL_PEN));
      DeleteObject(pen);
    } else if (const auto* e = std::get_if<tEllipse>(&shape)) {
      HPEN pen = CreatePen(PS_SOLID, e->width, Ref(e->pen));
      HBRUSH brush{};
      if (e->filled) brush = CreateSolidBrush(Ref(e->fill));
      SelectObject(dc, pen);
      SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
      Ellipse(dc, e->left, e->top, e->right, e->bottom);
      SelectObject(dc, GetStockObject(NULL_PEN));
      SelectObject(dc, GetStockObject(NULL_BRUSH));
      DeleteObject(pen);
      if (brush) DeleteObject(brush);
    } else if (const auto* t = std::get_if<tText>(&shape)) {
      std::vector<WCHAR> text = Wide(t->utf8);
      if (text.empty()) continue;
      HFONT font = CreateFontW(-t->height, 0, t->angle, t->angle, FW_NORMAL, 0, 0, 0, ANSI_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_SWISS, face);
      HGDIOBJ before = SelectObject(dc, font);
      SetTextColor(dc, Ref(t->color));
      const UINT align = t->align == tAlign::Centre  ? TA_CENTER
                         : t->align == tAlign::Right ? TA_RIGHT
                                                     : TA_LEFT;
      SetTextAlign(dc, align | TA_BASELINE);
      TextOutW(dc, t->x, t->y, text.data(), static_cast<INT>(text.size()));
      SelectObject(dc, before);
      DeleteObject(font);
    }
  }
  SelectObject(dc, firstPen);
  SelectObject(dc, firstBrush);
  HENHMETAFILE mf = CloseEnhMetaFileWithFILE(dc);
  if (!mf) throw std::runtime_error("Cannot finish the metafile");
  DeleteEnhMetaFile(mf);
  if (std::fflush(mem.fp) != 0) throw std::runtime_error("Cannot write the metafile");
  return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(mem.data),
                              reinterpret_cast<const uint8_t*>(mem.data) + mem.size);
}

} // namespace metafile

} // namespace stravex::gui
