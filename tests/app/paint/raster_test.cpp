#include <gtest/gtest.h>

#include "app/paint/bitmap.h"
#include "app/paint/dc.h"
#include "app/paint/offscreen_dc.h"

namespace quelt {
namespace {

// A memory context holding a new bitmap of w by h (bpp 1 or 32) filled from pixels, row by row.
struct Surface {
  Bitmap bitmap;
  DC dc;
  Surface(int w, int h, unsigned bpp, std::initializer_list<COLORREF> pixels = {}) {
    bitmap.CreateBitmap(w, h, 1, bpp);
    dc.CreateCompatibleDC(nullptr);
    dc.SelectObject(&bitmap);
    int i = 0;
    for (COLORREF c : pixels) {
      dc.SetPixel(i % w, i / w, c);
      ++i;
    }
  }
  std::vector<COLORREF> Row(int y, int w) {
    std::vector<COLORREF> out;
    for (int x = 0; x < w; ++x) out.push_back(dc.GetPixel(x, y));
    return out;
  }
};

constexpr COLORREF kWhite = Rgb(255, 255, 255);
constexpr COLORREF kBlack = Rgb(0, 0, 0);
constexpr COLORREF kGrey = Rgb(192, 192, 192);
constexpr COLORREF kRed = Rgb(200, 10, 20);
constexpr COLORREF kBlue = Rgb(10, 20, 220);

TEST(BitBlt, ColourToMonochromeSetsBitsWhereTheSourceBackgroundColourIs) {
  Surface src(4, 1, 32, {kGrey, kRed, kGrey, Rgb(192, 192, 193)});
  Surface dst(4, 1, 1);
  src.dc.SetBkColor(kGrey);
  src.dc.SetTextColor(kRed);  // not part of the rule
  dst.dc.SetBkColor(kRed);    // the destination's colours play no part either
  ASSERT_TRUE(dst.dc.BitBlt(0, 0, 4, 1, &src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.Row(0, 4), (std::vector<COLORREF>{kWhite, kBlack, kWhite, kBlack}));
}

TEST(BitBlt, MonochromeToColourTakesTheDestinationTextAndBackgroundColours) {
  Surface src(2, 1, 1, {kBlack, kWhite});
  Surface dst(2, 1, 32);
  src.dc.SetTextColor(kGrey);  // the source's colours play no part
  src.dc.SetBkColor(kGrey);
  dst.dc.SetTextColor(kRed);
  dst.dc.SetBkColor(kBlue);
  ASSERT_TRUE(dst.dc.BitBlt(0, 0, 2, 1, &src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.Row(0, 2), (std::vector<COLORREF>{kRed, kBlue}));
}

TEST(BitBlt, RasterOperationsCombineTheConvertedSourceWithTheDestination) {
  constexpr COLORREF d = Rgb(0xF0, 0x0F, 0x55);
  constexpr COLORREF s = Rgb(0x3C, 0xC3, 0xFF);
  struct Case {
    const char* name;
    DWORD rop;
    COLORREF expected;
  } cases[] = {
      {"SRCCOPY", SRCCOPY, s},
      {"SRCAND", SRCAND, Rgb(0x30, 0x03, 0x55)},
      {"SRCPAINT", SRCPAINT, Rgb(0xFC, 0xCF, 0xFF)},
  };
  for (const Case& c : cases) {
    Surface src(1, 1, 32, {s});
    Surface dst(1, 1, 32, {d});
    ASSERT_TRUE(dst.dc.BitBlt(0, 0, 1, 1, &src.dc, 0, 0, c.rop)) << c.name;
    EXPECT_EQ(dst.dc.GetPixel(0, 0), c.expected) << c.name;
  }
}

TEST(BitBlt, MonochromeRasterOperationsWorkOnBits) {
  struct Case {
    DWORD rop;
    std::vector<COLORREF> expected;  // destination 0 0 1 1 combined with source 0 1 0 1
  } cases[] = {
      {SRCCOPY, {kBlack, kWhite, kBlack, kWhite}},
      {SRCAND, {kBlack, kBlack, kBlack, kWhite}},
      {SRCPAINT, {kBlack, kWhite, kWhite, kWhite}},
  };
  for (const Case& c : cases) {
    Surface src(4, 1, 1, {kBlack, kWhite, kBlack, kWhite});
    Surface dst(4, 1, 1, {kBlack, kBlack, kWhite, kWhite});
    dst.dc.BitBlt(0, 0, 4, 1, &src.dc, 0, 0, c.rop);
    EXPECT_EQ(dst.Row(0, 4), c.expected) << c.rop;
  }
}

TEST(BitBlt, OtherRasterOperationsAreRefused) {
  Surface src(1, 1, 32, {kRed});
  Surface dst(1, 1, 32, {kBlue});
  EXPECT_FALSE(dst.dc.BitBlt(0, 0, 1, 1, &src.dc, 0, 0, 0x00660046 /* SRCINVERT */));
  EXPECT_EQ(dst.dc.GetPixel(0, 0), kBlue);
}

TEST(BitBlt, IsClippedToTheSource) {
  // A 2 by 1 source copied as 4 by 1: from x -1 only source pixel 0 exists for offset 1, and
  // from x 1 only pixel 1 for offset 0; the other destination pixels keep their colour.
  struct Case {
    int xs;
    std::vector<COLORREF> expected;
  } cases[] = {
      {0, {kRed, kBlue, kGrey, kGrey}},
      {1, {kBlue, kGrey, kGrey, kGrey}},
      {-1, {kGrey, kRed, kBlue, kGrey}},
      {2, {kGrey, kGrey, kGrey, kGrey}},
  };
  for (const Case& c : cases) {
    Surface src(2, 1, 32, {kRed, kBlue});
    Surface dst(4, 1, 32, {kGrey, kGrey, kGrey, kGrey});
    dst.dc.BitBlt(0, 0, 4, 1, &src.dc, c.xs, 0, SRCCOPY);
    EXPECT_EQ(dst.Row(0, 4), c.expected) << "xs " << c.xs;
  }
}

TEST(BitBlt, StaysInsideThePaintUpdateRectangle) {
  QImage client(4, 2, QImage::Format_RGB32);
  client.fill(qRgb(1, 2, 3));
  Surface src(4, 2, 32, {kRed, kRed, kRed, kRed, kRed, kRed, kRed, kRed});
  PaintDC dc(client, {1, 1, 3, 2});
  dc.BitBlt(0, 0, 4, 2, &src.dc, 0, 0, SRCCOPY);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      const bool inside = y == 1 && x >= 1 && x < 3;
      EXPECT_EQ(client.pixel(x, y), inside ? ToQRgb(kRed) : qRgb(1, 2, 3)) << x << "," << y;
    }
  }
}

TEST(MemoryContext, StartsWithAMonochromeBitmapSoCompatibleBitmapsAreMonochrome) {
  DC memory;
  memory.CreateCompatibleDC(nullptr);
  Bitmap compatible;
  compatible.CreateCompatibleBitmap(memory, 8, 8);
  EXPECT_TRUE(compatible.IsMonochrome());
  EXPECT_EQ(memory.GetBkColor(), kWhite);
  EXPECT_EQ(memory.GetTextColor(), kBlack);

  QImage client(8, 8, QImage::Format_RGB32);
  PaintDC paint(client, {0, 0, 8, 8});
  Bitmap colour;
  colour.CreateCompatibleBitmap(paint, 8, 8);
  EXPECT_FALSE(colour.IsMonochrome());
}

TEST(MemoryContext, SelectObjectReturnsWhatWasSelectedBefore) {
  DC memory;
  memory.CreateCompatibleDC(nullptr);
  Bitmap a, b;
  a.CreateBitmap(2, 2, 1, 32);
  b.CreateBitmap(3, 3, 1, 1);
  Bitmap* stock = memory.SelectObject(&a);
  ASSERT_NE(stock, nullptr);
  EXPECT_EQ(memory.SelectObject(&b), &a);
  EXPECT_EQ(memory.SelectObject(stock), &b);
  RECT box;
  EXPECT_EQ(memory.GetClipBox(&box), SIMPLEREGION);
  EXPECT_EQ(box, (RECT{0, 0, 1, 1}));
}

TEST(OffscreenDC, ComposesTheClipBoxAndReachesTheTargetOnlyWhenDestroyed) {
  QImage client(20, 10, QImage::Format_RGB32);
  client.fill(qRgb(9, 9, 9));
  PaintDC dc(client, {5, 2, 12, 7});
  dc.SetBkColor(kBlue);
  {
    OffscreenDC surface(&dc);
    EXPECT_EQ(surface.Area(), (RECT{5, 2, 12, 7}));
    // The buffer covers the clip box exactly, at the target's coordinates.
    RECT box;
    surface.GetClipBox(&box);
    EXPECT_EQ(box, (RECT{5, 2, 12, 7}));
    EXPECT_EQ(surface.GetBkColor(), kBlue);
    EXPECT_EQ(surface.GetPixel(5, 2), kBlue);
    EXPECT_EQ(surface.GetPixel(4, 2), CLR_INVALID);
    surface.SetPixel(11, 6, kRed);
    EXPECT_EQ(client.pixel(5, 2), qRgb(9, 9, 9));  // nothing on the window yet
  }
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) {
      QRgb expected = qRgb(9, 9, 9);
      if (x >= 5 && x < 12 && y >= 2 && y < 7) expected = ToQRgb(kBlue);
      if (x == 11 && y == 6) expected = ToQRgb(kRed);
      ASSERT_EQ(client.pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST(OffscreenDC, AnEmptyUpdateRectangleChangesNothing) {
  QImage client(4, 4, QImage::Format_RGB32);
  client.fill(qRgb(9, 9, 9));
  PaintDC dc(client, {2, 2, 2, 4});
  dc.SetBkColor(kBlue);
  { OffscreenDC surface(&dc); }
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) EXPECT_EQ(client.pixel(x, y), qRgb(9, 9, 9));
  }
}

}  // namespace
}  // namespace quelt
