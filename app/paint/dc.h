// Drawing contexts of the raster layer: a memory context draws on the bitmap selected into it,
// a PaintDC on the window's client image within the update rectangle of one paint.
//
// BitBlt implements SRCCOPY, SRCAND and SRCPAINT and converts between colour and monochrome by
// exactly two rules:
//   colour to monochrome: a source pixel equal to the SOURCE context's background colour gives a
//     set bit (white), every other pixel a clear bit (black);
//   monochrome to colour: a clear bit gives the DESTINATION context's text colour, a set bit its
//     background colour;
// and the raster operation is applied after the conversion. A transfer is clipped to the source
// surface and to the destination's clip box: pixels whose source lies outside the source bitmap
// are left as they are.
//
// Coordinates are logical; the only mapping mode is MM_TEXT (one unit per pixel), moved by the
// window origin. A new memory context holds a 1 by 1 monochrome bitmap, has a white background
// and black text, like the platform's.
#pragma once

#include <QImage>
#include <cstdint>

#include "app/paint/bitmap.h"
#include "app/paint/raster_types.h"

namespace quelt {

using DWORD = std::uint32_t;

constexpr DWORD SRCCOPY = 0x00CC0020;   // destination = source
constexpr DWORD SRCAND = 0x008800C6;    // destination = destination AND source
constexpr DWORD SRCPAINT = 0x00EE0086;  // destination = destination OR source

constexpr int MM_TEXT = 1;

// GetClipBox results (not ERROR, which <windows.h> defines as a macro).
constexpr int REGION_ERROR = 0;
constexpr int NULLREGION = 1;
constexpr int SIMPLEREGION = 2;

class DC {
 public:
  DC() = default;
  DC(const DC&) = delete;
  DC& operator=(const DC&) = delete;
  virtual ~DC();

  // A memory context; reference may be null (the screen). Fails when this one is in use.
  bool CreateCompatibleDC(DC* reference);
  bool DeleteDC();

  // Selects a bitmap and returns the one selected before (null on failure or an empty bitmap).
  Bitmap* SelectObject(Bitmap* bitmap);

  COLORREF SetBkColor(COLORREF colour);
  COLORREF GetBkColor() const { return bk_colour_; }
  COLORREF SetTextColor(COLORREF colour);

  COLORREF GetPixel(int x, int y) const;
  // Fills with the colour and leaves it set as the background colour.
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF colour);
  void FillSolidRect(const RECT& rect, COLORREF colour);

  int GetClipBox(RECT* rect) const;
  bool BitBlt(int x, int y, int width, int height, DC* source, int xs, int ys, DWORD rop);
  int GetMapMode() const { return MM_TEXT; }
  // Only MM_TEXT is known; any other mode is refused (returns 0).
  int SetMapMode(int mode);
  // MM_TEXT has fixed extents of 1 by 1: setting them changes nothing, as on the platform.
  SIZE GetWindowExt() const { return {1, 1}; }
  SIZE SetWindowExt(SIZE) { return {1, 1}; }
  SIZE GetViewportExt() const { return {1, 1}; }
  SIZE SetViewportExt(SIZE) { return {1, 1}; }
  POINT SetWindowOrg(int x, int y);
  void LPtoDP(POINT* points, int count) const;
  void DPtoLP(POINT* points, int count) const;

  // True when the surface is a monochrome bitmap (a compatible bitmap is then monochrome too).
  bool DrawsMonochrome() const;

 protected:
  // Draws on an image owned by someone else (the window's client image), limited to clip.
  void AttachSurface(QImage* image, const RECT& clip);

 private:
  QImage* Surface() const;
  RECT DeviceClip() const;

  bool created_ = false;
  QImage* external_ = nullptr;
  RECT external_clip_;
  Bitmap stock_;
  Bitmap* selected_ = nullptr;
  COLORREF bk_colour_ = Rgb(255, 255, 255);
  COLORREF text_colour_ = Rgb(0, 0, 0);
  POINT window_org_;
};

// The context of one paint of the window: it draws on client (the window's client area, one
// pixel per unit, converted to QImage::Format_RGB32 if it is not) and only within update.
class PaintDC : public DC {
 public:
  PaintDC(QImage& client, const RECT& update);
};

}  // namespace quelt
