// The chip link's own streams (identification, erase with its polls, programming, verification)
// fed at once to an emulator with fast paths and to one decoding byte by byte: every read must
// deliver the same input byte, and both must end with the same flash.
#include <gtest/gtest.h>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/verify.h"
#include "tests/sim/sim_test_util.h"

namespace quelt::test {
namespace {

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
