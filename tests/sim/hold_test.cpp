// The hold hook: a status read of a busy erase is held until the test releases it, so that a
// caller can act at a known point of the erase.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "tests/sim/sim_test_util.h"

namespace quelt::test {
namespace {

using Hold = SimTest;

TEST_F(Hold, StatusReadWaitsForTheRelease) {
  const std::string path = TempPath("flash");
  std::vector<uint8_t> old(0x20000, 0x00);
  WriteFile(path, old);
  SimAdapter& sim = Use("base,erase-polls=3,flash=" + path);
  IdentifyChip();
  ASSERT_EQ(ChipBase, CurrentChipType());

  sim.HoldNextStatusRead();
  auto erase = std::async(std::launch::async, [] { return EraseImageRange(0x2000); });
  ASSERT_TRUE(sim.WaitForHeldRead(std::chrono::seconds(30)));
  // Held at the first status read of the first block: nothing has been erased yet.
  EXPECT_EQ(std::future_status::timeout, erase.wait_for(std::chrono::milliseconds(50)));
  EXPECT_EQ(0x00, static_cast<uint8_t>(sim.FlashContents()[0]));
  sim.ReleaseHeldRead();
  EXPECT_EQ(LinkStatus::Ok, erase.get());
  const std::string flash = sim.FlashContents();
  EXPECT_EQ(std::string(0x2000, '\xFF'), flash.substr(0, 0x2000));
  EXPECT_EQ(std::string(0x1E000, '\0'), flash.substr(0x2000));

  // Without a hold nothing waits; a release with nothing held does nothing.
  sim.ReleaseHeldRead();
  EXPECT_FALSE(sim.WaitForHeldRead(std::chrono::milliseconds(10)));
  EXPECT_EQ(LinkStatus::Ok, EraseImageRange(0x1000));
}

}  // namespace
}  // namespace quelt::test
