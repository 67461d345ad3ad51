// The chip link against a recording adapter: every frame, read and progress position of
// identification, erase, programming and verification, written out by hand as bus symbols. Then
// the emulator: adapter bytes written out by hand from the chip's worked examples (no chip link
// code takes part, so the two cannot share a mistake), and its fast paths against the
// byte-by-byte decoding, on random streams and on the chip link's own.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <sstream>

#include "link/adapter_choice.h"
#include "link/bus.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/group_fill.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/sim/sim_chip.h"
#include "link/verify.h"
#include "link/work_buffer.h"
#include "tests/support/recording_adapter.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

RecordingAdapter* rec = nullptr;
std::vector<std::pair<std::size_t, int32_t>> positions;
int allocations = 0;

ProgressFn Progress() {
  return [](int32_t at) { positions.emplace_back(rec->Calls().size(), at); };
}

// One write: "W" and its symbols (a pair e, e | 0x10 with bits 6, 7 clear is the symbol it
// carries, any other pair is shown raw in brackets), runs of three or more as "SSxN"; "W#count"
// for writes of more than 200 bytes.
std::string Write(const AdapterCall& call) {
  if (call.count > 200) return "W#" + std::to_string(call.count);
  std::vector<std::string> tokens;
  char s[16];
  for (std::size_t k = 0; k < call.bytes.size(); k += 2) {
    const int e = call.bytes[k], h = k + 1 < call.bytes.size() ? call.bytes[k + 1] : -1;
    if ((e & 0xD0) == 0 && h == (e | 0x10))
      std::snprintf(s, sizeof s, "%02X", (e & 0x0F) | (e & 0x20) >> 1);
    else
      std::snprintf(s, sizeof s, h < 0 ? "[%02X]" : "[%02X %02X]", e, h);
    tokens.push_back(s);
  }
  std::string out = "W";
  for (std::size_t i = 0, j; i < tokens.size(); i = j < i + 3 ? i + 1 : j) {
    for (j = i; j < tokens.size() && tokens[j] == tokens[i];) ++j;
    out += " " + tokens[i] + (j - i >= 3 ? "x" + std::to_string(j - i) : "");
  }
  return out;
}

// The calls joined by "|": writes, "R" for a read, "P" and a progress position, and "B" for a
// whole ReadChipByte (symbol 13, then eight times a read and symbol 0).
std::string Trace() {
  const auto calls = rec->Calls();
  std::string out, byte_read = "|W 0D";
  for (std::size_t k = 0, p = 0; k <= calls.size(); ++k) {
    for (; p < positions.size() && positions[p].first == k; ++p)
      out += "|P" + std::to_string(positions[p].second);
    if (k < calls.size()) out += calls[k].kind == AdapterCall::Read ? "|R" : "|" + Write(calls[k]);
  }
  for (int k = 0; k < 8; ++k) byte_read += "|R|W 00";
  for (std::size_t at; (at = out.find(byte_read)) != std::string::npos;)
    out.replace(at, byte_read.size(), "|B");
  return out.substr(out.empty() ? 0 : 1);
}

// The reads that make ReadChipByte return each byte: bit 0 first, on bit 7, `zero` for a 0 bit.
Bytes ChipAnswers(std::initializer_list<int> bytes, uint8_t zero = 0) {
  Bytes in;
  for (int b : bytes)
    for (int bit = 0; bit < 8; ++bit) in.push_back((b >> bit) & 1 ? 0x80 : zero);
  return in;
}

