#include "link/bus.h"

#include <array>

#include "link/phases.h"
#include "tests/link/link_test_util.h"

namespace quelt::test {
namespace {

class BusTest : public LinkTest {};

TEST_F(BusTest, SymbolsLeaveAsLowThenHighStrobe) {
  struct Case {
    uint8_t symbol;
    uint8_t low, high;
  };
  // Bits 5..7 are dropped, D4 travels in bit 5 and the strobe in bit 4.
  const Case cases[] = {
      {0, 0x00, 0x10},   {13, 0x0D, 0x1D},  {15, 0x0F, 0x1F},  {16, 0x20, 0x30},
      {17, 0x21, 0x31},  {31, 0x2F, 0x3F},  {32, 0x00, 0x10},  {85, 0x25, 0x35},
      {144, 0x20, 0x30}, {170, 0x0A, 0x1A}, {255, 0x2F, 0x3F},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    SendSymbol(c.symbol);
    EXPECT_EQ(Trace(), std::vector<std::string>{W({c.low, c.high})}) << int(c.symbol);
  }
}

TEST_F(BusTest, FrameIsOneWriteOfAllItsSymbols) {
  const uint8_t symbols[] = {0x1F, 0x0C, 0x12, 170, 85, 144, 0};
  SendFrame(symbols, 7);
  EXPECT_EQ(Trace(), std::vector<std::string>{W({0x2F, 0x3F, 0x0C, 0x1C, 0x22, 0x32, 0x0A, 0x1A,
                                                 0x25, 0x35, 0x20, 0x30, 0x00, 0x10})});
}

TEST_F(BusTest, EmptyFrameStillWritesOnce) {
  SendFrame(nullptr, 0);
  const auto calls = adapter_.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].kind, AdapterCall::Write);
  EXPECT_EQ(calls[0].count, 0u);
}

TEST_F(BusTest, FrameOfMostSymbolsAndBeyond) {
  std::array<uint8_t, 300> symbols;
  symbols.fill(0x15);
  SendFrame(symbols.data(), 256);
  SendFrame(symbols.data(), 300);  // cut to the most a frame holds
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0], Rep({0x25, 0x35}, 256));
  EXPECT_EQ(writes[1], Rep({0x25, 0x35}, 256));
}

TEST_F(BusTest, ReadLinesShiftsInputBySix) {
  adapter_.ScriptReads({0x80, 0x40, 0xC0, 0x3F, 0xFF});
  EXPECT_EQ(ReadLines() & 0xFF, 2);
  EXPECT_EQ(ReadLines() & 0xFF, 1);
  EXPECT_EQ(ReadLines() & 0xFF, 3);
  EXPECT_EQ(ReadLines() & 0xFF, 0);
  EXPECT_EQ(ReadLines() & 0xFF, 3);
  EXPECT_EQ(ReadLines() & 0xFF, 0);  // script used up: the preset 0
}

TEST_F(BusTest, ChipByteArrivesLeastSignificantBitFirst) {
  struct Case {
    std::vector<uint8_t> inputs;
    int byte;
  };
  const Case cases[] = {
      {Rep({0x80}, 8), 0xFF},
      {Rep({0x00}, 8), 0x00},
      {Rep({0x40}, 8), 0x00},  // input bit 6 is not the data line
      {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x01},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, 0x80},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x80}, 0xBF},
      {{0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x80}, 0xD5},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    adapter_.ScriptReads(c.inputs);
    EXPECT_EQ(ReadChipByte() & 0xFF, c.byte);
    // Sampled before each strobe of symbol 0, after the opening symbol 13.
    EXPECT_EQ(Trace(), ReadByteTrace());
  }
}

TEST_F(BusTest, IdleIsOneStrobeOfSymbolZero) {
  IdleBus();
  EXPECT_EQ(Trace(), std::vector<std::string>{W({0x00, 0x10})});
}

TEST_F(BusTest, AddressAndBytePhases) {
  struct Case {
    Frame frame;
    std::vector<uint8_t> wire;
  };
  const Case cases[] = {
      {LongAddressPhase(0xAAA),
       {0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x02, 0x12, 0x25, 0x35, 0x0A, 0x1A}},
      {LongAddressPhase(0x555),
       {0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x01, 0x11, 0x0A, 0x1A, 0x25, 0x35}},
      {LongAddressPhase(0), Cat({{0x01, 0x11}, Rep({0x00, 0x10}, 5)})},
      // Bits 24..20 lead the long form.
      {LongAddressPhase(0x1FFFFFF), Cat({{0x01, 0x11}, Rep({0x2F, 0x3F}, 5)})},
      {ShortAddressPhase(0), Cat({{0x21, 0x31}, Rep({0x00, 0x10}, 4)})},
      {ShortAddressPhase(0x1F000), {0x21, 0x31, 0x03, 0x13, 0x2C, 0x3C, 0x00, 0x10, 0x00, 0x10}},
      {BytePhase(0xAA), {0x25, 0x35, 0x0A, 0x1A, 0x00, 0x10}},
      {BytePhase(0x55), {0x22, 0x32, 0x25, 0x35, 0x00, 0x10}},
      {BytePhase(0x90), {0x24, 0x34, 0x20, 0x30, 0x00, 0x10}},
      {BytePhase(0xF0), {0x27, 0x37, 0x20, 0x30, 0x00, 0x10}},
      {BytePhase(0x80), {0x24, 0x34, 0x00, 0x10, 0x00, 0x10}},
      {BytePhase(0x30), {0x21, 0x31, 0x20, 0x30, 0x00, 0x10}},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    c.frame.Send();
    EXPECT_EQ(Trace(), std::vector<std::string>{W(c.wire)});
  }
}

}  // namespace
}  // namespace quelt::test
