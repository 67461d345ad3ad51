// The emulator: adapter bytes written out by hand from the chip's worked examples (no chip link
// code takes part, so the two cannot share a mistake), and its fast paths against the
// byte-by-byte decoding, on random streams and on the chip link's own.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "link/adapter_choice.h"
#include "link/bus.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/sim/sim_chip.h"
#include "link/verify.h"
#include "tests/support/recording_adapter.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

std::string Times(const std::string& text, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += text + " ";
  return out;
}

const std::string kShortStart = Times("00 10", 19) + "2F 3F 0C 1C 22 32 21 31 " + Times("00 10", 4);
const std::string kLongStart = Times("00 10", 19) + "2F 3F 0D 1D 22 32 01 11 " + Times("00 10", 5);
// Address phases of 0xAAA, 0x555, 0, 1 and byte phases of 0xAA, 0x55, 0x80, 0x30.
const std::string kAtAAA = "01 11 00 10 00 10 02 12 25 35 0A 1A ";
const std::string kAt555 = "01 11 00 10 00 10 01 11 0A 1A 25 35 ";
const std::string kAt0 = "01 11 00 10 00 10 00 10 00 10 00 10 ";
const std::string kAt1 = "01 11 00 10 00 10 00 10 00 10 01 11 ";
const std::string kAA = "25 35 0A 1A 00 10 ", k55 = "22 32 25 35 00 10 ";
const std::string k80 = "24 34 00 10 00 10 ", k30 = "21 31 20 30 00 10 ";
const std::string kEraseHead =
    kAtAAA + kAA + kAt555 + k55 + kAtAAA + k80 + kAtAAA + kAA + kAt555 + k55;
const std::string kShortId = kShortStart + Times("0E 1E", 7);
const std::string kLongId =
    kLongStart + kAtAAA + kAA + kAt555 + k55 + kAtAAA + "24 34 20 30 00 10 " + kAt0;
const std::string kBypass = kAtAAA + kAA + kAt555 + k55 + kAtAAA + "21 31 00 10 00 10 " + kAt0;
const std::string kBypassReset = "24 34 20 30 00 10 20 30 00 10 00 10 ";
const std::string kA7At0 = "25 35 00 10 00 10 25 35 07 17 00 10 " + Times("10", 28);
const std::string k3CAt0 = "25 35 00 10 00 10 21 31 2C 3C 00 10 " + Times("10", 28);
const std::string k3CNext = "2D 3D 00 10 00 10 21 31 2C 3C 00 10 " + Times("10", 28);
const std::string kBaseA7AtE146 = "05 15 25 35 28 38 0A 1A 06 16 07 17 07 17 07 17 07 ";
const std::string kBaseAt0 = "21 31 00 10 00 10 00 10 00 10 ";
const std::string kCompare = "00 10 00 10 00 10 00 10 00 10 ";  // the rest of the 0x01 phase

struct Script {
  std::string options;
  int speed;
  std::string steps;
};

// Hex bytes are sent, each run of them in one write. "?XX" reads a chip byte (0D 1D, then eight
// times a sample of the data line and 00 10; bit 0 first) and expects XX, "?" reads without a
// check; "L1", "L0" sample the data line; "@A=XX" expects the flash byte at A, "@A+N=XX" the N
// bytes from A; "#N" the flash size; "closed" keeps the adapter shut until "open"; "refused"
// expects the options refused.
class HandBytes : public ::testing::TestWithParam<Script> {};

