#include "app/paint/skin.h"

#include <QFile>
#include <QImageReader>
#include <QString>

#include "app/paint/offscreen_dc.h"

// The resources are linked into the library; naming the initialiser pulls them in even when
// the library is static.
static void InitResources() { Q_INIT_RESOURCE(quelt); }

namespace quelt {

namespace {

QImage ReadBitmap(const QString& name) {
  QImageReader reader(name, "bmp");  // a bitmap loader reads bitmaps only
  reader.setDecideFormatFromContent(false);
  reader.setAutoTransform(false);
  return reader.read();
}

}  // namespace

int LoadBackground(Bitmap& bitmap, const char* path, int id) {
  bitmap.DeleteObject();
  QImage picture;
  if (path != nullptr) {
    QString name = QString::fromLocal8Bit(path);
    if (name.startsWith(u':')) name.prepend(u"./");  // a file name, never a resource name
    picture = ReadBitmap(name);
  } else {
    InitResources();
    picture = ReadBitmap(QStringLiteral(":/bitmap/%1").arg(id & 0xFFFF));
  }
  return bitmap.Attach(picture) ? 1 : 0;
}

void BuildMask(Bitmap& image, Bitmap& mask, COLORREF key, int x, int y) {
  BITMAP info;
  if (!image.GetBitmap(&info)) return;
  mask.DeleteObject();
  mask.CreateBitmap(info.bmWidth, info.bmHeight, 1, 1);

  DC image_dc;
  DC mask_dc;
  image_dc.CreateCompatibleDC(nullptr);
  mask_dc.CreateCompatibleDC(nullptr);
  Bitmap* old_image = image_dc.SelectObject(&image);
  Bitmap* old_mask = mask_dc.SelectObject(&mask);

  const COLORREF colour = key != 0 ? key : image_dc.GetPixel(x, y);
  image_dc.SetBkColor(colour);
  mask_dc.BitBlt(0, 0, info.bmWidth, info.bmHeight, &image_dc, 0, 0, SRCCOPY);

  image_dc.SetTextColor(Rgb(255, 255, 255));
  image_dc.SetBkColor(Rgb(0, 0, 0));
  image_dc.BitBlt(0, 0, info.bmWidth, info.bmHeight, &mask_dc, 0, 0, SRCAND);

  image_dc.SelectObject(old_image);
  mask_dc.SelectObject(old_mask);
  image_dc.DeleteDC();
  mask_dc.DeleteDC();
}

void BlitMasked(DC& target, int x, int y, int w, int h, DC& source, int xs, int ys, Bitmap& mask) {
  DC mask_dc;
  mask_dc.CreateCompatibleDC(nullptr);
  Bitmap* old = mask_dc.SelectObject(&mask);
  target.BitBlt(x, y, w, h, &mask_dc, xs, ys, SRCAND);
  target.BitBlt(x, y, w, h, &source, xs, ys, SRCPAINT);
  mask_dc.SelectObject(old);
  mask_dc.DeleteDC();
}

void PaintLogo(QImage& client, const RECT& update, COLORREF button_face, Bitmap& logo,
               Bitmap& mask) {
  PaintDC dc(client, update);
  DC logo_dc;
  logo_dc.CreateCompatibleDC(&dc);
  Bitmap* old = logo_dc.SelectObject(&logo);
  dc.SetBkColor(button_face);  // the fill colour of the surface below
  {
    OffscreenDC surface(&dc);
    // Without a logo and mask the contexts would hold their 1 by 1 stock bitmaps, and the
    // masked drawing would put a stray black pixel at the logo's corner.
    if (!logo.IsNull() && !mask.IsNull()) {
      BlitMasked(surface, kLogoRect.left, kLogoRect.top, kLogoRect.Width(), kLogoRect.Height(),
                 logo_dc, 0, 0, mask);
    }
  }
  logo_dc.SelectObject(old);
  logo_dc.DeleteDC();
}

QIcon LoadAppIcon(int id) {
  InitResources();
  QIcon icon;
  for (int size : {16, 32, 48}) {
    const QString name = QStringLiteral(":/icon/%1/%2.png").arg(id).arg(size);
    if (QFile::exists(name)) icon.addFile(name, QSize(size, size));
  }
  return icon;
}

}  // namespace quelt
