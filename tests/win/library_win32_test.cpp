// The adapter library loader on Windows: the emulator's DLL built cdecl and built stdcall, both
// called through the same entries; the default QueltUSB.dll's lookup; libraries that do not load.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "link/adapter_choice.h"
#include "link/chip_type.h"
#include "link/identify.h"
#include "link/library_adapter.h"
#include "tests/sim/sim_test_util.h"

namespace quelt::test {
namespace {

class WinLibrary : public SimTest {
 protected:
  void TearDown() override {
    SetAdapter(nullptr);
    loaded_.reset();
    _putenv_s("QUELT_SIM", "");
    SimTest::TearDown();
  }
  // Loads `path` as the current adapter with QUELT_SIM set to `options`, opened at speed 2.
  void Load(const char* path, const std::string& options) {
    SetAdapter(nullptr);
    loaded_.reset();  // unloads the previous DLL, so that the next load reads QUELT_SIM anew
    _putenv_s("QUELT_SIM", options.c_str());
    std::string error;
    loaded_ = LoadAdapterLibrary(path, &error);
    EXPECT_EQ("", error);
    SetAdapter(loaded_.get());
    ResetChipTypeForTests();
    EXPECT_EQ(0u, AdapterOpen());
    AdapterSpeed(2);
  }
  std::unique_ptr<Adapter> loaded_;
};

// A convention mismatch on any of the four entries unbalances the stack, which a run of this
// length does not survive; the results show that the arguments arrived in their places.
TEST_F(WinLibrary, BothConventionsWriteAndAnotherLoadVerifies) {
  for (const char* path : {QUELT_SIM_CDECL, QUELT_SIM_STDCALL}) {
    SCOPED_TRACE(path);
    const std::string flash = TempPath("flash");
    const std::vector<uint8_t> image = RandomBytes(0x30123, 14);
    Load(path, "large,flash=" + flash);
    WriteImage(image);
    EXPECT_EQ(ChipLarge, CurrentChipType());

    Load(path, "large,flash=" + flash);
    EXPECT_EQ(1, VerifyResult(image));
    std::vector<uint8_t> other = image;
    other[0x20100] ^= 4;
    EXPECT_EQ(0, VerifyResult(other));
    const std::vector<uint8_t> chip = ReadFile(flash);
    ASSERT_EQ(0x200000u, chip.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin()));

    // The type comes from QUELT_SIM, read at the load.
    Load(path, "base");
    IdentifyChip();
    EXPECT_EQ(ChipBase, CurrentChipType());
  }
}

TEST_F(WinLibrary, LibrariesThatCannotBeUsedGiveAnAdapterWhoseOpenFails) {
  const struct {
    std::string name;
    const char* why;
  } cases[] = {
      {"Z:\\nonexistent\\QueltUSB.dll", "cannot load Z:\\nonexistent\\QueltUSB.dll (error 126)"},
      {"ntdll.dll", "lacks the entry point"},  // loads, but is no adapter library
      {"sim:large,nonsense", "nonsense"},
      {"ftdi", "not offered on Windows"},
      {"ftdi:0403:6001,serial=A1", "not offered on Windows"},
      // No QueltUSB.dll beside the test program, nor in the system folder: the system folder's
      // path is the one tried, and named.
      {"", "system32\\QueltUSB.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AdapterChoice choice = ChooseAdapter(c.name);
    ASSERT_NE(nullptr, choice.adapter);
    EXPECT_NE(std::string::npos, choice.error.find(c.why)) << choice.error;
    EXPECT_NE(0u, choice.adapter->Open());
  }
}

}  // namespace
}  // namespace quelt::test
