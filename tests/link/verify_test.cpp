#include "link/verify.h"

#include "link/group_fill.h"
#include "tests/link/link_test_util.h"
#include "tests/link/wire_forms.h"

namespace quelt::test {
namespace {

// Pass bits for chunk reads: the data line high or low.
constexpr uint8_t kPass = 0x80;
constexpr uint8_t kFail = 0x00;

class VerifyTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    SetCurrentChipType(ChipLarge);
  }
};

TEST_F(VerifyTest, SmallImagesOnTheWire) {
  struct Case {
    std::vector<uint8_t> image;
    std::vector<uint8_t> pass_bits;
    int result;
    int32_t failed_chunk_start;
    std::vector<std::string> trace;
  };
  // The address symbols that follow a chunk of start 0: the next start, 0x20000.
  const std::vector<uint8_t> next_1 = {0x00, 0x10, 0x04, 0x14, 0x00, 0x10, 0x00, 0x10, 0x00, 0x10};
  const Case cases[] = {
      {{}, {}, 1, -1, {W(LongAddress0Wire())}},
      {{0xA7},
       {kPass},
       1,
       -1,
       {W(LongAddress0Wire()), P(0), W({0x0D, 0x1D, 0x0A, 0x1A, 0x27, 0x37, 0x01, 0x11}), R(),
        W(next_1)}},
      {{0xA7},
       {kFail},
       0,
       0,
       {W(LongAddress0Wire()), P(0), W({0x0D, 0x1D, 0x0A, 0x1A, 0x27, 0x37, 0x01, 0x11}), R(),
        W(next_1)}},
      // Input bit 6 is not the pass bit.
      {{0xA7},
       {0x40},
       0,
       0,
       {W(LongAddress0Wire()), P(0), W({0x0D, 0x1D, 0x0A, 0x1A, 0x27, 0x37, 0x01, 0x11}), R(),
        W(next_1)}},
      {{0x00, 0xFF, 0x10},
       {kPass},
       1,
       -1,
       {W(LongAddress0Wire()), P(0),
        W({0x0D, 0x1D, 0x00, 0x10, 0x20, 0x30, 0x0D, 0x1D, 0x0F, 0x1F,
           0x2F, 0x3F, 0x0D, 0x1D, 0x01, 0x11, 0x20, 0x30, 0x01, 0x11}),
        R(), W(next_1)}},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    progress_.clear();
    adapter_.ScriptReads(c.pass_bits);
    const VerifyOutcome outcome =
        VerifyImage(c.image.data(), static_cast<int32_t>(c.image.size()), Progress());
    EXPECT_EQ(outcome.status, LinkStatus::Ok);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.failed_chunk_start, c.failed_chunk_start);
    EXPECT_EQ(Trace(), c.trace);
  }
}

