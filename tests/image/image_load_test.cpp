// Loading for display: what the window shows and what the store holds after each kind of file.
#include "image/image_load.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/image/image_fixture.h"

namespace quelt::test {
namespace {

constexpr char kTitle[] = "Quelt Flasher USB";
const std::vector<uint8_t> kPrevious = ImageBytes(4096, "Previous", 0x3C);

std::vector<uint8_t> WithMagic(std::vector<uint8_t> bytes, const char* magic) {
  std::copy(magic, magic + 4, bytes.begin());
  return bytes;
}

struct LoadCase {
  const char* label;
  std::vector<uint8_t> file;
  LoadOutcome::Kind kind;
  int32_t result;
  int32_t size_after;
  std::string status;  // empty: the status line is not set
  std::string title;   // empty: the title is not set
};

class LoadFiles : public ImageStoreTest {};

TEST_F(LoadFiles, KindsOfFile) {
  const LoadCase cases[] = {
      {"largest image", ImageBytes(2097152, "Full"), LoadOutcome::Loaded, 2097152, 2097152,
       "The bios file has been loaded successfully - 2048 KBytes read",
       "Quelt Flasher USB - 'Full' loaded"},
      {"1,023 bytes", ImageBytes(1023, "Tiny"), LoadOutcome::Loaded, 1023, 1023,
       "The bios file has been loaded successfully - 0 KBytes read",
       "Quelt Flasher USB - 'Tiny' loaded"},
      {"1,025 bytes", ImageBytes(1025, "Tiny"), LoadOutcome::Loaded, 1025, 1025,
       "The bios file has been loaded successfully - 1 KBytes read",
       "Quelt Flasher USB - 'Tiny' loaded"},
      {"empty file",
       {},
       LoadOutcome::Empty,
       0,
       0,
       "Error with bios file : impossible to read or empty file",
       ""},
      {"wrong magic", WithMagic(ImageBytes(5000, "Other"), "QELX"), LoadOutcome::BadMagic, 0, 5000,
       "", ""},
      {"magic in the other byte order", WithMagic(ImageBytes(5000, "Other"), "TLEQ"),
       LoadOutcome::BadMagic, 0, 5000, "", ""},
      // The buffer still starts with the previous image's magic; a 3-byte file does not hold it.
      {"shorter than the magic", {'Q', 'E', 'L'}, LoadOutcome::BadMagic, 0, 3, "", ""},
      {"header without a name", ImageBytes(16, ""), LoadOutcome::Loaded, 16, 16,
       "The bios file has been loaded successfully - 0 KBytes read",
       "Quelt Flasher USB - '' loaded"},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.label);
    Preload(kPrevious);
    const std::string path = dir_.File("image.qlz");
    WriteFile(path, c.file);
    const LoadOutcome outcome = LoadImageForDisplay(path, kTitle);
    EXPECT_EQ(outcome.kind, c.kind);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(ImageSize(), c.size_after);
    EXPECT_EQ(outcome.set_status, !c.status.empty());
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.set_title, !c.title.empty());
    EXPECT_EQ(outcome.title, c.title);
    EXPECT_EQ(BufferStart(c.file.size()), c.file) << "the file's bytes are in the buffer";
    if (c.kind == LoadOutcome::BadMagic) {
      EXPECT_TRUE(outcome.show_box);
      EXPECT_EQ(outcome.box.text, "This is not a valid Quelt BIOS");
      EXPECT_EQ(outcome.box.caption, "Invalid File");
      EXPECT_EQ(outcome.box.icon, MessageBoxText::Warning);
    } else {
      EXPECT_FALSE(outcome.show_box);
    }
  }
}

struct RefusalCase {
  const char* label;
  std::string (*make)(TempDir&);
  ReadFailure failure;
  const char* box_text;
  const char* message;  // to the message sink
};

