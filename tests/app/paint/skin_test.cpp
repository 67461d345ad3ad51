// The window's painting as it uses it: the logo and its mask, whole and partial paints over
// each button face, the minimised icon. Expected pixels come from the committed logo as Qt's own
// bitmap reader sees it.
#include "app/paint/skin.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/paint/bitmap.h"
#include "app/paint/dc.h"
#include "app/paint/templates.h"

namespace quelt {
namespace {

constexpr QRgb kKey = 0xFFC0C0C0;  // the logo's background grey
constexpr QRgb kMagenta = 0xFFFF00FF;
constexpr QSize kClient(354, 153);

QImage ResourcePicture() {
  return QImage(QStringLiteral(QUELT_RES_DIR "/logo.bmp")).convertToFormat(QImage::Format_RGB32);
}

bool MaskBit(const Bitmap& mask, int x, int y) { return mask.Image().pixelIndex(x, y) == 1; }

// What a correct paint shows at client pixel (x, y) over face: the logo at (220, 0), its key
// pixels showing the face.
QRgb Expected(const QImage& picture, int x, int y, QRgb face) {
  const int lx = x - 220;
  if (lx < 0 || lx >= 128 || y >= 127) return face;
  const QRgb p = picture.pixel(lx, y);
  return p == kKey ? face : p;
}

TEST(BuildMask, AnExplicitKeyIgnoresThePosition) {
  constexpr COLORREF a = Rgb(10, 20, 30), b = Rgb(40, 50, 60);
  const struct {
    COLORREF key;
    std::vector<bool> expected;  // pixels a b a b
  } cases[] = {
      {0, {false, true, false, true}},  // the key of the pixel at (1, 0)
      {a, {true, false, true, false}},
      {Rgb(1, 1, 1), {false, false, false, false}},
  };
  for (const auto& c : cases) {
    Bitmap image, mask;
    image.CreateBitmap(4, 1, 1, 32);
    for (int x = 0; x < 4; ++x) image.Image().setPixel(x, 0, ToQRgb(x % 2 ? b : a));
    BuildMask(image, mask, c.key, 1, 0);
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(MaskBit(mask, x, 0), c.expected[x]) << c.key << " x " << x;
      EXPECT_EQ(FromQRgb(image.Image().pixel(x, 0)), c.expected[x] ? Rgb(0, 0, 0) : x % 2 ? b : a);
    }
  }
  Bitmap image, mask;
  BuildMask(image, mask, 0, 2, 2);  // nothing to mask
  EXPECT_TRUE(mask.IsNull());
}

TEST(LoadBackground, ASecondCallReleasesTheFirstImage) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray small = dir.filePath(QStringLiteral("small.bmp")).toLocal8Bit();
  const QByteArray png = dir.filePath(QStringLiteral("small.png")).toLocal8Bit();
  QImage picture(5, 3, QImage::Format_RGB32);
  picture.fill(qRgb(1, 2, 3));
  ASSERT_TRUE(picture.save(QString::fromLocal8Bit(small), "BMP"));
  ASSERT_TRUE(picture.save(QString::fromLocal8Bit(png), "PNG"));

  Bitmap bitmap;
  ASSERT_NE(LoadBackground(bitmap, nullptr, IDB_BACKGROUND), 0);
  EXPECT_EQ(bitmap.Image().size(), QSize(128, 128));
  ASSERT_NE(LoadBackground(bitmap, small.constData(), 0), 0);
  EXPECT_EQ(bitmap.Image().size(), QSize(5, 3));
  EXPECT_EQ(bitmap.Image().pixel(4, 2), qRgb(1, 2, 3));
  // A failed load still released what was there.
  EXPECT_EQ(LoadBackground(bitmap, (dir.path() + "/missing.bmp").toLocal8Bit().constData(), 0), 0);
  EXPECT_TRUE(bitmap.IsNull());
  EXPECT_EQ(LoadBackground(bitmap, png.constData(), 0), 0);  // only bitmaps are read
  EXPECT_EQ(LoadBackground(bitmap, nullptr, 1005), 0);
  // The resource id counts by its low 16 bits.
  EXPECT_NE(LoadBackground(bitmap, nullptr, 0x10000 + IDB_BACKGROUND), 0);
}

