// The flashing core against logs recorded from the window and the command line before they shared
// it: golden/NAME.calls the adapter calls (link/sim/call_log.h's format), golden/NAME.events what
// the window showed less its own image step. The emulator runs in process, unpaced.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "flash/flash_job.h"
#include "image/image_store.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/sim/call_log.h"
#include "link/sim/sim_adapter.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

using Cmd = FlashCommand;

struct Scenario {
  const char* name = "";
  std::string sim = "";
  std::vector<Cmd> commands;
  int32_t image = 5000;
  void (*steps)(FlashSteps&) = nullptr;  // changes to the steps, where an image is always given
  int erase_timeout_ms = 30000;
};

// clang-format off
const Scenario kScenarios[] = {
    {.name = "identify-large", .sim = "large", .commands = {Cmd::Identify}},
    {.name = "write-large-safe", .sim = "large", .commands = {Cmd::Write}, .steps = [](FlashSteps& f) { f.safe_mode = true; }},
    {.name = "write-base-5k", .sim = "base", .commands = {Cmd::Write}},
    {.name = "write-base-too-big", .sim = "base", .commands = {Cmd::Write}, .image = 131073},
    {.name = "write-alt", .sim = "alt", .commands = {Cmd::Write}},
    {.name = "write-none", .sim = "none", .commands = {Cmd::Write}},
    {.name = "write-noadapter", .sim = "large,no-such-option", .commands = {Cmd::Write}},
    {.name = "write-no-image-chosen", .sim = "large", .commands = {Cmd::Write}, .steps = [](FlashSteps& f) { f.image_needed = [] { return false; }; }},
    {.name = "verify-base", .sim = "base", .commands = {Cmd::Verify}},
    {.name = "verify-large-mismatch", .sim = "large", .commands = {Cmd::Verify}, .image = 300000},
    {.name = "write-verify-large", .sim = "large", .commands = {Cmd::Write, Cmd::Verify}, .image = 140000},
    {.name = "write-verify-large-bad", .sim = "large,bad=0x25000", .commands = {Cmd::Write, Cmd::Verify}, .image = 300000},
    {.name = "write-verify-base", .sim = "base", .commands = {Cmd::Write}, .image = 70000, .steps = [](FlashSteps& f) { f.verify_after_write = true; }},
    {.name = "write-cancel-before-erase", .sim = "large", .commands = {Cmd::Write}, .steps = [](FlashSteps& f) { f.cancel_before_erase = [] { return true; }; }},
    {.name = "write-cancel-during-erase", .sim = "large", .commands = {Cmd::Write}, .image = 20000, .steps = [](FlashSteps& f) { f.cancel_after_erase = [] { return true; }; }},
    // Each poll of the paced chip outlasts the 1 ms bound: the wait ends after two polls.
    {.name = "write-erase-timeout", .sim = "large,erase-polls=1000000,rate=2000", .commands = {Cmd::Write}, .erase_timeout_ms = 1},
    {.name = "write-base-erase-timeout", .sim = "base,erase-polls=1000000,rate=2000", .commands = {Cmd::Write}, .erase_timeout_ms = 1},
};
// clang-format on

// What the front end was told, as the window's recorded events: one a line, line breaks as \n.
class RecordingObserver final : public FlashObserver {
 public:
  std::string events;
  void Status(const FlashStatus& status) override { Add(std::string("status: ") + status.text); }
  void ProgressStart(int32_t high) override { Add("range: " + std::to_string(high)); }
  void Progress(int32_t) override {}
  void ProgressFull(int32_t) override {}
  void Erased(int32_t) override {}
  void Box(const FlashBox& box) override {
    const char* const icons[] = {"none", "error", "warning", "information"};
    Add(std::string("box: [") + box.caption + "] " + box.text + " (" +
        icons[static_cast<int>(box.icon)] + ", " + (box.owned_by_window ? "owned" : "no owner") +
        ")");
  }
  void Add(std::string line) {
    for (std::size_t at = 0; (at = line.find('\n', at)) != std::string::npos; at += 2)
      line.replace(at, 1, "\\n");
    events += line + "\n";
  }
};

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }
class GoldenLogs : public ::testing::TestWithParam<Scenario> {};

TEST_P(GoldenLogs, CoreMakesTheRecordedCallsAndShowsTheRecordedTexts) {
  const Scenario& s = GetParam();
  ResetChipTypeForTests();
  ResetImageStoreForTests();
  ASSERT_TRUE(AllocateImage());
  // The recorded images: the pattern, "QELT" at 0 and the name "Golden" in the 16 bytes at 16.
  uint8_t* image = ImageBuffer();
  for (int32_t i = 0; i < s.image; ++i) image[i] = static_cast<uint8_t>((i * 7 + 3) ^ (i >> 8));
  std::memcpy(image, "QELT", 4);
  std::memcpy(image + 16, "Golden\0\0\0\0\0\0\0\0\0\0", 16);
  SetImageSize(s.image);
  RecordingObserver observer;
  std::string calls, error;
  // Options the emulator refuses leave an adapter whose open fails.
  std::unique_ptr<Adapter> sim = SimAdapter::Create(s.sim, &error);
  if (!sim) sim = std::make_unique<AbsentAdapter>();
  CallLoggingAdapter logging(*sim, [&calls](const std::string& line) { calls += line + "\n"; });
  SetAdapter(&logging);
  SetEraseTimeout(std::chrono::milliseconds(s.erase_timeout_ms));
  for (const Cmd command : s.commands) {
    FlashSteps steps;
    steps.image_needed = [] { return true; };
    if (s.steps) s.steps(steps);
    FlashJob job(command, observer, std::move(steps));
    if (job.Prepare()) job.Run();
  }
  SetAdapter(nullptr);
  const std::string golden = std::string(QUELT_GOLDEN_DIR) + "/" + s.name;
  EXPECT_EQ(calls, ReadText(golden + ".calls"));
  const bool shown = std::filesystem::exists(golden + ".events");  // not kept for every row
  EXPECT_EQ(observer.events, shown ? ReadText(golden + ".events") : observer.events);
}

INSTANTIATE_TEST_SUITE_P(BothFrontEnds, GoldenLogs, ::testing::ValuesIn(kScenarios));

}  // namespace
}  // namespace quelt::test