std::string Identify() {
  IdentifyChip();
  return "type " + std::to_string(CurrentChipType());
}
// The status, the blocks reported, the last done count over the total, and the number of
// adapter calls.
std::string Erase(int32_t size) {
  std::ostringstream starts;
  std::string last = "0/0";
  const auto status = EraseImageRange(size, [&](int32_t start, int done, int total) {
    starts << ' ' << std::hex << std::uppercase << start;
    last = std::to_string(done) + "/" + std::to_string(total);
  });
  return std::to_string(static_cast<int>(status)) + starts.str() + " " + last +
         " calls=" + std::to_string(rec->Calls().size());
}
std::string Program(const Bytes& image, int32_t count) {
  return std::to_string(static_cast<int>(ProgramImage(image.data(), count, Progress())));
}
std::string Verify(const Bytes& image) {
  const auto v = VerifyImage(image.data(), static_cast<int32_t>(image.size()), Progress());
  return std::to_string(static_cast<int>(v.status)) + " " + std::to_string(v.result) + " " +
         std::to_string(v.failed_chunk_start);
}
std::function<std::string()> Group(void (*fill)(uint8_t*, int32_t, uint8_t), int32_t at, int b) {
  return [=] {
    uint8_t group[kProgramGroupBytes];
    fill(group, at, static_cast<uint8_t>(b));
    QueltProgrammerWrite(group, kProgramGroupBytes, nullptr);
    return "";
  };
}

// Symbol runs of the frames: the start frames, the command phases (address 0xAAA or 0x555 and
// a byte), and the ChipLarge commands built from them.
const std::string kShortStart = "W 00x19 1F 0C 12 11 00x4";
const std::string kLongStart = "W 00x19 1F 0D 12 01 00x5";
const std::string kUnlock =
    "01 00 00 02 15 0A 15 0A 00 01 00 00 01 0A 15 12 15 00 01 00 00 02 15 0A ";
const std::string kBaseProbe = kShortStart + "|W 0Ex7|B|B";
const std::string kProbes =
    kBaseProbe + "|" + kLongStart + "|W " + kUnlock + "14 10 00|W 01 00x5|B|B|B";
const std::string kEraseHead = "W " + kUnlock + "14 00 00 " + kUnlock.substr(0, 54);
const std::string kBaseErase0 = "W 11 00x4 15x13";
const std::string kLargeErase0 = kEraseHead + "01 00x5 11 10 00";
const std::string kBasePoll = "|W 11 00x4|B", kLargePoll = "|W 01 00x5|B";
const std::string kPreamble = "W " + kUnlock + "11 00 00 01 00x5";
const std::string kClosing = "|W 14 10 00 10 00 00";
const std::string kNext1 = "|R|W 00 04 00x3";
const Bytes kZeros(0x200000, 0), kWhole(0x200000, 0x3C);

struct Row {
  const char* name;
  ChipType type;
  Bytes reads;
  std::function<std::string()> act;
  std::string result;
  std::string trace;
};

