// The committed resource files keep the rules the window's painting relies on.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> ReadFile(const std::string& name) {
  std::ifstream in(std::string(QUELT_RES_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const std::vector<unsigned char>& b, size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};
constexpr Rgb kKey{192, 192, 192};

// The logo's pixels as stored, row 0 at the top, read straight from the file.
class LogoFile : public testing::Test {
 protected:
  void SetUp() override {
    bytes = ReadFile("logo.bmp");
    ASSERT_GE(bytes.size(), 54u);
  }
  Rgb At(int x, int y) const {
    const size_t row = static_cast<size_t>(127 - y);  // stored bottom-up
    const size_t at = U32(bytes, 10) + row * 128 * 3 + static_cast<size_t>(x) * 3;
    return {bytes[at + 2], bytes[at + 1], bytes[at]};
  }
  std::vector<unsigned char> bytes;
};

TEST_F(LogoFile, Is128By128With24BitsUncompressed) {
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(U32(bytes, 14), 40u);  // plain bitmap header
  EXPECT_EQ(static_cast<int32_t>(U32(bytes, 18)), 128);
  EXPECT_EQ(static_cast<int32_t>(U32(bytes, 22)), 128);  // positive: bottom-up rows
  EXPECT_EQ(U16(bytes, 26), 1);
  EXPECT_EQ(U16(bytes, 28), 24);
  EXPECT_EQ(U32(bytes, 30), 0u);  // no compression
  EXPECT_EQ(bytes.size(), U32(bytes, 10) + 128u * 128u * 3u);
}

TEST_F(LogoFile, BackgroundBorderAndKeyPixelAreGreyAndThePictureKeepsItsBounds) {
  EXPECT_EQ(At(2, 2), kKey);
  bool black = false;
  int left = 128, right = -1, top = 128, bottom = -1;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      const Rgb p = At(x, y);
      if (p == kKey) continue;
      black |= p == Rgb{0, 0, 0};
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  EXPECT_TRUE(black);
  EXPECT_GE(left, 4);
  EXPECT_LE(right, 124);
  EXPECT_GE(top, 20);
  EXPECT_LE(bottom, 107);
  // It fills its box rather than being a dot in it.
  EXPECT_LE(left, 8);
  EXPECT_GE(right, 120);
}

// Every grey pixel is background reachable from the border: a grey pixel enclosed by the picture
// would be a hole through which the button face shows.
TEST_F(LogoFile, HasNoGreyHolesInsideThePicture) {
  std::vector<bool> seen(128 * 128);
  std::vector<std::pair<int, int>> todo;
  for (int i = 0; i < 128; ++i) {
    for (auto [x, y] : {std::pair{i, 0}, {i, 127}, {0, i}, {127, i}}) todo.push_back({x, y});
  }
  while (!todo.empty()) {
    auto [x, y] = todo.back();
    todo.pop_back();
    if (x < 0 || y < 0 || x > 127 || y > 127 || seen[y * 128 + x] || !(At(x, y) == kKey)) continue;
    seen[y * 128 + x] = true;
    todo.insert(todo.end(), {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}});
  }
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      EXPECT_TRUE(!(At(x, y) == kKey) || seen[y * 128 + x]) << "enclosed grey at " << x << "," << y;
    }
  }
}

TEST(IconFiles, TheIcoHoldsSixImagesAt48_32_16In256AndTrueColour) {
  const auto ico = ReadFile("quelt-flasher.ico");
  ASSERT_GE(ico.size(), 6u);
  EXPECT_EQ(U16(ico, 0), 0);
  EXPECT_EQ(U16(ico, 2), 1);  // icon, not cursor
  ASSERT_EQ(U16(ico, 4), 6);
  std::vector<std::pair<int, int>> found;  // size, bits per pixel
  for (size_t i = 0; i < 6; ++i) {
    const size_t e = 6 + 16 * i;
    const int size = ico[e];
    const int bpp = U16(ico, e + 6);
    const size_t at = U32(ico, e + 12);
    ASSERT_LE(at + U32(ico, e + 8), ico.size());
    // the image's own header agrees with the directory
    EXPECT_EQ(static_cast<int32_t>(U32(ico, at + 4)), size);
    EXPECT_EQ(static_cast<int32_t>(U32(ico, at + 8)), 2 * size);  // colour and mask rows
    EXPECT_EQ(U16(ico, at + 14), bpp);
    found.push_back({size, bpp});
  }
  EXPECT_EQ(found, (std::vector<std::pair<int, int>>{
                       {48, 8}, {32, 8}, {16, 8}, {48, 24}, {32, 24}, {16, 24}}));
}

TEST(IconFiles, PngsComeInTheirSizesWithTransparentCorners) {
  for (int size : {16, 32, 48}) {
    for (bool palette : {false, true}) {
      const QString name = QStringLiteral(QUELT_RES_DIR "/icon-%1%2.png")
                               .arg(size)
                               .arg(palette ? QStringLiteral("-256") : QString());
      const QImage image(name);
      ASSERT_FALSE(image.isNull()) << name.toStdString();
      EXPECT_EQ(image.size(), QSize(size, size)) << name.toStdString();
      EXPECT_EQ(image.format() == QImage::Format_Indexed8, palette) << name.toStdString();
      EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << name.toStdString();
      EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << name.toStdString();
    }
  }
}

}  // namespace
