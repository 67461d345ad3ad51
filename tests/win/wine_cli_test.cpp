// quelt-flasher-cli.exe under Wine, one process per run with Z:\ paths, as a user runs it on
// Windows. The cross tree's ctest runs this and names the Windows programs in the environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/cli/run_process.h"
#include "tests/support/test_files.h"

namespace quelt::testing {
namespace {

namespace fs = std::filesystem;

std::string Win(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    // 0x1A and CR LF in the image: a file read in text mode would lose or change them.
    image_ = test::ImageBytes(120000, "CTRL-Z CR LF", 9);
    std::copy_n("\x1A\r\n\n\r\x1A", 6, image_.begin() + 40);
    test::WriteFile(dir_ + "/ctrl.qlz", image_);
    test::WriteFile(dir_ + "/small.qlz", test::ImageBytes(1023, "WINE SMALL", 10));
    for (const auto& [folder, dll] : {std::pair{"/cdecl", "CDECL"}, {"/stdcall", "STDCALL"}}) {
      fs::create_directories(dir_ + folder);
      fs::copy_file(programs_.at("CLI"), dir_ + folder + "/quelt-flasher-cli.exe");
      fs::copy_file(programs_.at(dll), dir_ + folder + "/QueltUSB.dll");
    }
    Run("reg delete HKCU\\Software\\Quelt~JQ -f", {});  // no safe mode left by another test
  }

  // Runs `args` under Wine, or the Linux programs (@LCLI) as they are: "@" starts a path below the
  // test's folder, "@NAME" names a program (programs_), "~" stands for a space.
  ProcessResult Run(const std::string& args, std::map<std::string, std::optional<std::string>> env,
                    const std::string& cwd = "", const std::string& interrupt_after = "") {
    const bool linux = args.starts_with("@L");
    ProcessRun run{{}, env, dir_ + "/run-" + std::to_string(++runs_), interrupt_after};
    fs::create_directories(run.work_dir);
    if (!cwd.empty()) run.argv = {"/usr/bin/env", "-C", dir_ + cwd};
    if (!linux) run.argv.push_back(programs_.at("WINE"));
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
    run.env.emplace("XDG_CONFIG_HOME", dir_ + "/no-settings");
    ProcessResult result = RunProcess(run);
    for (std::string* text : {&result.out, &result.err}) std::erase(*text, '\r');
    return result;
  }

