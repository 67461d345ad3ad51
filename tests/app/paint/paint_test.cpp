// What the window's own paints (tests/app/window) never reach: transfers past their source, masks
// keyed elsewhere, compatible bitmaps, pixels outside a paint's update rectangle, bitmap files and
// failed loads, the icon's sizes. Expected pixels come from the committed logo as Qt's own bitmap
// reader sees it.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTemporaryDir>

#include "app/paint/skin.h"
#include "app/paint/templates.h"

namespace quelt {
namespace {

TEST(Raster, RefusesOtherOperationsClipsToTheSourceAndKeysTheMaskWhereAsked) {
  constexpr QRgb kRed = 0xFFC80A14, kBlue = 0xFF0A14DC, kGrey = 0xFFC0C0C0;
  Bitmap source_bitmap, target_bitmap, mask;
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
  EXPECT_FALSE(target.BitBlt(0, 0, 4, 1, &source, 0, 0, 0x00660046 /* SRCINVERT */));
  EXPECT_TRUE(target.BitBlt(1, 0, 3, 1, &source, -1, 0, SRCCOPY));  // x 1 has no source
  EXPECT_TRUE(target.BitBlt(0, 0, 2, 1, &source, 1, 0, SRCCOPY));   // x 1 has no source
  EXPECT_TRUE(target.BitBlt(0, 0, 4, 1, &source, 2, 0, SRCCOPY));   // nothing has a source
  std::vector<QRgb> row;
  for (int x = 0; x < 4; ++x) row.push_back(target_bitmap.Image().pixel(x, 0));
  EXPECT_EQ(row, (std::vector<QRgb>{kBlue, kGrey, kRed, kBlue}));

  // Keyed on the pixel at (2, 0) with a key of 0; otherwise on the key, the position ignored.
  for (const COLORREF key : {COLORREF{0}, FromQRgb(kBlue), Rgb(1, 1, 1)}) {
    Bitmap image, mask;
    image.CreateBitmap(4, 1, 1, 32);
    for (int x = 0; x < 4; ++x) image.Image().setPixel(x, 0, row[x]);
    BuildMask(image, mask, key, 2, 0);
    for (int x = 0; x < 4; ++x) {
      const bool keyed = row[x] == (key ? ToQRgb(key) : kRed);
      EXPECT_EQ(mask.Image().pixelIndex(x, 0), keyed ? 1 : 0) << key << " " << x;
      EXPECT_EQ(image.Image().pixel(x, 0), keyed ? 0xFF000000 : row[x]) << key << " " << x;
    }
  }
  // A fresh memory context holds a monochrome bitmap, so bitmaps compatible with it are
  // monochrome; a paint context's are in colour.
  DC memory;
  memory.CreateCompatibleDC(nullptr);
  QImage client(8, 8, QImage::Format_RGB32);
  PaintDC paint(client, {0, 0, 8, 8});
  Bitmap mono, colour;
  mono.CreateCompatibleBitmap(memory, 8, 8);
  colour.CreateCompatibleBitmap(paint, 8, 8);
  EXPECT_TRUE(mono.IsMonochrome() && !colour.IsMonochrome());
}

// A paint redraws exactly its update rectangle: the face, the logo at (220, 0) with its key
// pixels showing the face. The rest keeps what it had.
TEST(PaintLogo, RedrawsOnlyTheUpdateRectangle) {
  const QImage picture = QImage(QUELT_RES_DIR "/logo.bmp").convertToFormat(QImage::Format_RGB32);
  constexpr QRgb kMagenta = 0xFFFF00FF, kFace = 0xFF1E5AC8;
  Bitmap logo, mask, none;
  QTemporaryDir dir;  // bitmap files are read, other pictures not
  const auto file = [&](const char* name) { return dir.filePath(name).toLocal8Bit(); };
  QImage small(5, 3, QImage::Format_RGB32);
  small.fill(qRgb(1, 2, 3));
  ASSERT_TRUE(small.save(file("s.bmp"), "BMP") && small.save(file("s.png"), "PNG"));
  ASSERT_NE(LoadBackground(none, file("s.bmp").constData(), 0), 0);
  EXPECT_EQ(none.Image().pixel(4, 2), qRgb(1, 2, 3));
  EXPECT_EQ(LoadBackground(none, file("s.png").constData(), IDB_BACKGROUND), 0);
  ASSERT_NE(LoadBackground(none, nullptr, 0x10000 + IDB_BACKGROUND), 0) << "the low 16 bits";
  EXPECT_EQ(LoadBackground(none, nullptr, 1005), 0);
  EXPECT_TRUE(none.IsNull()) << "a failed load still released what was there";
  ASSERT_NE(LoadBackground(logo, nullptr, IDB_BACKGROUND), 0);
  BuildMask(logo, mask, 0, 2, 2);
  const RECT updates[] = {
      {250, 30, 300, 80},    // inside the logo
      {200, 100, 260, 140},  // across its corner
      {2, 2, 2, 4},          // empty: nothing changes
      {0, 0, 354, 153},      // no logo: the face only
  };
  for (const RECT& u : updates) {
    Bitmap& shown = u.right == 354 ? none : logo;
    QImage client(354, 153, QImage::Format_RGB32);
    client.fill(kMagenta);
    PaintLogo(client, u, FromQRgb(kFace), shown, &shown == &logo ? mask : none);
    for (int y = 0; y < client.height(); ++y) {
      for (int x = 0; x < client.width(); ++x) {
        const bool in_logo = &shown == &logo && x >= 220 && x < 348 && y < 127;
        const QRgb p = in_logo ? picture.pixel(x - 220, y) : kFace;
        const bool inside = x >= u.left && x < u.right && y >= u.top && y < u.bottom;
        ASSERT_EQ(client.pixel(x, y), !inside           ? kMagenta
                                      : p == 0xFFC0C0C0 ? kFace
                                                        : p)
            << x << "," << y << " painting " << u.left << "," << u.top;
      }
    }
  }
  EXPECT_EQ(LoadAppIcon(IDR_MAINFRAME).availableSizes(),
            (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
  EXPECT_TRUE(LoadAppIcon(8).isNull());
}

}  // namespace
}  // namespace quelt

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);  // for the icon
  return RUN_ALL_TESTS();
}