TEST_F(LoadFiles, ReadFailuresShowTheirBoxAndChangeNothing) {
  const RefusalCase cases[] = {
      {"one byte over 2 MiB",
       [](TempDir& dir) {
         const std::string path = dir.File("big.qlz");
         WriteFile(path, ImageBytes(2097153, "Too big"));
         return path;
       },
       ReadFailure::TooBig, "File too big", "File too big"},
      {"missing file", [](TempDir& dir) { return dir.File("none.qlz"); }, ReadFailure::CannotOpen,
       "Error while trying to open file", "Error while trying to open file\n"},
      {"directory",
       [](TempDir& dir) {
         std::filesystem::create_directory(dir.File("d"));
         return dir.File("d");
       },
       ReadFailure::NotRegularFile, "Error while reading file", ""},
      {"FIFO without a writer", [](TempDir& dir) { return MakeFifo(dir); },
       ReadFailure::NotRegularFile, "Error while reading file", ""},
      {"device", [](TempDir&) { return std::string("/dev/zero"); }, ReadFailure::NotRegularFile,
       "Error while reading file", ""},
      {"read fails part way",
       [](TempDir& dir) {
         const std::string path = dir.File("new.qlz");
         WriteFile(path, ImageBytes(8192, "Newer", 0xC3));
         SetImageReadCallForTests([](int fd, void* buffer, std::size_t count) -> long {
           return ::lseek(fd, 0, SEEK_CUR) >= 4096
                      ? -1
                      : ::read(fd, buffer, std::min<std::size_t>(count, 4096));
         });
         return path;
       },
       ReadFailure::ReadIncomplete, "Error while reading file", ""},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    Preload(kPrevious);
    SetImageReadCallForTests({});
    messages_.clear();
    const LoadOutcome outcome = LoadImageForDisplay(c.make(dir), kTitle);
    EXPECT_EQ(messages_, c.message);
    EXPECT_EQ(outcome.kind, LoadOutcome::ReadFailed);
    EXPECT_EQ(outcome.read_failure, c.failure);
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.show_box);
    EXPECT_EQ(outcome.box.text, c.box_text);
    EXPECT_EQ(outcome.box.caption, "Error while reading file");
    EXPECT_EQ(outcome.box.icon, MessageBoxText::Error);
    EXPECT_FALSE(outcome.set_status);
    EXPECT_FALSE(outcome.set_title);
    EXPECT_EQ(ImageSize(), 4096);
    EXPECT_EQ(BufferStart(kPrevious.size()), kPrevious);
  }
}

std::vector<uint8_t> WithName(const std::vector<uint8_t>& raw, int32_t size = 64) {
  std::vector<uint8_t> bytes = ImageBytes(size, "");
  for (std::size_t i = 0; i < raw.size() && 16 + i < bytes.size(); ++i) bytes[16 + i] = raw[i];
  return bytes;
}

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST_F(LoadFiles, NamesAreCutAtSixteenBytesAndShownPrintable) {
  const struct {
    const char* label;
    std::vector<uint8_t> file;
    std::string name;
  } cases[] = {
      // Offset 32 follows the name field directly and must not join the name.
      {"16 characters", WithName(Bytes("ABCDEFGHIJKLMNOPQRST")), "ABCDEFGHIJKLMNOP"},
      {"15 characters", WithName(Bytes("ABCDEFGHIJKLMNO")), "ABCDEFGHIJKLMNO"},
      {"one character", WithName(Bytes("X")), "X"},
      {"cut at the first NUL", WithName({'A', 'B', 0, 'C', 'D'}), "AB"},
      {"control characters", WithName({'A', '\n', 0x1B, '[', '2', 'J', '\t', 0x7F}), "A??[2J??"},
      {"bytes of 0x80 and above", WithName({0xC3, 0xA9, 'O', 0x80, 0xFF}), "??O??"},
      {"space and tilde are printable", WithName(Bytes(" ~ ")), " ~ "},
      // The name field runs past the end of a 20-byte file: only the file's bytes count.
      {"file ends inside the name", WithName(Bytes("ABCDEFGH"), 20), "ABCD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    // An earlier image with a long name lies in the buffer under a short file.
    Preload(ImageBytes(64, "ZZZZZZZZZZZZZZZZ"));
    const std::string path = dir_.File("named.qlz");
    WriteFile(path, c.file);
    const LoadOutcome outcome = LoadImageForDisplay(path, kTitle);
    ASSERT_EQ(outcome.kind, LoadOutcome::Loaded);
    EXPECT_EQ(outcome.name, c.name);
    EXPECT_EQ(outcome.title, "Quelt Flasher USB - '" + c.name + "' loaded");
    EXPECT_EQ(ImageName(ImageBuffer(), ImageSize()), c.name);
  }
}

TEST_F(LoadFiles, ASecondImageReplacesTheNameInTheTitle) {
  const std::string first = dir_.File("first.qlz");
  const std::string second = dir_.File("second.qlz");
  WriteFile(first, ImageBytes(2048, "First BIOS"));
  WriteFile(second, ImageBytes(3072, "Second"));
  EXPECT_EQ(LoadImageForDisplay(first, kTitle).title, "Quelt Flasher USB - 'First BIOS' loaded");
  const LoadOutcome outcome = LoadImageForDisplay(second, kTitle);
  EXPECT_EQ(outcome.title, "Quelt Flasher USB - 'Second' loaded");
  EXPECT_EQ(outcome.status, "The bios file has been loaded successfully - 3 KBytes read");
  EXPECT_EQ(ImageSize(), 3072);
}

}  // namespace
}  // namespace quelt::test
