// The FTDI backend against the stand-in libftdi1.so.2: options, finding and claiming a device,
// identification through the bit-bang stream, and the byte clock of each speed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "link/chip_type.h"
#include "link/ftdi/ftdi_adapter.h"
#include "link/identify.h"

namespace quelt {
namespace {

struct Row {
  const char* fake;     // QUELT_FAKE_FTDI
  const char* options;  // after "ftdi"
  const char* error;    // part of the option's or the open's refusal; "" when it opens
  ChipType chip = ChipNone;
  uint32_t clock = 1000000;  // the byte clock at speed 2; speed 3 runs at half
};

constexpr char kTwo[] = "dev=0403:6001:A1:FT232R USB UART;dev=0403:6001:A2:FT232R USB UART;";
const Row kRows[] = {
    {"dev=0403:6001:A1:FT232R USB UART;chip=large", ",clock=10000000", "", ChipLarge, 10000000},
    {"dev=0403:6014:H1:Single RS232-HS;chip=base", ",clock=600000", "", ChipBase, 600000},
    {"dev=0403:6010:D1:Dual RS232-HS;chip=alt", ",clock=1000", "", ChipAlt, 1000},
    {"dev=0403:6001:A1:X;dev=1234:abcd:Z9:Y", ":0x1234:0XABCD", "", ChipLarge},
    {kTwo, ",serial=A2", "", ChipLarge},
    {kTwo, ",index=1", "", ChipLarge},
    {kTwo, "", "choose one with serial=S or index=N:\n  index=0: 0403:6001 \"FT232R USB UART\""},
    {kTwo, ",index=2", "FTDI adapter: no device 2 among the 2 found"},
    {kTwo, ",serial=B7", "FTDI adapter: no device found (0403:6001, 0403:6014, 0403:6010 with"},
    {"", ":0403:6001,index=255", "FTDI adapter: no device 255 among the 0 found (0403:6001)"},
    {"dev=0403:6001:A1:X;denied", ",serial=A1", "with serial \"A1\"); a device is there but"},
    {"dev=0403:6001:A1:X;denied", "",
     "readable): no permission to open it: install the udev rule res/60-quelt-flasher-ftdi.rules"},
    {"", ":403", "FTDI adapter option \"403\" must be VID:PID in hexadecimal, such as 0403:6001"},
    {"", ":0403:60011,index=1", "option \"0403:60011\" must be VID:PID"},
    {"", ":0x:6001", "option \"0x:6001\" must be VID:PID"},
    {"", ":,serial=A", "option \"\" must be VID:PID"},
    {"", "x", "option \"x\" must follow a comma"},
    {"", ",colour=blue", "option \"colour=blue\" is unknown"},
    {"", ",index=x", "option \"index=x\" needs a device number from 0 to 255"},
    {"", ",index=256", "option \"index=256\" needs a device number"},
    {"", ",clock=999", "\"clock=999\" needs adapter bytes per second from 1000 to 10000000"},
    {"", ",clock=10000001", "option \"clock=10000001\" needs"},
    {"", ",serial=", "option \"serial=\" needs the device's serial number"},
    {"", ",index=1,index=2", "option \"index\" is given twice"},
    {"", ",,serial=1", "option \"\" is empty (stray comma?)"},
};

class FtdiRow : public ::testing::TestWithParam<Row> {};

TEST_P(FtdiRow, ParsesFindsClaimsAndIdentifies) {
  const Row& row = GetParam();
  EXPECT_EQ(IsFtdiAdapterName("ftdi" + std::string(row.options)), *row.options != 'x');  // ftdix
  setenv("QUELT_FAKE_FTDI", row.fake, 1);
  FtdiOptions options;
  std::string error;
  if (!ParseFtdiOptions(row.options, &options, &error)) {
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
    EXPECT_NE(*row.error, '\0') << error;
    return;
  }
  FtdiAdapter adapter(options);
  SetAdapter(&adapter);
  ResetChipTypeForTests();
  adapter.Speed(2);  // before the open: nothing reaches a device, reads stay at their preset 0
  IdentifyChip();
  EXPECT_EQ(CurrentChipType(), ChipNone);
  EXPECT_EQ(adapter.ByteClock(), 0u);
  EXPECT_EQ(adapter.Open() == 0, !*row.error);
  EXPECT_NE(adapter.OpenError().find(row.error), std::string::npos) << adapter.OpenError();
  if (!*row.error) {
    EXPECT_EQ(adapter.OpenError(), "");
    EXPECT_EQ(adapter.ByteClock(), row.clock);
    AdapterSpeed(3);
    EXPECT_EQ(adapter.ByteClock(), row.clock / 2);
    AdapterSpeed(2);
    IdentifyChip();
    EXPECT_EQ(CurrentChipType(), row.chip);
    EXPECT_EQ(adapter.Open(), 0u);  // the device stays claimed and is used again
    EXPECT_EQ(adapter.ByteClock(), row.clock);
  }
  SetAdapter(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Devices, FtdiRow, ::testing::ValuesIn(kRows));

}  // namespace
}  // namespace quelt