const Row kRows[] = {
    // clang-format off
    {"symbols", ChipNone, {}, [] { for (int s : {16, 17, 31, 32, 255}) SendSymbol(static_cast<uint8_t>(s)); IdleBus(); return ""; }, "", "W 10|W 11|W 1F|W 00|W 1F|W 00"},
    {"frame", ChipNone, {}, [] { const uint8_t f[] = {0x1F, 0x0C, 0x12, 170, 85, 144, 0}; SendFrame(f, 7); SendFrame(nullptr, 0); return ""; }, "", "W 1F 0C 12 0A 15 10 00|W"},
    {"frame_cut", ChipNone, {}, [] { const Bytes f(300, 0x15); SendFrame(f.data(), 256); SendFrame(f.data(), 300); return ""; }, "", "W#512|W#512"},
    {"phases", ChipNone, {}, [] { LongAddressPhase(0x1FFFFFF).Send(); ShortAddressPhase(0x1F000).Send(); return ""; }, "", "W 01 1Fx5|W 11 03 1C 00 00"},
    {"read_lines", ChipNone, {0x80, 0x40, 0xC0, 0x3F, 0xFF}, [] { std::string s; for (int k = 0; k < 6; ++k) s += std::to_string(ReadLines()); return s; }, "213030", "R|R|R|R|R|R"},
    {"chip_bytes", ChipNone, ChipAnswers({0xFF, 0, 0, 0x01, 0x80, 0xBF, 0xD5}, 0x40), [] { std::string s; for (int k = 0; k < 7; ++k) s += std::to_string(ReadChipByte()) + " "; return s; }, "255 0 0 1 128 191 213 ", "B|B|B|B|B|B|B"},
    {"id_base", ChipNone, ChipAnswers({0xBF, 0xD5}), Identify, "type 1", kBaseProbe + "|W 1Bx3"},
    {"id_alt", ChipNone, ChipAnswers({0, 0, 0xB0, 0x22, 0xE9}), Identify, "type 2", kProbes + "|W 17 10 00"},
    {"id_large", ChipNone, ChipAnswers({0, 0, 0x20, 0x22, 0x49}), Identify, "type 3", kProbes + "|W 17 10 00"},
    {"id_large__second_byte_not_compared", ChipNone, ChipAnswers({0, 0, 0x20, 0xFF, 0x49}), Identify, "type 3", kProbes + "|W 17 10 00"},
    {"id_base_bytes_reversed", ChipNone, ChipAnswers({0xD5, 0xBF, 0x20, 0x22, 0x49}), Identify, "type 3", kProbes + "|W 17 10 00"},
    {"id_base_second_byte_wrong", ChipNone, ChipAnswers({0xBF, 0xD4}), Identify, "type 0", kProbes},
    {"id_line_high", ChipNone, Bytes(40, 0x80), Identify, "type 0", kProbes},
    {"id_alt_first__large_third", ChipNone, ChipAnswers({0, 0, 0xB0, 0x22, 0x49}), Identify, "type 0", kProbes},
    {"id_large_first__alt_third", ChipNone, ChipAnswers({0, 0, 0x20, 0x22, 0xE9}), Identify, "type 0", kProbes},
    {"id_base_bytes_to_the_long_probe", ChipNone, ChipAnswers({0, 0, 0xBF, 0, 0xD5}), Identify, "type 0", kProbes},
    {"id_known_base", ChipBase, ChipAnswers({0, 0, 0x20, 0x22, 0x49}), Identify, "type 1", kShortStart},
    {"id_known_alt", ChipAlt, ChipAnswers({0xBF, 0xD5}), Identify, "type 2", kLongStart},
    {"id_known_large", ChipLarge, ChipAnswers({0xBF, 0xD5}), Identify, "type 3", kLongStart},
    {"erase_frames_base", ChipBase, {}, [] { EraseFrame(0x1000).Send(); EraseFrame(0x1F000).Send(); return ""; }, "", "W 11 00 04 00 00 15x13|W 11 03 1C 00 00 15x13"},
    {"erase_frames_large", ChipLarge, {}, [] { for (int32_t a : {0x10000, 0x1F0000}) EraseFrame(a).Send(); return ""; }, "", kEraseHead + "01 00 02 00x3 11 10 00|" + kEraseHead + "01 01 1E 00x3 11 10 00"},
    {"erase_base", ChipBase, {}, [] { return Erase(1); }, "0 0 1/1 calls=71", kBaseErase0 + kBasePoll + kBasePoll + "|B|B"},
    {"erase_large", ChipLarge, {}, [] { return Erase(1); }, "0 0 1/1 calls=71", kLargeErase0 + kLargePoll + kLargePoll + "|B|B"},
    {"next_block", ChipLarge, {}, [] { return std::to_string(NextBlockStart(0x6000)) + " " + std::to_string(NextBlockStart(0x7FFF0000)); }, "32768 2147483647", ""},
    {"erase_base__toggling", ChipBase, ChipAnswers({0x40, 0x00, 0x40, 0x40}), [] { return Erase(1); }, "0 0 1/1 calls=107", kBaseErase0 + kBasePoll + kBasePoll + kBasePoll + kBasePoll + "|B|B"},
    {"erase_base__bit_7", ChipBase, ChipAnswers({0x00, 0x80, 0x80}), [] { return Erase(1); }, "0 0 1/1 calls=89", kBaseErase0 + kBasePoll + kBasePoll + kBasePoll + "|B|B"},
    {"erase_large__bit_0", ChipLarge, ChipAnswers({0x80, 0x81, 0x81}), [] { return Erase(1); }, "0 0 1/1 calls=89", kLargeErase0 + kLargePoll + kLargePoll + kLargePoll + "|B|B"},
    {"erase_base_nothing", ChipBase, {}, [] { return Erase(0) + Erase(-1) + Erase(INT32_MIN); }, "0 0/0 calls=00 0/0 calls=00 0/0 calls=0", ""},
    {"erase_large_nothing", ChipLarge, {}, [] { return Erase(-4096); }, "0 0/0 calls=0", ""},
    {"erase_base_4096", ChipBase, {}, [] { return Erase(4096); }, "0 0 1/1 calls=71", "*"},
    {"erase_base_4097", ChipBase, {}, [] { return Erase(4097); }, "0 0 1000 2/2 calls=142", "*"},
    {"erase_base_all", ChipBase, {}, [] { return Erase(0x20000); }, "0 0 1000 2000 3000 4000 5000 6000 7000 8000 9000 A000 B000 C000 D000 E000 F000 10000 11000 12000 13000 14000 15000 16000 17000 18000 19000 1A000 1B000 1C000 1D000 1E000 1F000 32/32 calls=2272", "*"},
    {"erase_large_all", ChipLarge, {}, [] { return Erase(0x200000); }, "0 0 4000 6000 8000 10000 20000 30000 40000 50000 60000 70000 80000 90000 A0000 B0000 C0000 D0000 E0000 F0000 100000 110000 120000 130000 140000 150000 160000 170000 180000 190000 1A0000 1B0000 1C0000 1D0000 1E0000 1F0000 35/35 calls=2485", "*"},
    {"erase_never_settles", ChipLarge, ChipAnswers({0, 0xFF}), [] { SetEraseTimeout({}); return Erase(0x200000); }, "1 0/0 calls=37", "*"},
    {"erase_settles_twice", ChipLarge, ChipAnswers({0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF}), [] { SetEraseTimeout({}); return Erase(0x200000); }, "1 0 4000 2/35 calls=179", "*"},
    {"group_base_E146", ChipNone, {}, Group(FillBaseProgramGroup, 0xE146, 0xA7), "", "W 05 15 18 0A 06 07x4 [17 17]x11"},
    {"group_base_1FFFF", ChipNone, {}, Group(FillBaseProgramGroup, 0x1FFFF, 0xFF), "", "W 05 1Fx8 [3F 3F]x11"},
    {"group_large_0", ChipNone, {}, Group(FillLargeProgramGroup, 0, 0xA7), "", "W 15 00 00 15 07 00 [10 10]x14"},
    {"group_large_5", ChipNone, {}, Group(FillLargeProgramGroup, 5, 0x3C), "", "W 1D 00 00 11 1C 00 [10 10]x14"},
    {"group_large_1", ChipNone, {}, Group(FillLargeProgramGroup, 1, 0x10), "", "W 1D 00 00 10 10 00 [10 10]x14"},
    {"program_base_0", ChipBase, {}, [] { return Program(kZeros, 0) + Program(kZeros, -5); }, "00", "W|W"},
    {"program_base_1", ChipBase, {}, [] { return Program(kZeros, 1); }, "0", "P0|W 05 00x8 [10 10]x11"},
    {"program_base_512", ChipBase, {}, [] { return Program(kZeros, 512); }, "0", "P0|W#20480"},
    {"program_base_513", ChipBase, {}, [] { return Program(kZeros, 513); }, "0", "P0|P512|W#20520"},
    {"program_large_1", ChipLarge, {}, [] { return Program(kZeros, 1); }, "0", kPreamble + "|P0|W 15 00 00 10 00 00 [10 10]x14" + kClosing},
    {"program_large_0", ChipLarge, {}, [] { return Program(kZeros, -5); }, "0", kPreamble + kClosing},
    {"program_large_chunk", ChipLarge, {}, [] { return Program(kZeros, 0x20000); }, "0", kPreamble + "|P0|W#5242880" + kClosing},
    {"program_large_chunk_and_byte", ChipLarge, {}, [] { return Program(kZeros, 0x20001); }, "0", kPreamble + "|P0|W#5242880|P131072|W 1D 00 00 10 00 00 [10 10]x14" + kClosing},
    {"program_one_buffer", ChipLarge, {}, [] { allocations = 0; SetWorkBufferAllocatorForTests([](std::size_t n) { ++allocations; return DefaultWorkBufferAlloc(n); }); const std::string status = Program(kZeros, 0x50000); return status + " " + std::to_string(allocations); }, "0 1", "*"},
    {"verify_empty", ChipLarge, {}, [] { return Verify({}); }, "0 1 -1", "W 01 00x5"},
    {"verify_byte", ChipLarge, {0x80}, [] { return Verify({0xA7}); }, "0 1 -1", "W 01 00x5|P0|W 0D 0A 17 01" + kNext1},
    {"verify_byte_failing", ChipLarge, {0x00}, [] { return Verify({0xA7}); }, "0 0 0", "W 01 00x5|P0|W 0D 0A 17 01" + kNext1},
    {"verify_bit_6_is_not_the_pass_bit", ChipLarge, {0x40}, [] { return Verify({0xA7}); }, "0 0 0", "W 01 00x5|P0|W 0D 0A 17 01" + kNext1},
    {"verify_five_bytes", ChipLarge, {0x80}, [] { return Verify({0x00, 0xFF, 0x10, 0xA7, 0x3C}); }, "0 1 -1", "W 01 00x5|P0|W 0D 00 10 0D 0F 1F 0D 01 10 0D 0A 17 0D 03 1C 01" + kNext1},
    {"verify_chunk", ChipLarge, {0x80}, [] { return Verify(Bytes(0x20000, 0x3C)); }, "0 1 -1", "W 01 00x5|P0|W#786434" + kNext1},
    {"verify_chunk_and_byte", ChipLarge, {0x80, 0x80}, [] { return Verify(Bytes(0x20001, 0x3C)); }, "0 1 -1", "W 01 00x5|P0|W#786434" + kNext1 + "|P131072|W 0D 03 1C 01|R|W 00 08 00x3"},
    {"verify_first_chunk_failing", ChipLarge, {0x00, 0x80}, [] { return Verify(Bytes(0x20001, 0x3C)); }, "0 0 0", "W 01 00x5|P0|W#786434" + kNext1},
    {"verify_third_chunk_failing", ChipLarge, {0x80, 0x80, 0x00}, [] { return Verify(kWhole); }, "0 0 262144", "W 01 00x5|P0|W#786434" + kNext1 + "|P131072|W#786434|R|W 00 08 00x3|P262144|W#786434|R|W 00 0C 00x3"},
    {"no_memory", ChipLarge, {0x80}, [] { SetWorkBufferAllocatorForTests([](std::size_t) -> void* { return nullptr; }); return Program(kZeros, 1000) + Verify(Bytes(1000)); }, "22 0 -1", ""},
    {"no_memory_base", ChipBase, {}, [] { SetWorkBufferAllocatorForTests([](std::size_t) -> void* { return nullptr; }); return Program(kZeros, 1000); }, "2", ""},
    // clang-format on
};

