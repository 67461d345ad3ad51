// quelt-flasher-cli.exe under Wine, run from the build machine as a user runs it on Windows: one
// process per run, Z:\ paths, the exact exit status and a text it must print. The rows run on the
// built-in emulator and on the emulator DLL built cdecl and built stdcall, each loaded by its path
// and by the default name (a copy of the exe with the DLL beside it as QueltUSB.dll). Then runs
// that need no emulator, the safe mode from the real registry, and the adapter calls of a write and
// a verify compared, call for call, with the Linux build's. The cross tree's ctest runs this and
// names the Windows programs in the environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/run_process.h"
#include "tests/cli/test_images.h"
#include "tests/support/test_files.h"

namespace quelt::testing {
namespace {

namespace fs = std::filesystem;
using Env = std::map<std::string, std::optional<std::string>>;

std::string FromEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) ADD_FAILURE() << name << " is not set: run this from the cross tree";
  return value ? value : "";
}

std::string Win(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

enum Way { kBuiltin, kCdecl, kStdcall, kCdeclDefault, kStdcallDefault, kWays };
const char* const kWayNames[kWays] = {"built-in", "cdecl DLL", "stdcall DLL", "cdecl QueltUSB.dll",
                                      "stdcall QueltUSB.dll"};

struct Row {
  std::string sim;  // emulator options; "{flashN}" is flash file N of the way's own
  std::string args;
  int exit;
  std::string message;  // in standard output, or after "!" in standard error
};
// Rows on one flash file run in order: a write, then a verify in another process.
const Row kRows[] = {
    {"large", "identify", 0, "\nQuelt JQ Ombrix\n"},
    {"base", "identify", 0, "\nQuelt JQ\n"},
    {"alt", "identify", 4, "!Unkown version of Quelt JQ detected."},
    {"none", "identify", 4, "!can't communicate with a Quelt JQ"},
    {"large,flash={flash1}", "write large.qlz", 0, "Write complete!"},
    {"large,flash={flash1}", "verify large.qlz", 0, "Verify OK!"},
    {"large,flash={flash2}", "write ctrl.qlz", 0, "Write complete!"},  // 0x1A and CR LF
    {"large,flash={flash2}", "verify ctrl.qlz", 0, "Verify OK!"},
    {"large,bad=0x20010,flash={flash1}", "write large.qlz", 0, "Write complete!"},
    {"large,flash={flash1}", "verify large.qlz", 5,
     "!Data mismatch in the 128 KiB chunk at flash addresses 0x020000-0x03FFFF"},
    {"large", "write wrong-magic.qlz", 2, "!This is not a valid Quelt BIOS"},
    {"large,bogus=1", "identify", 3, "!bogus"},
};

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ + "/large.qlz", MakeImage(300000, "WINE LARGE", 7));
    WriteFile(dir_ + "/wrong-magic.qlz", MakeImage(4096, "WINE", 8, "QELX"));
    WriteFile(dir_ + "/small.qlz", MakeImage(1023, "WINE SMALL", 10));
    // Text mode would end this image at its first 0x1A and fold its CR LF pairs.
    std::vector<uint8_t> ctrl = MakeImage(120000, "CTRL-Z CR LF", 9);
    for (size_t at = 40; at + 8 < ctrl.size(); at += 997) {
      for (const int byte : {0x1A, 0x0D, 0x0A, 0x0A, 0x0D, 0x1A})
        ctrl[at++] = static_cast<uint8_t>(byte);
    }
    WriteFile(dir_ + "/ctrl.qlz", ctrl);
    for (const std::string folder : {"/cdecl", "/stdcall", "/lonely"}) {
      fs::create_directories(dir_ + folder);
      fs::copy_file(cli_, dir_ + folder + "/quelt-flasher-cli.exe");
    }
    fs::copy_file(sim_cdecl_, dir_ + "/cdecl/QueltUSB.dll");
    fs::copy_file(sim_stdcall_, dir_ + "/stdcall/QueltUSB.dll");
    Run({"reg", "delete", "HKCU\\Software\\Quelt JQ", "/f"});
  }

  // Runs `argv` under Wine (or as it is, for the Linux command line), in `cwd` when given.
  ProcessResult Run(std::vector<std::string> argv, Env env = {}, const std::string& cwd = "",
                    bool wine = true, const std::string& interrupt_after = "") {
    ProcessRun run;
    run.interrupt_after = interrupt_after;
    run.work_dir = dir_ + "/run-" + std::to_string(++runs_);
    fs::create_directories(run.work_dir);
    if (wine) argv.insert(argv.begin(), wine_run_);
    if (!cwd.empty()) argv.insert(argv.begin(), {"/usr/bin/env", "-C", cwd});
    run.argv = argv;
    env.emplace("QUELT_ADAPTER", std::nullopt);
    env.emplace("QUELT_SIM", std::nullopt);
    run.env = env;
    ProcessResult result = RunProcess(run);
    for (std::string* text : {&result.out, &result.err}) std::erase(*text, '\r');
    return result;
  }

  const test::TempDir temp_;
  const std::string dir_ = temp_.path().string();
  int runs_ = 0;
  const std::string wine_run_ = FromEnv("QUELT_WINE_RUN");
  const std::string cli_ = FromEnv("QUELT_WIN_CLI");
  const std::string sim_cdecl_ = FromEnv("QUELT_WIN_SIM_CDECL");
  const std::string sim_stdcall_ = FromEnv("QUELT_WIN_SIM_STDCALL");
  const std::string record_ = FromEnv("QUELT_WIN_RECORD");
};

