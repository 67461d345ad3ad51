#include "link/verify.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "link/adapter.h"
#include "link/bus.h"
#include "link/group_fill.h"
#include "link/phases.h"
#include "link/program.h"
#include "link/work_buffer.h"

namespace quelt {
namespace {

using Word = uint64_t;

// The six adapter bytes of a compare group, packed into the low 48 bits in memory order:
// 0x0D, then the high nibble with D4 clear, then the low nibble with D4 set.
constexpr std::array<Word, 256> MakeCompareTable() {
  std::array<Word, 256> t{};
  for (int b = 0; b < 256; ++b) {
    const auto h = static_cast<uint8_t>(b >> 4);
    const auto l = static_cast<uint8_t>(0x10 | (b & 0x0F));
    const uint8_t bytes[6] = {
        EncodeSymbol(0x0D), static_cast<uint8_t>(EncodeSymbol(0x0D) | kStrobe),
        EncodeSymbol(h),    static_cast<uint8_t>(EncodeSymbol(h) | kStrobe),
        EncodeSymbol(l),    static_cast<uint8_t>(EncodeSymbol(l) | kStrobe)};
    Word w = 0;
    for (int k = 0; k < 6; ++k) {
      const int shift = std::endian::native == std::endian::little ? 8 * k : 8 * (7 - k);
      w |= Word{bytes[k]} << shift;
    }
    t[b] = w;
  }
  return t;
}

constexpr std::array<Word, 256> kCompare = MakeCompareTable();

inline void Store(uint8_t* out, Word w) { std::memcpy(out, &w, sizeof w); }

// Four groups (24 bytes) make three whole words.
inline void BuildFour(uint8_t* out, const uint8_t* bytes) {
  const Word a = kCompare[bytes[0]], b = kCompare[bytes[1]];
  const Word c = kCompare[bytes[2]], d = kCompare[bytes[3]];
  if constexpr (std::endian::native == std::endian::little) {
    Store(out, a | b << 48);
    Store(out + 8, b >> 16 | c << 32);
    Store(out + 16, c >> 32 | d << 16);
  } else {
    Store(out, a | b >> 48);
    Store(out + 8, b << 16 | c >> 32);
    Store(out + 16, c << 32 | d >> 16);
  }
}

// Compare groups of n bytes from `out` on. Writes up to 2 bytes past the last group; the
// working buffer has room for that.
void BuildCompareGroups(uint8_t* out, const uint8_t* bytes, int32_t n) {
  int32_t k = 0;
  if (VectorFillAvailable()) {
    const int32_t blocks = n / kCompareVectorBlock;
    FillCompareBlocksVector(out, bytes, blocks);
    k = blocks * kCompareVectorBlock;
    out += kCompareGroupBytes * static_cast<std::size_t>(k);
    bytes += k;
  }
  for (; k + 4 <= n; k += 4, out += 24, bytes += 4) BuildFour(out, bytes);
  for (; k < n; ++k, out += kCompareGroupBytes) Store(out, kCompare[*bytes++]);
}

// The chunk's working buffer: a full chunk of groups, its closing symbol and some room.
constexpr std::size_t kVerifyBufferBytes = kCompareGroupBytes * kChunkBytes + 256;

}  // namespace

void FillCompareGroup(uint8_t* out, uint8_t b) {
  const Word w = kCompare[b];
  uint8_t bytes[8];
  std::memcpy(bytes, &w, sizeof w);
  std::memcpy(out, bytes, kCompareGroupBytes);
}

VerifyOutcome VerifyImage(const uint8_t* image, int32_t count, const ProgressFn& progress) {
  VerifyOutcome outcome;
  // Obtained before anything is sent, so that a failure leaves the chip untouched.
  WorkBuffer buffer(kVerifyBufferBytes);
  if (!buffer) {
    outcome.status = LinkStatus::NoMemory;
    outcome.result = 0;
    return outcome;
  }

  LongAddressPhase(0).Send();
  for (int32_t start = 0; start < count;) {
    if (progress) progress(start);
    const int32_t n = std::min(count - start, kChunkBytes);
    BuildCompareGroups(buffer.data(), image + start, n);
    // Symbol 0x01 opens the next chunk's address phase and makes the chip drive the pass bit.
    uint8_t* tail = buffer.data() + kCompareGroupBytes * static_cast<std::size_t>(n);
    tail[0] = EncodeSymbol(0x01);
    tail[1] = EncodeSymbol(0x01) | kStrobe;
    uint32_t written = 0;
    QueltProgrammerWrite(buffer.data(), static_cast<uint32_t>(tail + 2 - buffer.data()), &written);
    const int pass = (ReadLines() >> 1) & 1;
    const int32_t chunk_start = start;
    // The rest of the split address phase: the next chunk's start, which after the last chunk
    // is the first address past the compared range.
    const int64_t next = int64_t{start} + kChunkBytes;
    const Frame rest = LongAddressPhase(static_cast<int32_t>(next));
    SendFrame(rest.data() + 1, rest.size() - 1);
    if (!pass) {
      outcome.result = 0;
      outcome.failed_chunk_start = chunk_start;
      break;
    }
    if (next >= count) break;
    start = static_cast<int32_t>(next);
  }
  return outcome;
}

}  // namespace quelt
