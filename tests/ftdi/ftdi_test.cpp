// The FTDI backend in this process, against the simulated device of the stand-in libftdi1.so.2
// (ctest puts its folder first on LD_LIBRARY_PATH): options, finding and claiming a device,
// identification of each chip type through the bit-bang stream, and the byte clock of each speed.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "link/chip_type.h"
#include "link/ftdi/ftdi_adapter.h"
#include "link/identify.h"

namespace quelt {
namespace {

// A count kept by the stand-in since its last ftdi_new; fails the test under the real library.
uint64_t FakeCount(const char* name) {
  auto count = reinterpret_cast<uint64_t (*)()>(dlsym(RTLD_DEFAULT, name));
  if (!count) ADD_FAILURE() << "not running on the stand-in libftdi1 (LD_LIBRARY_PATH?)";
  return count ? count() : 0;
}

TEST(FtdiOptions, ParsedOrRefusedByName) {
  struct Row {
    const char* text;
    const char* error;  // "" when accepted
    FtdiUsbId first_id = {0x0403, 0x6001};
    const char* serial = nullptr;
    int index = -1;
    uint32_t clock = kFtdiDefaultClock;
  };
  const Row rows[] = {
      {"", ""},
      {":0403:6014,serial=A1,index=2,clock=500000", "", {0x0403, 0x6014}, "A1", 2, 500000},
      {":0x1234:0xABCD", "", {0x1234, 0xABCD}},
      {",index=0", "", {0x0403, 0x6001}, nullptr, 0},
      {":403", "\"403\" must be VID:PID"},
      {":0403:60011,index=1", "\"0403:60011\" must be VID:PID"},
      {":,serial=A", "\"\" must be VID:PID"},
      {"x", "\"x\" must follow a comma"},
      {",colour=blue", "\"colour=blue\" is unknown"},
      {",index=x", "\"index=x\" needs a device number"},
      {",clock=10", "\"clock=10\" needs adapter bytes per second"},
      {",clock=99999999", "\"clock=99999999\" needs"},
      {",serial=", "\"serial=\" needs the device's serial"},
      {",index=1,index=2", "\"index\" is given twice"},
      {",,serial=1", "stray comma"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    FtdiOptions o;
    std::string error;
    ASSERT_EQ(ParseFtdiOptions(row.text, &o, &error), !*row.error);
    if (*row.error) {
      EXPECT_NE(error.find(row.error), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(o.ids.front(), row.first_id);
    EXPECT_EQ(o.serial.value_or("-"), row.serial ? row.serial : "-");
    EXPECT_EQ(o.index ? int(*o.index) : -1, row.index);
    EXPECT_EQ(o.clock, row.clock);
  }
  EXPECT_TRUE(IsFtdiAdapterName("ftdi") && IsFtdiAdapterName("ftdi:0403:6001"));
  EXPECT_FALSE(IsFtdiAdapterName("ftdix") || IsFtdiAdapterName("sim"));
}

struct OpenCase {
  const char* label;
  const char* fake;     // QUELT_FAKE_FTDI
  const char* options;  // after "ftdi"
  const char* error;    // "" when the open succeeds; else part of the reason given
  ChipType chip = ChipNone;
  friend void PrintTo(const OpenCase& c, std::ostream* os) { *os << c.label; }
};

class FtdiOpen : public ::testing::TestWithParam<OpenCase> {};

constexpr char kTwo[] = "dev=0403:6001:A1:FT232R USB UART;dev=0403:6001:A2:FT232R USB UART;";

TEST_P(FtdiOpen, FindsClaimsAndIdentifies) {
  const OpenCase& c = GetParam();
  setenv("QUELT_FAKE_FTDI", c.fake, 1);
  FtdiOptions options;
  ASSERT_TRUE(ParseFtdiOptions(c.options, &options, nullptr));
  FtdiAdapter adapter(options);
  SetAdapter(&adapter);
  ResetChipTypeForTests();

  // Before the open: nothing reaches a device and reads stay at their preset 0.
  const uint64_t before = FakeCount("quelt_fake_ftdi_bytes_out");
  IdentifyChip();
  EXPECT_EQ(CurrentChipType(), ChipNone);
  EXPECT_EQ(FakeCount("quelt_fake_ftdi_bytes_out"), before);

  const uint32_t opened = adapter.Open();
  EXPECT_EQ(opened == 0, !*c.error);
  EXPECT_NE(adapter.OpenError().find(c.error), std::string::npos) << adapter.OpenError();
  if (opened == 0) {
    EXPECT_EQ(adapter.OpenError(), "");
    AdapterSpeed(2);
    IdentifyChip();
    EXPECT_EQ(CurrentChipType(), c.chip);
    EXPECT_EQ(adapter.Open(), 0u);  // the device stays claimed and is used again
    EXPECT_EQ(FakeCount("quelt_fake_ftdi_opens"), 1u);
  }
  SetAdapter(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, FtdiOpen,
    ::testing::Values(
        OpenCase{"large_on_ft232r", "dev=0403:6001:A1:FT232R USB UART;chip=large", "", "",
                 ChipLarge},
        OpenCase{"base_on_ft232h", "dev=0403:6014:H1:Single RS232-HS;chip=base", "", "", ChipBase},
        OpenCase{"alt_on_ft2232h", "dev=0403:6010:D1:Dual RS232-HS;chip=alt", "", "", ChipAlt},
        OpenCase{"no_chip", "dev=0403:6001:A1:FT232R USB UART;chip=none", "", "", ChipNone},
        OpenCase{"line_stuck_high", "dev=0403:6001:A1:X;chip=large,stuck=high", "", "", ChipNone},
        OpenCase{"one_byte_buffers", "dev=0403:6001:A1:X;rx=1;tx=1;packet=1", "", "", ChipLarge},
        OpenCase{"own_vid_pid", "dev=0403:6001:A1:X;dev=1234:abcd:Z9:Y", ":1234:abcd", "",
                 ChipLarge},
        OpenCase{"by_serial", kTwo, ",serial=A2", "", ChipLarge},
        OpenCase{"by_index", kTwo, ",index=1", "", ChipLarge},
        OpenCase{"several_refused", kTwo, "",
                 "2 devices match; choose one with serial=S or index=N:\n  index=0: 0403:6001 "
                 "\"FT232R USB UART\" serial \"A1\"\n  index=1: 0403:6001 \"FT232R USB UART\""},
        OpenCase{"index_beyond", kTwo, ",index=2", "no device 2 among the 2 found"},
        OpenCase{"serial_absent", kTwo, ",serial=B7", "with serial \"B7\""},
        OpenCase{"absent", "", "", "no device found (0403:6001, 0403:6014, 0403:6010)"},
        OpenCase{"denied", "dev=0403:6001:A1:X;denied", "", "60-quelt-flasher-ftdi.rules"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FtdiAdapterClock, SpeedThreeRunsAtHalfTheClock) {
  setenv("QUELT_FAKE_FTDI", "dev=0403:6001:A1:X", 1);
  FtdiOptions options;
  ASSERT_TRUE(ParseFtdiOptions(",clock=600000", &options, nullptr));
  FtdiAdapter adapter(options);
  EXPECT_EQ(adapter.ByteClock(), 0u);
  ASSERT_EQ(adapter.Open(), 0u);
  EXPECT_EQ(adapter.ByteClock(), 600000u);
  adapter.Speed(3);
  EXPECT_EQ(adapter.ByteClock(), 300000u);
  adapter.Speed(2);
  EXPECT_EQ(adapter.ByteClock(), 600000u);
}

}  // namespace
}  // namespace quelt
