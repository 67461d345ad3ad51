// The fast paths against the byte-by-byte decoder: the same random streams, cut into the same
// writes, must leave the same state, the same data line after every write and the same flash;
// and the chip link's own streams (identification, erase with its polls, programming,
// verification) must get the same answers to every read and leave the same flash.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/phases.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/sim/sim_chip.h"
#include "link/verify.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& out, const Frame& frame) {
  for (std::size_t k = 0; k < frame.size(); ++k) {
    const uint8_t e = EncodeSymbol(frame.data()[k]);
    out.insert(out.end(), {e, static_cast<uint8_t>(e | kStrobe)});
  }
}

Frame Command(int32_t a, uint8_t v) { return LongAddressPhase(a).Add(BytePhase(v)); }

// A generator of streams that mix noise with the units and groups the chip knows, often
// slightly damaged, so that both the fast paths and their fallbacks are exercised.
class StreamMaker {
 public:
  StreamMaker(uint32_t seed, SimChipType type) : rng_(seed), type_(type) {}

  Bytes Make(int segments) {
    Bytes out;
    for (int i = 0; i < segments; ++i) {
      const std::size_t from = out.size();
      Segment(out);
      if (out.size() > from && Below(4) == 0) out[from + Below(out.size() - from)] = Byte();
    }
    return out;
  }

 private:
  uint32_t Below(std::size_t n) {
    return std::uniform_int_distribution<uint32_t>(0, static_cast<uint32_t>(n - 1))(rng_);
  }
  uint8_t Byte() { return static_cast<uint8_t>(Below(256)); }
  // Addresses near the interesting ones: the command addresses, block edges, the chip's end.
  int32_t Address() {
    static const int32_t kNear[] = {0, 0xAAA, 0x555, 0x4000, 0x8000, 0x10000, 0x1FFFF, 0x1FFFFF};
    return static_cast<int32_t>(Below(4) == 0 ? Below(0x200000) : kNear[Below(8)] + Below(3));
  }
  // Up to 40 groups made by `fill`, their holds cut short now and then.
  void Groups(Bytes& out, std::size_t head, void (*fill)(uint8_t*, int32_t, uint8_t), bool base) {
    for (uint32_t i = 0, n = 1 + Below(40); i < n; ++i) {
      uint8_t group[kProgramGroupBytes];
      const int32_t at = base ? (Below(3) ? Below(0x20000) : Address() & 0x1FFFF) : Below(8) != 0;
      fill(group, at, Byte());
      const std::size_t cut = Below(10) == 0 ? Below(kProgramGroupBytes - head) : 0;
      out.insert(out.end(), group, group + kProgramGroupBytes - cut);
    }
  }

  void Segment(Bytes& out) {
    const bool own = Below(3) != 0;
    switch (Below(16)) {
      case 0:  // noise
        for (uint32_t i = 0, n = 1 + Below(60); i < n; ++i) out.push_back(Byte());
        break;
      case 1: {  // random symbols
        Frame f;
        for (uint32_t i = 0, n = 1 + Below(20); i < n; ++i) f.Add(static_cast<uint8_t>(Below(32)));
        Put(out, f);
        break;
      }
      case 2:
        Put(out, own == (type_ == SimChipType::Base) ? ShortStartFrame() : LongStartFrame());
        break;
      case 3:  // unlock bypass
        Put(out, Command(0xAAA, 0xAA).Add(Command(0x555, 0x55)).Add(Command(0xAAA, 0x20)));
        Put(out, LongAddressPhase(Below(2) ? 0 : Address()));
        break;
      case 4:
      case 5:
        Groups(out, 12, FillLargeProgramGroup, false);
        break;
      case 6:
        Groups(out, 17, FillBaseProgramGroup, true);
        break;
      case 7:
      case 8: {
        Put(out, LongAddressPhase(Below(2) ? 0 : Address()));
        for (uint32_t i = 0, n = 1 + Below(40); i < n; ++i) {
          uint8_t group[kCompareGroupBytes];
          FillCompareGroup(group, Below(2) ? 0xFF : Byte());
          out.insert(out.end(), group, group + kCompareGroupBytes);
        }
        Put(out, Frame{0x01});
        break;
      }
      case 9:  // sector erase
        Put(out, Command(0xAAA, 0xAA).Add(Command(0x555, 0x55)).Add(Command(0xAAA, 0x80)));
        Put(out, Command(0xAAA, 0xAA).Add(Command(0x555, 0x55)).Add(Command(Address(), 0x30)));
        break;
      case 10: {  // short erase
        Frame f = ShortAddressPhase(Address());
        for (int i = 0; i < 13; ++i) f.Add(0x15);
        Put(out, f);
        break;
      }
      case 11:  // a byte read
        Put(out, Frame{0x0D, 0, 0, 0, 0, 0, 0, 0, 0});
        break;
      case 12:  // bypass reset or reset
        Put(out, Below(2) ? BytePhase(0x90).Add(BytePhase(0x00)) : BytePhase(0xF0));
        break;
      case 13:  // ID mode of the short protocol
        Put(out, Frame{0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E, 0x0E});
        break;
      case 14:  // autoselect or single program
        Put(out, Command(0xAAA, 0xAA)
                     .Add(Command(0x555, 0x55))
                     .Add(Command(0xAAA, Below(2) ? 0x90 : 0xA0)));
        break;
      default:  // quiet bus, strobe held
        out.insert(out.end(), 1 + Below(50), Below(2) ? 0x10 : 0x00);
        break;
    }
  }

