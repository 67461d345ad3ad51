// Adapter bytes written out by hand from the chip's worked examples, fed straight into the
// emulator: no chip link code takes part, so the two cannot share a mistake.
#include <gtest/gtest.h>

#include <sstream>

#include "link/sim/sim_adapter.h"

namespace quelt::test {
namespace {

// "00 10 2F" -> {0x00, 0x10, 0x2F}.
std::vector<uint8_t> Hex(const std::string& text) {
  std::istringstream in(text);
  std::vector<uint8_t> out;
  unsigned value;
  while (in >> std::hex >> value) out.push_back(static_cast<uint8_t>(value));
  return out;
}

std::string Times(const std::string& text, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text + " ";
  return out;
}

const std::string kShortStart = Times("00 10", 19) + "2F 3F 0C 1C 22 32 21 31" + Times("00 10", 4);
const std::string kLongStart = Times("00 10", 19) + "2F 3F 0D 1D 22 32 01 11" + Times("00 10", 5);
const std::string kBaseEnterId = Times("0E 1E", 7);
const std::string kBaseLeaveId = Times("2B 3B", 3);
// Address phases of 0xAAA, 0x555, 0, 1 and byte phases of 0xAA, 0x55, 0x80, 0x30.
const std::string kAt0AAA = "01 11 00 10 00 10 02 12 25 35 0A 1A ";
const std::string kAt555 = "01 11 00 10 00 10 01 11 0A 1A 25 35 ";
const std::string kAt0 = "01 11 00 10 00 10 00 10 00 10 00 10 ";
const std::string kAt1 = "01 11 00 10 00 10 00 10 00 10 01 11 ";
const std::string kAA = "25 35 0A 1A 00 10 ";
const std::string k55 = "22 32 25 35 00 10 ";
const std::string k80 = "24 34 00 10 00 10 ";
const std::string k30 = "21 31 20 30 00 10 ";
const std::string kLargeEnterId = kAt0AAA + kAA + kAt555 + k55 + kAt0AAA + "24 34 20 30 00 10 ";
const std::string kBypassEntry =
    kAt0AAA + kAA + kAt555 + k55 + kAt0AAA + "21 31 00 10 00 10 " + kAt0;
const std::string kBypassReset = "24 34 20 30 00 10 20 30 00 10 00 10 ";
const std::string kLargeGroupA7At0 = "25 35 00 10 00 10 25 35 07 17 00 10 " + Times("10", 28);
const std::string kLargeGroup3CAt0 = "25 35 00 10 00 10 21 31 2C 3C 00 10 " + Times("10", 28);
const std::string kLargeGroup3CNext = "2D 3D 00 10 00 10 21 31 2C 3C 00 10 " + Times("10", 28);
const std::string kBaseGroupE146A7 = "05 15 25 35 28 38 0A 1A 06 16 07 17 07 17 07 17 07 ";
const std::string kBaseAt0 = "21 31 00 10 00 10 00 10 00 10 ";

class HandBytes : public ::testing::Test {
 protected:
  void Make(const std::string& options, int32_t speed = 2, bool open = true) {
    std::string error;
    sim_ = SimAdapter::Create(options, &error);
    ASSERT_TRUE(sim_) << error;
    if (open) sim_->Open();
    sim_->Speed(speed);
  }
  void Send(const std::string& text) {
    const std::vector<uint8_t> bytes = Hex(text);
    uint32_t written = 0;
    sim_->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
    EXPECT_EQ(bytes.size(), written);
  }
  int Line() {
    uint8_t input = 0;
    sim_->Read(&input);
    EXPECT_EQ(0, input & 0x7F);
    return input >> 7;
  }
  // Symbol 13, then eight times: sample the data line, strobe symbol 0. First bit is bit 0.
  int ReadByte() {
    Send("0D 1D");
    int byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      byte |= Line() << bit;
      Send("00 10");
    }
    return byte;
  }
  uint8_t FlashAt(std::size_t address) {
    return static_cast<uint8_t>(sim_->FlashContents()[address]);
  }