  static std::string Env(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

  const test::TempDir temp_;
  const std::string dir_ = temp_.path().string();
  int runs_ = 0;
  test::Bytes image_;
  const std::map<std::string, std::string> programs_ = {
      {"WINE", Env("QUELT_WINE_RUN")},       {"CLI", Env("QUELT_WIN_CLI")},
      {"CDECL", Env("QUELT_WIN_SIM_CDECL")}, {"STDCALL", Env("QUELT_WIN_SIM_STDCALL")},
      {"RECORD", Env("QUELT_WIN_RECORD")},   {"LCLI", QUELT_CLI},
      {"LRECORD", QUELT_RECORD_LIBRARY}};
};

// The ways to the emulator: built in, the DLLs by their paths, and as QueltUSB.dll beside a copy
// of the program; last the Linux build. On each, a write and a verify in another process, which
// maps the file again, and an emulator that refuses to open.
TEST_F(WineCli, WriteAndVerifyOnEveryWayToTheEmulator) {
  for (const std::string way : {"@CLI --adapter sim:", "@CLI --adapter @RECORD",
                                "@CLI --adapter @STDCALL", "@/cdecl/quelt-flasher-cli.exe",
                                "@/stdcall/quelt-flasher-cli.exe", "@LCLI --adapter @LRECORD"}) {
    const bool linux = way.starts_with("@L"), builtin = way.ends_with("sim:");
    auto path = [&](const std::string& p) { return linux ? p : Win(p); };
    const std::string flash = dir_ + "/flash-" + std::to_string(runs_);
    const std::string sim = "large,flash=" + path(flash);
    for (const auto& [options, command, exit, message] :
         {std::tuple{sim, "write @/ctrl.qlz", 0, "Write complete!"},
          {sim, "verify @/ctrl.qlz", 0, "Verify OK!"},
          {std::string("large,bogus=1"), "identify", 3, "bogus"}}) {  // the adapter's open fails
      SCOPED_TRACE(way + " " + command);
      const ProcessResult result =
          Run(way + (builtin ? options : "") + " " + command,
              {{"QUELT_SIM", builtin ? std::optional<std::string>() : options},
               {"QUELT_RECORD_LOG", path(dir_ + (linux ? "/linux.log" : "/win.log"))}});
      EXPECT_EQ(exit, result.exit_status) << result.out << result.err;
      EXPECT_NE(std::string::npos, (result.out + result.err).find(message)) << result.err;
    }
    const test::Bytes chip = test::ReadFile(flash);
    EXPECT_TRUE(chip.size() == 0x200000 && std::equal(image_.begin(), image_.end(), chip.begin()));
  }
  // The same chip and image: the Windows build makes the adapter calls that the Linux build makes.
  const std::string calls = ReadText(dir_ + "/win.log");
  EXPECT_GT(std::count(calls.begin(), calls.end(), '\n'), 100);
  EXPECT_EQ(calls, ReadText(dir_ + "/linux.log"));
}

// Adapters that are not there or are no adapter (a DLL without the entries; a QueltUSB.dll in
// the current folder is not loaded), image files that are refused, and Ctrl-C (Wine turns SIGINT
// into the console's Ctrl-C event), which means what it means on Linux.
TEST_F(WineCli, SingleRuns) {
  fs::create_directories(dir_ + "/folder.qlz");
  fs::resize_file((std::ofstream(dir_ + "/huge.qlz"), dir_ + "/huge.qlz"), 3ull << 30);  // sparse
  // Arguments, the current folder, the text after which Ctrl-C comes, exit status, message.
  const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
      {"@CLI --adapter /nonexistent/QueltUSB.dll identify", "", "", 3, "cannot load Z:\\nonex"},
      {"@CLI identify", "/cdecl", "", 3, "system32\\QueltUSB.dll"},
      {"@CLI --adapter C:\\windows\\system32\\ntdll.dll identify", "", "", 3, "ProgrammerWrite"},
      {"@CLI --adapter ftdi:0403:6001 identify", "", "", 3, "not offered on Windows"},
      {"@CLI info @/folder.qlz", "", "", 2, "Error while reading file"},
      {"@CLI info @/huge.qlz", "", "", 2, "File too big"},
      {"@CLI --adapter sim:large,rate=20000,erase-polls=2000 write @/small.qlz", "",
       "Erasing the chip", 6, "Write operation cancelled"},
      {"@CLI --adapter sim:large,rate=20000 write @/small.qlz", "", "Writing...", 0,
       "programming cannot be cancelled"},
  };
  for (const auto& [args, cwd, interrupt_after, exit, message] : cases) {
    SCOPED_TRACE(args);
    const ProcessResult result = Run(args, {{"QUELT_SIM", "large"}}, cwd, interrupt_after);
    EXPECT_EQ(exit, result.exit_status) << result.err;
    EXPECT_NE(std::string::npos, result.err.find(message)) << result.err;
    EXPECT_EQ(!interrupt_after.empty(), result.interrupted);
  }
  // The size and SHA-256 (CNG here, libcrypto on Linux) of the image with 0x1A and CR LF.
  const std::string windows = Run("@CLI info @/ctrl.qlz", {}).out;
  const std::string linux = Run("@LCLI info @/ctrl.qlz", {}).out;
  EXPECT_NE(std::string::npos, windows.find("Size:             120000 bytes"));
  EXPECT_EQ(linux.substr(linux.find("Name:")), windows.substr(windows.find("Name:")));
}

}  // namespace
}  // namespace quelt::testing
