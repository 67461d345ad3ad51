#include "link/erase.h"

#include "tests/link/link_fixture.h"

namespace quelt::test {
namespace {

using Erase = LinkTest;

// The ChipLarge erase frame up to its address phase: unlock, 0x80, unlock.
const Bytes kLargeEraseHead = Cat<uint8_t>(
    {kAtAAA, kByteAA, kAt555, kByte55, kAtAAA, kByte80, kAtAAA, kByteAA, kAt555, kByte55});

Trace Poll(const Bytes& address0) { return Cat<std::string>({{W(address0)}, ReadByteTrace()}); }

TEST_F(Erase, EraseFramesOnTheWire) {
  const struct {
    ChipType type;
    int32_t start;
    Bytes wire;
  } cases[] = {
      // clang-format off
      {ChipBase, 0x1000, Cat<uint8_t>({{0x21, 0x31, 0x00, 0x10, 0x04, 0x14, 0x00, 0x10, 0x00, 0x10}, Rep({0x25, 0x35}, 13)})},
      {ChipBase, 0x1F000, Cat<uint8_t>({{0x21, 0x31, 0x03, 0x13, 0x2C, 0x3C, 0x00, 0x10, 0x00, 0x10}, Rep({0x25, 0x35}, 13)})},
      {ChipLarge, 0, Cat<uint8_t>({kLargeEraseHead, kLongAddress0, kByte30})},
      // Sixth group for 0x10000: 01 00 02 00 00 00, then 11 10 00.
      {ChipLarge, 0x10000, Cat<uint8_t>({kLargeEraseHead, {0x01, 0x11, 0x00, 0x10, 0x02, 0x12}, Rep({0x00, 0x10}, 3), kByte30})},
      // 0x1F0000: 01 01 1E 00 00 00.
      {ChipLarge, 0x1F0000, Cat<uint8_t>({kLargeEraseHead, {0x01, 0x11, 0x01, 0x11, 0x2E, 0x3E}, Rep({0x00, 0x10}, 3), kByte30})},
      // clang-format on
  };
  for (const auto& c : cases) {
    Fresh(c.type);
    EraseFrame(c.start).Send();
    EXPECT_EQ(Calls(), Trace{W(c.wire)}) << std::hex << c.start;
  }
}

// A block erase: the frame, then polls of address 0 until two reads agree (all eight bits
// count), then two closing reads.
TEST_F(Erase, OneBlockPollsUntilTwoReadsAgree) {
  const Bytes base0 = Cat<uint8_t>({kShortAddress0, Rep({0x25, 0x35}, 13)});
  const Bytes large0 = Cat<uint8_t>({kLargeEraseHead, kLongAddress0, kByte30});
  const struct {
    ChipType type;
    Bytes answers;
    int polls;
  } cases[] = {
      {ChipBase, {}, 2},
      {ChipLarge, {}, 2},
      {ChipBase, ChipAnswers({0x40, 0x00, 0x40, 0x40}), 4},
      {ChipLarge, ChipAnswers({0x40, 0x00, 0x40, 0x40}), 4},
      {ChipBase, ChipAnswers({0x40, 0x40}), 2},
      {ChipLarge, ChipAnswers({0xFF, 0xFF}), 2},
      {ChipLarge, ChipAnswers({0x80, 0x81, 0x81}), 3},  // 0x80 and 0x81 differ in bit 0 only
      {ChipBase, ChipAnswers({0x00, 0x80, 0x80}), 3},   // and 0x00 and 0x80 in bit 7 only
  };
  for (const auto& c : cases) {
    Fresh(c.type);
    adapter_.ScriptReads(c.answers);
    EXPECT_EQ(EraseImageRange(1), LinkStatus::Ok);
    const Bytes& address0 = c.type == ChipBase ? kShortAddress0 : kLongAddress0;
    Trace expected{W(c.type == ChipBase ? base0 : large0)};
    for (int k = 0; k < c.polls; ++k) expected = Cat<std::string>({expected, Poll(address0)});
    EXPECT_EQ(Calls(), Cat<std::string>({expected, ReadByteTrace(), ReadByteTrace()}));
  }
}

TEST_F(Erase, BlocksBelowTheImageSize) {
  std::vector<int32_t> base_all, large_all{0, 0x4000, 0x6000, 0x8000};
  for (int32_t a = 0; a < 0x20000; a += 0x1000) base_all.push_back(a);
  for (int32_t a = 0x10000; a < 0x200000; a += 0x10000) large_all.push_back(a);
  const struct {
    ChipType type;
    int32_t size;
    std::vector<int32_t> starts;
  } cases[] = {
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
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " size " << c.size);
    Fresh(c.type);
    std::vector<int32_t> starts;
    int last_total = static_cast<int>(c.starts.size());
    const auto status = EraseImageRange(c.size, [&](int32_t start, int done, int total) {
      starts.push_back(start);
      EXPECT_EQ(done, static_cast<int>(starts.size()));
      last_total = total;
    });
    EXPECT_EQ(status, LinkStatus::Ok);
    EXPECT_EQ(starts, c.starts);
    EXPECT_EQ(last_total, static_cast<int>(c.starts.size()));

    // Each block is its erase frame followed by its wait; nothing else is sent.
    const std::size_t frame_bytes = c.type == ChipBase ? 36 : 108;
    std::size_t frames = 0;
    for (const auto& w : Writes()) frames += w.size() == frame_bytes;
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
    erase_frames += count == 108;
    return 0;
  }
  uint32_t Read(uint8_t* input) override {
    *input = erase_frames > settling_blocks_ && (reads_++ / 8) % 2 ? 0x80 : 0x00;
    return 0;
  }
  int erase_frames = 0;

 private:
  int settling_blocks_;
  long reads_ = 0;
};

TEST_F(Erase, NeverSettlingChipStopsTheErase) {
  const struct {
    int settling_blocks;
    std::vector<int32_t> blocks_done;
  } cases[] = {{0, {}}, {2, {0, 0x4000}}};
  for (const auto& c : cases) {
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