TEST_F(WineCli, EveryRowOnEveryWayToTheEmulator) {
  for (int way = 0; way < kWays; ++way) {
    const std::string flash = dir_ + "/flash-" + std::to_string(way);
    for (const Row& row : kRows) {
      SCOPED_TRACE(row.sim + " " + row.args + " [" + kWayNames[way] + "]");
      std::string sim = row.sim;
      if (size_t at = sim.find("{flash"); at != std::string::npos)
        sim.replace(at, sim.find('}') - at + 1, Win(flash + sim.substr(at + 6, 1) + ".bin"));
      std::vector<std::string> argv = {Win(cli_)};
      Env env;
      if (way == kBuiltin) argv.insert(argv.end(), {"--adapter", "sim:" + sim});
      if (way == kCdecl || way == kStdcall)
        argv.insert(argv.end(), {"--adapter", Win(way == kCdecl ? sim_cdecl_ : sim_stdcall_)});
      if (way == kCdeclDefault || way == kStdcallDefault)
        argv[0] =
            Win(dir_ + (way == kCdeclDefault ? "/cdecl" : "/stdcall") + "/quelt-flasher-cli.exe");
      if (way != kBuiltin) env["QUELT_SIM"] = sim;
      const std::string command = row.args.substr(0, row.args.find(' '));
      argv.push_back(command);
      if (command != row.args)
        argv.push_back(Win(dir_ + "/" + row.args.substr(command.size() + 1)));

      const ProcessResult result = Run(argv, env);
      EXPECT_EQ(row.exit, result.exit_status) << result.out << result.err;
      const bool err = row.message[0] == '!';
      EXPECT_NE(std::string::npos,
                (err ? result.err : "\n" + result.out).find(row.message.substr(err ? 1 : 0)))
          << result.out << result.err;
    }
    const std::vector<uint8_t> image = ReadFile(dir_ + "/ctrl.qlz");
    const std::vector<uint8_t> chip = ReadFile(flash + "2.bin");
    ASSERT_EQ(0x200000u, chip.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), chip.begin()));
  }
}

