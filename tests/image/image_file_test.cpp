// Reading image files all or nothing, through a read layer that fails or delivers pieces.
#include <unistd.h>

#include "tests/image/image_fixture.h"

namespace quelt::test {
namespace {

// What an earlier load left: kept byte for byte whenever a read fails.
const std::vector<uint8_t> kPrevious = ImageBytes(4096, "Previous", 0x3C);

// A read layer that hands out at most `limit` bytes in all, then fails or ends as given.
ImageReadCall StopAfter(std::size_t limit, long then) {
  auto delivered = std::make_shared<std::size_t>(0);
  return [=](int fd, void* buffer, std::size_t count) -> long {
    if (*delivered >= limit) return then;
    const long n = ::read(fd, buffer, std::min(count, limit - *delivered));
    if (n > 0) *delivered += static_cast<std::size_t>(n);
    return n;
  };
}

// A read layer that delivers the file in small pieces, and one extra byte at its end, as a file
// that grows while it is read.
ImageReadCall GrowsAtEnd() {
  return [](int fd, void* buffer, std::size_t count) -> long {
    const long n = ::read(fd, buffer, std::min<std::size_t>(count, 1000));
    if (n == 0) {
      *static_cast<uint8_t*>(buffer) = 0x77;
      return 1;
    }
    return n;
  };
}

TEST_F(ImageStoreTest, ReadThatFailsPartWayKeepsThePreviousImage) {
  const std::string path = dir_.File("new.qlz");
  WriteFile(path, ImageBytes(300 * 1024, "Newer", 0xC3));
  struct {
    const char* label;
    ImageReadCall call;
  } const cases[] = {
      {"error after half the file", StopAfter(150 * 1024, -1)},
      {"end of file after half (the file shrank)", StopAfter(150 * 1024, 0)},
      {"error before the first byte", StopAfter(0, -1)},
      {"one byte missing", StopAfter(300 * 1024 - 1, 0)},
      {"the file grew while read", GrowsAtEnd()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Preload(kPrevious);
    SetImageReadCallForTests(c.call);
    const ReadResult result = ReadImageFileChecked(path);
    EXPECT_EQ(result.size, -1);
    EXPECT_EQ(result.failure, ReadFailure::ReadIncomplete);
    EXPECT_EQ(ImageSize(), 4096);
    EXPECT_EQ(BufferStart(kPrevious.size()), kPrevious);
    // Not even the part of the buffer past the previous image was touched.
    EXPECT_EQ(BufferStart(300 * 1024)[200 * 1024], 0);
  }
}

TEST_F(ImageStoreTest, ShortReadsThatAddUpToTheFileAreWhole) {
  const std::string path = dir_.File("pieces.qlz");
  const std::vector<uint8_t> bytes = ImageBytes(70000, "Pieces", 0x11);
  WriteFile(path, bytes);
  SetImageReadCallForTests([](int fd, void* buffer, std::size_t count) -> long {
    return ::read(fd, buffer, std::min<std::size_t>(count, 333));
  });
  EXPECT_EQ(ReadImageFileChecked(path).size, 70000);
  EXPECT_EQ(BufferStart(bytes.size()), bytes);
}

}  // namespace
}  // namespace quelt::test
