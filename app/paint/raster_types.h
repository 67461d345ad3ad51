// Colours and geometry of the raster layer. Colours are 0x00BBGGRR values, red in the low byte;
// the window converts its palette colours with FromQColor. Rectangles exclude their right and
// bottom edges, so right - left is the width.
#pragma once

#include <QColor>
#include <cstdint>

namespace quelt {

using COLORREF = std::uint32_t;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// GDI's RGB, named apart from the <windows.h> macro.
constexpr COLORREF Rgb(int r, int g, int b) {
  return static_cast<COLORREF>((r & 0xFF) | (g & 0xFF) << 8 | (b & 0xFF) << 16);
}
constexpr int GetRValue(COLORREF c) { return static_cast<int>(c & 0xFF); }
constexpr int GetGValue(COLORREF c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF c) { return static_cast<int>((c >> 16) & 0xFF); }

// An opaque pixel of a colour surface (QImage::Format_RGB32) and back.
constexpr QRgb ToQRgb(COLORREF c) {
  return 0xFF000000u | static_cast<QRgb>(GetRValue(c)) << 16 |
         static_cast<QRgb>(GetGValue(c)) << 8 | static_cast<QRgb>(GetBValue(c));
}
constexpr COLORREF FromQRgb(QRgb p) {
  return Rgb(static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF),
             static_cast<int>(p & 0xFF));
}
inline COLORREF FromQColor(const QColor& c) { return Rgb(c.red(), c.green(), c.blue()); }

struct POINT {
  int x = 0;
  int y = 0;
  friend bool operator==(const POINT&, const POINT&) = default;
};

struct SIZE {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const SIZE&, const SIZE&) = default;
};

struct RECT {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  friend bool operator==(const RECT&, const RECT&) = default;
};

}  // namespace quelt
