// The window's painting as it uses it: the logo and its mask, whole and partial paints over each
// button face, the raster operations, the icon. Expected pixels come from the committed logo as
// Qt's own bitmap reader sees it.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>

#include "app/paint/skin.h"
#include "app/paint/templates.h"

namespace quelt {
namespace {

TEST(BuildMask, MarksAndBlackensTheKeyColourAnExplicitKeyIgnoringThePosition) {
  constexpr COLORREF a = Rgb(10, 20, 30), b = Rgb(40, 50, 60);
  const struct {
    COLORREF key;
    std::vector<bool> expected;  // pixels a b a b
  } cases[] = {
      {0, {false, true, false, true}},  // the colour of the pixel at (1, 0)
      {a, {true, false, true, false}},
      {Rgb(1, 1, 1), {false, false, false, false}},
  };
  for (const auto& c : cases) {
    Bitmap image, mask;
    image.CreateBitmap(4, 1, 1, 32);
    for (int x = 0; x < 4; ++x) image.Image().setPixel(x, 0, ToQRgb(x % 2 ? b : a));
    BuildMask(image, mask, c.key, 1, 0);
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(mask.Image().pixelIndex(x, 0) == 1, c.expected[x]) << c.key << " x " << x;
      EXPECT_EQ(FromQRgb(image.Image().pixel(x, 0)), c.expected[x] ? Rgb(0, 0, 0) : x % 2 ? b : a);
    }
  }
  Bitmap image, mask;
  BuildMask(image, mask, 0, 2, 2);  // nothing to mask
  EXPECT_TRUE(mask.IsNull());
}

TEST(LoadBackground, ReadsBitmapsOnlyAndReleasesWhatItHeldFirst) {
  QTemporaryDir dir;
  const QByteArray bmp = dir.filePath("small.bmp").toLocal8Bit();
  const QByteArray png = dir.filePath("small.png").toLocal8Bit();
  QImage picture(5, 3, QImage::Format_RGB32);
  picture.fill(qRgb(1, 2, 3));
  ASSERT_TRUE(picture.save(QString::fromLocal8Bit(bmp), "BMP") &&
              picture.save(dir.filePath("small.png"), "PNG"));

  Bitmap bitmap;
  ASSERT_NE(LoadBackground(bitmap, nullptr, IDB_BACKGROUND), 0);
  EXPECT_EQ(bitmap.Image().size(), QSize(128, 128));
  ASSERT_NE(LoadBackground(bitmap, bmp.constData(), 0), 0);
  EXPECT_EQ(bitmap.Image().pixel(4, 2), qRgb(1, 2, 3));
  EXPECT_EQ(LoadBackground(bitmap, (dir.path() + "/missing.bmp").toLocal8Bit().constData(), 0), 0);
  EXPECT_TRUE(bitmap.IsNull()) << "a failed load still released what was there";
  EXPECT_EQ(LoadBackground(bitmap, png.constData(), 0), 0);
  EXPECT_EQ(LoadBackground(bitmap, nullptr, 1005), 0);
  EXPECT_NE(LoadBackground(bitmap, nullptr, 0x10000 + IDB_BACKGROUND), 0) << "low 16 bits";
  EXPECT_EQ(LoadAppIcon(IDR_MAINFRAME).availableSizes(),
            (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
  EXPECT_TRUE(LoadAppIcon(8).isNull());
}

// A paint redraws exactly its update rectangle: the face, the logo at (220, 0) with its key
// pixels showing the face. The rest keeps what it had. (The window checks whole paints.)
TEST(PaintLogo, RedrawsOnlyTheUpdateRectangle) {
  const QImage picture = QImage(QUELT_RES_DIR "/logo.bmp").convertToFormat(QImage::Format_RGB32);
  constexpr QRgb kMagenta = 0xFFFF00FF, kFace = 0xFF1E5AC8;
  Bitmap logo, mask, none;
  ASSERT_NE(LoadBackground(logo, nullptr, IDB_BACKGROUND), 0);
  BuildMask(logo, mask, 0, 2, 2);
  const struct {
    RECT update;
    Bitmap* logo;
  } cases[] = {
      {{250, 30, 300, 80}, &logo},    // inside the logo
      {{200, 100, 260, 140}, &logo},  // across its corner
      {{2, 2, 2, 4}, &logo},          // empty: nothing changes
      {{0, 0, 354, 153}, &none},      // no logo: the face only
  };
  for (const auto& c : cases) {
    const RECT& u = c.update;
    QImage client(354, 153, QImage::Format_RGB32);
    client.fill(kMagenta);
    PaintLogo(client, u, FromQRgb(kFace), *c.logo, c.logo == &logo ? mask : none);
    for (int y = 0; y < client.height(); ++y) {
      for (int x = 0; x < client.width(); ++x) {
        const bool in_logo = c.logo == &logo && x >= 220 && x < 348 && y < 127;
        const QRgb p = in_logo ? picture.pixel(x - 220, y) : kFace;
        const bool inside = x >= u.left && x < u.right && y >= u.top && y < u.bottom;
        ASSERT_EQ(client.pixel(x, y), !inside           ? kMagenta
                                      : p == 0xFFC0C0C0 ? kFace
                                                        : p)
            << x << "," << y << " painting " << u.left << "," << u.top;
      }
    }
  }
}

// The window blits with SRCCOPY, SRCAND and SRCPAINT only; any other operation is refused, and
// a transfer reaching past its source leaves the pixels there as they were.
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

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);  // for the icon
  return RUN_ALL_TESTS();
}