// Single runs: adapters that are not there or are no adapter (a DLL without the entries), image
// files that are refused, and Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event), which
// means what it means on Linux.
TEST_F(WineCli, SingleRuns) {
  fs::create_directories(dir_ + "/folder.qlz");
  fs::resize_file((std::ofstream(dir_ + "/huge.qlz"), dir_ + "/huge.qlz"), 3ull << 30);  // sparse
  const std::string cli = Win(cli_), small = Win(dir_ + "/small.qlz");
  const struct {
    std::vector<std::string> argv;
    std::string cwd;  // the current folder (a QueltUSB.dll there must not be loaded)
    std::string interrupt_after;
    int exit;
    std::string message;
  } cases[] = {
      {{cli, "--adapter", "Z:\\nonexistent\\QueltUSB.dll", "identify"},
       "",
       "",
       3,
       "cannot load Z:\\nonexistent\\QueltUSB.dll"},
      {{Win(dir_ + "/lonely/quelt-flasher-cli.exe"), "identify"},
       dir_ + "/cdecl",
       "",
       3,
       "system32\\QueltUSB.dll"},
      {{cli, "--adapter", "C:\\windows\\system32\\ntdll.dll", "identify"},
       "",
       "",
       3,
       "ntdll.dll lacks the entry point QueltProgrammerWrite"},
      {{cli, "--adapter", "ftdi:0403:6001", "identify"}, "", "", 3, "not offered on Windows"},
      {{cli, "info", Win(dir_ + "/folder.qlz")}, "", "", 2, "Error while reading file"},
      {{cli, "info", Win(dir_ + "/huge.qlz")}, "", "", 2, "File too big"},
      {{cli, "--adapter", "sim:large,rate=20000,erase-polls=2000", "write", small},
       "",
       "Erasing the chip",
       6,
       "Write operation cancelled"},
      {{cli, "--adapter", "sim:large,rate=20000", "write", small},
       "",
       "Writing...",
       0,
       "programming cannot be cancelled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv[c.argv.size() - 2] + " " + c.argv.back());
    const ProcessResult result =
        Run(c.argv, {{"QUELT_SIM", "large"}}, c.cwd, true, c.interrupt_after);
    EXPECT_EQ(c.exit, result.exit_status) << result.err;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
    EXPECT_EQ(!c.interrupt_after.empty(), result.interrupted);
  }
  // The size and SHA-256 (CNG here, libcrypto on Linux) of the image with 0x1A and CR LF.
  const ProcessResult windows = Run({cli, "info", Win(dir_ + "/ctrl.qlz")});
  const ProcessResult linux = Run({QUELT_CLI, "info", dir_ + "/ctrl.qlz"}, {}, "", false);
  EXPECT_NE(std::string::npos, windows.out.find("Size:             120000 bytes"));
  EXPECT_EQ(linux.out.substr(linux.out.find("Name:")),
            windows.out.substr(windows.out.find("Name:")));
}

// The stored safe mode picks the speed, seen in the recording DLL's log; the command line never
// writes the key, whether it is there or not. (How each stored value reads: registry_win32_test.)
TEST_F(WineCli, SafeModeFromTheRegistry) {
  const std::string key = "HKCU\\Software\\Quelt JQ";
  for (const std::string stored : {"01000000", ""}) {
    SCOPED_TRACE(stored);
    Run({"reg", "delete", key, "/f"});
    if (!stored.empty()) {
      ASSERT_EQ(0, Run({"reg", "add", key, "/v", "Mode", "/t", "REG_BINARY", "/d", stored, "/f"})
                       .exit_status);
    }
    const std::string log = dir_ + "/speed" + stored + ".log";
    const ProcessResult result = Run({Win(cli_), "--adapter", Win(record_), "identify"},
                                     {{"QUELT_SIM", "large"}, {"QUELT_RECORD_LOG", Win(log)}});
    EXPECT_EQ(0, result.exit_status) << result.err;
    ASSERT_GE(Lines(log).size(), 2u);
    EXPECT_EQ(stored.empty() ? "speed 2" : "speed 3", Lines(log)[1]);
    const ProcessResult query = Run({"reg", "query", key, "/v", "Mode"});
    EXPECT_EQ(stored.empty() ? 1 : 0, query.exit_status) << query.out;
    EXPECT_NE(std::string::npos, query.out.find(stored)) << query.out;
  }
}

// The same chip and image: the Windows build makes the adapter calls that the Linux build makes.
TEST_F(WineCli, AdapterCallsEqualThoseOnLinux) {
  const struct {
    std::string sim, command, image;
  } cases[] = {{"large", "write --verify", "large.qlz"},
               {"large", "verify", "large.qlz"},  // the chip that the write above left
               {"base", "write", "ctrl.qlz"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sim + " " + c.command);
    std::vector<std::vector<std::string>> logs;
    for (const bool windows : {true, false}) {
      const std::string name = dir_ + "/calls-" + c.sim + (windows ? "-win" : "-linux");
      const std::string log = name + "-" + std::to_string(runs_) + ".log";
      auto path = [&](const std::string& p) { return windows ? Win(p) : p; };
      std::vector<std::string> argv = {windows ? Win(cli_) : QUELT_CLI, "--adapter",
                                       windows ? Win(record_) : QUELT_RECORD_LIBRARY, "write",
                                       path(dir_ + "/" + c.image)};
      if (c.command == "verify") argv[3] = "verify";
      if (c.command == "write --verify") argv.push_back("--verify");
      const ProcessResult result = Run(argv,
                                       {{"QUELT_SIM", c.sim + ",flash=" + path(name + ".bin")},
                                        {"QUELT_RECORD_LOG", path(log)},
                                        {"XDG_CONFIG_HOME", dir_ + "/no-settings"}},
                                       "", windows);
      EXPECT_EQ(0, result.exit_status) << result.err;
      logs.push_back(Lines(log));
    }
    EXPECT_GT(logs[0].size(), 100u);
    EXPECT_EQ(logs[0], logs[1]);
  }
}

}  // namespace
}  // namespace quelt::testing
