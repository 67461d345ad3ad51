// quelt-flasher-cli.exe under Wine, one process per run with Z:\ paths, as a user runs it on
// Windows: the rows on the built-in emulator and on the emulator DLL built cdecl and stdcall,
// each loaded by its path and by the default name; single runs; the adapter calls of a write and a
// verify against the Linux build's. The cross tree's ctest runs this and names the Windows programs
// in the environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

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
    {"large,flash={flash1}", "write @/large.qlz", 0, "Write complete!"},
    {"large,flash={flash1}", "verify @/large.qlz", 0, "Verify OK!"},
    {"large,flash={flash2}", "write @/ctrl.qlz", 0, "Write complete!"},  // 0x1A and CR LF
    {"large,flash={flash2}", "verify @/ctrl.qlz", 0, "Verify OK!"},
    {"large,bad=0x20010,flash={flash1}", "write @/large.qlz", 0, "Write complete!"},
    {"large,flash={flash1}", "verify @/large.qlz", 5,
     "!Data mismatch in the 128 KiB chunk at flash addresses 0x020000-0x03FFFF"},
    {"large", "write @/wrong-magic.qlz", 2, "!This is not a valid Quelt BIOS"},
    {"large,bogus=1", "identify", 3, "!bogus"},
};
// The ways to the emulator: built in, the DLLs by their paths, and as QueltUSB.dll beside a copy
// of the program.
const char* const kWays[] = {"--adapter sim:", "--adapter @CDECL", "--adapter @STDCALL",
                             "@/cdecl/quelt-flasher-cli.exe", "@/stdcall/quelt-flasher-cli.exe"};

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ + "/large.qlz", MakeImage(300000, "WINE LARGE", 7));
    WriteFile(dir_ + "/wrong-magic.qlz", MakeImage(4096, "WINE", 8, "QELX"));
    WriteFile(dir_ + "/small.qlz", MakeImage(1023, "WINE SMALL", 10));
    std::vector<uint8_t> ctrl = MakeImage(120000, "CTRL-Z CR LF", 9);  // text mode would spoil it
    for (size_t at = 40; at + 8 < ctrl.size(); at += 997) {
      for (const int byte : {0x1A, 0x0D, 0x0A, 0x0A, 0x0D, 0x1A}) ctrl[at++] = uint8_t(byte);
    }
    WriteFile(dir_ + "/ctrl.qlz", ctrl);
    for (const std::string folder : {"/cdecl", "/stdcall", "/lonely"}) {
      fs::create_directories(dir_ + folder);
      fs::copy_file(programs_.at("CLI"), dir_ + folder + "/quelt-flasher-cli.exe");
    }
    fs::copy_file(programs_.at("CDECL"), dir_ + "/cdecl/QueltUSB.dll");
    fs::copy_file(programs_.at("STDCALL"), dir_ + "/stdcall/QueltUSB.dll");
    Run("reg delete HKCU\\Software\\Quelt~JQ /f");
  }

  // Runs `args` under Wine (the Linux programs with `linux`): "@" starts a path below the test's
  // folder, "@NAME" names a program (programs_), "~" stands for a space.
  ProcessResult Run(const std::string& args, Env env = {}, const std::string& cwd = "",
                    bool linux = false, const std::string& interrupt_after = "") {
    ProcessRun run{{}, env, dir_ + "/run-" + std::to_string(++runs_), interrupt_after};
    fs::create_directories(run.work_dir);
    if (!cwd.empty()) run.argv = {"/usr/bin/env", "-C", dir_ + cwd};
    if (!linux) run.argv.push_back(FromEnv("QUELT_WINE_RUN"));
    std::istringstream words(args);
    for (std::string w; words >> w;) {
      std::replace(w.begin(), w.end(), '~', ' ');
      if (const auto at = w.find('@'); at != std::string::npos) {
        const auto end = w.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ", at + 1);
        const std::string name = w.substr(at + 1, end - at - 1);
        w.replace(at, end - at, name.empty() ? dir_ : programs_.at(name));
      }
      run.argv.push_back(w.starts_with("/") && !linux ? Win(w) : w);
    }
    run.env.emplace("QUELT_ADAPTER", std::nullopt);
    run.env.emplace("QUELT_SIM", std::nullopt);
    ProcessResult result = RunProcess(run);
    for (std::string* text : {&result.out, &result.err}) std::erase(*text, '\r');
    return result;
  }

  const test::TempDir temp_;
  const std::string dir_ = temp_.path().string();
  int runs_ = 0;
  const std::map<std::string, std::string> programs_ = {
      {"CLI", FromEnv("QUELT_WIN_CLI")},
      {"CDECL", FromEnv("QUELT_WIN_SIM_CDECL")},
      {"STDCALL", FromEnv("QUELT_WIN_SIM_STDCALL")},
      {"RECORD", FromEnv("QUELT_WIN_RECORD")},
      {"LCLI", QUELT_CLI},
      {"LRECORD", QUELT_RECORD_LIBRARY}};
};

