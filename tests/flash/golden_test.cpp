// The flashing core replayed against logs recorded from the window and the command line before
// they shared it: golden/NAME.calls holds the adapter calls in the recording library's format
// (link/sim/call_log.h), golden/NAME.events what the window showed (status texts, progress ranges,
// boxes) less its own image step. The emulator runs in process, without the pacing (`rate=`) that
// only let a Ctrl-C land in time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "flash/flash_job.h"
#include "image/image_store.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/sim/call_log.h"
#include "link/sim/sim_adapter.h"

namespace quelt::test {
namespace {

using Lines = std::vector<std::string>;
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

// What the front end was told, in the form of the window's recorded events.
class RecordingObserver final : public FlashObserver {
 public:
  Lines events;
  void Status(const FlashStatus& status) override {
    events.push_back("status: " + Esc(status.text));
  }
  void ProgressStart(int32_t high) override { events.push_back("range: " + std::to_string(high)); }
  void Progress(int32_t) override {}
  void ProgressFull(int32_t) override {}
  void Erased(int32_t) override {}
  void Box(const FlashBox& box) override {
    const char* const icons[] = {"none", "error", "warning", "information"};
    events.push_back("box: [" + Esc(box.caption) + "] " + Esc(box.text) + " (" +
                     icons[static_cast<int>(box.icon)] + ", " +
                     (box.owned_by_window ? "owned" : "no owner") + ")");
  }

 private:
  static std::string Esc(std::string text) {
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
      text.replace(at, 1, "\\n");
    return text;
  }
};

// The file's lines equal `now`, else the first line that differs.
void ExpectLines(const std::string& path, const Lines& now) {
  std::ifstream in(path);
  Lines was;
  for (std::string line; std::getline(in, line);) was.push_back(line);
  const auto [w, n] = std::mismatch(was.begin(), was.end(), now.begin(), now.end());
  EXPECT_TRUE(!was.empty() && w == was.end() && n == now.end())
      << path << " line " << (w - was.begin()) + 1
      << "\n  recorded: " << (w == was.end() ? "(none)" : w->substr(0, 160))
      << "\n  now:      " << (n == now.end() ? "(none)" : n->substr(0, 160));
}

// The scenario's commands on its emulator (options it refuses leave an adapter whose open fails).
void RunScenario(const Scenario& s, const std::string& flash, FlashObserver& observer,
                 Lines* calls) {
  std::string options = s.sim, error;
  if (const auto at = options.find("{flash}"); at != std::string::npos)
    options.replace(at, 7, flash);
  std::unique_ptr<Adapter> sim = SimAdapter::Create(options, &error);
  if (!sim) sim = std::make_unique<AbsentAdapter>();
  CallLoggingAdapter logging(*sim, [calls](const std::string& line) { calls->push_back(line); });
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
  const std::string flash = (std::filesystem::temp_directory_path() /
                             ("quelt-golden-" + std::to_string(::getpid()) + ".bin"))
                                .string();
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
  Lines calls;
  if (s.prewrite) {  // a chip that already holds the image, as another process left it
    RunScenario({.sim = s.sim, .commands = {Cmd::Write}}, flash, ignored, &calls);
    ResetChipTypeForTests();
    calls.clear();
  }
  SetEraseTimeout(std::chrono::milliseconds(s.erase_timeout_ms));
  RunScenario(s, flash, observer, &calls);
  SetEraseTimeout(std::chrono::seconds(30));
  ResetImageStoreForTests();
  ResetChipTypeForTests();
  std::filesystem::remove(flash);
  const std::string golden = std::string(QUELT_GOLDEN_DIR) + "/" + s.name;
  ExpectLines(golden + ".calls", calls);
  if (std::filesystem::exists(golden + ".events")) ExpectLines(golden + ".events", observer.events);
}

INSTANTIATE_TEST_SUITE_P(BothFrontEnds, GoldenLogs, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace quelt::test
