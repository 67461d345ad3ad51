#include "app/paint/bitmap.h"

#include "app/paint/dc.h"

namespace quelt {

bool Bitmap::CreateBitmap(int w, int h, unsigned planes, unsigned bits_per_pixel) {
  if (!IsNull() || w <= 0 || h <= 0 || planes != 1) return false;
  if (bits_per_pixel == 1) {
    image_ = QImage(w, h, QImage::Format_Mono);
    image_.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    image_.fill(0);
    return true;
  }
  if (bits_per_pixel != 24 && bits_per_pixel != 32) return false;
  image_ = QImage(w, h, QImage::Format_RGB32);
  image_.fill(qRgb(0, 0, 0));
  return true;
}

bool Bitmap::CreateCompatibleBitmap(const DC& dc, int w, int h) {
  return CreateBitmap(w, h, 1, dc.DrawsMonochrome() ? 1 : 32);
}

bool Bitmap::Attach(const QImage& picture) {
  if (!IsNull() || picture.isNull()) return false;
  image_ = picture.convertToFormat(QImage::Format_RGB32);
  return true;
}

bool Bitmap::DeleteObject() {
  if (IsNull()) return false;
  image_ = QImage();
  return true;
}

int Bitmap::GetBitmap(BITMAP* out) const {
  if (IsNull() || out == nullptr) return 0;
  out->bmWidth = Width();
  out->bmHeight = Height();
  out->bmPlanes = 1;
  out->bmBitsPixel = IsMonochrome() ? 1 : 32;
  return 1;
}

}  // namespace quelt
