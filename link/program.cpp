#include "link/program.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "link/adapter.h"
#include "link/bus.h"
#include "link/chip_type.h"
#include "link/group_fill.h"
#include "link/phases.h"
#include "link/work_buffer.h"

namespace quelt {
namespace {

// Groups are built eight bytes at a time from per-byte templates computed at compile time; only
// the address symbols of a ChipBase group depend on the offset, and they are ORed into the
// template, whose address positions hold nothing but the strobe.
using Word = uint64_t;
using Bytes8 = std::array<uint8_t, 8>;

constexpr Word Pack(const Bytes8& b) {
  Word w = 0;
  for (int k = 0; k < 8; ++k) {
    const int shift = std::endian::native == std::endian::little ? 8 * k : 8 * (7 - k);
    w |= Word{b[k]} << shift;
  }
  return w;
}

constexpr uint8_t Low(uint8_t s) { return EncodeSymbol(s); }
constexpr uint8_t High(uint8_t s) { return static_cast<uint8_t>(EncodeSymbol(s) | kStrobe); }

// ChipBase group: 05 | s1 | s2 | s3 | s4 | s5 clocked four times | s5 held with the strobe high.
struct BaseTemplate {
  std::array<Word, 256> w0, w1, w2, w3;  // bytes 0-7, 8-15, 16-23, and 24-31 = 32-39
};

constexpr BaseTemplate MakeBaseTemplate() {
  BaseTemplate t{};
  for (int b = 0; b < 256; ++b) {
    const auto s1 = static_cast<uint8_t>((b >> 3) & 0x1C);  // data bits 7..5; address ORed in
    const auto s5 = static_cast<uint8_t>(b & 0x1F);
    t.w0[b] = Pack({0x05, 0x15, Low(s1), High(s1), 0x00, kStrobe, 0x00, kStrobe});
    t.w1[b] = Pack({0x00, kStrobe, Low(s5), High(s5), Low(s5), High(s5), Low(s5), High(s5)});
    t.w2[b] = Pack({Low(s5), High(s5), High(s5), High(s5), High(s5), High(s5), High(s5), High(s5)});
    t.w3[b] =
        Pack({High(s5), High(s5), High(s5), High(s5), High(s5), High(s5), High(s5), High(s5)});
  }
  return t;
}

// Address bits 16..15 land in bits 1..0 of s1; bits 14..0 fill s2, s3, s4. Each address symbol
// stands in both adapter bytes of its pair: the template supplies the strobe.
Word BaseAddressWord0(int32_t i) {
  const auto a1 = static_cast<uint8_t>((i >> 15) & 0x03);
  const uint8_t e2 = Low(static_cast<uint8_t>(i >> 10));
  const uint8_t e3 = Low(static_cast<uint8_t>(i >> 5));
  return Pack({0, 0, a1, a1, e2, e2, e3, e3});
}

constexpr std::array<Word, 32> MakeBaseAddressWord1() {
  std::array<Word, 32> t{};
  for (int s4 = 0; s4 < 32; ++s4) {
    const uint8_t e4 = Low(static_cast<uint8_t>(s4));
    t[s4] = Pack({e4, e4, 0, 0, 0, 0, 0, 0});
  }
  return t;
}

// ChipLarge group: byte phase of 0xA0 (first symbol 0x1D, or 0x15 for the image's first byte),
// byte phase of b, then the hold.
struct LargeTemplate {
  std::array<Word, 256> w0, w1;  // bytes 0-7 and 8-15; 16-39 are the hold
};

constexpr LargeTemplate MakeLargeTemplate() {
  LargeTemplate t{};
  for (int b = 0; b < 256; ++b) {
    const auto hi = static_cast<uint8_t>(0x10 | (b >> 5));
    const auto lo = static_cast<uint8_t>(b & 0x1F);
    t.w0[b] = Pack({Low(0x1D), High(0x1D), 0x00, kStrobe, 0x00, kStrobe, Low(hi), High(hi)});
    t.w1[b] = Pack({Low(lo), High(lo), 0x00, kStrobe, kStrobe, kStrobe, kStrobe, kStrobe});
  }
  return t;
}

constexpr BaseTemplate kBase = MakeBaseTemplate();
constexpr std::array<Word, 32> kBaseAddress1 = MakeBaseAddressWord1();
constexpr LargeTemplate kLarge = MakeLargeTemplate();
constexpr Word kHold =
    Pack({kStrobe, kStrobe, kStrobe, kStrobe, kStrobe, kStrobe, kStrobe, kStrobe});
// The image's first group carries 0x15 instead of 0x1D: bit 3 clear, no address advance.
constexpr uint8_t kFirstGroupStart[2] = {Low(0x15), High(0x15)};

inline void Store(uint8_t* out, Word w) { std::memcpy(out, &w, sizeof w); }

// Groups of offsets [from, to), all in one run of 32 offsets sharing s2 and s3; `bytes` and `out`
// point at the image byte and the group of offset `from`.
void BuildBaseRun(uint8_t* out, const uint8_t* bytes, int32_t from, int32_t to) {
  const Word a0 = BaseAddressWord0(from);
  for (int32_t i = from; i < to; ++i, out += kProgramGroupBytes) {
    const uint8_t b = *bytes++;
    Store(out, kBase.w0[b] | a0);
    Store(out + 8, kBase.w1[b] | kBaseAddress1[i & 31]);
    Store(out + 16, kBase.w2[b]);
    Store(out + 24, kBase.w3[b]);
    Store(out + 32, kBase.w3[b]);
  }
}

void BuildBaseGroups(uint8_t* out, const uint8_t* bytes, int32_t from, int32_t to) {
  while (from < to) {
    const int32_t run_end = std::min(to, (from | 31) + 1);
    BuildBaseRun(out, bytes, from, run_end);
    out += kProgramGroupBytes * static_cast<std::size_t>(run_end - from);
    bytes += run_end - from;
    from = run_end;
  }
}

// Groups with bit 3 set, for `n` bytes; the image's first group is patched afterwards.
void BuildLargeGroups(uint8_t* out, const uint8_t* bytes, int32_t n) {
  for (int32_t i = 0; i < n; ++i, out += kProgramGroupBytes) {
    const uint8_t b = *bytes++;
    Store(out, kLarge.w0[b]);
    Store(out + 8, kLarge.w1[b]);
    Store(out + 16, kHold);
    Store(out + 24, kHold);
    Store(out + 32, kHold);
  }
}

// The groups of a run of image offsets; whole blocks go to the vector filler when there is one.
void FillBaseStream(uint8_t* out, const uint8_t* bytes, int32_t from, int32_t to) {
  if (VectorFillAvailable() && from % kBaseVectorRun == 0) {
    const int32_t runs = (to - from) / kBaseVectorRun;
    FillBaseRunsVector(out, bytes, from, runs);
    const int32_t done = runs * kBaseVectorRun;
    out += kProgramGroupBytes * static_cast<std::size_t>(done);
    bytes += done;
    from += done;
  }
  BuildBaseGroups(out, bytes, from, to);
}

void FillLargeStream(uint8_t* out, const uint8_t* bytes, int32_t from, int32_t to) {
  uint8_t* const first = out;
  int32_t done = 0;
  if (VectorFillAvailable()) {
    const int32_t blocks = (to - from) / kLargeVectorBlock;
    FillLargeBlocksVector(out, bytes, blocks);
    done = blocks * kLargeVectorBlock;
  }
  BuildLargeGroups(out + kProgramGroupBytes * static_cast<std::size_t>(done), bytes + done,
                   to - from - done);
  if (from == 0 && to > 0) std::memcpy(first, kFirstGroupStart, 2);
}

void Report(const ProgressFn& progress, int32_t position) {
  if (progress) progress(position);
}

LinkStatus ProgramBase(const uint8_t* image, int32_t count, const ProgressFn& progress) {
  const std::size_t bytes = kProgramGroupBytes * static_cast<std::size_t>(count);
  // The whole image goes out in one write, whose count is 32 bits.
  if (bytes > UINT32_MAX) return LinkStatus::NoMemory;
  WorkBuffer buffer(bytes + 256);
  if (!buffer) return LinkStatus::NoMemory;
  for (int32_t i = 0; i < count; i += 512) {
    Report(progress, i);
    const int32_t end = std::min(count, i + 512);
    FillBaseStream(buffer.data() + kProgramGroupBytes * static_cast<std::size_t>(i), image + i, i,
                   end);
  }
  uint32_t written = 0;
  QueltProgrammerWrite(buffer.data(), static_cast<uint32_t>(bytes), &written);
  return LinkStatus::Ok;
}

LinkStatus ProgramLarge(const uint8_t* image, int32_t count, const ProgressFn& progress) {
  // Obtained before anything is sent, so that a failure leaves the chip untouched.
  WorkBuffer buffer(kProgramGroupBytes * kChunkBytes + 256);
  if (!buffer) return LinkStatus::NoMemory;

  // Unlock bypass: 0xAA to 0xAAA, 0x55 to 0x555, 0x20 to 0xAAA; then address 0.
  Frame{}
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0xAA))
      .Add(LongAddressPhase(0x555))
      .Add(BytePhase(0x55))
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0x20))
      .Add(LongAddressPhase(0))
      .Send();

  for (int32_t start = 0; start < count;) {
    Report(progress, start);
    const int32_t end = start + std::min(count - start, kChunkBytes);
    FillLargeStream(buffer.data(), image + start, start, end);
    uint32_t written = 0;
    QueltProgrammerWrite(buffer.data(), static_cast<uint32_t>(kProgramGroupBytes * (end - start)),
                         &written);
    start = end;
  }

  // Unlock-bypass reset: 0x90, then 0x00.
  Frame{}.Add(BytePhase(0x90)).Add(BytePhase(0x00)).Send();
  return LinkStatus::Ok;
}

}  // namespace

void FillBaseProgramGroup(uint8_t* out, int32_t i, uint8_t b) { BuildBaseRun(out, &b, i, i + 1); }

void FillLargeProgramGroup(uint8_t* out, int32_t i, uint8_t b) {
  BuildLargeGroups(out, &b, 1);
  if (i == 0) std::memcpy(out, kFirstGroupStart, 2);
}

LinkStatus ProgramImage(const uint8_t* image, int32_t count, const ProgressFn& progress) {
  const ChipType type = CurrentChipType();
  count = std::max(count, int32_t{0});
  return type == ChipBase ? ProgramBase(image, count, progress)
                          : ProgramLarge(image, count, progress);
}

}  // namespace quelt
