// Adapter libraries loaded at run time, and the choice of adapter by name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "link/adapter_choice.h"
#include "link/chip_type.h"
#include "link/identify.h"
#include "link/library_adapter.h"
#include "link/verify.h"
#include "tests/sim/sim_test_util.h"

namespace quelt::test {
namespace {

class Library : public SimTest {
 protected:
  void TearDown() override {
    SetAdapter(nullptr);
    loaded_.reset();
    unsetenv("QUELT_SIM");
    unsetenv("QUELT_RECORD_LOG");
    SimTest::TearDown();
  }
  // Loads `path` as the current adapter with QUELT_SIM set to `options`.
  Adapter& Load(const char* path, const std::string& options) {
    SetAdapter(nullptr);
    loaded_.reset();  // unloads the previous library, so that the next one reads QUELT_SIM anew
    setenv("QUELT_SIM", options.c_str(), 1);
    std::string error;
    loaded_ = LoadAdapterLibrary(path, &error);
    EXPECT_EQ("", error);
    SetAdapter(loaded_.get());
    ResetChipTypeForTests();
    return *loaded_;
  }
  std::unique_ptr<Adapter> loaded_;
};

TEST_F(Library, EmulatorLibraryWritesAndAnotherLoadVerifies) {
  const std::string path = TempPath("flash");
  const std::vector<uint8_t> image = RandomBytes(0x20123, 20);
  Load(QUELT_SIM_LIBRARY, "large,flash=" + path);
  EXPECT_EQ(0u, AdapterOpen());
  AdapterSpeed(2);
  WriteImage(image);
  EXPECT_EQ(ChipLarge, CurrentChipType());

  // A new load starts a new emulator on the same flash file, as another process would.
  Load(QUELT_SIM_LIBRARY, "large,flash=" + path);
  EXPECT_EQ(0u, AdapterOpen());
  AdapterSpeed(2);
  EXPECT_EQ(1, VerifyResult(image));
  std::vector<uint8_t> other = image;
  other[0x20100] ^= 1;
  EXPECT_EQ(0, VerifyResult(other));
}

TEST_F(Library, EmulatorLibraryIsConfiguredByQueltSim) {
  Load(QUELT_SIM_LIBRARY, "base");
  AdapterOpen();
  IdentifyChip();
  EXPECT_EQ(ChipBase, CurrentChipType());

  // Refused options: the library behaves as a missing adapter.
  Load(QUELT_SIM_LIBRARY, "base,bogus");
  EXPECT_NE(0u, AdapterOpen());
  IdentifyChip();
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
  const std::string log = TempPath("log");
  setenv("QUELT_RECORD_LOG", log.c_str(), 1);
  Load(QUELT_RECORD_LIBRARY, "large");
  EXPECT_EQ(0u, AdapterOpen());
  AdapterSpeed(3);
  IdentifyChip();
  EXPECT_EQ(ChipLarge, CurrentChipType());
  const uint8_t big[600] = {};
  QueltProgrammerWrite(big, sizeof big, nullptr);

  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ("open 0", lines[0]);
  EXPECT_EQ("speed 3", lines[1]);
  // The short start frame, with its FNV-1a hash and its bytes.
  EXPECT_EQ(0u, lines[2].rfind("write 54 ", 0)) << lines[2];
  EXPECT_NE(std::string::npos, lines[2].find(" 2f 3f 0c 1c 22 32 21 31 00 10")) << lines[2];
  int reads = 0;
  for (const std::string& line : lines) reads += line.rfind("read ", 0) == 0;
  EXPECT_EQ(8 * 5, reads);  // two bytes in the first probe, three in the second
  // The long write: its count and hash only. The hash of 600 zero bytes is FNV-1a's.
  EXPECT_EQ(0u, lines.back().rfind("write 600 ", 0)) << lines.back();
  EXPECT_EQ(std::string("write 600 ").size() + 16, lines.back().size());
}

}  // namespace
}  // namespace quelt::test
