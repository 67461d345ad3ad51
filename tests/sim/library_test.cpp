// Adapter libraries loaded at run time, the choice of adapter by name, and the emulator's flash
// file as the next command finds it.
#include <gtest/gtest.h>

#include <sstream>

#include "link/adapter_choice.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/library_adapter.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/verify.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

class Library : public ::testing::Test {
 protected:
  void TearDown() override {
    SetAdapter(nullptr);
    ResetChipTypeForTests();
  }
  // Loads `path` as the current adapter with QUELT_SIM set to `options`, opened at speed 2.
  void Load(const char* path, const std::string& options) {
    SetAdapter(nullptr);
    loaded_.reset();  // unloads the previous library, so that the next one reads QUELT_SIM anew
    ScopedEnv sim("QUELT_SIM", options);
    std::string error;
    loaded_ = LoadAdapterLibrary(path, &error);
    EXPECT_EQ("", error);
    SetAdapter(loaded_.get());
    ResetChipTypeForTests();
    open_result_ = AdapterOpen();
    AdapterSpeed(2);
    IdentifyChip();
  }
  std::unique_ptr<Adapter> loaded_;
  uint32_t open_result_ = 0;
};

TEST_F(Library, EmulatorLibraryWritesAndAnotherLoadVerifies) {
  TempDir dir;
  const std::string flash = dir.File("flash");
  const Bytes image = RandomBytes(0x20123, 20);
  Load(QUELT_SIM_LIBRARY, "large,flash=" + flash);
  ASSERT_EQ(ChipLarge, CurrentChipType());
  ASSERT_EQ(LinkStatus::Ok, EraseImageRange(0x20123));
  ASSERT_EQ(LinkStatus::Ok, ProgramImage(image.data(), 0x20123, {}));

  // A new load starts a new emulator on the same flash file, as another process would.
  Load(QUELT_SIM_LIBRARY, "large,flash=" + flash);
  EXPECT_EQ(1, VerifyImage(image.data(), 0x20123, {}).result);
  Bytes other = image;
  other[0x20100] ^= 1;
  EXPECT_EQ(0, VerifyImage(other.data(), 0x20123, {}).result);

  // A file of another chip's size is refused, naming the file.
  std::string error;
  EXPECT_EQ(nullptr, SimAdapter::Create("base,flash=" + flash, &error));
  EXPECT_NE(std::string::npos, error.find(flash)) << error;
}

TEST_F(Library, EmulatorLibraryIsConfiguredByQueltSim) {
  Load(QUELT_SIM_LIBRARY, "base");
  EXPECT_EQ(0u, open_result_);
  EXPECT_EQ(ChipBase, CurrentChipType());
  // Refused options: the library behaves as a missing adapter.
  Load(QUELT_SIM_LIBRARY, "base,bogus");
  EXPECT_NE(0u, open_result_);
  EXPECT_EQ(ChipNone, CurrentChipType());
}

TEST_F(Library, MissingLibraryOrEntryPointGivesAnAdapterWhoseOpenFails) {
  const struct {
    const char* path;
    const char* why;
  } cases[] = {{"/nonexistent/libQueltUSB.so", "libQueltUSB.so"},
               {"libm.so.6", "QueltAdapterOpen"}};  // loads, but has none of the entry points
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string error;
    std::unique_ptr<Adapter> adapter = LoadAdapterLibrary(c.path, &error);
    ASSERT_NE(nullptr, adapter);
    EXPECT_NE(std::string::npos, error.find(c.why)) << error;
    EXPECT_NE(0u, adapter->Open());
    uint8_t input = 0;
    adapter->Read(&input);
    EXPECT_EQ(0, input);
  }
}

TEST_F(Library, ChooseAdapterByName) {
  const struct {
    std::string name;
    bool opens;
    bool emulator;
    const char* error;  // part of the error, or "" for none
  } cases[] = {
      {"sim", true, true, ""},
      {"sim:base,erase-polls=1", true, true, ""},
      {"sim:large,nonsense", false, false, "nonsense"},
      {"simulator", false, false, "simulator"},  // a library path, not the emulator
      {"", false, false, "libQueltUSB.so"},      // the platform's library, absent here
      {QUELT_SIM_LIBRARY, true, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AdapterChoice choice = ChooseAdapter(c.name);
    ASSERT_NE(nullptr, choice.adapter);
    EXPECT_EQ(c.emulator, choice.emulator);
    EXPECT_EQ(c.opens, choice.adapter->Open() == 0);
    if (*c.error) {
      EXPECT_NE(std::string::npos, choice.error.find(c.error)) << choice.error;
    } else {
      EXPECT_EQ("", choice.error);
    }
  }
}

TEST_F(Library, RecordingLibraryLogsEveryCall) {
  TempDir dir;
  const std::string log = dir.File("log");
  ScopedEnv record("QUELT_RECORD_LOG", log);
  Load(QUELT_RECORD_LIBRARY, "large");
  EXPECT_EQ(ChipLarge, CurrentChipType());
  const uint8_t big[600] = {};
  QueltProgrammerWrite(big, sizeof big, nullptr);
  SetAdapter(nullptr);
  loaded_.reset();

  std::vector<std::string> lines;
  const Bytes text = ReadFile(log);
  std::istringstream in(std::string(text.begin(), text.end()));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ("open 0", lines[0]);
  EXPECT_EQ("speed 2", lines[1]);
  // The short start frame, with its FNV-1a hash and its bytes.
  EXPECT_EQ(0u, lines[2].rfind("write 54 ", 0)) << lines[2];
  EXPECT_NE(std::string::npos, lines[2].find(" 2f 3f 0c 1c 22 32 21 31 00 10")) << lines[2];
  int reads = 0;
  for (const std::string& line : lines) reads += line.rfind("read ", 0) == 0;
  EXPECT_EQ(8 * 5, reads);  // two bytes in the first probe, three in the second
  // The long write: its count and hash only.
  EXPECT_EQ(0u, lines.back().rfind("write 600 ", 0)) << lines.back();
  EXPECT_EQ(std::string("write 600 ").size() + 16, lines.back().size());
}

}  // namespace
}  // namespace quelt::test
