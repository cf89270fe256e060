// Windows Metafile: a placeable header, the metafile header, then records of
// 16-bit words. Every shape creates the pen, brush or font it needs, selects
// it, draws and deletes it again, so the object table never holds more than three.
#include "Metafile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace stravex::gui {

namespace metafile {
namespace {

enum : uint16_t {
  META_EOF = 0x0000,
  META_SETBKMODE = 0x0102,
  META_SETTEXTALIGN = 0x012E,
  META_SELECTOBJECT = 0x012D,
  META_DELETEOBJECT = 0x01F0,
  META_SETTEXTCOLOR = 0x0209,
  META_SETWINDOWORG = 0x020B,
  META_SETWINDOWEXT = 0x020C,
  META_CREATEPENINDIRECT = 0x02FA,
  META_CREATEFONTINDIRECT = 0x02FB,
  META_CREATEBRUSHINDIRECT = 0x02FC,
  META_POLYLINE = 0x0325,
  META_ELLIPSE = 0x0418,
  META_RECTANGLE = 0x041B,
  META_TEXTOUT = 0x0521,
};
constexpr uint16_t PS_SOLID = 0, PS_NULL = 5;
constexpr uint16_t BS_SOLID = 0, BS_NULL = 1;
constexpr uint16_t TA_LEFT = 0, TA_RIGHT = 2, TA_CENTER = 6, TA_BASELINE = 24;

int16_t Clamp16(long v) { return static_cast<int16_t>(std::clamp<long>(v, -32768, 32767)); }

uint32_t ColorRef(tColor c) { return c.r | (uint32_t{c.g} << 8) | (uint32_t{c.b} << 16); }

class tWriter {
public:
  void Record(uint16_t function, const std::vector<uint16_t>& params) {
    const uint32_t size = 3 + static_cast<uint32_t>(params.size());
    fMaxRecord = std::max(fMaxRecord, size);
    Word(static_cast<uint16_t>(size & 0xFFFF));
    Word(static_cast<uint16_t>(size >> 16));
    Word(function);
    for (uint16_t p : params) Word(p);
  }
  static void Push32(std::vector<uint16_t>& v, uint32_t x) {
    v.push_back(static_cast<uint16_t>(x & 0xFFFF));
    v.push_back(static_cast<uint16_t>(x >> 16));
  }
  // Objects take the lowest free slot of the table, as the players assume.
  uint16_t Create(uint16_t function, const std::vector<uint16_t>& params) {
    Record(function, params);
    uint16_t slot = 0;
    while (std::find(fUsed.begin(), fUsed.end(), slot) != fUsed.end()) ++slot;
    fUsed.push_back(slot);
    fMaxObjects = std::max<uint16_t>(fMaxObjects, static_cast<uint16_t>(fUsed.size()));
    Record(META_SELECTOBJECT, {slot});
    return slot;
  }
  void Delete(uint16_t slot) {
    Record(META_DELETEOBJECT, {slot});
    fUsed.erase(std::remove(fUsed.begin(), fUsed.end(), slot), fUsed.end());
  }
  uint16_t Pen(tColor c, int width, bool none = false) {
    std::vector<uint16_t> p{none ? PS_NULL : PS_SOLID, static_cast<uint16_t>(Clamp16(width)), 0};
    Push32(p, ColorRef(c));
    return Create(META_CREATEPENINDIRECT, p);
  }
  uint16_t Brush(tColor c, bool none = false) {
    std::vector<uint16_t> p{none ? BS_NULL : BS_SOLID};
    Push32(p, ColorRef(c));
    p.push_back(0);
    return Create(META_CREATEBRUSHINDIRECT, p);
  }
  uint16_t Font(int height, int angle) {
    std::vector<uint16_t> p{static_cast<uint16_t>(Clamp16(-height)), 0,
                            static_cast<uint16_t>(Clamp16(angle)),
                            static_cast<uint16_t>(Clamp16(angle)), 400};
    // italic, underline, strike-out, charset (ANSI 0); precision, clip, quality, pitch and family
    // (swiss)
    p.push_back(0);
    p.push_back(0);
    p.push_back(0);
    p.push_back(static_cast<uint16_t>(0x20 << 8));
    const char face[] = "Arial"; // padded to an even length with the terminating zeros
    char name[6] = {};
    std::memcpy(name, face, sizeof face - 1);
    for (int i = 0; i < 6; i += 2)
      p.push_back(static_cast<uint16_t>(static_cast<uint8_t>(name[i]) |
                                        (static_cast<uint8_t>(name[i + 1]) << 8)));
    return Create(META_CREATEFONTINDIRECT, p);
  }
  std::vector<uint8_t> Finish(const tDrawing& d) {
    Record(META_EOF, {});
    const uint32_t totalWords = 9 + static_cast<uint32_t>(fBody.size() / 2);
    std::vector<uint8_t> out;
    auto w16 = [&](uint16_t v) {
      out.push_back(static_cast<uint8_t>(v & 0xFF));
      out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto w32 = [&](uint32_t v) {
      w16(static_cast<uint16_t>(v & 0xFFFF));
      w16(static_cast<uint16_t>(v >> 16));
    };
    // Placeable header: key, handle, bounding box, units per inch, reserved, checksum.
    const uint16_t placeable[10] = {0xCDD7,
                                    0x9AC6,
                                    0,
                                    0,
                                    0,
                                    static_cast<uint16_t>(Clamp16(d.width)),
                                    static_cast<uint16_t>(Clamp16(d.height)),
                                    96,
                                    0,
                                    0};
    uint16_t checksum = 0;
    for (uint16_t v : placeable) {
      w16(v);
      checksum ^= v;
    }
    w16(checksum);
    // Metafile header: in memory, 9 words, version 3.0.
    w16(1);
    w16(9);
    w16(0x0300);
    w32(totalWords);
    w16(fMaxObjects);
    w32(fMaxRecord);
    w16(0);
    out.insert(out.end(), fBody.begin(), fBody.end());
    return out;
  }

private:
  void Word(uint16_t v) {
    fBody.push_back(static_cast<uint8_t>(v & 0xFF));
    fBody.push_back(static_cast<uint8_t>(v >> 8));
  }
  std::vector<uint8_t> fBody;
  std::vector<uint16_t> fUsed;
  uint16_t fMaxObjects = 0;
  uint32_t fMaxRecord = 0;
};

uint16_t U(long v) { return static_cast<uint16_t>(Clamp16(v)); }

} // namespace

std::vector<uint8_t> WmfBytes(const tDrawing& d) {
  tWriter w;
  w.Record(META_SETWINDOWORG, {0, 0});
  w.Record(META_SETWINDOWEXT, {U(d.height), U(d.width)});
  w.Record(META_SETBKMODE, {1, 0}); // transparent text background
  for (const tShape& shape : d.shapes) {
    if (const auto* r = std::get_if<tFilledRect>(&shape)) {
      const uint16_t pen = w.Pen(r->fill, 0, true), brush = w.Brush(r->fill);
      // The null pen leaves the right and bottom edges out, so one pixel more.
      w.Record(META_RECTANGLE, {U(r->bottom + 1), U(r->right + 1), U(r->top), U(r->left)});
      w.Delete(brush);
      w.Delete(pen);
    } else if (const auto* l = std::get_if<tPolyline>(&shape)) {
      if (l->points.size() < 2) continue;
      const uint16_t pen = w.Pen(l->color, l->width);
      // A record holds at most 32767 points; longer lines go in overlapping pieces.
      for (size_t start = 0; start + 1 < l->points.size(); start += 16000) {
        const size_t end = std::min(l->points.size(), start + 16001);
        std::vector<uint16_t> p{static_cast<uint16_t>(end - start)};
        for (size_t k = start; k < end; ++k) {
          p.push_back(U(l->points[k].x));
          p.push_back(U(l->points[k].y));
        }
        w.Record(META_POLYLINE, p);
      }
      w.Delete(pen);
    } else if (const auto* e = std::get_if<tEllipse>(&shape)) {
      const uint16_t pen = w.Pen(e->pen, e->width), brush = w.Brush(e->fill, !e->filled);
      w.Record(META_ELLIPSE, {U(e->bottom), U(e->right), U(e->top), U(e->left)});
      w.Delete(brush);
      w.Delete(pen);
    } else if (const auto* t = std::get_if<tText>(&shape)) {
      if (t->utf8.empty()) continue;
      const uint16_t font = w.Font(t->height, t->angle);
      std::vector<uint16_t> color;
      tWriter::Push32(color, ColorRef(t->color));
      w.Record(META_SETTEXTCOLOR, color);
      const uint16_t align = t->align == tAlign::Centre  ? TA_CENTER
                             : t->align == tAlign::Right ? TA_RIGHT
                                                         : TA_LEFT;
      w.Record(META_SETTEXTALIGN, {static_cast<uint16_t>(align | TA_BASELINE), 0});
      // 8-bit text: Latin-1 where the character has one, "?" otherwise.
      std::string bytes;
      for (size_t i = 0; i < t->utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(t->utf8[i]);
        unsigned code = c;
        size_t n = 1;
        if (c >= 0xC0 && c < 0xE0 && i + 1 < t->utf8.size()) {
          code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(t->utf8[i + 1]) & 0x3Fu);
          n = 2;
        } else if (c >= 0x80) {
          code = '?';
          n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 1;
        }
        bytes += static_cast<char>(code <= 0xFF ? code : '?');
        i += n;
      }
      bytes.resize(std::min<size_t>(bytes.size(), 8000));
      std::vector<uint16_t> p{static_cast<uint16_t>(bytes.size())};
      if (bytes.size() % 2) bytes += '\0';
      for (size_t i = 0; i < bytes.size(); i += 2)
        p.push_back(static_cast<uint16_t>(static_cast<uint8_t>(bytes[i]) |
                                          (static_cast<uint8_t>(bytes[i + 1]) << 8)));
      p.push_back(U(t->y));
      p.push_back(U(t->x));
      w.Record(META_TEXTOUT, p);
      w.Delete(font);
    }
  }
  return w.Finish(d);
}

} // namespace metafile

} // namespace stravex::gui
