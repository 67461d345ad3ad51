#include "link/program.h"

#include "tests/link/link_fixture.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

using Program = LinkTest;

// The unlock-bypass entry and address 0, sent before the chunks; the bypass reset after them.
const Bytes kPreamble = Cat<uint8_t>({kAtAAA,
                                      kByteAA,
                                      kAt555,
                                      kByte55,
                                      kAtAAA,
                                      {0x21, 0x31, 0x00, 0x10, 0x00, 0x10},
                                      kLongAddress0});
const Bytes kClosing = {0x24, 0x34, 0x20, 0x30, 0x00, 0x10, 0x20, 0x30, 0x00, 0x10, 0x00, 0x10};
const Bytes kBaseGroup0Of0 =
    Cat<uint8_t>({{0x05, 0x15}, Rep({0x00, 0x10}, 7), {0x00}, Rep({0x10}, 23)});

// Straight from the group tables, symbol by symbol, as an independent check of the fast fill.
uint8_t Lo(int s) { return static_cast<uint8_t>((s & 0x0F) | (s & 0x10 ? 0x20 : 0)); }
uint8_t Hi(int s) { return static_cast<uint8_t>(Lo(s) | 0x10); }
void AppendGroup(Bytes& out, ChipType type, int32_t i, uint8_t b) {
  if (type == ChipBase) {
    const int s5 = b & 0x1F;
    for (int s : {0x05, ((b >> 3) & 0x1C) | (i >> 15), (i >> 10) & 0x1F, (i >> 5) & 0x1F, i & 0x1F})
      out.insert(out.end(), {Lo(s), Hi(s)});
    out.insert(out.end(), {Lo(s5), Hi(s5), Lo(s5), Hi(s5), Lo(s5), Hi(s5), Lo(s5)});
    out.insert(out.end(), 23, Hi(s5));
  } else {
    for (int s : {i == 0 ? 0x15 : 0x1D, 0x00, 0x00, 0x10 | (b >> 5), b & 0x1F, 0x00})
      out.insert(out.end(), {Lo(s), Hi(s)});
    out.insert(out.end(), 28, 0x10);
  }
}

TEST_F(Program, GroupsOfSingleBytes) {
  const struct {
    ChipType type;
    int32_t offset;
    uint8_t byte;
    Bytes group;
  } cases[] = {
      // clang-format off
      {ChipBase, 0xE146, 0xA7, Cat<uint8_t>({{0x05, 0x15, 0x25, 0x35, 0x28, 0x38, 0x0A, 0x1A, 0x06, 0x16, 0x07, 0x17, 0x07, 0x17, 0x07, 0x17, 0x07}, Rep({0x17}, 23)})},
      {ChipBase, 0x1FFFF, 0xFF, Cat<uint8_t>({{0x05, 0x15}, Rep({0x2F, 0x3F}, 7), {0x2F}, Rep({0x3F}, 23)})},
      {ChipBase, 0, 0x00, kBaseGroup0Of0},
      {ChipLarge, 0, 0xA7, Cat<uint8_t>({{0x25, 0x35, 0x00, 0x10, 0x00, 0x10, 0x25, 0x35, 0x07, 0x17, 0x00, 0x10}, Rep({0x10}, 28)})},
      {ChipLarge, 5, 0x3C, Cat<uint8_t>({{0x2D, 0x3D, 0x00, 0x10, 0x00, 0x10, 0x21, 0x31, 0x2C, 0x3C, 0x00, 0x10}, Rep({0x10}, 28)})},
      // D4 of the low five bits shows in bit 5.
      {ChipLarge, 1, 0x10, Cat<uint8_t>({{0x2D, 0x3D, 0x00, 0x10, 0x00, 0x10, 0x20, 0x30, 0x20, 0x30, 0x00, 0x10}, Rep({0x10}, 28)})},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " offset " << c.offset);
    uint8_t single[kProgramGroupBytes];
    (c.type == ChipBase ? FillBaseProgramGroup : FillLargeProgramGroup)(single, c.offset, c.byte);
    EXPECT_EQ(Bytes(single, single + kProgramGroupBytes), c.group);

    // The same group at the end of a whole stream.
    Fresh(c.type);
    Bytes image = RandomBytes(c.offset + 1, 1);
    image[c.offset] = c.byte;
    ASSERT_EQ(ProgramImage(image.data(), c.offset + 1, {}), LinkStatus::Ok);
    const Bytes stream = Writes()[c.type == ChipBase ? 0 : 1];
    ASSERT_EQ(stream.size(), kProgramGroupBytes * (c.offset + 1));
    EXPECT_EQ(Bytes(stream.end() - kProgramGroupBytes, stream.end()), c.group);
  }
}