// "*" leaves the trace out: the block list and the number of calls stand for it.
using Link = ::testing::TestWithParam<Row>;
TEST_P(Link, FramesReadsAndProgress) {
  RecordingAdapter adapter;
  rec = &adapter;
  positions.clear();
  SetAdapter(&adapter);
  SetCurrentChipType(GetParam().type);
  adapter.ScriptReads(GetParam().reads);
  EXPECT_EQ(GetParam().act(), GetParam().result);
  EXPECT_EQ(GetParam().trace == "*" ? "*" : Trace(), GetParam().trace);
  SetAdapter(nullptr);
  ResetChipTypeForTests();
  SetEraseTimeout(std::chrono::seconds(30));
  SetWorkBufferAllocatorForTests(nullptr);
}
INSTANTIATE_TEST_SUITE_P(Rows, Link, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

namespace hand {  // the emulator's bytes, apart from the link's symbol runs

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
// bytes from A; "closed" keeps the adapter shut until "open"; "refused" expects the options
// refused.
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
    } else if (t[0] == '@') {
      unsigned at = 0, n = 1, v = 0;
      if (std::sscanf(t.c_str(), "@%x+%x=%x", &at, &n, &v) < 3)
        std::sscanf(t.c_str(), "@%x=%x", &at, &v);
      EXPECT_EQ(flash.substr(at, n), std::string(n, static_cast<char>(v))) << t;
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
// An erase at 0x1800 answers its busy status (0x40, 0x00 in turn) on the polls the option sets,
// then clears its 4K block, 0x1000 to 0x1FFF, only once the status stops changing.
Script Erase(const std::string& options, int polls) {
  std::string steps = kShortStart + kBaseA7AtE146 + Times("17", 23) + "00 10 " + kShortStart +
                      "05 15 00 10 04 14 00 10 00 10 00 10 00 10 00 10 00 " + Times("10", 23) +
                      "00 10 @1000=00 21 31 00 10 06 16 00 10 00 10 " + Times("25 35", 13);
  for (int k = 0; k < polls; ++k) steps += "@1000=00 " + kBaseAt0 + (k % 2 ? "?00 " : "?40 ");
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
        Script{"base", 2, kShortId + "?BF ?D5 2B 3B 2B 3B 2B 3B " + kBaseAt0 + "?FF " + kLongId + "?00 ?00 ?00"},
        Script{"large", 2, kShortId + "?00 ?00 " + kLongId + "?20 ?22 ?49 27 37 20 30 00 10 " + kAt0 + "?FF"},
        Script{"alt", 2, kLongId + "?B0 ?22 ?E9"}, Script{"", 2, kLongId + "?20 ?22 ?49"},
        Script{"none", 2, kShortId + "?00 ?00 " + kLongId + "?00 ?00 ?00"},
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
        Erase("base", 3), Erase("base,erase-polls=1", 1), Erase("base,erase-polls=0", 0),
        Erase("base,erase-polls=4", 4),
        Hold("base", 2, 23, true), Hold("base", 2, 20, true), Hold("base", 2, 19, false),
        Hold("base", 3, 10, true), Hold("base", 3, 9, false), Hold("base,slow", 2, 23, false),
        Hold("base,slow", 3, 20, true), Hold("base,slow", 3, 19, false), Hold("large", 2, 19, true),
        Hold("large", 2, 18, false), Hold("large,slow", 2, 28, false), Hold("large,slow", 3, 28, true)));
// clang-format on
}  // namespace hand

