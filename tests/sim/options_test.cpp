// The option string: what is accepted, and that everything else is refused by name.
#include <gtest/gtest.h>

#include "link/sim/sim_options.h"

namespace quelt {
namespace {

TEST(SimOptionsTest, AcceptedStrings) {
  SimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions("", &o, &error));
  EXPECT_EQ(SimChipType::Large, o.type);
  EXPECT_EQ(3u, o.erase_polls);
  EXPECT_FALSE(o.slow);
  ASSERT_TRUE(ParseSimOptions(
      "base,flash=/tmp/a.bin,erase-polls=0,stuck=high,bad=0x1F000:0x81,bad=17,slow,rate=5000", &o,
      &error))
      << error;
  EXPECT_EQ(SimChipType::Base, o.type);
  EXPECT_EQ(0u, o.erase_polls);
  EXPECT_EQ(SimOptions::Stuck::High, o.stuck);
  ASSERT_EQ(2u, o.bad.size());
  EXPECT_EQ(0x1F000u, o.bad[0].address);
  EXPECT_EQ(0x81, o.bad[0].mask);
  EXPECT_EQ(17u, o.bad[1].address);
  EXPECT_EQ(0xFF, o.bad[1].mask);
  EXPECT_TRUE(o.slow);
  EXPECT_EQ(5000u, o.rate);
  for (const auto& [text, type] : {std::pair{"alt", SimChipType::Alt},
                                   {"none", SimChipType::None},
                                   {"slow", SimChipType::Large}}) {
    EXPECT_TRUE(ParseSimOptions(text, &o, &error)) << text << ": " << error;
    EXPECT_EQ(type, o.type) << text;
  }
}

TEST(SimOptionsTest, RefusedStringsNameTheOption) {
  const std::pair<const char*, const char*> cases[] = {
      {"huge", "huge"},
      {"large,fast", "fast"},
      {"large,,slow", "\"\""},
      {"large,erase-polls", "erase-polls"},
      {"large,erase-polls=x", "erase-polls=x"},
      {"large,erase-polls=-1", "erase-polls=-1"},
      {"large,erase-polls=3x", "erase-polls=3x"},
      {"large,stuck=middle", "stuck=middle"},
      {"large,stuck", "stuck"},
      {"large,bad=", "bad="},
      {"large,bad=0x10:0x100", "bad=0x10:0x100"},
      {"large,bad=0x10:", "bad=0x10:"},
      {"base,bad=0x20000", "bad=131072"},
      {"large,slow=1", "slow=1"},
      {"large,rate=fast", "rate=fast"},
      {"large,flash=", "flash="},
      {"large,slow,slow", "slow"},
      {"large,flash=a,flash=b", "flash"},
      {"large,base", "base"},
      {"none,flash=x", "flash=x"},
  };
  for (const auto& [text, named] : cases) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(ParseSimOptions(text, &o, &error)) << text;
    EXPECT_NE(std::string::npos, error.find(named)) << text << " -> " << error;
  }
}

}  // namespace
}  // namespace quelt