TEST_F(VerifyTest, ChunksReadsAndSplitAddressPhases) {
  struct Case {
    int32_t count;
    std::vector<uint8_t> pass_bits;
    int result;
    int32_t failed_chunk_start;
    std::vector<std::string> trace;
  };
  // The five address symbols naming a chunk start (0x20000 * k), as adapter bytes: bits 24..20,
  // bits 19..15, then three 0x00 symbols.
  auto start_symbols = [](std::vector<uint8_t> s20, std::vector<uint8_t> s15) {
    return W(Cat({s20, s15, Rep({0x00, 0x10}, 3)}));
  };
  // Bits 19..15 of the starts 0x20000, 0x40000, ... 0x100000 (then round again).
  const std::vector<uint8_t> s15_of[8] = {{0x04, 0x14}, {0x08, 0x18}, {0x0C, 0x1C}, {0x20, 0x30},
                                          {0x24, 0x34}, {0x28, 0x38}, {0x2C, 0x3C}, {0x00, 0x10}};
  const std::vector<uint8_t> s20_of[3] = {{0x00, 0x10}, {0x01, 0x11}, {0x02, 0x12}};
  std::vector<std::string> all_pass{W(LongAddress0Wire())};
  for (int k = 0; k < 16; ++k) {
    all_pass.insert(all_pass.end(), {P(0x20000 * k), WLen(786434), R()});
    all_pass.push_back(start_symbols(s20_of[(k + 1) / 8], s15_of[k % 8]));
  }
  const Case cases[] = {
      {0x20000,
       {kPass},
       1,
       -1,
       {W(LongAddress0Wire()), P(0), WLen(786434), R(), start_symbols({0x00, 0x10}, {0x04, 0x14})}},
      {0x20001,
       {kPass, kPass},
       1,
       -1,
       {W(LongAddress0Wire()), P(0), WLen(786434), R(), start_symbols({0x00, 0x10}, {0x04, 0x14}),
        P(0x20000), W({0x0D, 0x1D, 0x03, 0x13, 0x2C, 0x3C, 0x01, 0x11}), R(),
        start_symbols({0x00, 0x10}, {0x08, 0x18})}},
      // A failing first chunk still gets its address symbols, and nothing follows.
      {0x20001,
       {kFail, kPass},
       0,
       0,
       {W(LongAddress0Wire()), P(0), WLen(786434), R(), start_symbols({0x00, 0x10}, {0x04, 0x14})}},
      {0x200000, Rep({kPass}, 16), 1, -1, all_pass},
      {0x200000,
       {kPass, kPass, kFail},
       0,
       0x40000,
       {W(LongAddress0Wire()), P(0), WLen(786434), R(), start_symbols({0x00, 0x10}, {0x04, 0x14}),
        P(0x20000), WLen(786434), R(), start_symbols({0x00, 0x10}, {0x08, 0x18}), P(0x40000),
        WLen(786434), R(), start_symbols({0x00, 0x10}, {0x0C, 0x1C})}},
      // An adapter that delivers nothing fails the first chunk.
      {0x200000,
       {},
       0,
       0,
       {W(LongAddress0Wire()), P(0), WLen(786434), R(), start_symbols({0x00, 0x10}, {0x04, 0x14})}},
  };
  const std::vector<uint8_t> image(0x200000, 0x3C);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "count " << c.count);
    adapter_.Clear();
    progress_.clear();
    adapter_.ScriptReads(c.pass_bits);
    const VerifyOutcome outcome = VerifyImage(image.data(), c.count, Progress());
    EXPECT_EQ(outcome.status, LinkStatus::Ok);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.failed_chunk_start, c.failed_chunk_start);
    EXPECT_EQ(Trace(100), c.trace);
  }
}

// Whole chunks of varied bytes, checked group by group against the compare table.
TEST_F(VerifyTest, ChunkStreamMatchesTheCompareTable) {
  const int32_t count = 0x20000 + 1003;  // a full chunk and one of an odd length
  std::vector<uint8_t> image(count);
  for (int32_t i = 0; i < count; ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  for (const bool vector : {true, false}) {
    SCOPED_TRACE(vector ? "vector fill" : "plain fill");
    EnableVectorFillForTests(vector);
    adapter_.Clear();
    adapter_.ScriptReads({kPass, kPass});
    ASSERT_EQ(VerifyImage(image.data(), count, {}).result, 1);
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 5u);
    std::vector<uint8_t> expected;
    for (int32_t i = 0; i < count; ++i) {
      const uint8_t h = image[i] >> 4, l = image[i] & 0x0F;
      expected.insert(expected.end(),
                      {0x0D, 0x1D, h, static_cast<uint8_t>(h | 0x10),
                       static_cast<uint8_t>(l | 0x20), static_cast<uint8_t>(l | 0x30)});
      if (i == 0x1FFFF || i == count - 1) expected.insert(expected.end(), {0x01, 0x11});
    }
    std::vector<uint8_t> sent = writes[1];
    sent.insert(sent.end(), writes[3].begin(), writes[3].end());
    EXPECT_TRUE(sent == expected);
  }
}

void* FailingAlloc(std::size_t) { return nullptr; }

TEST_F(VerifyTest, BufferNotObtainedSendsNothing) {
  SetWorkBufferAllocatorForTests(&FailingAlloc);
  const std::vector<uint8_t> image(1000, 0xA5);
  adapter_.ScriptReads({kPass});
  const VerifyOutcome outcome = VerifyImage(image.data(), 1000, Progress());
  EXPECT_EQ(outcome.status, LinkStatus::NoMemory);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_TRUE(adapter_.Calls().empty());
  EXPECT_TRUE(progress_.empty());
}

}  // namespace
}  // namespace quelt::test
