#include "link/verify.h"

#include "tests/link/link_fixture.h"

namespace quelt::test {
namespace {

// Pass bits for chunk reads: the data line high or low.
constexpr uint8_t kPass = 0x80;
constexpr uint8_t kFail = 0x00;

using Verify = LinkTest;

// The address symbols that follow chunk k - 1: the next start, 0x20000 * k, as bits 24..20, bits
// 19..15, then three 0x00 symbols.
std::string Next(int k) {
  const Bytes s15_of[8] = {{0x00, 0x10}, {0x04, 0x14}, {0x08, 0x18}, {0x0C, 0x1C},
                           {0x20, 0x30}, {0x24, 0x34}, {0x28, 0x38}, {0x2C, 0x3C}};
  const Bytes s20_of[3] = {{0x00, 0x10}, {0x01, 0x11}, {0x02, 0x12}};
  return W(Cat<uint8_t>({s20_of[k / 8], s15_of[k % 8], Rep({0x00, 0x10}, 3)}));
}

TEST_F(Verify, ChunksPassBitsAndTheWire) {
  const std::string a7 = W({0x0D, 0x1D, 0x0A, 0x1A, 0x27, 0x37, 0x01, 0x11});
  Trace all_pass{W(kLongAddress0)};
  for (int k = 0; k < 16; ++k)
    all_pass.insert(all_pass.end(), {P(0x20000 * k), WLen(786434), R(), Next(k + 1)});
  const Bytes whole(0x200000, 0x3C);
  const struct {
    const char* name;
    Bytes image;
    Bytes pass_bits;
    int result;
    int32_t failed_chunk_start;
    Trace trace;
  } cases[] = {
      // clang-format off
      {"empty", {}, {}, 1, -1, {W(kLongAddress0)}},
      {"one byte", {0xA7}, {kPass}, 1, -1, {W(kLongAddress0), P(0), a7, R(), Next(1)}},
      {"one byte failing", {0xA7}, {kFail}, 0, 0, {W(kLongAddress0), P(0), a7, R(), Next(1)}},
      {"input bit 6 is not the pass bit", {0xA7}, {0x40}, 0, 0, {W(kLongAddress0), P(0), a7, R(), Next(1)}},
      {"three bytes", {0x00, 0xFF, 0x10}, {kPass}, 1, -1, {W(kLongAddress0), P(0), W({0x0D, 0x1D, 0x00, 0x10, 0x20, 0x30, 0x0D, 0x1D, 0x0F, 0x1F, 0x2F, 0x3F, 0x0D, 0x1D, 0x01, 0x11, 0x20, 0x30, 0x01, 0x11}), R(), Next(1)}},
      {"one chunk", Bytes(whole.begin(), whole.begin() + 0x20000), {kPass}, 1, -1, {W(kLongAddress0), P(0), WLen(786434), R(), Next(1)}},
      {"a chunk and a byte", Bytes(whole.begin(), whole.begin() + 0x20001), {kPass, kPass}, 1, -1, {W(kLongAddress0), P(0), WLen(786434), R(), Next(1), P(0x20000), W({0x0D, 0x1D, 0x03, 0x13, 0x2C, 0x3C, 0x01, 0x11}), R(), Next(2)}},
      // A failing first chunk still gets its address symbols, and nothing follows.
      {"first chunk failing", Bytes(whole.begin(), whole.begin() + 0x20001), {kFail, kPass}, 0, 0, {W(kLongAddress0), P(0), WLen(786434), R(), Next(1)}},
      {"2 MiB", whole, Rep({kPass}, 16), 1, -1, all_pass},
      {"third chunk failing", whole, {kPass, kPass, kFail}, 0, 0x40000, {W(kLongAddress0), P(0), WLen(786434), R(), Next(1), P(0x20000), WLen(786434), R(), Next(2), P(0x40000), WLen(786434), R(), Next(3)}},
      // An adapter that delivers nothing fails the first chunk.
      {"nothing delivered", whole, {}, 0, 0, {W(kLongAddress0), P(0), WLen(786434), R(), Next(1)}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(ChipLarge);
    adapter_.ScriptReads(c.pass_bits);
    const VerifyOutcome outcome =
        VerifyImage(c.image.data(), static_cast<int32_t>(c.image.size()), Progress());
    EXPECT_EQ(outcome.status, LinkStatus::Ok);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.failed_chunk_start, c.failed_chunk_start);
    EXPECT_EQ(Calls(100), c.trace);
  }
}

// Whole chunks of varied bytes, checked group by group against the compare table.
TEST_F(Verify, ChunkStreamMatchesTheCompareTable) {
  const int32_t count = 0x20000 + 1003;  // a full chunk and one of an odd length
  Bytes image(count);
  for (int32_t i = 0; i < count; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  Bytes expected;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t h = image[i] >> 4, l = image[i] & 0x0F;
    expected.insert(expected.end(),
                    {0x0D, 0x1D, h, static_cast<uint8_t>(h | 0x10), static_cast<uint8_t>(l | 0x20),
                     static_cast<uint8_t>(l | 0x30)});
    if (i == 0x1FFFF || i == count - 1) expected.insert(expected.end(), {0x01, 0x11});
  }
  for (const bool vector : {true, false}) {
    SCOPED_TRACE(vector ? "vector fill" : "plain fill");
    EnableVectorFillForTests(vector);
    Fresh(ChipLarge);
    adapter_.ScriptReads({kPass, kPass});
    ASSERT_EQ(VerifyImage(image.data(), count, {}).result, 1);
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_TRUE(Cat<uint8_t>({writes[1], writes[3]}) == expected);
  }
}

TEST_F(Verify, WorkBufferNotObtainedSendsNothing) {
  SetWorkBufferAllocatorForTests([](std::size_t) -> void* { return nullptr; });
  const Bytes image(1000, 0xA5);
  Fresh(ChipLarge);
  adapter_.ScriptReads({kPass});
  const VerifyOutcome outcome = VerifyImage(image.data(), 1000, Progress());
  EXPECT_EQ(outcome.status, LinkStatus::NoMemory);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_TRUE(adapter_.Calls().empty());
  EXPECT_TRUE(progress_.empty());
}

}  // namespace
}  // namespace quelt::test
