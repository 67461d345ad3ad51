// The real chip link functions against the emulator: identification, erase, programming and
// verification, faults the emulator injects, and streams a toy emulator would take wrongly.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/phases.h"
#include "link/program.h"
#include "link/verify.h"
#include "tests/sim/sim_test_util.h"

namespace quelt::test {
namespace {

using EndToEnd = SimTest;

TEST_F(EndToEnd, EachChipIdentifiesAsItShould) {
  const struct {
    const char* options;
    ChipType expected;
  } cases[] = {
      {"base", ChipBase},
      {"large", ChipLarge},
      {"alt", ChipAlt},
      {"none", ChipNone},
      {"large,stuck=low", ChipNone},
      {"large,stuck=high", ChipNone},
      {"base,stuck=high", ChipNone},
      {"base,stuck=low", ChipNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Use(c.options);
    IdentifyChip();
    EXPECT_EQ(c.expected, CurrentChipType());
    // Found types stay; ChipNone probes again and finds nothing again.
    IdentifyChip();
    EXPECT_EQ(c.expected, CurrentChipType());
  }
}

TEST_F(EndToEnd, NothingAnswersBeforeTheOpen) {
  std::string error;
  auto sim = SimAdapter::Create("large", &error);
  SetAdapter(sim.get());
  ResetChipTypeForTests();
  IdentifyChip();
  EXPECT_EQ(ChipNone, CurrentChipType());
  // Nor did the stream before the open leave anything behind: after it the chip identifies.
  AdapterOpen();
  IdentifyChip();
  EXPECT_EQ(ChipLarge, CurrentChipType());
}

TEST_F(EndToEnd, TypeOnceFoundStaysWhenTheChipIsSwapped) {
  Use("large");
  IdentifyChip();
  ASSERT_EQ(ChipLarge, CurrentChipType());
  // A "base" chip now sees only long start frames: it stays deaf and answers nothing.
  std::string error;
  auto base = SimAdapter::Create("base", &error);
  SetAdapter(base.get());
  AdapterOpen();
  IdentifyChip();
  EXPECT_EQ(ChipLarge, CurrentChipType());
  EXPECT_EQ(0x00, ReadChipByte());
}

struct SizeCase {
  const char* type;
  int32_t size;
  uint32_t erased_end;  // end of the last erased block
};

class WriteSizes : public SimTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(WriteSizes, FlashFileHoldsTheImageErasedTailAndOldContents) {
  const SizeCase c = GetParam();
  const bool large = std::string(c.type) == "large";
  const uint32_t chip = large ? 0x200000 : 0x20000;
  const std::string path = TempPath("flash");
  const std::vector<uint8_t> old = RandomBytes(chip, 1);
  WriteFile(path, old);
  const std::vector<uint8_t> image = RandomBytes(static_cast<std::size_t>(c.size), 2);

  Use(std::string(c.type) + ",flash=" + path);
  WriteImage(image);
  if (large) {
    EXPECT_EQ(1, VerifyResult(image));
  }

  // The file, read as another process would, while the emulator still has it mapped.
  const std::vector<uint8_t> file = ReadFile(path);
  ASSERT_EQ(chip, file.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin()));
  EXPECT_TRUE(std::all_of(file.begin() + c.size, file.begin() + c.erased_end,
                          [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(file.begin() + c.erased_end, file.end(), old.begin() + c.erased_end));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WriteSizes,
    ::testing::Values(SizeCase{"base", 1, 0x1000}, SizeCase{"base", 0x1001, 0x2000},
                      SizeCase{"base", 0x1A2B3, 0x1B000}, SizeCase{"base", 0x20000, 0x20000},
                      SizeCase{"large", 0x4001, 0x6000}, SizeCase{"large", 0x7FFF, 0x8000},
                      SizeCase{"large", 0x20001, 0x30000}, SizeCase{"large", 0x2345F, 0x30000},
                      SizeCase{"large", 0x200000, 0x200000}),
    [](const ::testing::TestParamInfo<SizeCase>& info) {
      return std::string(info.param.type) + "_" + std::to_string(info.param.size);
    });

TEST_F(EndToEnd, FlashFileOfTheWrongSizeIsRefusedAndAKeptFileIsReused) {
  const std::string path = TempPath("flash");
  WriteFile(path, std::vector<uint8_t>(0x20000, 0xFF));
  std::string error;
  EXPECT_EQ(nullptr, SimAdapter::Create("large,flash=" + path, &error));
  EXPECT_NE(std::string::npos, error.find(path)) << error;

  // A base-sized file is right for a base chip; a write in one emulator is seen by the next.
  const std::vector<uint8_t> image = RandomBytes(5000, 3);
  Use("base,flash=" + path);
  WriteImage(image);
  Use("base,flash=" + path);
  const std::vector<uint8_t> flash = Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(EndToEnd, BadCellFailsItsChunkAndStopsTheVerify) {
  // Offset 0x20005 lies in the second chunk; the image has bit 2 clear there.
  std::vector<uint8_t> image = RandomBytes(0x50000, 4);
  image[0x20005] = 0xFB;
  const struct {
    const char* mask;
    int result;
  } cases[] = {{"0x04", 0}, {"0xFF", 0}, {"0x01", 1}};  // 0x01 meets only a 1 bit
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    SimAdapter& sim = Use(std::string("large,bad=0x20005:") + c.mask);
    WriteImage(image);
    CountingAdapter counting(sim);
    SetAdapter(&counting);
    const VerifyOutcome outcome = VerifyImage(image.data(), static_cast<int32_t>(image.size()), {});
    EXPECT_EQ(c.result, outcome.result);
    // Chunk writes: two full ones and the last part, or up to the failing chunk only.
    const auto chunk_writes = std::count_if(counting.writes.begin(), counting.writes.end(),
                                            [](uint32_t n) { return n > 512; });
    EXPECT_EQ(c.result ? 3 : 2, chunk_writes);
    EXPECT_EQ(c.result ? 3 : 2, counting.reads);  // one pass bit per chunk sent
    EXPECT_EQ(c.result ? -1 : 0x20000, outcome.failed_chunk_start);
  }
}

TEST_F(EndToEnd, ProgrammingOverAnImageWithoutEraseOnlyClearsBits) {
  const std::vector<uint8_t> first = RandomBytes(0x21000, 5);
  const std::vector<uint8_t> second = RandomBytes(0x21000, 6);
  std::vector<uint8_t> both(first.size());
  for (std::size_t i = 0; i < both.size(); ++i) both[i] = first[i] & second[i];

  Use("large");
  WriteImage(first);
  ASSERT_EQ(LinkStatus::Ok, ProgramImage(second.data(), static_cast<int32_t>(second.size()), {}));
  EXPECT_EQ(0, VerifyResult(second));
  EXPECT_EQ(1, VerifyResult(both));
  const std::vector<uint8_t> flash = Flash();
  EXPECT_TRUE(std::equal(both.begin(), both.end(), flash.begin()));

  Use("base");
  const std::vector<uint8_t> small_first(first.begin(), first.begin() + 0x3000);
  const std::vector<uint8_t> small_second(second.begin(), second.begin() + 0x3000);
  WriteImage(small_first);
  ASSERT_EQ(LinkStatus::Ok, ProgramImage(small_second.data(), 0x3000, {}));
  const std::vector<uint8_t> base_flash = Flash();
  EXPECT_TRUE(std::equal(both.begin(), both.begin() + 0x3000, base_flash.begin()));
}

TEST_F(EndToEnd, SlowChipTakesWritesOnlyInSafeMode) {
  const std::vector<uint8_t> image = RandomBytes(0x20400, 7);
  const std::vector<uint8_t> small(image.begin(), image.begin() + 0x1800);
  for (int32_t speed : {2, 3}) {
    SCOPED_TRACE(speed);
    Use("large,slow", speed);
    WriteImage(image);
    EXPECT_EQ(speed == 3 ? 1 : 0, VerifyResult(image));

    const std::string path = TempPath("base" + std::to_string(speed));
    Use("base,slow,flash=" + path, speed);
    WriteImage(small);
    const std::vector<uint8_t> file = ReadFile(path);
    if (speed == 3) {
      EXPECT_TRUE(std::equal(small.begin(), small.end(), file.begin()));
    } else {
      EXPECT_TRUE(std::all_of(file.begin(), file.end(), [](uint8_t b) { return b == 0xFF; }));
    }
  }
}

TEST_F(EndToEnd, ErasePollsSetThePollsOfEveryWait) {
  // Three blocks of each chip.
  for (const auto& [type, size] : {std::pair{"base", 0x2001}, std::pair{"large", 0x6001}}) {
    for (int polls : {0, 1, 3, 6}) {
      SCOPED_TRACE(std::string(type) + " erase-polls=" + std::to_string(polls));
      SimAdapter& sim = Use(std::string(type) + ",erase-polls=" + std::to_string(polls));
      IdentifyChip();
      CountingAdapter counting(sim);
      SetAdapter(&counting);
      // Each wait is polls + 2 polls of 8 reads each, then 2 closing reads.
      ASSERT_EQ(LinkStatus::Ok, EraseImageRange(size));
      EXPECT_EQ(3 * 8 * (polls + 2 + 2), counting.reads);
    }
  }
}

// Programs `image` from address 0 with a hand-made preamble (unlock bypass entry with the two
// unlock addresses given), then the link's own program groups and closing frame.
void ProgramWithUnlock(const std::vector<uint8_t>& image, int32_t first, int32_t second) {
  Frame{}
      .Add(LongAddressPhase(first))
      .Add(BytePhase(0xAA))
      .Add(LongAddressPhase(second))
      .Add(BytePhase(0x55))
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0x20))
      .Add(LongAddressPhase(0))
      .Send();
  std::vector<uint8_t> groups(40 * image.size());
  for (std::size_t i = 0; i < image.size(); ++i) {
    FillLargeProgramGroup(&groups[40 * i], static_cast<int32_t>(i), image[i]);
  }
  QueltProgrammerWrite(groups.data(), static_cast<uint32_t>(groups.size()), nullptr);
  Frame{}.Add(BytePhase(0x90)).Add(BytePhase(0x00)).Send();
}

TEST_F(EndToEnd, UnlockCyclesMustNameTheirAddresses) {
  const std::vector<uint8_t> image = RandomBytes(300, 8);
  Use("large");
  IdentifyChip();
  ASSERT_EQ(LinkStatus::Ok, EraseImageRange(1));
  ProgramWithUnlock(image, 0x555, 0xAAA);  // swapped
  std::vector<uint8_t> flash = Flash();
  EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
  ProgramWithUnlock(image, 0xAAA, 0x555);  // the same in the right order takes
  flash = Flash();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));

