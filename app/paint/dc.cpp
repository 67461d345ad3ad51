#include "app/paint/dc.h"

#include <algorithm>

namespace quelt {

namespace {

bool IsMonochrome(const QImage& image) { return image.format() == QImage::Format_Mono; }

// Format_Mono keeps the leftmost pixel in the most significant bit of each byte.
QRgb BitAt(const QImage& image, int x, int y) {
  return (image.constScanLine(y)[x >> 3] >> (7 - (x & 7))) & 1u;
}

void SetBitAt(QImage& image, int x, int y, QRgb bit) {
  uchar& byte = image.scanLine(y)[x >> 3];
  const uchar mask = static_cast<uchar>(0x80u >> (x & 7));
  byte = static_cast<uchar>(bit ? byte | mask : byte & ~mask);
}

// The colour of a pixel as 0x00RRGGBB; the unused top byte of RGB32 is dropped.
QRgb ColourAt(const QImage& image, int x, int y) {
  return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x] & 0x00FFFFFFu;
}

void SetColourAt(QImage& image, int x, int y, QRgb rgb) {
  reinterpret_cast<QRgb*>(image.scanLine(y))[x] = 0xFF000000u | rgb;
}

// A colour drawn on a monochrome surface becomes whichever of black and white is nearer.
QRgb NearestBit(COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c) >= 383 ? 1 : 0; }

}  // namespace

DC::~DC() { DeleteDC(); }

bool DC::CreateCompatibleDC(DC*) {
  if (created_) return false;
  created_ = true;
  stock_.DeleteObject();
  stock_.CreateBitmap(1, 1, 1, 1);
  selected_ = &stock_;
  bk_colour_ = Rgb(255, 255, 255);
  text_colour_ = Rgb(0, 0, 0);
  window_org_ = {};
  return true;
}

bool DC::DeleteDC() {
  if (!created_) return false;
  created_ = false;
  external_ = nullptr;
  selected_ = nullptr;
  stock_.DeleteObject();
  return true;
}

Bitmap* DC::SelectObject(Bitmap* bitmap) {
  if (!created_ || external_ != nullptr || bitmap == nullptr || bitmap->IsNull()) return nullptr;
  Bitmap* previous = selected_;
  selected_ = bitmap;
  return previous;
}

COLORREF DC::SetBkColor(COLORREF colour) { return std::exchange(bk_colour_, colour); }

COLORREF DC::SetTextColor(COLORREF colour) { return std::exchange(text_colour_, colour); }

QImage* DC::Surface() const {
  if (!created_) return nullptr;
  if (external_ != nullptr) return external_;
  return selected_ != nullptr && !selected_->IsNull() ? &selected_->Image() : nullptr;
}

bool DC::DrawsMonochrome() const {
  const QImage* surface = Surface();
  return surface != nullptr && IsMonochrome(*surface);
}

void DC::AttachSurface(QImage* image, const RECT& clip) {
  DeleteDC();
  created_ = true;
  if (image->format() != QImage::Format_RGB32)
    *image = image->convertToFormat(QImage::Format_RGB32);
  external_ = image;
  external_clip_ = clip;
}

RECT DC::DeviceClip() const {
  const QImage* surface = Surface();
  if (surface == nullptr) return {};
  RECT clip{0, 0, surface->width(), surface->height()};
  if (external_ != nullptr) {
    clip.left = std::max(clip.left, external_clip_.left);
    clip.top = std::max(clip.top, external_clip_.top);
    clip.right = std::min(clip.right, external_clip_.right);
    clip.bottom = std::min(clip.bottom, external_clip_.bottom);
  }
  if (clip.IsEmpty()) return {};
  return clip;
}

int DC::GetClipBox(RECT* rect) const {
  if (Surface() == nullptr) return REGION_ERROR;
  RECT clip = DeviceClip();
  POINT corners[2] = {{clip.left, clip.top}, {clip.right, clip.bottom}};
  DPtoLP(corners, 2);
  *rect = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
  return clip.IsEmpty() ? NULLREGION : SIMPLEREGION;
}

COLORREF DC::GetPixel(int x, int y) const {
  POINT p{x, y};
  LPtoDP(&p, 1);
  const RECT clip = DeviceClip();
  if (p.x < clip.left || p.x >= clip.right || p.y < clip.top || p.y >= clip.bottom) {
    return CLR_INVALID;
  }
  const QImage& surface = *Surface();
  if (IsMonochrome(surface)) return BitAt(surface, p.x, p.y) ? Rgb(255, 255, 255) : Rgb(0, 0, 0);
  return FromQRgb(ColourAt(surface, p.x, p.y));
}

