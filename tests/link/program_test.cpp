#include "link/program.h"

#include "link/group_fill.h"
#include "tests/link/link_test_util.h"
#include "tests/link/wire_forms.h"

namespace quelt::test {
namespace {

// The unlock-bypass entry and address 0, sent before the chunks; the bypass reset after them.
std::vector<uint8_t> PreambleWire() {
  return Cat({AddressAAAWire(),
              ByteAAWire(),
              Address555Wire(),
              Byte55Wire(),
              AddressAAAWire(),
              {0x21, 0x31, 0x00, 0x10, 0x00, 0x10},
              LongAddress0Wire()});
}
std::vector<uint8_t> ClosingWire() {
  return {0x24, 0x34, 0x20, 0x30, 0x00, 0x10, 0x20, 0x30, 0x00, 0x10, 0x00, 0x10};
}

// Image bytes that differ from offset to offset and from chunk to chunk.
std::vector<uint8_t> Pattern(std::size_t n) {
  std::vector<uint8_t> image(n);
  uint32_t x = 12345;
  for (auto& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return image;
}

// Straight from the group tables, symbol by symbol, as an independent check of the fast path.
uint8_t Lo(int s) { return static_cast<uint8_t>((s & 0x0F) | (s & 0x10 ? 0x20 : 0)); }
uint8_t Hi(int s) { return static_cast<uint8_t>(Lo(s) | 0x10); }

void AppendBaseGroup(std::vector<uint8_t>& out, int32_t i, uint8_t b) {
  const int s1 = ((b >> 3) & 0x1C) | (i >> 15), s2 = (i >> 10) & 0x1F, s3 = (i >> 5) & 0x1F;
  const int s4 = i & 0x1F, s5 = b & 0x1F;
  for (int s : {0x05, s1, s2, s3, s4}) out.insert(out.end(), {Lo(s), Hi(s)});
  out.insert(out.end(), {Lo(s5), Hi(s5), Lo(s5), Hi(s5), Lo(s5), Hi(s5), Lo(s5)});
  out.insert(out.end(), 23, Hi(s5));
}

void AppendLargeGroup(std::vector<uint8_t>& out, int32_t i, uint8_t b) {
  const int first = i == 0 ? 0x15 : 0x1D;
  for (int s : {first, 0x00, 0x00, 0x10 | (b >> 5), b & 0x1F, 0x00}) {
    out.insert(out.end(), {Lo(s), Hi(s)});
  }
  out.insert(out.end(), 28, 0x10);
}

class ProgramTest : public LinkTest {};

TEST_F(ProgramTest, GroupsOfSingleBytes) {
  struct Case {
    ChipType type;
    int32_t offset;
    uint8_t byte;
    std::vector<uint8_t> group;
  };
  const Case cases[] = {
      {ChipBase, 0xE146, 0xA7,
       Cat({{0x05, 0x15, 0x25, 0x35, 0x28, 0x38, 0x0A, 0x1A, 0x06, 0x16, 0x07, 0x17, 0x07, 0x17,
             0x07, 0x17, 0x07},
            Rep({0x17}, 23)})},
      {ChipBase, 0x1FFFF, 0xFF, Cat({{0x05, 0x15}, Rep({0x2F, 0x3F}, 7), {0x2F}, Rep({0x3F}, 23)})},
      {ChipBase, 0, 0x00, Cat({{0x05, 0x15}, Rep({0x00, 0x10}, 7), {0x00}, Rep({0x10}, 23)})},
      {ChipLarge, 0, 0xA7,
       Cat({{0x25, 0x35, 0x00, 0x10, 0x00, 0x10, 0x25, 0x35, 0x07, 0x17, 0x00, 0x10},
            Rep({0x10}, 28)})},
      {ChipLarge, 5, 0x3C,
       Cat({{0x2D, 0x3D, 0x00, 0x10, 0x00, 0x10, 0x21, 0x31, 0x2C, 0x3C, 0x00, 0x10},
            Rep({0x10}, 28)})},
      // D4 of the low five bits shows in bit 5.
      {ChipLarge, 1, 0x10,
       Cat({{0x2D, 0x3D, 0x00, 0x10, 0x00, 0x10, 0x20, 0x30, 0x20, 0x30, 0x00, 0x10},
            Rep({0x10}, 28)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " offset " << c.offset);
    uint8_t single[kProgramGroupBytes];
    if (c.type == ChipBase) {
      FillBaseProgramGroup(single, c.offset, c.byte);
    } else {
      FillLargeProgramGroup(single, c.offset, c.byte);
    }
    EXPECT_EQ(std::vector<uint8_t>(single, single + kProgramGroupBytes), c.group);

    // The same group inside a whole stream.
    adapter_.Clear();
    SetCurrentChipType(c.type);
    auto image = Pattern(c.offset + 1);
    image[c.offset] = c.byte;
    ASSERT_EQ(ProgramImage(image.data(), c.offset + 1, {}), LinkStatus::Ok);
    const auto writes = Writes();
    const auto& stream = c.type == ChipBase ? writes[0] : writes[1];
    ASSERT_EQ(stream.size(), kProgramGroupBytes * (c.offset + 1));
    EXPECT_EQ(std::vector<uint8_t>(stream.end() - kProgramGroupBytes, stream.end()), c.group);
  }
}

TEST_F(ProgramTest, WholeStreamsMatchTheGroupTables) {
  struct Case {
    ChipType type;
    int32_t count;
  };
  // Counts that end inside a run of 32 offsets, at a progress step, and across a chunk.
  const Case cases[] = {{ChipBase, 0x20000}, {ChipBase, 1000}, {ChipLarge, 0x20000 + 77}};
  for (const bool vector : {true, false}) {
    EnableVectorFillForTests(vector);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.type << " count " << c.count << " vector " << vector);
      adapter_.Clear();
      SetCurrentChipType(c.type);
      const auto image = Pattern(c.count);
      ASSERT_EQ(ProgramImage(image.data(), c.count, {}), LinkStatus::Ok);
      std::vector<uint8_t> sent;
      for (const auto& w : Writes()) {
        if (w.size() % kProgramGroupBytes == 0 && !w.empty())
          sent.insert(sent.end(), w.begin(), w.end());
      }
      std::vector<uint8_t> expected;
      expected.reserve(kProgramGroupBytes * c.count);
      for (int32_t i = 0; i < c.count; ++i) {
        if (c.type == ChipBase) {
          AppendBaseGroup(expected, i, image[i]);
        } else {
          AppendLargeGroup(expected, i, image[i]);
        }
      }
      ASSERT_EQ(sent.size(), expected.size());
      EXPECT_TRUE(sent == expected);
      for (std::size_t k = 0; k < sent.size(); ++k) {
        if (sent[k] != expected[k]) {
          ADD_FAILURE() << "first difference at offset " << k / kProgramGroupBytes << " position "
                        << k % kProgramGroupBytes;
          break;
        }
      }
    }
  }
}

TEST_F(ProgramTest, WritesAndProgressPositions) {
  struct Case {
    ChipType type;
    int32_t count;
    std::vector<std::string> trace;
  };
  // Kept as lengths only: the preamble (33 symbols) and the closing frame (6).
  std::vector<std::string> full_large{WLen(66)};
  for (int32_t start = 0; start < 0x200000; start += 0x20000) {
    full_large.push_back(P(start));
    full_large.push_back(WLen(5242880));
  }
  full_large.push_back(WLen(12));
  const Case cases[] = {
      {ChipBase, 0, {W({})}},
      {ChipBase, 1, {P(0), W(Cat({{0x05, 0x15}, Rep({0x00, 0x10}, 7), {0x00}, Rep({0x10}, 23)}))}},
      {ChipBase, 512, {P(0), WLen(20480)}},
      {ChipBase, 513, {P(0), P(512), WLen(20520)}},
      {ChipBase, 0x20000, {}},
      {ChipLarge, 0, {W(PreambleWire()), W(ClosingWire())}},
      {ChipLarge, 0x20000, {W(PreambleWire()), P(0), WLen(5242880), W(ClosingWire())}},
      // Offset 0x20000 is not the image's first byte: 0x1D opens its group.
      {ChipLarge,
       0x20001,
       {W(PreambleWire()), P(0), WLen(5242880), P(0x20000),
        W(Cat({{0x2D, 0x3D, 0x00, 0x10, 0x00, 0x10, 0x20, 0x30, 0x00, 0x10, 0x00, 0x10},
               Rep({0x10}, 28)})),
        W(ClosingWire())}},
      {ChipLarge, 0x200000, full_large},
      // A negative count programs nothing.
      {ChipLarge, -5, {W(PreambleWire()), W(ClosingWire())}},
      {ChipBase, -5, {W({})}},
  };
  const std::vector<uint8_t> zeros(0x200000, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " count " << c.count);
    adapter_.Clear();
    progress_.clear();
    SetCurrentChipType(c.type);
    // The 2 MiB stream is counted, not kept.
    adapter_.KeepWriteBytes(c.count < 0x100000);
    ASSERT_EQ(ProgramImage(zeros.data(), c.count, Progress()), LinkStatus::Ok);
    auto trace = Trace(100);
    if (c.type == ChipBase && c.count == 0x20000) {
      // Every 512th offset, then the one write.
      ASSERT_EQ(trace.size(), 257u);
      for (int k = 0; k < 256; ++k) EXPECT_EQ(trace[k], P(512 * k));
      EXPECT_EQ(trace[256], WLen(5242880));
    } else {
      EXPECT_EQ(trace, c.trace);
    }
  }
  adapter_.KeepWriteBytes(true);
}

void* FailingAlloc(std::size_t) { return nullptr; }

int allocations = 0;
void* CountingAlloc(std::size_t bytes) {
  ++allocations;
  return DefaultWorkBufferAlloc(bytes);
}

TEST_F(ProgramTest, BufferNotObtainedSendsNothing) {
  SetWorkBufferAllocatorForTests(&FailingAlloc);
  const auto image = Pattern(1000);
  for (ChipType type : {ChipBase, ChipLarge}) {
    ResetChipTypeForTests();
    SetCurrentChipType(type);
    EXPECT_EQ(ProgramImage(image.data(), 1000, Progress()), LinkStatus::NoMemory) << type;
    EXPECT_TRUE(adapter_.Calls().empty()) << type;
    EXPECT_TRUE(progress_.empty()) << type;
  }
}

TEST_F(ProgramTest, BufferObtainedOncePerCall) {
  SetWorkBufferAllocatorForTests(&CountingAlloc);
  adapter_.KeepWriteBytes(false);
  const std::vector<uint8_t> image(3 * 0x20000, 0x5A);
  for (ChipType type : {ChipBase, ChipLarge}) {
    allocations = 0;
    ResetChipTypeForTests();
    SetCurrentChipType(type);
    const int32_t count = type == ChipBase ? 0x20000 : 3 * 0x20000;
    EXPECT_EQ(ProgramImage(image.data(), count, {}), LinkStatus::Ok);
    EXPECT_EQ(allocations, 1) << type;
  }
  adapter_.KeepWriteBytes(true);
}

}  // namespace
}  // namespace quelt::test
