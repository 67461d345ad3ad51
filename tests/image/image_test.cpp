// Loading image files all or nothing: what the store holds and what the load reports for each kind
// of file and each way a read can fail, the sample images the build writes among them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "image/image_load.h"
#include "image/image_read_layer.h"
#include "image/image_store.h"
#include "image/sample_image.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

// A read layer that hands out at most `limit` bytes in all, in pieces of at most 1000, then
// returns `then`; with `grow`, the file ends one byte later than it did (it grew while read).
ImageReadCall Reads(std::size_t limit, long then = 0, bool grow = false) {
  auto given = std::make_shared<std::size_t>(0);
  return [=](int fd, void* buffer, std::size_t count) -> long {
    if (*given >= limit) return then;
    const long n = ::read(fd, buffer, std::min({count, limit - *given, std::size_t{1000}}));
    *given += n > 0 ? static_cast<std::size_t>(n) : 0;
    return n == 0 && grow ? 1 : n;
  };
}
const Bytes k300k = ImageBytes(300 * 1024, "New", 3);

struct LoadCase {
  const char* label;
  Bytes file;  // written as the file, unless `path` names another
  ImageLoad::Kind kind;
  std::string name = "";
  ReadFailure failure = ReadFailure::None;
  ImageReadCall reads = {};  // the read layer ({} = the default)
  std::string path = "";     // "dir", "fifo", "missing" or a path of the system
};
// clang-format off
const LoadCase kCases[] = {
    {"largest image", ImageBytes(0x200000, "Full", 1), ImageLoad::Loaded, "Full"},
    {"empty file", {}, ImageLoad::Empty},
    {"wrong magic", ImageBytes(5000, "Other", 9, "QELX"), ImageLoad::BadMagic},
    // The buffer still starts with the previous image's magic; a 3-byte file does not hold it.
    {"shorter than the magic", {'Q', 'E', 'L'}, ImageLoad::BadMagic},
    {"16 characters, offset 32 not joined", ImageBytes(64, "ABCDEFGHIJKLMNOPQRST", 7), ImageLoad::Loaded, "ABCDEFGHIJKLMNOP"},
    {"cut at the first NUL", ImageBytes(64, std::string("AB\0CD", 5), 7), ImageLoad::Loaded, "AB"},
    {"control characters, space, tilde, 0x7F and above", ImageBytes(64, "A\n\x1B \x7F~\xC3\xA9\x80\xFF", 7), ImageLoad::Loaded, "A?? ?~????"},
    {"file ends inside the name", ImageBytes(20, "ABCDEFGH", 7), ImageLoad::Loaded, "ABCD"},
    {"short reads that add up", ImageBytes(70000, "Pieces", 2), ImageLoad::Loaded, "Pieces", ReadFailure::None, Reads(SIZE_MAX)},
    {"one byte over 2 MiB", ImageBytes(0x200001, "Big", 1), ImageLoad::ReadFailed, "", ReadFailure::TooBig},
    {"missing file", {}, ImageLoad::ReadFailed, "", ReadFailure::CannotOpen, {}, "missing"},
    {"directory", {}, ImageLoad::ReadFailed, "", ReadFailure::NotRegularFile, {}, "dir"},
    {"FIFO without a writer", {}, ImageLoad::ReadFailed, "", ReadFailure::NotRegularFile, {}, "fifo"},
    {"device", {}, ImageLoad::ReadFailed, "", ReadFailure::NotRegularFile, {}, "/dev/zero"},
    {"error after half", k300k, ImageLoad::ReadFailed, "", ReadFailure::ReadIncomplete, Reads(150 * 1024, -1)},
    {"one byte missing", k300k, ImageLoad::ReadFailed, "", ReadFailure::ReadIncomplete, Reads(300 * 1024 - 1, 0)},
    {"grew while read", k300k, ImageLoad::ReadFailed, "", ReadFailure::ReadIncomplete, Reads(SIZE_MAX, 0, true)},
    // The sample images the build writes.
    {"demo-128k", MakeSampleImage("Demo BIOS Small", 131072), ImageLoad::Loaded, "Demo BIOS Small", ReadFailure::None, {}, QUELT_SAMPLES_DIR "/demo-128k.qlz"},
    {"demo-2m", MakeSampleImage("Demo BIOS Large", 2097152), ImageLoad::Loaded, "Demo BIOS Large", ReadFailure::None, {}, QUELT_SAMPLES_DIR "/demo-2m.qlz"},
    {"demo-256k", MakeSampleImage("Demo BIOS", 262144), ImageLoad::Loaded, "Demo BIOS", ReadFailure::None, {}, QUELT_SAMPLES_DIR "/demo-256k.qlz"},
};
// clang-format on

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.label; }
class Load : public ::testing::TestWithParam<LoadCase> {};

TEST_P(Load, ReportsTheKindAndKeepsThePreviousImageOnFailure) {
  const LoadCase& c = GetParam();
  ResetImageStoreForTests();
  ASSERT_TRUE(AllocateImage());
  // An earlier image with a long name lies in the buffer under a short file.
  const Bytes previous = ImageBytes(4096, "ZZZZZZZZZZZZZZZZ", 5);
  std::memcpy(ImageBuffer(), previous.data(), previous.size());
  SetImageSize(4096);
  TempDir dir;
  const std::string path = c.path.starts_with("/") ? c.path : dir.File(c.path + "image.qlz");
  if (c.path == "dir") std::filesystem::create_directory(path);
  ASSERT_TRUE(c.path != "fifo" || ::mkfifo(path.c_str(), 0600) == 0);
  ASSERT_TRUE(!c.path.empty() || WriteFile(path, c.file));
  SetImageReadCallForTests(c.reads);
  const ImageLoad load = LoadAndCheckImage(path);
  const bool failed = c.kind == ImageLoad::ReadFailed;
  const Bytes& held = failed ? previous : c.file;
  EXPECT_EQ(std::tuple(load.kind, load.failure, load.name, load.size, ImageSize()),
            std::tuple(c.kind, c.failure, c.name, failed ? 0 : int32_t(held.size()),
                       int32_t(failed ? 4096 : held.size())));
  EXPECT_TRUE(std::equal(held.begin(), held.end(), ImageBuffer()));
  EXPECT_TRUE(std::all_of(ImageBuffer() + 4096, ImageBuffer() + 0x200000, [&](uint8_t b) {
    return !failed || b == 0;
  })) << "the buffer past the previous image was touched";
}
INSTANTIATE_TEST_SUITE_P(Files, Load, ::testing::ValuesIn(kCases));

// Every 4 KiB block of a sample differs from the next, so a block written in the wrong place shows;
// the body is neither erased flash nor a constant.
TEST(SampleImages, DifferBetweenBlocks) {
  const Bytes a = MakeSampleImage("Demo BIOS", 262144);
  for (auto block = a.begin() + 4096; block + 4096 <= a.end(); block += 4096)
    EXPECT_FALSE(std::equal(block - 4096, block, block));
  EXPECT_LT(std::count(a.begin() + 32, a.end(), 0xFF), 262144 / 64);
}

}  // namespace
}  // namespace quelt::test
