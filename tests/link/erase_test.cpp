#include "link/erase.h"

#include <atomic>

#include "tests/link/link_test_util.h"
#include "tests/link/wire_forms.h"

namespace quelt::test {
namespace {

class EraseTest : public LinkTest {
 protected:
  // The 18-symbol ChipBase erase frame of block 0 and the 54-symbol ChipLarge one of block 0.
  static std::vector<uint8_t> BaseErase0() {
    return Cat({ShortAddress0Wire(), Rep({0x25, 0x35}, 13)});
  }
  static std::vector<uint8_t> LargeEraseHead() {
    return Cat({AddressAAAWire(), ByteAAWire(), Address555Wire(), Byte55Wire(), AddressAAAWire(),
                Byte80Wire(), AddressAAAWire(), ByteAAWire(), Address555Wire(), Byte55Wire()});
  }
  static std::vector<std::string> Poll(const std::vector<uint8_t>& address0) {
    return Join({{W(address0)}, ReadByteTrace()});
  }
};

TEST_F(EraseTest, EraseFramesOnTheWire) {
  struct Case {
    ChipType type;
    int32_t start;
    std::vector<uint8_t> wire;
  };
  const Case cases[] = {
      {ChipBase, 0x1000,
       Cat({{0x21, 0x31, 0x00, 0x10, 0x04, 0x14, 0x00, 0x10, 0x00, 0x10}, Rep({0x25, 0x35}, 13)})},
      {ChipBase, 0x1F000,
       Cat({{0x21, 0x31, 0x03, 0x13, 0x2C, 0x3C, 0x00, 0x10, 0x00, 0x10}, Rep({0x25, 0x35}, 13)})},
      {ChipLarge, 0, Cat({LargeEraseHead(), {0x01, 0x11}, Rep({0x00, 0x10}, 5), Byte30Wire()})},
      // Sixth group for 0x10000: 01 00 02 00 00 00, then 11 10 00.
      {ChipLarge, 0x10000,
       Cat({LargeEraseHead(),
            {0x01, 0x11, 0x00, 0x10, 0x02, 0x12},
            Rep({0x00, 0x10}, 3),
            Byte30Wire()})},
      // 0x1F0000: 01 01 1E 00 00 00.
      {ChipLarge, 0x1F0000,
       Cat({LargeEraseHead(),
            {0x01, 0x11, 0x01, 0x11, 0x2E, 0x3E},
            Rep({0x00, 0x10}, 3),
            Byte30Wire()})},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    SetCurrentChipType(c.type);
    EraseFrame(c.start).Send();
    EXPECT_EQ(Trace(), std::vector<std::string>{W(c.wire)}) << std::hex << c.start;
  }
}

// One whole block erase on a chip that answers nothing: the frame, two polls at address 0 that
// agree, two closing reads.
TEST_F(EraseTest, OneBlockOnEachType) {
  struct Case {
    ChipType type;
    std::vector<uint8_t> frame, address0;
  };
  const Case cases[] = {
      {ChipBase, BaseErase0(), ShortAddress0Wire()},
      {ChipLarge, Cat({LargeEraseHead(), LongAddress0Wire(), Byte30Wire()}), LongAddress0Wire()},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    SetCurrentChipType(c.type);
    EXPECT_EQ(EraseImageRange(1), LinkStatus::Ok);
    EXPECT_EQ(
        Trace(),
        Join({{W(c.frame)}, Poll(c.address0), Poll(c.address0), ReadByteTrace(), ReadByteTrace()}));
  }
}

TEST_F(EraseTest, WaitPollsUntilTwoReadsAgree) {
  struct Case {
    ChipType type;
    std::vector<uint8_t> answers;
    int polls;
  };
  const Case cases[] = {
      {ChipBase, ChipAnswers({0x40, 0x00, 0x40, 0x40}), 4},
      {ChipLarge, ChipAnswers({0x40, 0x00, 0x40, 0x40}), 4},
      {ChipBase, ChipAnswers({0x40, 0x40}), 2},
      {ChipLarge, ChipAnswers({0xFF, 0xFF}), 2},
      // All eight bits count: 0x80 and 0x81 differ in bit 0 only.
      {ChipLarge, ChipAnswers({0x80, 0x81, 0x81}), 3},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    SetCurrentChipType(c.type);
    adapter_.ScriptReads(c.answers);
    EXPECT_EQ(WaitReady(), LinkStatus::Ok);
    const auto address0 = c.type == ChipBase ? ShortAddress0Wire() : LongAddress0Wire();
    std::vector<std::string> expected;
    for (int k = 0; k < c.polls; ++k) expected = Join({expected, Poll(address0)});
    EXPECT_EQ(Trace(), Join({expected, ReadByteTrace(), ReadByteTrace()}));
  }
}

TEST_F(EraseTest, BlocksBelowTheImageSize) {
  struct Case {
    ChipType type;
    int32_t size;
    std::vector<int32_t> starts;
  };
  std::vector<int32_t> base_all, large_all{0, 0x4000, 0x6000, 0x8000};
  for (int32_t a = 0; a < 0x20000; a += 0x1000) base_all.push_back(a);
  for (int32_t a = 0x10000; a < 0x200000; a += 0x10000) large_all.push_back(a);
  const Case cases[] = {
      {ChipBase, 0, {}},
      {ChipBase, -1, {}},
      {ChipBase, INT32_MIN, {}},
      {ChipLarge, 0, {}},
      {ChipLarge, -4096, {}},
      {ChipBase, 1, {0}},
      {ChipBase, 4096, {0}},
      {ChipBase, 4097, {0, 0x1000}},
      {ChipBase, 0x20000, base_all},
      {ChipLarge, 1, {0}},
      {ChipLarge, 0x4000, {0}},
      {ChipLarge, 0x4001, {0, 0x4000}},
      {ChipLarge, 0x8000, {0, 0x4000, 0x6000}},
      {ChipLarge, 0x10000, {0, 0x4000, 0x6000, 0x8000}},
      {ChipLarge, 0x10001, {0, 0x4000, 0x6000, 0x8000, 0x10000}},
      {ChipLarge, 0x200000, large_all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " size " << c.size);
    adapter_.Clear();
    SetCurrentChipType(c.type);
    std::vector<int32_t> starts;
    int last_total = -1;
    const auto status = EraseImageRange(c.size, [&](int32_t start, int done, int total) {
      starts.push_back(start);
      EXPECT_EQ(done, static_cast<int>(starts.size()));
      last_total = total;
    });
    EXPECT_EQ(status, LinkStatus::Ok);
    EXPECT_EQ(starts, c.starts);
    if (!c.starts.empty()) {
      EXPECT_EQ(last_total, static_cast<int>(c.starts.size()));
    }

    // Each block is its erase frame followed by its wait; nothing else is sent.
    const std::size_t frame_bytes = c.type == ChipBase ? 36 : 108;
    const auto writes = Writes();
    std::size_t frames = 0;
    for (const auto& w : writes) frames += w.size() == frame_bytes;
    EXPECT_EQ(frames, c.starts.size());
    // Frame, two polls (address frame and a byte read of 17 calls), two closing byte reads.
    EXPECT_EQ(adapter_.Calls().size(), c.starts.size() * (1 + 2 * 18 + 2 * 17));
  }
}

// A chip whose status keeps changing: settles for the first `settling_blocks` waits, then
// answers 0x00 and 0xFF in turn for ever.
class TogglingChip : public Adapter {
 public:
  explicit TogglingChip(int settling_blocks) : settling_blocks_(settling_blocks) {}
  uint32_t Open() override { return 0; }
  uint32_t Speed(int32_t) override { return 0; }
  uint32_t Write(const uint8_t*, uint32_t count, uint32_t*) override {
    if (count == 108) ++erase_frames;
    return 0;
  }
  uint32_t Read(uint8_t* input) override {
    if (erase_frames <= settling_blocks_) {
      *input = 0;
      return 0;
    }
    *input = (reads_++ / 8) % 2 ? 0x80 : 0x00;
    return 0;
  }
  int erase_frames = 0;

 private:
  int settling_blocks_;
  long reads_ = 0;
};

TEST_F(EraseTest, NeverSettlingChipStopsTheErase) {
  struct Case {
    int settling_blocks;
    std::vector<int32_t> blocks_done;
  };
  const Case cases[] = {{0, {}}, {2, {0, 0x4000}}};
  for (const Case& c : cases) {
    TogglingChip chip(c.settling_blocks);
    SetAdapter(&chip);
    SetCurrentChipType(ChipLarge);
    SetEraseTimeout(std::chrono::milliseconds(5));
    std::vector<int32_t> done;
    const auto status =
        EraseImageRange(0x200000, [&](int32_t start, int, int) { done.push_back(start); });
    EXPECT_EQ(status, LinkStatus::EraseTimeout);
    EXPECT_EQ(done, c.blocks_done);
    // No block after the one that never settled was started.
    EXPECT_EQ(chip.erase_frames, c.settling_blocks + 1);
  }
}

}  // namespace
}  // namespace quelt::test
