// A bitmap object of the raster layer: empty, a colour image in the display's format (32 bits,
// QImage::Format_RGB32) or a monochrome image of one bit per pixel (QImage::Format_Mono, index 0
// black = clear bit, index 1 white = set bit). The window owns two of them, the logo and its
// mask, fills them once with LoadBackground and BuildMask (skin.h) and keeps them for every paint.
#pragma once

#include <QImage>

namespace quelt {

class DC;

// The description GetBitmap fills in.
struct BITMAP {
  int bmWidth = 0;
  int bmHeight = 0;
  int bmPlanes = 0;
  int bmBitsPixel = 0;
};

class Bitmap {
 public:
  Bitmap() = default;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  // A new image of w by h: one plane of 1 bit per pixel is monochrome, 24 or 32 bits colour.
  // The image starts black (all bits clear). Fails on an object that already holds an image.
  bool CreateBitmap(int w, int h, unsigned planes, unsigned bits_per_pixel);
  // An image in the format of what dc draws on: monochrome while dc holds a monochrome bitmap
  // (a fresh memory context does), colour otherwise.
  bool CreateCompatibleBitmap(const DC& dc, int w, int h);
  // Takes a loaded picture, converted to the display's colour format.
  bool Attach(const QImage& picture);
  // Releases the image; returns false when there was none.
  bool DeleteObject();

  // Nonzero when the description was filled, 0 for an empty object.
  int GetBitmap(BITMAP* out) const;

  bool IsNull() const { return image_.isNull(); }
  bool IsMonochrome() const { return image_.format() == QImage::Format_Mono; }
  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }

  const QImage& Image() const { return image_; }
  QImage& Image() { return image_; }

 private:
  QImage image_;
};

}  // namespace quelt