  std::mt19937 rng_;
  SimChipType type_;
};

struct Pair {
  explicit Pair(const SimChipConfig& config)
      : size(SimChipSize(config.type)),
        flash_fast(size, 0xFF),
        flash_slow(size, 0xFF),
        fast(config, flash_fast.data()),
        slow(config, flash_slow.data()) {
    slow.EnableFastPaths(false);
  }
  uint32_t size;
  std::vector<uint8_t> flash_fast, flash_slow;
  SimChip fast, slow;
};

TEST(Differential, RandomStreamsAgreeWithByteByByteDecoding) {
  constexpr int kCases = 240;
  uint64_t fast_groups[3] = {};
  for (int c = 0; c < kCases; ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    std::mt19937 rng(static_cast<uint32_t>(c) * 7919u + 1);
    const SimChipType types[] = {SimChipType::Large, SimChipType::Base, SimChipType::Alt};
    SimChipConfig config;
    config.type = types[c % 3];
    config.erase_polls = rng() % 4;
    config.program_ticks = rng() % 2 ? 20 : 40;
    std::vector<uint8_t> bad;
    if (rng() % 3 == 0) {
      bad.assign(SimChipSize(config.type), 0);
      for (int i = 0; i < 50; ++i) bad[rng() % 64] |= static_cast<uint8_t>(rng());
      config.bad_masks = bad.data();
    }
    Pair pair(config);
    const int speed = rng() % 2 ? 2 : 3;
    pair.fast.SetSpeed(speed);
    pair.slow.SetSpeed(speed);

    StreamMaker maker(static_cast<uint32_t>(c), config.type);
    const std::vector<uint8_t> stream = maker.Make(60);
    std::size_t at = 0;
    while (at < stream.size()) {
      // Writes of every length, from single bytes to whole runs of groups.
      const std::size_t n =
          std::min<std::size_t>(stream.size() - at, 1 + rng() % (rng() % 4 ? 700 : 7));
      pair.fast.Feed(stream.data() + at, n);
      pair.slow.Feed(stream.data() + at, n);
      ASSERT_TRUE(pair.fast.State() == pair.slow.State()) << "after byte " << at + n;
      ASSERT_EQ(pair.fast.DataLine(), pair.slow.DataLine());
      at += n;
    }
    ASSERT_EQ(0, std::memcmp(pair.flash_fast.data(), pair.flash_slow.data(), pair.size));
    fast_groups[c % 3] += pair.fast.FastGroups();
  }
  // The fast paths must really have been taken on every chip type, or the comparison proves
  // little.
  for (uint64_t n : fast_groups) EXPECT_GT(n, 1000u);
  RecordProperty("cases", kCases);
}

class TeeAdapter : public Adapter {
 public:
  TeeAdapter(SimAdapter& fast, SimAdapter& slow) : fast_(fast), slow_(slow) {}
  uint32_t Open() override { return fast_.Open() | slow_.Open(); }
  uint32_t Speed(int32_t speed) override { return fast_.Speed(speed) | slow_.Speed(speed); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    slow_.Write(bytes, count, written);
    return fast_.Write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override {
    uint8_t slow = 0;
    slow_.Read(&slow);
    fast_.Read(input);
    ++reads;
    if (*input != slow) ++disagreements;
    return 0;
  }
  int reads = 0;
  int disagreements = 0;

 private:
  SimAdapter& fast_;
  SimAdapter& slow_;
};

TEST(RealStreamDifferential, LinkStreamsDecodeAlikeWithAndWithoutFastPaths) {
  const struct {
    const char* options;
    int32_t size;
    int32_t speed;
  } cases[] = {
      {"large", 0x21234, 2},     {"large,slow", 0x20001, 2},
      {"large,slow", 0x9000, 3}, {"large,bad=0x10:0x0F", 0x4100, 2},
      {"alt", 0x1000, 2},        {"base", 0x1F00, 2},
      {"base,slow", 0x1100, 3},  {"base,erase-polls=0", 0x3001, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " size " + std::to_string(c.size));
    std::string error;
    auto fast = SimAdapter::Create(c.options, &error);
    auto slow = SimAdapter::Create(c.options, &error);
    ASSERT_TRUE(fast && slow) << error;
    slow->EnableFastPaths(false);
    TeeAdapter tee(*fast, *slow);
    SetAdapter(&tee);
    ResetChipTypeForTests();
    AdapterOpen();
    AdapterSpeed(c.speed);

    const std::vector<uint8_t> image = RandomBytes(static_cast<std::size_t>(c.size), 30);
    IdentifyChip();
    if (CurrentChipType() != ChipAlt) {
      ASSERT_EQ(LinkStatus::Ok, EraseImageRange(c.size));
      ASSERT_EQ(LinkStatus::Ok, ProgramImage(image.data(), c.size, {}));
      IdentifyChip();
      if (CurrentChipType() == ChipLarge) (void)VerifyImage(image.data(), c.size, {});
    }
    IdleBus();
    EXPECT_GE(tee.reads, 40);
    EXPECT_EQ(0, tee.disagreements);
    // Every group of the image went through a fast path (and, when verified, every compare).
    if (CurrentChipType() != ChipAlt) {
      EXPECT_GE(fast->FastGroups(), static_cast<uint64_t>(c.size));
    }
    EXPECT_EQ(0u, slow->FastGroups());
    EXPECT_TRUE(fast->FlashContents() == slow->FlashContents());
    SetAdapter(nullptr);
  }
  ResetChipTypeForTests();
}

}  // namespace
}  // namespace quelt::test
