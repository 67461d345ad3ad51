// The adapter library loader on Windows: the emulator's DLL built cdecl and built stdcall, both
// called through the same entries, and a DLL that is no adapter.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

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

// A DLL that loads but lacks the entries is no adapter. (Missing DLLs, the default name and FTDI
// are rows of the command line's tests under Wine.)
TEST_F(WinLibrary, ADllWithoutTheEntriesIsAnAdapterWhoseOpenFails) {
  std::string error;
  const std::unique_ptr<Adapter> adapter = LoadAdapterLibrary("ntdll.dll", &error);
  EXPECT_EQ("ntdll.dll lacks the entry point QueltProgrammerWrite", error);
  EXPECT_NE(0u, adapter->Open());
}

}  // namespace
}  // namespace quelt::test
