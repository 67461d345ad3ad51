// Records the adapter calls of quelt-flasher-cli through the recording adapter library
// (libquelt-record.so: the emulator with every call logged to QUELT_RECORD_LOG) and compares them
// with the calls that the window's commands make, replayed here in process on the same emulator:
// open, speed, identification, the worker's chip operations, the idle symbol.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "link/adapter.h"
#include "link/bus.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/verify.h"
#include "tests/cli/run_process.h"
#include "tests/cli/test_images.h"
#include "tests/cli/test_paths.h"

namespace quelt::testing {
namespace {

namespace fs = std::filesystem;

// The emulator with every call written as a line in the recording library's log format.
class LoggingSim : public Adapter {
 public:
  explicit LoggingSim(const std::string& options) {
    std::string error;
    sim_ = SimAdapter::Create(options, &error);
    EXPECT_TRUE(sim_) << error;
  }
  std::vector<std::string> lines;

  uint32_t Open() override {
    const uint32_t result = sim_->Open();
    lines.push_back("open " + std::to_string(result));
    return result;
  }
  uint32_t Speed(int32_t speed) override {
    lines.push_back("speed " + std::to_string(speed));
    return sim_->Speed(speed);
  }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (uint32_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    std::string line = "write " + std::to_string(count) + " " + Hex(hash, 16);
    if (count <= 512) {
      for (uint32_t i = 0; i < count; ++i) line += " " + Hex(bytes[i], 2);
    }
    lines.push_back(line);
    return sim_->Write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override {
    const uint32_t result = sim_->Read(input);
    lines.push_back("read " + Hex(*input, 2));
    return result;
  }

 private:
  static std::string Hex(uint64_t value, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
      text[static_cast<size_t>(i)] = kDigits[value & 15];
    return text;
  }
  std::unique_ptr<SimAdapter> sim_;
};

// What the window does after a successful open, speed and identification.
enum class Work {
  None,         // refused after identification (no chip, verify on "Quelt JQ", image refused)
  Write,        // the write worker: erase, program
  Verify,       // the verify worker
  WriteVerify,  // a write, then the Verify command
};

struct SequenceCase {
  std::string label = "";
  std::string sim = "";                // emulator options; "{flash}" is the case's flash file
  std::vector<std::string> args = {};  // "{file}" is the image
  int32_t image_size = 1;              // 0: the image file is missing
  bool prewrite = false;               // the flash holds the image before the command
  int speed = 2;
  bool opens = true;  // false: the open fails and nothing else may follow
  Work work = Work::None;
  int exit = 0;
};

// clang-format off
const std::vector<SequenceCase> kCases = {
    {.label = "write", .sim = "large,flash={flash}", .args = {"write", "{file}"}, .image_size = 300000, .work = Work::Write},
    {.label = "write, safe mode", .sim = "large,flash={flash}", .args = {"--safe", "write", "{file}"}, .image_size = 5000, .speed = 3, .work = Work::Write},
    {.label = "write base", .sim = "base,flash={flash}", .args = {"write", "{file}"}, .image_size = 70000, .work = Work::Write},
    {.label = "verify", .sim = "large,flash={flash}", .args = {"verify", "{file}"}, .image_size = 300000, .prewrite = true, .work = Work::Verify},
    {.label = "verify mismatch", .sim = "large,flash={flash}", .args = {"verify", "{file}"}, .image_size = 300000, .work = Work::Verify, .exit = 5},
    {.label = "write --verify", .sim = "large,flash={flash}", .args = {"write", "{file}", "--verify"}, .image_size = 140000, .work = Work::WriteVerify},
    {.label = "verify on base", .sim = "base,flash={flash}", .args = {"verify", "{file}"}, .image_size = 5000, .exit = 4},
    {.label = "identify", .sim = "large,flash={flash}", .args = {"identify"}, .image_size = 5000},
    {.label = "no chip", .sim = "none", .args = {"write", "{file}"}, .image_size = 5000, .exit = 4},
    {.label = "missing image file", .sim = "large,flash={flash}", .args = {"write", "{file}"}, .image_size = 0, .exit = 2},
    {.label = "too big for base", .sim = "base,flash={flash}", .args = {"write", "{file}"}, .image_size = 0x20001, .exit = 4},
    {.label = "adapter not opened", .sim = "large,no-such-option", .args = {"write", "{file}"}, .image_size = 5000, .opens = false, .exit = 3},
};
// clang-format on

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The window's commands, replayed on `adapter`: open, speed, IdentifyChip, then the work.
void ReplayWindow(const SequenceCase& c, const std::vector<uint8_t>& image, LoggingSim& adapter) {
  ResetChipTypeForTests();
  SetAdapter(&adapter);
  const int32_t n = static_cast<int32_t>(image.size());
  auto command = [&](auto&& worker) {
    if (AdapterOpen() != 0) return;
    AdapterSpeed(c.speed);
    IdentifyChip();
    worker();
    IdleBus();
  };
  command([&] {
    if (c.work == Work::Write || c.work == Work::WriteVerify) {
      (void)EraseImageRange(n);
      (void)ProgramImage(image.data(), n, {});
    } else if (c.work == Work::Verify) {
      (void)VerifyImage(image.data(), n, {});
    }
  });
  if (c.work == Work::WriteVerify) command([&] { (void)VerifyImage(image.data(), n, {}); });
  SetAdapter(nullptr);
}

TEST(CliCallSequence, MatchesTheWindowsCommands) {
  const std::string cli = CliPath();
  const std::string record = RecordLibraryPath();
  char pattern[] = "/tmp/quelt-cli-calls-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;

  int index = 0;
  for (const SequenceCase& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string run_dir = dir + "/" + std::to_string(++index);
    fs::create_directories(run_dir + "/config");
    const std::string image_path = run_dir + "/image.qlz";
    const std::vector<uint8_t> image = MakeImage(c.image_size ? c.image_size : 1, "SEQ", index);
    if (c.image_size) WriteFile(image_path, image);
    auto sim_for = [&](const std::string& flash) {
      std::string sim = c.sim;
      if (size_t at = sim.find("{flash}"); at != std::string::npos) sim.replace(at, 7, flash);
      return sim;
    };
    const std::string cli_flash = run_dir + "/cli.bin";
    const std::string window_flash = run_dir + "/window.bin";
    if (c.prewrite) {
      // Both chips start out holding the image, written by the link in process.
      for (const std::string& flash : {cli_flash, window_flash}) {
        LoggingSim sim(sim_for(flash));
        ReplayWindow({.work = Work::Write}, image, sim);
      }
    }

    ProcessRun run;
    run.argv = {cli, "--adapter", record};
    for (const std::string& arg : c.args) run.argv.push_back(arg == "{file}" ? image_path : arg);
    run.work_dir = run_dir;
    const std::string log = run_dir + "/calls.log";
    run.env = {{"QUELT_SIM", sim_for(cli_flash)},
               {"QUELT_RECORD_LOG", log},
               {"QUELT_ADAPTER", std::nullopt},
               {"XDG_CONFIG_HOME", run_dir + "/config"}};
    const ProcessResult result = RunProcess(run);
    EXPECT_EQ(result.exit_status, c.exit) << result.err;
    const std::vector<std::string> cli_calls = ReadLines(log);
    ASSERT_FALSE(cli_calls.empty());

    // Hand-written anchors: the command starts with the open and, past a successful open, the
    // speed, and ends with the idle symbol (symbol 0: adapter bytes 0x00, 0x10).
    if (!c.opens) {
      EXPECT_EQ(cli_calls, std::vector<std::string>{"open 1"})
          << "nothing may follow a failed open";
      continue;
    }
    ASSERT_GE(cli_calls.size(), 3u);
    EXPECT_EQ(cli_calls[0], "open 0");
    EXPECT_EQ(cli_calls[1], "speed " + std::to_string(c.speed));
    EXPECT_TRUE(cli_calls.back().starts_with("write 2 ") && cli_calls.back().ends_with(" 00 10"))
        << cli_calls.back();

    LoggingSim window(sim_for(window_flash));
    ReplayWindow(c, c.image_size ? image : std::vector<uint8_t>{}, window);
    EXPECT_EQ(cli_calls.size(), window.lines.size());
    for (size_t i = 0; i < std::min(cli_calls.size(), window.lines.size()); ++i) {
      if (cli_calls[i] != window.lines[i]) {
        ADD_FAILURE() << "call " << i
                      << " differs:\n  command line: " << cli_calls[i].substr(0, 120)
                      << "\n  window:       " << window.lines[i].substr(0, 120);
        break;
      }
    }
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quelt::testing
