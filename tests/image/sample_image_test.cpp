// The sample images that the build writes load as the images they claim to be.
#include "image/sample_image.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "image/image_load.h"
#include "tests/image/image_fixture.h"

namespace quelt::test {
namespace {

class SampleImages : public ImageStoreTest {};

TEST_F(SampleImages, BuiltSamplesLoadWithTheirNameAndSize) {
  const struct {
    const char* file;
    int32_t size;
    const char* name;
  } cases[] = {
      {"demo-256k.qlz", 262144, "Demo BIOS"},
      {"demo-2m.qlz", 2097152, "Demo BIOS Large"},
      {"demo-128k.qlz", 131072, "Demo BIOS Small"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = std::string(QUELT_SAMPLES_DIR) + "/" + c.file;
    const ImageLoad load = LoadAndCheckImage(path);
    ASSERT_EQ(load.kind, ImageLoad::Loaded);
    EXPECT_EQ(load.size, c.size);
    EXPECT_EQ(load.name, c.name);
    // Past the header the samples are neither erased flash nor a constant.
    const uint8_t* body = ImageBuffer() + 32;
    const auto count = static_cast<std::size_t>(c.size - 32);
    EXPECT_LT(std::count(body, body + count, 0xFF), static_cast<long>(count / 64));
    EXPECT_NE(std::adjacent_find(body, body + count, std::not_equal_to<>()), body + count);
  }
}

TEST(SampleImage, IsReproducibleAndDiffersBetweenBlocks) {
  const std::vector<uint8_t> a = MakeSampleImage("Demo BIOS", 262144);
  EXPECT_EQ(a, MakeSampleImage("Demo BIOS", 262144));
  // The first 32 bytes, written out by hand.
  const std::vector<uint8_t> header = {'Q', 'E', 'L', 'T', 0, 0,   0,   0,   0,   0,   0,
                                       0,   0,   0,   0,   0, 'D', 'e', 'm', 'o', ' ', 'B',
                                       'I', 'O', 'S', 0,   0, 0,   0,   0,   0,   0};
  EXPECT_EQ(std::vector<uint8_t>(a.begin(), a.begin() + 32), header);
  // Every 4 KiB block differs from the next, so a block written in the wrong place shows.
  for (std::size_t block = 4096; block + 4096 <= a.size(); block += 4096) {
    EXPECT_FALSE(std::equal(a.begin() + block - 4096, a.begin() + block, a.begin() + block))
        << block;
  }
}

}  // namespace
}  // namespace quelt::test
