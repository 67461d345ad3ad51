#include "link/group_fill.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <utility>

#include "link/bus.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define QUELT_VECTOR_FILL 1
#include <immintrin.h>
#endif

namespace quelt {
namespace {

std::atomic<bool> vector_fill_enabled{true};

#ifdef QUELT_VECTOR_FILL

using Lane = std::array<uint8_t, 32>;
constexpr uint8_t kZero = 0x80;  // shuffle index that yields 0

// The pattern of a block of groups, `Vectors` vectors of output: for each output byte the
// constant part, and the index of the variable byte shuffled into it, or kZero. A large chip's
// block is 8 program groups of 40 bytes (10 vectors), a compare block 16 groups of 6 (3 vectors).
template <std::size_t Vectors>
struct Block {
  std::array<Lane, Vectors> constant{};
  std::array<Lane, Vectors> index{};
};

// ChipLarge: variable bytes per group are bits 7..5 (positions 6, 7) and the encoded low five
// bits (positions 8, 9); the rest is the byte phase of 0xA0 with bit 3 set and the hold.
constexpr Block<10> MakeLargeBlock() {
  constexpr uint8_t head[12] = {0x2D, 0x3D, 0x00, 0x10, 0x00, 0x10,
                                0x20, 0x30, 0x00, 0x10, 0x00, 0x10};
  Block<10> b{};
  for (int p = 0; p < 320; ++p) {
    const int g = p / 40, pos = p % 40;
    b.constant[p / 32][p % 32] = pos < 12 ? head[pos] : kStrobe;
    b.index[p / 32][p % 32] = pos == 6 || pos == 7   ? static_cast<uint8_t>(2 * g)
                              : pos == 8 || pos == 9 ? static_cast<uint8_t>(2 * g + 1)
                                                     : kZero;
  }
  return b;
}

// ChipBase, a run of 32 groups (40 vectors): the constant part holds 0x05, the strobes and the
// address bits 4..0 of each group's place in the run. The variable bytes of a block of eight
// groups are the encoded s1 (data bits and address bits 16..15) at 2g and s5 at 2g + 1; the
// run's address symbols s2 and s3 replace the four bytes that the block's half in hand does not
// use: bytes 8, 9 for the first four groups (vectors 0 to 4), bytes 0, 1 for the last four.
struct BaseRun {
  std::array<Lane, 40> constant{};
  std::array<Lane, 10> index{};
};

constexpr BaseRun MakeBaseRun() {
  BaseRun r{};
  for (int p = 0; p < 1280; ++p) {
    const int g = p / 40, pos = p % 40;
    uint8_t c = (pos % 2 == 1 && pos != 1) || pos >= 17 ? kStrobe : 0x00;
    if (pos == 0) c = 0x05;
    if (pos == 1) c = 0x15;
    if (pos == 8 || pos == 9) c = static_cast<uint8_t>(c | EncodeSymbol(static_cast<uint8_t>(g)));
    r.constant[p / 32][p % 32] = c;
  }
  for (int p = 0; p < 320; ++p) {
    const int g = p / 40, pos = p % 40;
    const int s2 = g < 4 ? 8 : 0;
    uint8_t index = kZero;
    if (pos == 2 || pos == 3) index = static_cast<uint8_t>(2 * g);
    if (pos == 4 || pos == 5) index = static_cast<uint8_t>(s2);
    if (pos == 6 || pos == 7) index = static_cast<uint8_t>(s2 + 1);
    if (pos >= 10) index = static_cast<uint8_t>(2 * g + 1);
    r.index[p / 32][p % 32] = index;
  }
  return r;
}

// Compare groups, 16 per block (3 vectors): 0x0D, the high nibble, the low nibble with D4.
// Variable bytes: high nibble of byte j at 2j, low nibble at 2j + 1, bytes 0..7 in the first
// 16 and 8..15 in the second; vector 1 takes its low half from the first and its high half from
// the second.
constexpr Block<3> MakeCompareBlock() {
  constexpr uint8_t group[6] = {0x0D, 0x1D, 0x00, 0x10, 0x20, 0x30};
  Block<3> b{};
  for (int p = 0; p < 96; ++p) {
    const int j = p / 6, pos = p % 6;
    b.constant[p / 32][p % 32] = group[pos];
    const int local = 2 * (j % 8) + (pos >= 4 ? 1 : 0);
    b.index[p / 32][p % 32] = pos >= 2 ? static_cast<uint8_t>(local) : kZero;
  }
  return b;
}

alignas(32) constexpr Block<10> kLargeBlock = MakeLargeBlock();
alignas(32) constexpr BaseRun kBaseRun = MakeBaseRun();
alignas(32) constexpr Block<3> kCompareBlock = MakeCompareBlock();

#define QUELT_AVX2 __attribute__((target("avx2")))

QUELT_AVX2 inline __m256i Load(const Lane& lane) {
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(lane.data()));
}
QUELT_AVX2 inline void Store(uint8_t* out, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}
QUELT_AVX2 inline __m256i Bytes(int value) { return _mm256_set1_epi8(static_cast<char>(value)); }

// Eight image bytes in both halves of a vector (the broadcast happens in the load).
QUELT_AVX2 inline __m256i LoadEight(const uint8_t* bytes) {
  int64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return _mm256_set1_epi64x(word);
}
// Sixteen image bytes in both halves of a vector.
QUELT_AVX2 inline __m256i LoadSixteen(const uint8_t* bytes) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)));
}