// Each paint redraws exactly its update rectangle, the logo at its place over the face of that
// paint; the rest of the client keeps what it had (magenta, or the previous paint).
TEST(PaintLogo, RedrawsTheUpdateRectangleOverTheButtonFace) {
  const QImage picture = ResourcePicture();
  Bitmap logo, mask;
  ASSERT_NE(LoadBackground(logo, nullptr, IDB_BACKGROUND), 0);
  BuildMask(logo, mask, 0, 2, 2);
  const struct {
    RECT update;
    QRgb face;
    bool repaint;  // over a first whole paint with another face, not over magenta
  } cases[] = {
      {{0, 0, 354, 153}, qRgb(239, 239, 239), false},
      {{0, 0, 354, 153}, qRgb(192, 192, 192), false},  // the key colour itself
      {{0, 0, 354, 153}, qRgb(0, 0, 0), false},
      {{0, 0, 354, 153}, qRgb(60, 120, 90), true},
      {{250, 30, 300, 80}, qRgb(239, 239, 239), false},    // inside the logo
      {{200, 100, 260, 140}, qRgb(239, 239, 239), false},  // across its bottom left corner
      {{340, 0, 354, 153}, qRgb(239, 239, 239), false},    // the right edge, past the logo
      {{0, 0, 1, 1}, qRgb(30, 90, 200), false},            // away from the logo
      {{2, 2, 2, 4}, qRgb(30, 90, 200), false},            // empty: nothing changes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.update.left << "," << c.update.top << " face " << std::hex << c.face);
    QImage client(kClient, QImage::Format_RGB32);
    client.fill(kMagenta);
    if (c.repaint) PaintLogo(client, {0, 0, 354, 153}, Rgb(239, 239, 239), logo, mask);
    PaintLogo(client, c.update, FromQRgb(c.face), logo, mask);
    const RECT& u = c.update;
    for (int y = 0; y < kClient.height(); ++y) {
      for (int x = 0; x < kClient.width(); ++x) {
        const bool inside = x >= u.left && x < u.right && y >= u.top && y < u.bottom;
        ASSERT_EQ(client.pixel(x, y), inside ? Expected(picture, x, y, c.face) : kMagenta)
            << x << "," << y;
      }
    }
  }
  // Without a logo only the button face is painted.
  Bitmap none, no_mask;
  QImage client(kClient, QImage::Format_RGB32);
  PaintLogo(client, {0, 0, 354, 153}, Rgb(239, 239, 239), none, no_mask);
  for (int y = 0; y < kClient.height(); ++y) {
    for (int x = 0; x < kClient.width(); ++x) ASSERT_EQ(client.pixel(x, y), qRgb(239, 239, 239));
  }
}

TEST(AppIcon, HasItsThreeSizes) {
  EXPECT_EQ(LoadAppIcon(IDR_MAINFRAME).availableSizes(),
            (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
  EXPECT_TRUE(LoadAppIcon(8).isNull());
}

// The window blits whole bitmaps with SRCCOPY, SRCAND and SRCPAINT only; any other operation is
// refused, and a transfer reaching past its source leaves the pixels there as they were.
TEST(Raster, OtherOperationsAreRefusedAndTransfersClippedToTheSource) {
  constexpr QRgb kRed = 0xFFC80A14, kBlue = 0xFF0A14DC, kGrey = 0xFFC0C0C0;
  const struct {
    int xs;
    DWORD rop;
    std::vector<QRgb> expected;
  } cases[] = {
      {0, SRCCOPY, {kRed, kBlue, kGrey, kGrey}},
      {1, SRCCOPY, {kBlue, kGrey, kGrey, kGrey}},
      {-1, SRCCOPY, {kGrey, kRed, kBlue, kGrey}},
      {2, SRCCOPY, {kGrey, kGrey, kGrey, kGrey}},
      {0, 0x00660046 /* SRCINVERT */, {kGrey, kGrey, kGrey, kGrey}},
  };
  for (const auto& c : cases) {
    Bitmap source_bitmap, target_bitmap;
    source_bitmap.CreateBitmap(2, 1, 1, 32);
    source_bitmap.Image().setPixel(0, 0, kRed);
    source_bitmap.Image().setPixel(1, 0, kBlue);
    target_bitmap.CreateBitmap(4, 1, 1, 32);
    target_bitmap.Image().fill(kGrey);
    DC source, target;
    source.CreateCompatibleDC(nullptr);
    target.CreateCompatibleDC(nullptr);
    source.SelectObject(&source_bitmap);
    target.SelectObject(&target_bitmap);
    EXPECT_EQ(target.BitBlt(0, 0, 4, 1, &source, c.xs, 0, c.rop), c.rop == SRCCOPY);
    std::vector<QRgb> row;
    for (int x = 0; x < 4; ++x) row.push_back(target_bitmap.Image().pixel(x, 0));
    EXPECT_EQ(row, c.expected) << "xs " << c.xs << " rop " << std::hex << c.rop;
  }
  // A fresh memory context holds a monochrome bitmap, so its compatible bitmaps are monochrome;
  // a paint context's are in colour.
  DC memory;
  memory.CreateCompatibleDC(nullptr);
  QImage client(8, 8, QImage::Format_RGB32);
  PaintDC paint(client, {0, 0, 8, 8});
  Bitmap mono, colour;
  mono.CreateCompatibleBitmap(memory, 8, 8);
  colour.CreateCompatibleBitmap(paint, 8, 8);
  EXPECT_TRUE(mono.IsMonochrome());
  EXPECT_FALSE(colour.IsMonochrome());
}

}  // namespace
}  // namespace quelt