TEST_P(HandBytes, AnswersAndFlash) {
  std::string error;
  auto sim = SimAdapter::Create(GetParam().options, &error);
  ASSERT_EQ(!sim, GetParam().steps == "refused") << error;
  if (!sim) return;
  if (GetParam().steps.rfind("closed", 0) != 0) sim->Open();
  sim->Speed(GetParam().speed);
  std::vector<uint8_t> out;
  const auto send = [&] {
    uint32_t written = 0;
    sim->Write(out.data(), static_cast<uint32_t>(out.size()), &written);
    EXPECT_EQ(written, out.size());
    out.clear();
  };
  const auto line = [&] {
    uint8_t input = 0xFF;
    sim->Read(&input);
    EXPECT_EQ(input & 0x7F, 0);
    return input >> 7;
  };
  std::istringstream in(GetParam().steps);
  for (std::string t; in >> t;) {
    if (std::isxdigit(static_cast<unsigned char>(t[0])) && t != "closed") {
      out.push_back(static_cast<uint8_t>(std::stoi(t, nullptr, 16)));
      continue;
    }
    send();
    const std::string flash = sim->FlashContents();
    if (t == "open") {
      sim->Open();
    } else if (t[0] == '?') {
      out = {0x0D, 0x1D};
      send();
      int byte = 0;
      for (int bit = 0; bit < 8; ++bit, out = {0x00, 0x10}, send()) byte |= line() << bit;
      EXPECT_EQ(byte, t.size() > 1 ? std::stoi(t.substr(1), nullptr, 16) : byte) << t;
    } else if (t[0] == 'L') {
      EXPECT_EQ(line(), t[1] - '0') << t;
    } else if (t[0] == '#') {
      EXPECT_EQ(flash.size(), std::stoul(t.substr(1), nullptr, 16));
    } else if (t[0] == '@') {
      const std::size_t plus = t.find('+'), at = std::stoul(t.substr(1), nullptr, 16);
      const std::size_t n =
          plus == std::string::npos ? 1 : std::stoul(t.substr(plus + 1), nullptr, 16);
      const char v = static_cast<char>(std::stoi(t.substr(t.find('=') + 1), nullptr, 16));
      EXPECT_EQ(flash.substr(at, n), std::string(n, v)) << t;
    }
  }
}