// The chip link's own stream (identify, erase, program and compare a random image), every read 0.
Bytes LinkStream(SimChipType type, int32_t size) {
  RecordingAdapter adapter;
  SetAdapter(&adapter);
  SetCurrentChipType(type == SimChipType::Base ? ChipBase : ChipLarge);
  const Bytes image = RandomBytes(static_cast<std::size_t>(size), 30);
  IdentifyChip();
  EXPECT_EQ(LinkStatus::Ok, EraseImageRange(size));
  EXPECT_EQ(LinkStatus::Ok, ProgramImage(image.data(), size, {}));
  (void)VerifyImage(image.data(), size, {});
  SetAdapter(nullptr);
  ResetChipTypeForTests();
  Bytes out;
  for (const auto& w : adapter.Calls()) out.insert(out.end(), w.bytes.begin(), w.bytes.end());
  return out;
}

// Random streams: pieces of the link's streams for both chips, cut anywhere (mostly near their
// commands at either end), some after an address phase near the large chip's end (where
// addresses wrap), one in four damaged (a byte changed or dropped), idle runs between them.
Bytes MakeStream(std::mt19937& rng) {
  static const Bytes pool[] = {LinkStream(SimChipType::Base, 0x10F00),
                               LinkStream(SimChipType::Large, 0x4100)};
  Bytes out;
  for (int piece = 0; piece < 60; ++piece) {
    const Frame phase = rng() % 8 ? Frame{} : LongAddressPhase(0x1FFFFF - rng() % 64);
    for (std::size_t k = 0; k < phase.size(); ++k) {
      const uint8_t e = EncodeSymbol(phase.data()[k]);
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
    config.erase_polls = rng() % (link ? 4 : 8);  // random pieces: polls beyond the link's
    config.program_ticks = rng() % 2 ? 20 : 40;
    Bytes bad(SimChipSize(config.type), 0);
    for (int i = 0; i < 50; ++i) bad[rng() % 64] |= static_cast<uint8_t>(rng());
    if (!link && rng() % 3 == 0) config.bad_masks = bad.data();
    Bytes flash_fast(bad.size(), 0xFF), flash_slow(bad.size(), 0xFF);
    SimChip fast(config, flash_fast.data()), slow(config, flash_slow.data());
    slow.EnableFastPaths(false);
    const int speed = rng() % 2 ? 2 : 3;
    for (SimChip* chip : {&fast, &slow}) chip->SetSpeed(speed);
    const int32_t size = std::array{0x21234, 0x10F00, 0x4100, 0x3001}[c % 4];
    EnableVectorFillForTests(c < 242);  // the last two with the plain fill
    const Bytes stream = link ? LinkStream(config.type, size) : MakeStream(rng);
    for (std::size_t at = 0, n; at < stream.size(); at += n) {
      // Writes of every length, from single bytes to whole runs of groups.
      n = std::min<std::size_t>(stream.size() - at, 1 + rng() % (rng() % 4 ? 700 : 7));
      for (SimChip* chip : {&fast, &slow}) chip->Feed(stream.data() + at, n);
      ASSERT_TRUE(fast.State() == slow.State()) << "after byte " << at + n;
    }
    ASSERT_TRUE(flash_fast == flash_slow);
    // The link's streams program their image, with the vector fill and without.
    const Bytes image = RandomBytes(static_cast<std::size_t>(size), 30);
    EXPECT_TRUE(!link || std::equal(image.begin(), image.end(), flash_fast.begin()));
    // The fast paths must really have been taken: on every group of the link's streams.
    EXPECT_TRUE(!link || fast.FastGroups() >= static_cast<uint64_t>(size));
    fast_groups[c % 3] += fast.FastGroups();
  }
  for (uint64_t n : fast_groups) EXPECT_GT(n, 1000u);
  EnableVectorFillForTests(true);
}

// "sim" is the emulator, other names adapter libraries (by default the platform's, absent here;
// on Windows see tests/win); one without the entry points is refused; the recording one logs.
TEST(AdapterChoiceTest, EmulatorOrLibraryByName) {
  EXPECT_TRUE(ChooseAdapter("sim").emulator);
  EXPECT_NE(ChooseAdapter("simulator").error.find("simulator"), std::string::npos);
  EXPECT_NE(ChooseAdapter("").error.find("QueltUSB."), std::string::npos);
#ifndef _WIN32
  EXPECT_NE(ChooseAdapter("libm.so.6").error.find("QueltAdapterOpen"), std::string::npos);
  TempDir dir;
  ScopedEnv log("QUELT_RECORD_LOG", dir.File("log"));
  // Each library makes its emulator from QUELT_SIM once; refused options: an absent adapter.
  ScopedEnv sim("QUELT_SIM", "large");
  const AdapterChoice record = ChooseAdapter(QUELT_RECORD_LIBRARY);
  uint8_t bytes[] = {0x0D, 0x1D};
  uint32_t written = 0;
  record.adapter->Open();
  record.adapter->Speed(2);
  record.adapter->Write(bytes, 2, &written);
  record.adapter->Read(bytes);
  EXPECT_EQ(bytes[0], 0x80);
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