void DC::FillSolidRect(int x, int y, int cx, int cy, COLORREF colour) {
  SetBkColor(colour);
  QImage* surface = Surface();
  if (surface == nullptr) return;
  POINT p{x, y};
  LPtoDP(&p, 1);
  const RECT clip = DeviceClip();
  const int x0 = std::max(p.x, clip.left), x1 = std::min(p.x + cx, clip.right);
  const int y0 = std::max(p.y, clip.top), y1 = std::min(p.y + cy, clip.bottom);
  for (int yy = y0; yy < y1; ++yy) {
    for (int xx = x0; xx < x1; ++xx) {
      if (IsMonochrome(*surface)) {
        SetBitAt(*surface, xx, yy, NearestBit(colour));
      } else {
        SetColourAt(*surface, xx, yy, ToQRgb(colour) & 0x00FFFFFFu);
      }
    }
  }
}

void DC::FillSolidRect(const RECT& rect, COLORREF colour) {
  FillSolidRect(rect.left, rect.top, rect.Width(), rect.Height(), colour);
}

bool DC::BitBlt(int x, int y, int width, int height, DC* source, int xs, int ys, DWORD rop) {
  if (rop != SRCCOPY && rop != SRCAND && rop != SRCPAINT) return false;
  QImage* dst = Surface();
  const QImage* src = source != nullptr ? source->Surface() : nullptr;
  if (dst == nullptr || src == nullptr) return false;
  if (width <= 0 || height <= 0) return true;

  POINT d{x, y};
  LPtoDP(&d, 1);
  POINT s{xs, ys};
  source->LPtoDP(&s, 1);
  // Offsets (dx, dy) within the rectangle whose source pixel exists and whose destination pixel
  // is inside the clip box.
  const RECT clip = DeviceClip();
  const int x0 = std::max({0, -s.x, clip.left - d.x});
  const int x1 = std::min({width, src->width() - s.x, clip.right - d.x});
  const int y0 = std::max({0, -s.y, clip.top - d.y});
  const int y1 = std::min({height, src->height() - s.y, clip.bottom - d.y});
  if (x0 >= x1 || y0 >= y1) return true;

  QImage own_copy;
  if (src == dst) {  // a transfer within one surface reads the pixels as they were before it
    own_copy = src->copy();
    src = &own_copy;
  }
  const bool src_mono = IsMonochrome(*src);
  const bool dst_mono = IsMonochrome(*dst);
  const QRgb src_key = ToQRgb(source->bk_colour_) & 0x00FFFFFFu;
  const QRgb set_colour = ToQRgb(bk_colour_) & 0x00FFFFFFu;
  const QRgb clear_colour = ToQRgb(text_colour_) & 0x00FFFFFFu;

  for (int dy = y0; dy < y1; ++dy) {
    for (int dx = x0; dx < x1; ++dx) {
      const int sx = s.x + dx, sy = s.y + dy, tx = d.x + dx, ty = d.y + dy;
      QRgb value;
      if (dst_mono) {
        value = src_mono ? BitAt(*src, sx, sy) : (ColourAt(*src, sx, sy) == src_key ? 1u : 0u);
      } else {
        value =
            src_mono ? (BitAt(*src, sx, sy) ? set_colour : clear_colour) : ColourAt(*src, sx, sy);
      }
      const QRgb old = dst_mono ? BitAt(*dst, tx, ty) : ColourAt(*dst, tx, ty);
      if (rop == SRCAND) value &= old;
      if (rop == SRCPAINT) value |= old;
      if (dst_mono) {
        SetBitAt(*dst, tx, ty, value);
      } else {
        SetColourAt(*dst, tx, ty, value);
      }
    }
  }
  return true;
}

int DC::SetMapMode(int mode) { return mode == MM_TEXT ? MM_TEXT : 0; }

POINT DC::SetWindowOrg(int x, int y) { return std::exchange(window_org_, POINT{x, y}); }

void DC::LPtoDP(POINT* points, int count) const {
  for (int i = 0; i < count; ++i) {
    points[i].x -= window_org_.x;
    points[i].y -= window_org_.y;
  }
}

void DC::DPtoLP(POINT* points, int count) const {
  for (int i = 0; i < count; ++i) {
    points[i].x += window_org_.x;
    points[i].y += window_org_.y;
  }
}

PaintDC::PaintDC(QImage& client, const RECT& update) { AttachSurface(&client, update); }

}  // namespace quelt