// The program takes only if no symbol is latched within the program time after the latch that
// completed it: 20 ticks, or 40 with "slow"; a byte is 1 tick at speed 2, 2 ticks at speed 3.
// `hold` counts the strobe-high bytes after the data latch (23 in a whole base group, 28 large).
Script Hold(const std::string& options, int speed, int hold, bool takes) {
  if (options.starts_with("large")) {
    return {options, speed,
            kLongStart + kBypass + "25 35 00 10 00 10 25 35 07 17 00 10 " + Times("10", hold) +
                kBypassReset + (takes ? "@0=A7" : "@0=FF")};
  }
  return {options, speed,
          kShortStart + kBaseA7AtE146 + Times("17", hold) + "00 10 " +
              (takes ? "@E146=A7" : "@E146=FF")};
}
// An erase answers its busy status on the polls the option sets (0x40 and 0x00 in turn), then
// the erased block; the block is erased only when the status stops changing.
Script Erase(const std::string& options, const std::string& busy) {
  std::string steps = kShortStart + kBaseA7AtE146 + Times("17", 23) + "00 10 " + kShortStart +
                      "05 15 00 10 04 14 00 10 00 10 00 10 00 10 00 10 00 " + Times("10", 23) +
                      "00 10 @1000=00 21 31 00 10 04 14 00 10 00 10 " + Times("25 35", 13);
  std::istringstream in(busy);
  for (std::string b; in >> b;) steps += "@1000=00 " + kBaseAt0 + "?" + b + " ";
  return {options, 2, steps + "@1000+1000=FF @E146=A7 " + kBaseAt0 + "?FF"};
}
// Commands missing an unlock cycle: the block programmed first stays, nothing else changes.
Script Refused(const std::string& stream) {
  return {
      "large", 2,
      kLongStart + kBypass + k3CAt0 + kBypassReset + stream + "? ? ? ? ? ? ? ? @0=3C @1+1FFFFF=FF"};
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, HandBytes,
    ::testing::Values(
        // Each chip's answer to each start and ID-mode entry (large by default); deaf after the
        // other protocol's start until its own; leaving ID mode reads the flash again.
        Script{"base", 2, kShortId + "?BF ?D5 2B 3B 2B 3B 2B 3B " + kBaseAt0 + "?FF " + kLongId + "?00 ?00 ?00 #20000"},
        Script{"large", 2, kShortId + "?00 ?00 " + kLongId + "?20 ?22 ?49 27 37 20 30 00 10 " + kAt0 + "?FF #200000"},
        Script{"alt", 2, kLongId + "?B0 ?22 ?E9 #200000"}, Script{"", 2, kLongId + "?20 ?22 ?49"},
        Script{"none", 2, kShortId + "?00 ?00 " + kLongId + "?00 ?00 ?00 #0"},
        Script{"large,stuck=high", 2, kLongId + "?FF ?FF ?FF"},
        Script{"base,stuck=low", 2, kShortId + "?00 ?00"},
        Script{"none,flash=x", 2, "refused"}, Script{"large,slow,slow", 2, "refused"},
        Script{"base,bad=0x20000", 2, "refused"}, Script{"large,bad=0x10:0x100", 2, "refused"},
        Script{"large,erase-polls=3x", 2, "refused"}, Script{"large,,slow", 2, "refused"},
        Script{"large,base", 2, "refused"}, Script{"large,slow=1", 2, "refused"},
        Script{"large,flash=", 2, "refused"}, Script{"large,bad=0x10,bad=0x11", 2, ""},
        // Writes before the open are ignored and reads deliver 0.
        Script{"large", 2, "closed " + kLongStart + kBypass + kA7At0 + kBypassReset + kLongId + "?00 open " + kLongStart + kAt0 + "?FF"},
        // Groups program at an advancing address; compares start at the address phase's, 0x01
        // puts the pass flag on the line and the rest of its phase sets it back to 1; programming
        // only clears bits.
        Script{"large", 2, kLongStart + kBypass + kA7At0 + k3CNext + kBypassReset + "@0=A7 @1=3C @2=FF " + kAt0 + "0D 1D 0A 1A 27 37 0D 1D 03 13 2C 3C 01 11 L1 " + kCompare + "0D 1D 0A 1A 27 37 0D 1D 0F 1F 2F 3F 01 11 L0 " + kCompare + "01 11 L1 " + kCompare + kAt1 + "0D 1D 03 13 2C 3C 01 11 L1 " + kCompare + kAt1 + "0D 1D 0A 1A 27 37 01 11 L0 " + kCompare + kBypass + k3CAt0 + kBypassReset + "@0=24"},
        // A sector erase clears its block only (0x8000 to 0xFFFF, or 0 to 0x3FFF) after its polls.
        Script{"large", 2, kLongStart + kBypass + "01 11 00 10 00 10 2F 3F 2F 3F 2F 3F " + kA7At0 + k3CNext + "01 11 00 10 01 11 2F 3F 2F 3F 2F 3F " + kA7At0 + k3CNext + "01 11 00 10 00 10 0F 1F 2F 3F 2F 3F " + kA7At0 + kBypassReset + "@3FFF=A7 @7FFF=A7 @8000=3C @FFFF=A7 @10000=3C " + kEraseHead + "01 11 00 10 01 11 00 10 00 10 00 10 " + k30 + "?40 ?00 ?40 @7FFF=A7 @8000+8000=FF @10000=3C " + kEraseHead + kAt0 + k30 + "?40 ?00 ?40 @0+4000=FF @7FFF=A7"},
        // A base group carries its full address: 0x00 at 0x1FFFF is 0x03, 0x1F three times, 0.
        Script{"base", 2, kShortStart + kBaseA7AtE146 + Times("17", 23) + "00 10 @E146=A7 05 15 03 13 2F 3F 2F 3F 2F 3F 00 10 00 10 00 10 00 " + Times("10", 23) + "00 10 @1FFFF=00"},
        Refused(kAt555 + kAA + kAtAAA + k55 + kAtAAA + "21 31 00 10 00 10 " + kAt0 + kA7At0 + kBypassReset),
        Refused(kAt0 + kA7At0),
        Refused(kAt555 + kAA + kAtAAA + k55 + kAt555 + k80 + kAt555 + kAA + kAtAAA + k55 + kAt0 + k30),
        Refused(kAtAAA + kAA + kAt555 + k55 + kAtAAA + k80 + kAtAAA + kAA + kAtAAA + k55 + kAt0 + k30),
        Erase("base", "40 00 40"), Erase("base,erase-polls=1", "40"),
        Erase("base,erase-polls=0", ""), Erase("base,erase-polls=4", "40 00 40 00"),
        Hold("base", 2, 23, true), Hold("base", 2, 20, true), Hold("base", 2, 19, false),
        Hold("base", 3, 10, true), Hold("base", 3, 9, false), Hold("base,slow", 2, 23, false),
        Hold("base,slow", 3, 20, true), Hold("base,slow", 3, 19, false), Hold("large", 2, 28, true),
        Hold("large", 2, 19, true), Hold("large", 2, 18, false), Hold("large,slow", 2, 28, false),
        Hold("large,slow", 3, 28, true)));
