#include "link/identify.h"

#include "tests/link/link_test_util.h"
#include "tests/link/wire_forms.h"

namespace quelt::test {
namespace {

class IdentifyTest : public LinkTest {};

TEST_F(IdentifyTest, StartFramesOnTheWire) {
  ShortStartFrame().Send();
  LongStartFrame().Send();
  EXPECT_EQ(ShortStartFrame().size(), 27u);
  EXPECT_EQ(LongStartFrame().size(), 28u);
  EXPECT_EQ(Trace(), (std::vector<std::string>{W(ShortStartWire()), W(LongStartWire())}));
}

TEST_F(IdentifyTest, IdModeFramesFollowTheChipType) {
  struct Case {
    ChipType type;
    std::vector<uint8_t> enter, leave;
  };
  const Case cases[] = {
      {ChipBase, BaseEnterWire(), BaseLeaveWire()},
      {ChipLarge, LargeEnterWire(), LargeLeaveWire()},
  };
  for (const Case& c : cases) {
    adapter_.Clear();
    SetCurrentChipType(c.type);
    EnterIdMode();
    LeaveIdMode();
    EXPECT_EQ(Trace(), (std::vector<std::string>{W(c.enter), W(c.leave)})) << c.type;
  }
}

// Every outcome of a call made with no type known, with the exact frames and reads.
TEST_F(IdentifyTest, ProbesFromNoType) {
  const auto base_probe =
      Join({{W(ShortStartWire()), W(BaseEnterWire())}, ReadByteTrace(), ReadByteTrace()});
  const auto long_probe = Join({{W(LongStartWire()), W(LargeEnterWire()), W(LongAddress0Wire())},
                                ReadByteTrace(),
                                ReadByteTrace(),
                                ReadByteTrace()});
  const std::vector<std::string> large_leave{W(LargeLeaveWire())};
  const std::vector<std::string> base_leave{W(BaseLeaveWire())};

  struct Case {
    const char* name;
    std::vector<uint8_t> answers;
    ChipType type;
    std::vector<std::string> trace;
  };
  const Case cases[] = {
      {"base", ChipAnswers({0xBF, 0xD5}), ChipBase, Join({base_probe, base_leave})},
      {"alt", ChipAnswers({0, 0, 0xB0, 0x22, 0xE9}), ChipAlt,
       Join({base_probe, long_probe, large_leave})},
      {"large", ChipAnswers({0, 0, 0x20, 0x22, 0x49}), ChipLarge,
       Join({base_probe, long_probe, large_leave})},
      {"large, second byte not compared", ChipAnswers({0, 0, 0x20, 0xFF, 0x49}), ChipLarge,
       Join({base_probe, long_probe, large_leave})},
      {"base bytes reversed", ChipAnswers({0xD5, 0xBF, 0x20, 0x22, 0x49}), ChipLarge,
       Join({base_probe, long_probe, large_leave})},
      {"base second byte wrong", ChipAnswers({0xBF, 0xD4}), ChipNone,
       Join({base_probe, long_probe})},
      {"no input at all", {}, ChipNone, Join({base_probe, long_probe})},
      {"line held high", Rep({0x80}, 40), ChipNone, Join({base_probe, long_probe})},
      {"alt first, large third", ChipAnswers({0, 0, 0xB0, 0x22, 0x49}), ChipNone,
       Join({base_probe, long_probe})},
      {"large first, alt third", ChipAnswers({0, 0, 0x20, 0x22, 0xE9}), ChipNone,
       Join({base_probe, long_probe})},
      {"base bytes to the long probe", ChipAnswers({0, 0, 0xBF, 0x00, 0xD5}), ChipNone,
       Join({base_probe, long_probe})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetChipTypeForTests();
    adapter_.Clear();
    adapter_.ScriptReads(c.answers);
    IdentifyChip();
    EXPECT_EQ(CurrentChipType(), c.type);
    EXPECT_EQ(Trace(), c.trace);
  }
}

// Once a type is known, a call sends its start frame only, whatever answers now.
TEST_F(IdentifyTest, KnownTypeStays) {
  struct Case {
    ChipType type;
    std::vector<uint8_t> start;
  };
  const Case cases[] = {
      {ChipBase, ShortStartWire()},
      {ChipAlt, LongStartWire()},
      {ChipLarge, LongStartWire()},
  };
  for (const Case& c : cases) {
    ResetChipTypeForTests();
    adapter_.Clear();
    SetCurrentChipType(c.type);
    adapter_.ScriptReads(ChipAnswers({0xBF, 0xD5, 0x20, 0x22, 0x49}));
    IdentifyChip();
    IdentifyChip();
    EXPECT_EQ(CurrentChipType(), c.type);
    EXPECT_EQ(Trace(), (std::vector<std::string>{W(c.start), W(c.start)})) << c.type;
  }
}

TEST_F(IdentifyTest, FoundTypeIsKeptAndFailureProbesAgain) {
  // A failed identification probes again on the next call; a found one is never re-examined.
  IdentifyChip();
  EXPECT_EQ(CurrentChipType(), ChipNone);
  adapter_.Clear();
  adapter_.ScriptReads(ChipAnswers({0, 0, 0xB0, 0x22, 0xE9}));
  IdentifyChip();
  EXPECT_EQ(CurrentChipType(), ChipAlt);
  EXPECT_EQ(Trace().size(), 2 + 2 * 17 + 3 + 3 * 17 + 1u);

  adapter_.Clear();
  adapter_.ScriptReads(ChipAnswers({0xBF, 0xD5}));
  IdentifyChip();
  EXPECT_EQ(CurrentChipType(), ChipAlt);
  EXPECT_EQ(Trace(), std::vector<std::string>{W(LongStartWire())});
}

}  // namespace
}  // namespace quelt::test
