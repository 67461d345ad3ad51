#include "link/bus.h"

#include <algorithm>
#include <functional>

#include "link/phases.h"
#include "tests/link/link_fixture.h"

namespace quelt::test {
namespace {

using Bus = LinkTest;

// Each symbol leaves as a low then a high strobe: bits 5..7 dropped, D4 in bit 5, the strobe in
// bit 4.
TEST_F(Bus, SymbolsFramesAndPhasesOnTheWire) {
  const uint8_t frame[] = {0x1F, 0x0C, 0x12, 170, 85, 144, 0};
  uint8_t long_frame[300];
  std::fill(std::begin(long_frame), std::end(long_frame), 0x15);
  const struct {
    const char* name;
    std::function<void()> send;
    Trace trace;
  } cases[] = {
      // clang-format off
      {"symbol 16", [] { SendSymbol(16); }, {W({0x20, 0x30})}},
      {"symbol 17", [] { SendSymbol(17); }, {W({0x21, 0x31})}},
      {"symbol 31", [] { SendSymbol(31); }, {W({0x2F, 0x3F})}},
      {"symbol 32", [] { SendSymbol(32); }, {W({0x00, 0x10})}},
      {"symbol 255", [] { SendSymbol(255); }, {W({0x2F, 0x3F})}},
      {"idle", [] { IdleBus(); }, {W({0x00, 0x10})}},
      {"frame in one write", [&] { SendFrame(frame, 7); },
       {W({0x2F, 0x3F, 0x0C, 0x1C, 0x22, 0x32, 0x0A, 0x1A, 0x25, 0x35, 0x20, 0x30, 0x00, 0x10})}},
      {"empty frame, still one write", [] { SendFrame(nullptr, 0); }, {W({})}},
      {"frame of the most symbols", [&] { SendFrame(long_frame, 256); }, {W(Rep({0x25, 0x35}, 256))}},
      {"frame beyond, cut", [&] { SendFrame(long_frame, 300); }, {W(Rep({0x25, 0x35}, 256))}},
      // Bits 24..20 lead the long form.
      {"long address 0x1FFFFFF", [] { LongAddressPhase(0x1FFFFFF).Send(); },
       {W(Cat<uint8_t>({{0x01, 0x11}, Rep({0x2F, 0x3F}, 5)}))}},
      {"short address 0x1F000", [] { ShortAddressPhase(0x1F000).Send(); },
       {W({0x21, 0x31, 0x03, 0x13, 0x2C, 0x3C, 0x00, 0x10, 0x00, 0x10})}},
      // The phases of the command addresses and bytes are checked inside the identify, erase and
      // program frames.
      // clang-format on
  };
  for (const auto& c : cases) {
    adapter_.Clear();
    c.send();
    EXPECT_EQ(Calls(), c.trace) << c.name;
  }
}

TEST_F(Bus, ReadLinesShiftsInputBySix) {
  adapter_.ScriptReads({0x80, 0x40, 0xC0, 0x3F, 0xFF});
  for (int expected : {2, 1, 3, 0, 3, 0}) {  // the last once the script is used up: preset 0
    EXPECT_EQ(ReadLines() & 0xFF, expected);
  }
}

TEST_F(Bus, ChipByteArrivesLeastSignificantBitFirst) {
  const struct {
    Bytes inputs;
    int byte;
  } cases[] = {
      {Rep({0x80}, 8), 0xFF},
      {Rep({0x00}, 8), 0x00},
      {Rep({0x40}, 8), 0x00},  // input bit 6 is not the data line
      {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0x01},
      {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, 0x80},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x80}, 0xBF},
      {{0x80, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x80}, 0xD5},
  };
  for (const auto& c : cases) {
    adapter_.Clear();
    adapter_.ScriptReads(c.inputs);
    EXPECT_EQ(ReadChipByte() & 0xFF, c.byte);
    // Sampled before each strobe of symbol 0, after the opening symbol 13.
    EXPECT_EQ(Calls(), ReadByteTrace());
  }
}

}  // namespace
}  // namespace quelt::test