// clang-format on

// The chip link's own stream: identification, erase, the program of a random image and its
// compare, as written to an adapter that answers every read with 0.
Bytes LinkStream(SimChipType type, int32_t size) {
  RecordingAdapter rec;
  SetAdapter(&rec);
  SetCurrentChipType(type == SimChipType::Base ? ChipBase : ChipLarge);
  const Bytes image = RandomBytes(static_cast<std::size_t>(size), 30);
  IdentifyChip();
  EXPECT_EQ(LinkStatus::Ok, EraseImageRange(size));
  EXPECT_EQ(LinkStatus::Ok, ProgramImage(image.data(), size, {}));
  (void)VerifyImage(image.data(), size, {});
  SetAdapter(nullptr);
  ResetChipTypeForTests();
  Bytes out;
  for (const auto& w : rec.Calls()) out.insert(out.end(), w.bytes.begin(), w.bytes.end());
  return out;
}

// Random streams: pieces of the link's own streams for both chips, cut at any byte (mostly near
// their commands at either end) and joined in any order, now and then after an address phase
// near the large chip's end (where addresses wrap); one piece in four damaged (a byte changed
// or dropped), runs of idle or strobe-high bytes between them.
Bytes MakeStream(std::mt19937& rng) {
  static const Bytes pool[] = {LinkStream(SimChipType::Base, 0x10F00),
                               LinkStream(SimChipType::Large, 0x4100)};
  Bytes out;
  for (int piece = 0; piece < 60; ++piece) {
    const Frame end = rng() % 8 ? Frame{} : LongAddressPhase(0x1FFFFF - rng() % 64);
    for (std::size_t k = 0; k < end.size(); ++k) {
      const uint8_t e = EncodeSymbol(end.data()[k]);
      out.insert(out.end(), {e, static_cast<uint8_t>(e | kStrobe)});
    }
    const Bytes& s = pool[rng() % 2];
    const std::size_t at =
        std::array{rng() % 4000, s.size() - 1 - rng() % 4000, rng() % s.size()}[rng() % 3];
    const std::size_t n = std::min<std::size_t>(s.size() - at, 1 + rng() % 2000);
    out.insert(out.end(), s.begin() + at, s.begin() + at + n);
    const auto damaged = out.end() - 1 - rng() % n;
    if (rng() % 4 == 0) *damaged = static_cast<uint8_t>(rng());
    if (rng() % 4 == 0) out.erase(damaged);
    out.insert(out.end(), rng() % 30, rng() % 2 ? 0x10 : 0x00);
  }
  return out;
}