// Counts that end inside a run of 32 offsets, at a progress step, and across a chunk; with the
// vector fill and without.
TEST_F(Program, WholeStreamsMatchTheGroupTables) {
  const std::pair<ChipType, int32_t> cases[] = {
      {ChipBase, 0x20000}, {ChipBase, 1000}, {ChipLarge, 0x20000 + 77}};
  for (const bool vector : {true, false}) {
    EnableVectorFillForTests(vector);
    for (const auto& [type, count] : cases) {
      SCOPED_TRACE(testing::Message() << type << " count " << count << " vector " << vector);
      Fresh(type);
      const Bytes image = RandomBytes(count, 2);
      ASSERT_EQ(ProgramImage(image.data(), count, {}), LinkStatus::Ok);
      Bytes sent, expected;
      for (const auto& w : Writes()) {
        if (w.size() % kProgramGroupBytes == 0) sent.insert(sent.end(), w.begin(), w.end());
      }
      for (int32_t i = 0; i < count; ++i) AppendGroup(expected, type, i, image[i]);
      ASSERT_EQ(sent.size(), expected.size());
      const auto differ = std::mismatch(sent.begin(), sent.end(), expected.begin()).first;
      EXPECT_EQ(differ, sent.end())
          << "first difference at offset " << (differ - sent.begin()) / kProgramGroupBytes;
    }
  }
}

TEST_F(Program, WritesAndProgressPositions) {
  Trace full_base, full_large{WLen(66)};  // the preamble, kept as a length only
  for (int k = 0; k < 256; ++k) full_base.push_back(P(512 * k));
  full_base.push_back(WLen(5242880));
  for (int32_t start = 0; start < 0x200000; start += 0x20000) {
    full_large.insert(full_large.end(), {P(start), WLen(5242880)});
  }
  full_large.push_back(WLen(12));
  const struct {
    ChipType type;
    int32_t count;
    Trace trace;
  } cases[] = {
      // clang-format off
      {ChipBase, 0, {W({})}},
      {ChipBase, 1, {P(0), W(kBaseGroup0Of0)}},
      {ChipBase, 512, {P(0), WLen(20480)}},
      {ChipBase, 513, {P(0), P(512), WLen(20520)}},
      {ChipBase, 0x20000, full_base},
      {ChipLarge, 0, {W(kPreamble), W(kClosing)}},
      {ChipLarge, 0x20000, {W(kPreamble), P(0), WLen(5242880), W(kClosing)}},
      // Offset 0x20000 is not the image's first byte: 0x1D opens its group.
      {ChipLarge, 0x20001, {W(kPreamble), P(0), WLen(5242880), P(0x20000), W(Cat<uint8_t>({{0x2D, 0x3D, 0x00, 0x10, 0x00, 0x10, 0x20, 0x30, 0x00, 0x10, 0x00, 0x10}, Rep({0x10}, 28)})), W(kClosing)}},
      {ChipLarge, 0x200000, full_large},
      // A negative count programs nothing.
      {ChipLarge, -5, {W(kPreamble), W(kClosing)}},
      {ChipBase, -5, {W({})}},
      // clang-format on
  };
  const Bytes zeros(0x200000, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " count " << c.count);
    Fresh(c.type);
    adapter_.KeepWriteBytes(c.count < 0x100000);  // the 2 MiB stream is counted, not kept
    ASSERT_EQ(ProgramImage(zeros.data(), c.count, Progress()), LinkStatus::Ok);
    EXPECT_EQ(Calls(100), c.trace);
  }
}

int allocations = 0;
void* FailingAlloc(std::size_t) { return nullptr; }
void* CountingAlloc(std::size_t bytes) {
  ++allocations;
  return DefaultWorkBufferAlloc(bytes);
}

// The working buffer is obtained once per call; without it nothing is sent.
TEST_F(Program, WorkBufferOncePerCall) {
  adapter_.KeepWriteBytes(false);
  const Bytes image(3 * 0x20000, 0x5A);
  for (ChipType type : {ChipBase, ChipLarge}) {
    SetWorkBufferAllocatorForTests(&CountingAlloc);
    Fresh(type);
    allocations = 0;
    EXPECT_EQ(ProgramImage(image.data(), type == ChipBase ? 0x20000 : 3 * 0x20000, {}),
              LinkStatus::Ok);
    EXPECT_EQ(allocations, 1) << type;

    SetWorkBufferAllocatorForTests(&FailingAlloc);
    Fresh(type);
    EXPECT_EQ(ProgramImage(image.data(), 1000, Progress()), LinkStatus::NoMemory) << type;
    EXPECT_TRUE(adapter_.Calls().empty()) << type;
    EXPECT_TRUE(progress_.empty()) << type;
  }
}

}  // namespace
}  // namespace quelt::test