TEST_F(WineCli, EveryRowOnEveryWayToTheEmulator) {
  for (const std::string way : kWays) {
    const std::string flash = dir_ + "/flash-" + std::to_string(runs_);
    for (const Row& row : kRows) {
      SCOPED_TRACE(row.sim + " " + row.args + " [" + way + "]");
      std::string sim = row.sim;
      if (size_t at = sim.find("{flash"); at != std::string::npos)
        sim.replace(at, 8, Win(flash + sim.substr(at + 6, 1) + ".bin"));
      const bool builtin = way.ends_with("sim:"), own = way.starts_with("@");
      const ProcessResult result =
          Run((own ? way : "@CLI " + way + (builtin ? sim : "")) + " " + row.args,
              {{"QUELT_SIM", builtin ? std::optional<std::string>() : sim}});
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

// Adapters that are not there or are no adapter (a DLL without the entries; a QueltUSB.dll in
// the current folder is not loaded), image files that are refused, and Ctrl-C (Wine turns SIGINT
// into the console's Ctrl-C event), which means what it means on Linux.
TEST_F(WineCli, SingleRuns) {
  fs::create_directories(dir_ + "/folder.qlz");
  fs::resize_file((std::ofstream(dir_ + "/huge.qlz"), dir_ + "/huge.qlz"), 3ull << 30);  // sparse
  const struct {
    std::string args, cwd, interrupt_after;
    int exit;
    std::string message;
  } cases[] = {
      {"@CLI --adapter /nonexistent/QueltUSB.dll identify", "", "", 3,
       "cannot load Z:\\nonexistent\\QueltUSB.dll"},
      {"@/lonely/quelt-flasher-cli.exe identify", "/cdecl", "", 3, "system32\\QueltUSB.dll"},
      {"@CLI --adapter C:\\windows\\system32\\ntdll.dll identify", "", "", 3,
       "ntdll.dll lacks the entry point QueltProgrammerWrite"},
      {"@CLI --adapter ftdi:0403:6001 identify", "", "", 3, "not offered on Windows"},
      {"@CLI info @/folder.qlz", "", "", 2, "Error while reading file"},
      {"@CLI info @/huge.qlz", "", "", 2, "File too big"},
      {"@CLI --adapter sim:large,rate=20000,erase-polls=2000 write @/small.qlz", "",
       "Erasing the chip", 6, "Write operation cancelled"},
      {"@CLI --adapter sim:large,rate=20000 write @/small.qlz", "", "Writing...", 0,
       "programming cannot be cancelled"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const ProcessResult result =
        Run(c.args, {{"QUELT_SIM", "large"}}, c.cwd, false, c.interrupt_after);
    EXPECT_EQ(c.exit, result.exit_status) << result.err;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
    EXPECT_EQ(!c.interrupt_after.empty(), result.interrupted);
  }
  // The size and SHA-256 (CNG here, libcrypto on Linux) of the image with 0x1A and CR LF.
  const ProcessResult windows = Run("@CLI info @/ctrl.qlz");
  const ProcessResult linux = Run("@LCLI info @/ctrl.qlz", {}, "", true);
  EXPECT_NE(std::string::npos, windows.out.find("Size:             120000 bytes"));
  EXPECT_EQ(linux.out.substr(linux.out.find("Name:")),
            windows.out.substr(windows.out.find("Name:")));
}

// The same chip and image: the Windows build makes the adapter calls that the Linux build makes.
TEST_F(WineCli, AdapterCallsEqualThoseOnLinux) {
  for (const std::string run :
       {"large write @/large.qlz --verify", "large verify @/large.qlz", "base write @/ctrl.qlz"}) {
    SCOPED_TRACE(run);
    const std::string sim = run.substr(0, run.find(' ')), args = run.substr(sim.size());
    std::vector<std::vector<std::string>> logs;
    for (const bool linux : {false, true}) {
      const std::string name = dir_ + "/calls-" + sim + (linux ? "-linux" : "-win");
      const std::string log = name + "-" + std::to_string(runs_) + ".log";
      auto path = [&](const std::string& p) { return linux ? p : Win(p); };
      const ProcessResult result =
          Run((linux ? "@LCLI --adapter @LRECORD" : "@CLI --adapter @RECORD") + args,
              {{"QUELT_SIM", sim + ",flash=" + path(name + ".bin")},
               {"QUELT_RECORD_LOG", path(log)},
               {"XDG_CONFIG_HOME", dir_ + "/no-settings"}},
              "", linux);
      EXPECT_EQ(0, result.exit_status) << result.err;
      logs.push_back(Lines(log));
    }
    EXPECT_GT(logs[0].size(), 100u);
    EXPECT_EQ(logs[0], logs[1]);
  }
}

}  // namespace
}  // namespace quelt::testing