  // A sector erase with the addresses swapped erases nothing.
  Frame{}
      .Add(LongAddressPhase(0x555))
      .Add(BytePhase(0xAA))
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0x55))
      .Add(LongAddressPhase(0x555))
      .Add(BytePhase(0x80))
      .Add(LongAddressPhase(0x555))
      .Add(BytePhase(0xAA))
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0x55))
      .Add(LongAddressPhase(0))
      .Add(BytePhase(0x30))
      .Send();
  for (int i = 0; i < 8; ++i) ReadChipByte();
  EXPECT_EQ(flash, Flash());
}

TEST_F(EndToEnd, ProgramGroupsWithoutTheUnlockBypassProgramNothing) {
  const std::vector<uint8_t> image = RandomBytes(500, 9);
  Use("large");
  IdentifyChip();
  ASSERT_EQ(LinkStatus::Ok, EraseImageRange(1));
  LongAddressPhase(0).Send();
  std::vector<uint8_t> groups(40 * image.size());
  for (std::size_t i = 0; i < image.size(); ++i) {
    FillLargeProgramGroup(&groups[40 * i], static_cast<int32_t>(i), image[i]);
  }
  QueltProgrammerWrite(groups.data(), static_cast<uint32_t>(groups.size()), nullptr);
  const std::vector<uint8_t> flash = Flash();
  EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(EndToEnd, VerifyComparesAtTheAddressItsPhaseNames) {
  const std::vector<uint8_t> image = RandomBytes(0x40000, 10);
  Use("large");
  WriteImage(image);
  const auto compare = [&](int32_t address, std::size_t from) {
    std::vector<uint8_t> groups(6 * 1000 + 2);
    for (std::size_t i = 0; i < 1000; ++i) FillCompareGroup(&groups[6 * i], image[from + i]);
    groups[6000] = 0x01;
    groups[6001] = 0x11;
    LongAddressPhase(address).Send();
    QueltProgrammerWrite(groups.data(), static_cast<uint32_t>(groups.size()), nullptr);
    const int pass = (ReadLines() >> 1) & 1;
    Frame{0, 0, 0, 0, 0}.Send();  // the rest of the address phase that 0x01 began
    return pass;
  };
  EXPECT_EQ(1, compare(0x20000, 0x20000));
  EXPECT_EQ(0, compare(0x20000, 0));
  EXPECT_EQ(0, compare(0, 0x20000));
  EXPECT_EQ(1, compare(0, 0));
}

TEST_F(EndToEnd, ReadsAfterTheResetCycleReturnFlash) {
  std::vector<uint8_t> image = {0x5A, 0x3C, 0x7E};
  Use("large");
  WriteImage(image);
  EnterIdMode();
  LongAddressPhase(0).Send();
  EXPECT_EQ(0x20, ReadChipByte());
  LeaveIdMode();
  LongAddressPhase(0).Send();
  EXPECT_EQ(0x5A, ReadChipByte());
  EXPECT_EQ(0x3C, ReadChipByte());
  EXPECT_EQ(0x7E, ReadChipByte());
}

TEST_F(EndToEnd, BlocksBesideAnErasedBlockAreUntouched) {
  const struct {
    const char* type;
    int32_t block;
    int32_t end;
  } cases[] = {{"large", 0x4000, 0x6000},   {"large", 0x6000, 0x8000}, {"large", 0x8000, 0x10000},
               {"large", 0x30000, 0x40000}, {"base", 0x1000, 0x2000},  {"base", 0x1F000, 0x20000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.block));
    const bool large = std::string(c.type) == "large";
    const std::string path = TempPath("flash");
    const std::vector<uint8_t> old = RandomBytes(large ? 0x200000 : 0x20000, 11);
    WriteFile(path, old);
    Use(std::string(c.type) + ",flash=" + path);
    IdentifyChip();
    ASSERT_EQ(LinkStatus::Ok, EraseBlock(c.block));
    const std::vector<uint8_t> flash = Flash();
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + c.block, old.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + c.block, flash.begin() + c.end,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(flash.begin() + c.end, flash.end(), old.begin() + c.end));
  }
}

}  // namespace
}  // namespace quelt::test

namespace quelt::test {
namespace {

// Pacing can only make a write slower, so this holds on any machine however slow.
TEST_F(EndToEnd, RateOptionPacesTheAdapterBytes) {
  SimAdapter& sim = Use("base,rate=20000");
  const std::vector<uint8_t> bytes(4000, 0x00);
  const auto start = std::chrono::steady_clock::now();
  sim.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(180));
}

}  // namespace
}  // namespace quelt::test
