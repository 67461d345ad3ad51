#include "link/identify.h"

#include "tests/link/link_fixture.h"

namespace quelt::test {
namespace {

using Identify = LinkTest;

// Every outcome of a call made with no type known, with the exact frames and reads.
TEST_F(Identify, ProbesFromNoType) {
  const Trace base_probe =
      Cat<std::string>({{W(kShortStart), W(kBaseEnter)}, ReadByteTrace(), ReadByteTrace()});
  const Trace long_probe = Cat<std::string>({{W(kLongStart), W(kLargeEnter), W(kLongAddress0)},
                                             ReadByteTrace(),
                                             ReadByteTrace(),
                                             ReadByteTrace()});
  const Trace both = Cat<std::string>({base_probe, long_probe});
  const Trace both_found = Cat<std::string>({both, {W(kLargeLeave)}});
  const struct {
    const char* name;
    Bytes answers;
    ChipType type;
    Trace trace;
  } cases[] = {
      // clang-format off
      {"base", ChipAnswers({0xBF, 0xD5}), ChipBase, Cat<std::string>({base_probe, {W(kBaseLeave)}})},
      {"alt", ChipAnswers({0, 0, 0xB0, 0x22, 0xE9}), ChipAlt, both_found},
      {"large", ChipAnswers({0, 0, 0x20, 0x22, 0x49}), ChipLarge, both_found},
      {"large, second byte not compared", ChipAnswers({0, 0, 0x20, 0xFF, 0x49}), ChipLarge, both_found},
      {"base bytes reversed", ChipAnswers({0xD5, 0xBF, 0x20, 0x22, 0x49}), ChipLarge, both_found},
      {"base second byte wrong", ChipAnswers({0xBF, 0xD4}), ChipNone, both},
      {"no input at all", {}, ChipNone, both},
      {"line held high", Rep({0x80}, 40), ChipNone, both},
      {"alt first, large third", ChipAnswers({0, 0, 0xB0, 0x22, 0x49}), ChipNone, both},
      {"large first, alt third", ChipAnswers({0, 0, 0x20, 0x22, 0xE9}), ChipNone, both},
      {"base bytes to the long probe", ChipAnswers({0, 0, 0xBF, 0x00, 0xD5}), ChipNone, both},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh(ChipNone);
    adapter_.ScriptReads(c.answers);
    IdentifyChip();
    EXPECT_EQ(CurrentChipType(), c.type);
    EXPECT_EQ(Calls(), c.trace);
  }
}

// Once a type is known, a call sends its start frame only, whatever answers now; a failed
// identification probes again on the next call.
TEST_F(Identify, KnownTypeStaysAndFailureProbesAgain) {
  const struct {
    ChipType type;
    Bytes start;
  } cases[] = {{ChipBase, kShortStart}, {ChipAlt, kLongStart}, {ChipLarge, kLongStart}};
  for (const auto& c : cases) {
    Fresh(c.type);
    adapter_.ScriptReads(ChipAnswers({0xBF, 0xD5, 0x20, 0x22, 0x49}));
    IdentifyChip();
    IdentifyChip();
    EXPECT_EQ(CurrentChipType(), c.type);
    EXPECT_EQ(Calls(), (Trace{W(c.start), W(c.start)})) << c.type;
  }

  Fresh(ChipNone);
  IdentifyChip();
  EXPECT_EQ(CurrentChipType(), ChipNone);
  adapter_.Clear();
  adapter_.ScriptReads(ChipAnswers({0, 0, 0xB0, 0x22, 0xE9}));
  IdentifyChip();
  EXPECT_EQ(CurrentChipType(), ChipAlt);
  EXPECT_EQ(Calls().size(), 2 + 2 * 17 + 3 + 3 * 17 + 1u);
}

}  // namespace
}  // namespace quelt::test
