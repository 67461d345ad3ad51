#include "app/paint/skin.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "app/paint/templates.h"

namespace quelt {
namespace {

constexpr QRgb kKey = 0xFFC0C0C0;  // the logo's background grey

// The logo as committed, read by Qt's own bitmap reader.
QImage ResourcePicture() {
  return QImage(QStringLiteral(QUELT_RES_DIR "/logo.bmp")).convertToFormat(QImage::Format_RGB32);
}

bool MaskBit(const Bitmap& mask, int x, int y) { return mask.Image().pixelIndex(x, y) == 1; }

struct Logo {
  Bitmap logo;
  Bitmap mask;
  Logo() {
    EXPECT_NE(LoadBackground(logo, nullptr, IDB_BACKGROUND), 0);
    BuildMask(logo, mask, 0, 2, 2);
  }
};

TEST(BuildMask, MarksExactlyTheKeyPixelsAndBlackensThemInTheLogo) {
  const QImage picture = ResourcePicture();
  ASSERT_EQ(picture.size(), QSize(128, 128));
  Logo l;
  ASSERT_TRUE(l.mask.IsMonochrome());
  ASSERT_EQ(l.mask.Image().size(), QSize(128, 128));
  int keys = 0, blacks = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      const QRgb original = picture.pixel(x, y);
      const bool key = original == kKey;
      keys += key;
      blacks += original == qRgb(0, 0, 0);
      ASSERT_EQ(MaskBit(l.mask, x, y), key) << x << "," << y;
      ASSERT_EQ(l.logo.Image().pixel(x, y), key ? qRgb(0, 0, 0) : original) << x << "," << y;
    }
  }
  EXPECT_GT(keys, 0);
  EXPECT_GT(blacks, 0);  // black pixels stay black and clear in the mask, checked above
}

TEST(BuildMask, AnExplicitKeyIgnoresThePosition) {
  constexpr COLORREF a = Rgb(10, 20, 30), b = Rgb(40, 50, 60);
  struct Case {
    const char* name;
    COLORREF key;
    std::vector<bool> expected;  // pixels a b a b
  } cases[] = {
      {"key of the pixel at (1, 0)", 0, {false, true, false, true}},
      {"explicit key", a, {true, false, true, false}},
      {"explicit key matching nothing", Rgb(1, 1, 1), {false, false, false, false}},
  };
  for (const Case& c : cases) {
    Bitmap image, mask;
    image.CreateBitmap(4, 1, 1, 32);
    for (int x = 0; x < 4; ++x) image.Image().setPixel(x, 0, ToQRgb(x % 2 ? b : a));
    BuildMask(image, mask, c.key, 1, 0);
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(MaskBit(mask, x, 0), c.expected[x]) << c.name << " x " << x;
      const COLORREF kept = x % 2 ? b : a;
      EXPECT_EQ(FromQRgb(image.Image().pixel(x, 0)), c.expected[x] ? Rgb(0, 0, 0) : kept)
          << c.name << " x " << x;
    }
  }
}

TEST(BuildMask, DoesNothingWithoutAnImage) {
  Bitmap image, mask;
  BuildMask(image, mask, 0, 2, 2);
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

// What a correct paint shows at client pixel (x, y) over face.
QRgb Expected(const QImage& picture, int x, int y, QRgb face) {
  const int lx = x - 220;
  if (lx < 0 || lx >= 128 || y >= 127) return face;
  const QRgb p = picture.pixel(lx, y);
  return p == kKey ? face : p;
}

constexpr QSize kClient(354, 153);

TEST(PaintLogo, ShowsTheButtonFaceAtKeyPixelsAndTheLogoElsewhere) {
  const QImage picture = ResourcePicture();
  Logo l;
  for (QRgb face : {qRgb(239, 239, 239), qRgb(192, 192, 192), qRgb(0, 0, 0), qRgb(30, 90, 200)}) {
    QImage client(kClient, QImage::Format_RGB32);
    client.fill(Qt::magenta);
    PaintLogo(client, {0, 0, 354, 153}, FromQRgb(face), l.logo, l.mask);
    for (int y = 0; y < kClient.height(); ++y) {
      for (int x = 0; x < kClient.width(); ++x) {
        ASSERT_EQ(client.pixel(x, y), Expected(picture, x, y, face))
            << x << "," << y << " face " << std::hex << face;
      }
    }
  }
}

TEST(PaintLogo, APartialUpdateRedrawsOnlyThatPartAtTheSamePlace) {
  const QImage picture = ResourcePicture();
  const QRgb face = qRgb(239, 239, 239);
  Logo l;
  const RECT updates[] = {
      {250, 30, 300, 80},    // inside the logo
      {200, 100, 260, 140},  // across its bottom left corner
      {340, 0, 354, 153},    // the right edge, past the logo's width
      {0, 0, 1, 1},          // away from the logo
  };
  for (const RECT& u : updates) {
    QImage client(kClient, QImage::Format_RGB32);
    client.fill(Qt::magenta);
    PaintLogo(client, u, FromQRgb(face), l.logo, l.mask);
    for (int y = 0; y < kClient.height(); ++y) {
      for (int x = 0; x < kClient.width(); ++x) {
        const bool inside = x >= u.left && x < u.right && y >= u.top && y < u.bottom;
        ASSERT_EQ(client.pixel(x, y), inside ? Expected(picture, x, y, face) : qRgb(255, 0, 255))
            << x << "," << y << " update " << u.left << "," << u.top;
      }
    }
  }
}

TEST(PaintLogo, TheNextPaintUsesAChangedButtonFace) {
  const QImage picture = ResourcePicture();
  Logo l;
  QImage client(kClient, QImage::Format_RGB32);
  PaintLogo(client, {0, 0, 354, 153}, Rgb(239, 239, 239), l.logo, l.mask);
  PaintLogo(client, {0, 0, 354, 153}, Rgb(60, 120, 90), l.logo, l.mask);
  for (int y = 0; y < kClient.height(); ++y) {
    for (int x = 0; x < kClient.width(); ++x) {
      ASSERT_EQ(client.pixel(x, y), Expected(picture, x, y, qRgb(60, 120, 90))) << x << "," << y;
    }
  }
}

TEST(PaintLogo, WithoutALogoPaintsOnlyTheButtonFace) {
  Bitmap logo, mask;
  QImage client(kClient, QImage::Format_RGB32);
  client.fill(Qt::magenta);
  PaintLogo(client, {0, 0, 354, 153}, Rgb(239, 239, 239), logo, mask);
  for (int y = 0; y < kClient.height(); ++y) {
    for (int x = 0; x < kClient.width(); ++x) {
      ASSERT_EQ(client.pixel(x, y), qRgb(239, 239, 239)) << x << "," << y;
    }
  }
}

TEST(AppIcon, HasItsThreeSizes) {
  const QIcon icon = LoadAppIcon(IDR_MAINFRAME);
  EXPECT_EQ(icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
  EXPECT_TRUE(LoadAppIcon(8).isNull());
}

}  // namespace
}  // namespace quelt
