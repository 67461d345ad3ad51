// Loading and checking: what the store holds and what the load reports for each kind of file.
#include "image/image_load.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "tests/image/image_fixture.h"

namespace quelt::test {
namespace {

// What an earlier load left; kept byte for byte when a read fails.
const std::vector<uint8_t> kPrevious = ImageBytes(4096, "Previous", 0x3C);

std::vector<uint8_t> WithMagic(std::vector<uint8_t> bytes, const char* magic) {
  std::copy(magic, magic + 4, bytes.begin());
  return bytes;
}

// A 64-byte image whose name field holds `raw` (a 20-byte file with `size` 20).
std::vector<uint8_t> WithName(const std::vector<uint8_t>& raw, int32_t size = 64) {
  std::vector<uint8_t> bytes = ImageBytes(size, "");
  for (std::size_t i = 0; i < raw.size() && 16 + i < bytes.size(); ++i) bytes[16 + i] = raw[i];
  return bytes;
}
std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class LoadFiles : public ImageStoreTest {};

TEST_F(LoadFiles, KindsOfFileAndTheirNames) {
  const struct {
    const char* label;
    std::vector<uint8_t> file;
    ImageLoad::Kind kind;
    std::string name;
  } cases[] = {
      {"largest image", ImageBytes(2097152, "Full"), ImageLoad::Loaded, "Full"},
      {"empty file", {}, ImageLoad::Empty, ""},
      {"wrong magic", WithMagic(ImageBytes(5000, "Other"), "QELX"), ImageLoad::BadMagic, ""},
      {"magic in the other byte order", WithMagic(ImageBytes(5000, "X"), "TLEQ"),
       ImageLoad::BadMagic, ""},
      // The buffer still starts with the previous image's magic; a 3-byte file does not hold it.
      {"shorter than the magic", {'Q', 'E', 'L'}, ImageLoad::BadMagic, ""},
      {"header without a name", ImageBytes(16, ""), ImageLoad::Loaded, ""},
      // Offset 32 follows the name field directly and must not join the name.
      {"16 characters", WithName(Bytes("ABCDEFGHIJKLMNOPQRST")), ImageLoad::Loaded,
       "ABCDEFGHIJKLMNOP"},
      {"cut at the first NUL", WithName({'A', 'B', 0, 'C', 'D'}), ImageLoad::Loaded, "AB"},
      {"control characters", WithName({'A', '\n', 0x1B, '[', '2', 'J', '\t', 0x7F}),
       ImageLoad::Loaded, "A??[2J??"},
      {"bytes of 0x80 and above", WithName({0xC3, 0xA9, 'O', 0x80, 0xFF}), ImageLoad::Loaded,
       "??O??"},
      {"space and tilde are printable", WithName(Bytes(" ~ ")), ImageLoad::Loaded, " ~ "},
      // The name field runs past the end of a 20-byte file: only the file's bytes count.
      {"file ends inside the name", WithName(Bytes("ABCDEFGH"), 20), ImageLoad::Loaded, "ABCD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    // An earlier image with a long name lies in the buffer under a short file.
    Preload(ImageBytes(4096, "ZZZZZZZZZZZZZZZZ"));
    const std::string path = dir_.File("image.qlz");
    WriteFile(path, c.file);
    const ImageLoad load = LoadAndCheckImage(path);
    EXPECT_EQ(load.kind, c.kind);
    EXPECT_EQ(load.failure, ReadFailure::None);
    EXPECT_EQ(load.size, static_cast<int32_t>(c.file.size()));
    EXPECT_EQ(ImageSize(), static_cast<int32_t>(c.file.size()));
    EXPECT_EQ(load.name, c.name);
    EXPECT_EQ(BufferStart(c.file.size()), c.file) << "the file's bytes are in the buffer";
  }
}

TEST_F(LoadFiles, ReadFailuresSayWhyAndChangeNothing) {
  const struct {
    const char* label;
    std::function<std::string(TempDir&)> make;
    ReadFailure failure;
  } cases[] = {
      {"one byte over 2 MiB",
       [](TempDir& dir) {
         WriteFile(dir.File("big.qlz"), ImageBytes(2097153, "Too big"));
         return dir.File("big.qlz");
       },
       ReadFailure::TooBig},
      {"missing file", [](TempDir& dir) { return dir.File("none.qlz"); }, ReadFailure::CannotOpen},
      {"directory",
       [](TempDir& dir) {
         std::filesystem::create_directory(dir.File("d"));
         return dir.File("d");
       },
       ReadFailure::NotRegularFile},
      {"FIFO without a writer", MakeFifo, ReadFailure::NotRegularFile},
      {"device", [](TempDir&) { return std::string("/dev/zero"); }, ReadFailure::NotRegularFile},
      {"read fails part way",
       [](TempDir& dir) {
         WriteFile(dir.File("new.qlz"), ImageBytes(8192, "Newer", 0xC3));
         SetImageReadCallForTests([](int fd, void* buffer, std::size_t count) -> long {
           return ::lseek(fd, 0, SEEK_CUR) >= 4096
                      ? -1
                      : ::read(fd, buffer, std::min<std::size_t>(count, 4096));
         });
         return dir.File("new.qlz");
       },
       ReadFailure::ReadIncomplete},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    Preload(kPrevious);
    SetImageReadCallForTests({});
    const ImageLoad load = LoadAndCheckImage(c.make(dir));
    EXPECT_EQ(load.kind, ImageLoad::ReadFailed);
    EXPECT_EQ(load.failure, c.failure);
    EXPECT_EQ(load.size, 0);
    EXPECT_EQ(ImageSize(), 4096);
    EXPECT_EQ(BufferStart(kPrevious.size()), kPrevious);
  }
}

}  // namespace
}  // namespace quelt::test
