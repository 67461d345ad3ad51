// The flashing core replayed against logs recorded from the window and the command line before
// they shared it: golden/NAME.calls holds the adapter calls in the recording library's format
// (link/sim/call_log.h), golden/NAME.events what the window showed (status texts, progress ranges,
// boxes) less its own image step. The emulator runs in process, without the pacing (`rate=`) that
// only let a Ctrl-C land in time.
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
  std::string sim = "";  // "{flash}": a flash file of the scenario's own
  std::vector<Cmd> commands;
  int32_t image = 5000;
  bool image_given = true;  // false: the image step finds none (no file chosen)
  bool safe = false;
  bool verify_after_write = false;
  bool cancel_before_erase = false;
  bool cancel_after_erase = false;
  bool prewrite = false;  // the flash holds the image before the commands
  int erase_timeout_ms = 30000;
};

// clang-format off
const Scenario kScenarios[] = {
    {.name = "identify-large", .sim = "large", .commands = {Cmd::Identify}},
    {.name = "identify-base", .sim = "base", .commands = {Cmd::Identify}},
    {.name = "identify-alt", .sim = "alt", .commands = {Cmd::Identify}},
    {.name = "identify-none", .sim = "none", .commands = {Cmd::Identify}},
    {.name = "identify-noadapter", .sim = "large,no-such-option", .commands = {Cmd::Identify}},
    {.name = "write-large-safe", .sim = "large,flash={flash}", .commands = {Cmd::Write}, .safe = true},
    {.name = "write-base-5k", .sim = "base,flash={flash}", .commands = {Cmd::Write}},
    {.name = "write-base-too-big", .sim = "base", .commands = {Cmd::Write}, .image = 131073},
    {.name = "write-alt", .sim = "alt", .commands = {Cmd::Write}},
    {.name = "write-none", .sim = "none", .commands = {Cmd::Write}},
    {.name = "write-noadapter", .sim = "large,no-such-option", .commands = {Cmd::Write}},
    {.name = "write-no-image-chosen", .sim = "large", .commands = {Cmd::Write}, .image_given = false},
    {.name = "verify-base", .sim = "base", .commands = {Cmd::Verify}},
    {.name = "verify-none", .sim = "none", .commands = {Cmd::Verify}},
    {.name = "verify-large", .sim = "large,flash={flash}", .commands = {Cmd::Verify}, .image = 300000, .prewrite = true},
    {.name = "verify-large-mismatch", .sim = "large,flash={flash}", .commands = {Cmd::Verify}, .image = 300000},
    {.name = "write-verify-large", .sim = "large,flash={flash}", .commands = {Cmd::Write, Cmd::Verify}, .image = 140000},
    {.name = "write-verify-large-bad", .sim = "large,flash={flash},bad=0x25000", .commands = {Cmd::Write, Cmd::Verify}, .image = 300000},
    {.name = "write-verify-base", .sim = "base,flash={flash}", .commands = {Cmd::Write}, .image = 70000, .verify_after_write = true},
    {.name = "write-cancel-before-erase", .sim = "large", .commands = {Cmd::Write}, .cancel_before_erase = true},
    {.name = "write-cancel-during-erase", .sim = "large", .commands = {Cmd::Write}, .image = 20000, .cancel_after_erase = true},
    // Each poll of the paced chip outlasts the 1 ms bound: the wait ends after two polls.
    {.name = "write-erase-timeout", .sim = "large,erase-polls=1000000,rate=2000", .commands = {Cmd::Write}, .erase_timeout_ms = 1},
    {.name = "write-base-erase-timeout", .sim = "base,erase-polls=1000000,rate=2000", .commands = {Cmd::Write}, .erase_timeout_ms = 1},
};
// clang-format on

// What the front end was told, in the form of the window's recorded events: one line each, line
// breaks in texts written as \n.
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

std::string Golden(const std::string& path) {
  const Bytes text = ReadFile(path);
  return {text.begin(), text.end()};
}

// The scenario's commands on its emulator (options it refuses leave an adapter whose open fails).
void RunScenario(const Scenario& s, const std::string& flash, FlashObserver& observer,
                 std::string* calls) {
  std::string options = s.sim, error;
  if (const auto at = options.find("{flash}"); at != std::string::npos)
    options.replace(at, 7, flash);
  std::unique_ptr<Adapter> sim = SimAdapter::Create(options, &error);
  if (!sim) sim = std::make_unique<AbsentAdapter>();
  CallLoggingAdapter logging(*sim, [calls](const std::string& line) { *calls += line + "\n"; });
  SetAdapter(&logging);
  for (const Cmd command : s.commands) {
    FlashSteps steps;
    steps.safe_mode = s.safe;
    steps.verify_after_write = s.verify_after_write;
    steps.image_needed = [&s] { return s.image_given; };
    if (s.cancel_before_erase) steps.cancel_before_erase = [] { return true; };
    steps.cancel_after_erase = [&s] { return s.cancel_after_erase; };
    FlashJob job(command, observer, std::move(steps));
    if (job.Prepare()) job.Run();
  }
  SetAdapter(nullptr);
}

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }
class GoldenLogs : public ::testing::TestWithParam<Scenario> {};

TEST_P(GoldenLogs, CoreMakesTheRecordedCallsAndShowsTheRecordedTexts) {
  const Scenario& s = GetParam();
  TempDir dir;
  ResetChipTypeForTests();
  ResetImageStoreForTests();
  ASSERT_TRUE(AllocateImage());
  // The recorded images: the pattern, "QELT" at 0 and the name "Golden" in the 16 bytes at 16.
  uint8_t* image = ImageBuffer();
  for (int32_t i = 0; i < s.image; ++i) image[i] = static_cast<uint8_t>((i * 7 + 3) ^ (i >> 8));
  std::memcpy(image, "QELT", 4);
  std::memcpy(image + 16, "Golden\0\0\0\0\0\0\0\0\0\0", 16);
  SetImageSize(s.image);
  RecordingObserver ignored, observer;
  std::string calls;
  if (s.prewrite) {  // a chip that already holds the image, as another process left it
    RunScenario({.sim = s.sim, .commands = {Cmd::Write}}, dir.File("flash"), ignored, &calls);
    ResetChipTypeForTests();
    calls.clear();
  }
  SetEraseTimeout(std::chrono::milliseconds(s.erase_timeout_ms));
  RunScenario(s, dir.File("flash"), observer, &calls);
  SetEraseTimeout(std::chrono::seconds(30));
  ResetImageStoreForTests();
  ResetChipTypeForTests();
  const std::string golden = std::string(QUELT_GOLDEN_DIR) + "/" + s.name;
  EXPECT_EQ(calls, Golden(golden + ".calls"));
  const std::string events =
      std::filesystem::exists(golden + ".events") ? Golden(golden + ".events") : observer.events;
  EXPECT_EQ(observer.events, events);
}

INSTANTIATE_TEST_SUITE_P(BothFrontEnds, GoldenLogs, ::testing::ValuesIn(kScenarios));

}  // namespace
}  // namespace quelt::test