// Encoded low five bits of each byte: bits 3..0 stay, bit 4 moves to bit 5.
QUELT_AVX2 inline __m256i LowFive(__m256i b) {
  return _mm256_or_si256(_mm256_and_si256(b, Bytes(0x0F)),
                         _mm256_and_si256(_mm256_slli_epi16(b, 1), Bytes(0x20)));
}

// The vectors of one block, unrolled: constant part ORed with the shuffled variable bytes.
template <int... M>
QUELT_AVX2 inline void StoreBlock(uint8_t* out, __m256i v, const Lane* constant, const Lane* index,
                                  std::integer_sequence<int, M...>) {
  (Store(out + 32 * M, _mm256_or_si256(Load(constant[M]), _mm256_shuffle_epi8(v, Load(index[M])))),
   ...);
}

QUELT_AVX2 void LargeBlocks(uint8_t* out, const uint8_t* bytes, int32_t blocks) {
  for (int32_t k = 0; k < blocks; ++k, out += 320, bytes += 8) {
    const __m256i b = LoadEight(bytes);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(b, 5), Bytes(0x07));
    const __m256i v = _mm256_unpacklo_epi8(high, LowFive(b));
    StoreBlock(out, v, kLargeBlock.constant.data(), kLargeBlock.index.data(),
               std::make_integer_sequence<int, 10>{});
  }
}

QUELT_AVX2 void BaseRuns(uint8_t* out, const uint8_t* bytes, int32_t from, int32_t runs) {
  for (int32_t r = 0; r < runs; ++r, from += kBaseVectorRun) {
    const __m256i a1 = Bytes((from >> 15) & 0x03);
    const uint8_t s2 = EncodeSymbol(static_cast<uint8_t>(from >> 10));
    const uint8_t s3 = EncodeSymbol(static_cast<uint8_t>(from >> 5));
    const __m256i address = _mm256_set1_epi16(static_cast<int16_t>(s3 << 8 | s2));
    for (int blk = 0; blk < 4; ++blk, out += 320, bytes += 8) {
      const __m256i b = LoadEight(bytes);
      // s1: byte bits 6..5 to bits 3..2, bit 7 to bit 5 (D4), address bits 16..15 in 1..0.
      const __m256i s1 =
          _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(b, 3), Bytes(0x0C)),
                                          _mm256_and_si256(_mm256_srli_epi16(b, 2), Bytes(0x20))),
                          a1);
      const __m256i v = _mm256_unpacklo_epi8(s1, LowFive(b));
      const __m256i first = _mm256_blend_epi32(v, address, 0x44);
      const __m256i second = _mm256_blend_epi32(v, address, 0x11);
      const Lane* constant = &kBaseRun.constant[10 * blk];
      StoreBlock(out, first, constant, kBaseRun.index.data(), std::make_integer_sequence<int, 5>{});
      StoreBlock(out + 160, second, constant + 5, kBaseRun.index.data() + 5,
                 std::make_integer_sequence<int, 5>{});
    }
  }
}

QUELT_AVX2 inline void CompareBlock(uint8_t* out, const uint8_t* bytes) {
  const __m256i b = LoadSixteen(bytes);
  const __m256i high = _mm256_and_si256(_mm256_srli_epi16(b, 4), Bytes(0x0F));
  const __m256i low = _mm256_and_si256(b, Bytes(0x0F));
  const __m256i first = _mm256_unpacklo_epi8(high, low);   // bytes 0..7, both halves
  const __m256i second = _mm256_unpackhi_epi8(high, low);  // bytes 8..15, both halves
  const __m256i mixed = _mm256_blend_epi32(first, second, 0xF0);
  Store(out, _mm256_or_si256(Load(kCompareBlock.constant[0]),
                             _mm256_shuffle_epi8(first, Load(kCompareBlock.index[0]))));
  Store(out + 32, _mm256_or_si256(Load(kCompareBlock.constant[1]),
                                  _mm256_shuffle_epi8(mixed, Load(kCompareBlock.index[1]))));
  Store(out + 64, _mm256_or_si256(Load(kCompareBlock.constant[2]),
                                  _mm256_shuffle_epi8(second, Load(kCompareBlock.index[2]))));
}

QUELT_AVX2 void CompareBlocks(uint8_t* out, const uint8_t* bytes, int32_t blocks) {
  for (int32_t k = 0; k < blocks; ++k, out += 96, bytes += 16) CompareBlock(out, bytes);
}

bool ProcessorHasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

#else

bool ProcessorHasAvx2() { return false; }
void LargeBlocks(uint8_t*, const uint8_t*, int32_t) {}
void BaseRuns(uint8_t*, const uint8_t*, int32_t, int32_t) {}
void CompareBlocks(uint8_t*, const uint8_t*, int32_t) {}

#endif

}  // namespace

bool VectorFillAvailable() {
  return vector_fill_enabled.load(std::memory_order_relaxed) && ProcessorHasAvx2();
}

void EnableVectorFillForTests(bool enable) { vector_fill_enabled.store(enable); }

void FillBaseRunsVector(uint8_t* out, const uint8_t* bytes, int32_t from, int32_t runs) {
  BaseRuns(out, bytes, from, runs);
}

void FillLargeBlocksVector(uint8_t* out, const uint8_t* bytes, int32_t blocks) {
  LargeBlocks(out, bytes, blocks);
}

void FillCompareBlocksVector(uint8_t* out, const uint8_t* bytes, int32_t blocks) {
  CompareBlocks(out, bytes, blocks);
}

}  // namespace quelt