// Random streams on each chip type, then the link's streams for the base and the large chip.
TEST(Differential, StreamsAgreeWithByteByByteDecoding) {
  uint64_t fast_groups[3] = {};
  for (int c = 0; c < 244; ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    const bool link = c >= 240;
    std::mt19937 rng(static_cast<uint32_t>(c) * 7919u + 1);
    SimChipConfig config;
    config.type =
        std::array{SimChipType::Large, SimChipType::Base, SimChipType::Alt}[c % (3 - link)];
    config.erase_polls = rng() % 8;
    config.program_ticks = rng() % 2 ? 20 : 40;
    Bytes bad(SimChipSize(config.type), 0);
    for (int i = 0; i < 50; ++i) bad[rng() % 64] |= static_cast<uint8_t>(rng());
    if (rng() % 3 == 0) config.bad_masks = bad.data();
    Bytes flash_fast(bad.size(), 0xFF), flash_slow(bad.size(), 0xFF);
    SimChip fast(config, flash_fast.data()), slow(config, flash_slow.data());
    slow.EnableFastPaths(false);
    const int speed = rng() % 2 ? 2 : 3;
    fast.SetSpeed(speed);
    slow.SetSpeed(speed);
    const int32_t size = std::array{0x21234, 0x10F00, 0x4100, 0x3001}[c % 4];
    const Bytes stream = link ? LinkStream(config.type, size) : MakeStream(rng);
    for (std::size_t at = 0, n; at < stream.size(); at += n) {
      // Writes of every length, from single bytes to whole runs of groups.
      n = std::min<std::size_t>(stream.size() - at, 1 + rng() % (rng() % 4 ? 700 : 7));
      fast.Feed(stream.data() + at, n);
      slow.Feed(stream.data() + at, n);
      ASSERT_TRUE(fast.State() == slow.State()) << "after byte " << at + n;
    }
    ASSERT_TRUE(flash_fast == flash_slow);
    // The fast paths must really have been taken: on every group of the link's streams.
    EXPECT_TRUE(!link || fast.FastGroups() >= static_cast<uint64_t>(size));
    fast_groups[c % 3] += fast.FastGroups();
  }
  for (uint64_t n : fast_groups) EXPECT_GT(n, 1000u);
}

// "sim" is the emulator, other names adapter libraries (by default the platform's, absent here);
// a library without the entry points is refused, and the recording library logs every call. The
// loader on Windows is the Wine rows' (tests/win).
TEST(AdapterChoiceTest, EmulatorOrLibraryByName) {
  EXPECT_TRUE(ChooseAdapter("sim").emulator);
  EXPECT_NE(ChooseAdapter("simulator").error.find("simulator"), std::string::npos);
  EXPECT_NE(ChooseAdapter("").error.find("QueltUSB."), std::string::npos);
#ifndef _WIN32
  EXPECT_NE(ChooseAdapter("libm.so.6").error.find("QueltAdapterOpen"), std::string::npos);
  TempDir dir;
  ScopedEnv log("QUELT_RECORD_LOG", dir.File("log"));
  // Each library keeps one emulator, made from QUELT_SIM at its first call: here a flash file for
  // the recording one, options it must refuse (an absent adapter, not a default chip) for the
  // other.
  ScopedEnv sim("QUELT_SIM", "large,flash=" + dir.File("flash"));
  const AdapterChoice record = ChooseAdapter(QUELT_RECORD_LIBRARY);
  uint8_t bytes[] = {0x0D, 0x1D};
  uint32_t written = 0;
  record.adapter->Open();
  record.adapter->Speed(2);
  record.adapter->Write(bytes, 2, &written);
  record.adapter->Read(bytes);
  EXPECT_EQ(bytes[0], 0x80);
  EXPECT_EQ(ReadFile(dir.File("flash")).size(), 0x200000u);
  const Bytes text = ReadFile(dir.File("log"));
  EXPECT_EQ(std::string(text.begin(), text.end()),
            "open 0\nspeed 2\nwrite 2 083ca707b4f3f91f 0d 1d\nread 80\n");
  ScopedEnv refused("QUELT_SIM", "large,bogus=1");
  EXPECT_NE(ChooseAdapter(QUELT_SIM_LIBRARY).adapter->Open(), 0u);
  std::string error;  // a flash file of another size is refused, naming the file
  EXPECT_FALSE(SimAdapter::Create("base,flash=" + dir.File("log"), &error));
  EXPECT_NE(error.find(dir.File("log")), std::string::npos) << error;
#endif
}

}  // namespace
}  // namespace quelt::test