  std::unique_ptr<SimAdapter> sim_;
};

// Each chip's answer to each start and ID-mode entry; a deaf or absent chip, or a stuck line,
// answers what the line shows.
TEST_F(HandBytes, IdBytesOfEachChipAndEachStart) {
  struct Probe {
    std::string bytes;
    int answers;
  };
  const Probe kShort{kShortStart + kBaseEnterId, 2};
  const Probe kLong{kLongStart + kLargeEnterId + kAt0, 3};
  const struct {
    const char* options;
    std::vector<Probe> probes;
    std::vector<int> bytes;
  } cases[] = {
      {"base", {kShort}, {0xBF, 0xD5}},
      {"large", {kShort}, {0x00, 0x00}},  // deaf after the other protocol's start
      {"large", {kLong}, {0x20, 0x22, 0x49}},
      {"large", {kShort, kLong}, {0x00, 0x00, 0x20, 0x22, 0x49}},  // its own start wakes it
      {"alt", {kLong}, {0xB0, 0x22, 0xE9}},
      {"base", {kLong}, {0x00, 0x00, 0x00}},
      {"none", {kShort, kLong}, {0x00, 0x00, 0x00, 0x00, 0x00}},
      {"large,stuck=high", {kLong}, {0xFF, 0xFF, 0xFF}},
      {"base,stuck=low", {kShort}, {0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Make(c.options);
    std::vector<int> got;
    for (const Probe& probe : c.probes) {
      Send(probe.bytes);
      for (int k = 0; k < probe.answers; ++k) got.push_back(ReadByte());
    }
    EXPECT_EQ(got, c.bytes);
    EXPECT_EQ(sim_->FlashContents().size(), std::string(c.options) == "none" ? 0u
                                            : c.options[0] == 'b'            ? 0x20000u
                                                                             : 0x200000u);
  }
}

TEST_F(HandBytes, LeavingIdModeReadsTheFlashAgain) {
  Make("base");
  Send(kShortStart + kBaseEnterId);
  EXPECT_EQ(0xBF, ReadByte());
  Send(kBaseLeaveId + kBaseAt0);
  EXPECT_EQ(0xFF, ReadByte());
  Make("large");
  Send(kLongStart + kLargeEnterId + kAt0);
  EXPECT_EQ(0x20, ReadByte());
  Send("27 37 20 30 00 10 " + kAt0);  // reset: 0xF0
  EXPECT_EQ(0xFF, ReadByte());
}

TEST_F(HandBytes, WritesBeforeTheOpenAreIgnoredAndReadsDeliverZero) {
  Make("large", 2, /*open=*/false);
  Send(kLongStart + kBypassEntry + kLargeGroupA7At0 + kBypassReset);
  Send(kLargeEnterId + kAt0);
  EXPECT_EQ(0x00, ReadByte());
  sim_->Open();
  Send(kLongStart + kAt0);
  EXPECT_EQ(0xFF, ReadByte());  // nothing was programmed
}

TEST_F(HandBytes, LargeGroupsProgramAtAnAdvancingAddressAndCompare) {
  Make("large");
  Send(kLongStart + kBypassEntry + kLargeGroupA7At0 + kLargeGroup3CNext + kBypassReset);
  EXPECT_EQ(0xA7, FlashAt(0));
  EXPECT_EQ(0x3C, FlashAt(1));
  EXPECT_EQ(0xFF, FlashAt(2));

  // Compare groups of 0xA7 and 0x3C from address 0, then 0x01 puts the pass flag on the line.
  Send(kAt0 + "0D 1D 0A 1A 27 37 0D 1D 03 13 2C 3C 01 11");
  EXPECT_EQ(1, Line());
  Send("00 10 00 10 00 10 00 10 00 10");  // completes the address: the flag is back at 1
  Send("0D 1D 0A 1A 27 37 0D 1D 0F 1F 2F 3F 01 11");  // 0xFF at address 1 does not match
  EXPECT_EQ(0, Line());
  Send("00 10 00 10 00 10 00 10 00 10 01 11");
  EXPECT_EQ(1, Line());
  // Compares start at the address the phase names: 0x3C is at 1, 0xA7 is not.
  Send("00 10 00 10 00 10 00 10 00 10 " + kAt1 + "0D 1D 03 13 2C 3C 01 11");
  EXPECT_EQ(1, Line());
  Send("00 10 00 10 00 10 00 10 00 10 " + kAt1 + "0D 1D 0A 1A 27 37 01 11");
  EXPECT_EQ(0, Line());

  // Programming without an erase only clears bits: 0x3C over 0xA7 leaves 0x24.
  Send("00 10 00 10 00 10 00 10 00 10 " + kBypassEntry + kLargeGroup3CAt0 + kBypassReset);
  EXPECT_EQ(0x24, FlashAt(0));
}

// A toy decoder would take these; the chip does not.
TEST_F(HandBytes, CommandsWithoutTheirUnlockCyclesDoNothing) {
  const std::string swapped_bypass =
      kAt555 + kAA + kAt0AAA + k55 + kAt0AAA + "21 31 00 10 00 10 " + kAt0;
  const struct {
    const char* name;
    std::string stream;
  } cases[] = {
      {"bypass entry with its addresses swapped", swapped_bypass + kLargeGroupA7At0 + kBypassReset},
      {"program groups without the bypass", kAt0 + kLargeGroupA7At0},
      {"sector erase with its addresses swapped",
       kAt555 + kAA + kAt0AAA + k55 + kAt555 + k80 + kAt555 + kAA + kAt0AAA + k55 + kAt0 + k30},
      {"sector erase with its second 0x55 to 0xAAA",
       kAt0AAA + kAA + kAt555 + k55 + kAt0AAA + k80 + kAt0AAA + kAA + kAt0AAA + k55 + kAt0 + k30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make("large");
    Send(kLongStart + kBypassEntry + kLargeGroup3CAt0 + kBypassReset);  // something to erase
    Send(c.stream);
    for (int k = 0; k < 8; ++k) ReadByte();
    EXPECT_EQ(0x3C, FlashAt(0));
    EXPECT_EQ(std::string(0x1FFFFF, '\xFF'), sim_->FlashContents().substr(1));
  }
  // The same bypass entry in the right order takes.
  Make("large");
  Send(kLongStart + kBypassEntry + kLargeGroupA7At0 + kBypassReset);
  EXPECT_EQ(0xA7, FlashAt(0));
}

TEST_F(HandBytes, BaseGroupCarriesItsFullAddress) {
  Make("base");
  Send(kShortStart + kBaseGroupE146A7 + Times("17", 23) + "00 10");
  EXPECT_EQ(0xA7, FlashAt(0xE146));
  // 0x00 at 0x1FFFF: symbols 0x03, 0x1F three times, data 0.
  Send("05 15 03 13 2F 3F 2F 3F 2F 3F 00 10 00 10 00 10 00 " + Times("10", 23) + "00 10");
  EXPECT_EQ(0x00, FlashAt(0x1FFFF));
}

// The program takes only if no symbol is latched within the program time after the latch that
// completed it: 20 ticks, or 40 with "slow"; a byte is 1 tick at speed 2, 2 ticks at speed 3.
TEST_F(HandBytes, ProgramTakesOnlyWhenTheHoldOutlastsTheProgramTime) {
  const struct {
    const char* options;
    int32_t speed;
    int hold;  // strobe-high bytes after the data latch (23 in a whole base group, 28 in large)
    bool takes;
  } cases[] = {
      {"base", 2, 23, true},      {"base", 2, 20, true},        {"base", 2, 19, false},
      {"base", 3, 10, true},      {"base", 3, 9, false},        {"base,slow", 2, 23, false},
      {"base,slow", 3, 23, true}, {"base,slow", 3, 20, true},   {"base,slow", 3, 19, false},
      {"large", 2, 28, true},     {"large", 2, 19, true},       {"large", 2, 18, false},
      {"large", 2, 10, false},    {"large,slow", 2, 28, false}, {"large,slow", 3, 28, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " speed " + std::to_string(c.speed) + " hold " +
                 std::to_string(c.hold));
    Make(c.options, c.speed);
    // The next latch is the strobe after the hold: two bytes later.
    const bool large = std::string(c.options).starts_with("large");
    if (large) {
      Send(kLongStart + kBypassEntry + "25 35 00 10 00 10 25 35 07 17 00 10 " +
           Times("10", c.hold) + kBypassReset);
    } else {
      Send(kShortStart + kBaseGroupE146A7 + Times("17", c.hold) + "00 10");
    }
    EXPECT_EQ(c.takes ? 0xA7 : 0xFF, FlashAt(large ? 0 : 0xE146));
  }
}

// An erase answers its busy status on the polls the option sets (0x40 and 0x00 in turn), then
// the erased block; the block is erased only when the status stops changing.
TEST_F(HandBytes, EraseReadsBusyStatusThenTheErasedBlock) {
  const struct {
    const char* options;
    std::vector<int> busy;
  } cases[] = {
      {"base", {0x40, 0x00, 0x40}},
      {"base,erase-polls=1", {0x40}},
      {"base,erase-polls=0", {}},
      {"base,erase-polls=4", {0x40, 0x00, 0x40, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Make(c.options);
    Send(kShortStart + kBaseGroupE146A7 + Times("17", 23) + "00 10");
    Send(kShortStart + "05 15 00 10 04 14 00 10 00 10 00 10 00 10 00 10 00 " + Times("10", 23) +
         "00 10");  // 0x00 at 0x1000
    ASSERT_EQ(0x00, FlashAt(0x1000));
    // Erase frame of the block at 0x1000, then polls at address 0.
    Send("21 31 00 10 04 14 00 10 00 10 " + Times("25 35", 13));
    for (int expected : c.busy) {
      EXPECT_EQ(0x00, FlashAt(0x1000));
      Send(kBaseAt0);
      EXPECT_EQ(expected, ReadByte());
    }
    EXPECT_EQ(std::string(0x1000, '\xFF'), sim_->FlashContents().substr(0x1000, 0x1000));
    EXPECT_EQ(0xA7, FlashAt(0xE146));
    Send(kBaseAt0);
    EXPECT_EQ(0xFF, ReadByte());
  }
}

}  // namespace
}  // namespace quelt::test
