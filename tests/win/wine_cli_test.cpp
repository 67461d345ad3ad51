// quelt-flasher-cli.exe under Wine, run from the build machine as a user would run it on Windows:
// one process per row, Z:\ paths, the exact exit status and a text it must print. Each row runs on
// the built-in emulator and on the emulator DLL built cdecl and built stdcall, each loaded by its
// path and by the default name (copied as QueltUSB.dll beside a copy of the exe). Then the safe
// mode from the real registry, and the adapter calls of a write and a verify compared, call for
// call, with the Linux build's.
//
// Run by the Windows cross tree's ctest, which names the programs in the environment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_process.h"
#include "test_images.h"

namespace quelt::testing {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) ADD_FAILURE() << name << " is not set: run this through the cross tree";
  return value ? value : "";
}

std::string WinPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

enum class Via { Builtin, CdeclPath, StdcallPath, CdeclDefault, StdcallDefault };
const Via kEveryWay[] = {Via::Builtin, Via::CdeclPath, Via::StdcallPath, Via::CdeclDefault,
                         Via::StdcallDefault};
const char* const kWayNames[] = {"built-in", "cdecl DLL", "stdcall DLL", "cdecl QueltUSB.dll",
                                 "stdcall QueltUSB.dll"};

struct Row {
  std::string label;
  std::string sim;  // emulator options; "{flash:NAME}" is a flash file of the way's own
  std::vector<std::string> args;  // "{file}" is the image's Z:\ path
  std::string file;
  int exit;
  std::string message;  // in standard output, or in standard error when `err`
  bool err = false;
};

// Rows on the same flash file run in this order: a write, then a verify in another process.
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {"identify large", "large", {"identify"}, "", 0, "Quelt JQ Ombrix\n"},
      {"identify base", "base", {"identify"}, "", 0, "\nQuelt JQ\n"},
      {"identify alt", "alt", {"identify"}, "", 4, "Unkown version of Quelt JQ detected.", true},
      {"identify none", "none", {"identify"}, "", 4, "can't communicate with a Quelt JQ", true},
      {"write", "large,flash={flash:a}", {"write", "{file}"}, "large.qlz", 0, "Write complete!"},
      {"verify, next process",
       "large,flash={flash:a}",
       {"verify", "{file}"},
       "large.qlz",
       0,
       "Verify OK!"},
      {"write 0x1A, CR LF",
       "large,flash={flash:b}",
       {"write", "{file}"},
       "ctrl.qlz",
       0,
       "Write complete!"},
      {"verify 0x1A, CR LF",
       "large,flash={flash:b}",
       {"verify", "{file}"},
       "ctrl.qlz",
       0,
       "Verify OK!"},
      {"write, bad cell",
       "large,bad=0x020010,flash={flash:c}",
       {"write", "{file}"},
       "large.qlz",
       0,
       "Write complete!"},
      {"verify mismatch",
       "large,flash={flash:c}",
       {"verify", "{file}"},
       "large.qlz",
       5,
       "Data mismatch in the 128 KiB chunk at flash addresses 0x020000-0x03FFFF",
       true},
      {"refused image",
       "large",
       {"write", "{file}"},
       "wrong-magic.qlz",
       2,
       "This is not a valid Quelt BIOS",
       true},
      {"emulator option refused", "large,bogus=1", {"identify"}, "", 3, "bogus", true},
  };
  return rows;
}

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quelt-wine-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    dir_ = pattern;
    WriteFile(dir_ + "/large.qlz", MakeImage(300000, "WINE LARGE", 7));
    WriteFile(dir_ + "/wrong-magic.qlz", MakeImage(4096, "WINE", 8, "QELX"));
    // Text mode would end this image at its first 0x1A and fold its CR LF pairs.
    std::vector<uint8_t> ctrl = MakeImage(120000, "CTRL-Z CR LF", 9);
    for (size_t at = 40; at < ctrl.size(); at += 997) {
      const uint8_t bytes[] = {0x1A, '\r', '\n', '\n', '\r', 0x1A, 0x1A};
      std::copy(bytes, bytes + sizeof bytes, ctrl.begin() + static_cast<long>(at));
    }
    WriteFile(dir_ + "/ctrl.qlz", ctrl);
    // The default name: a copy of the exe with each DLL beside it as QueltUSB.dll.
    for (const char* convention : {"cdecl", "stdcall"}) {
      const std::string folder = dir_ + "/default-" + convention;
      fs::create_directories(folder);
      fs::copy_file(cli_, folder + "/quelt-flasher-cli.exe");
      fs::copy_file(convention == std::string("cdecl") ? sim_cdecl_ : sim_stdcall_,
                    folder + "/QueltUSB.dll");
    }
    Wine({"reg", "delete", "HKCU\\Software\\Quelt JQ", "/f"});
  }
  void TearDown() override { fs::remove_all(dir_); }

  ProcessResult Run(std::vector<std::string> argv,
                    std::map<std::string, std::optional<std::string>> env = {},
                    const std::string& cwd = "") {
    const std::string work = dir_ + "/run-" + std::to_string(++runs_);
    fs::create_directories(work);
    ProcessRun run;
    run.argv = std::move(argv);
    run.work_dir = work;
    env.emplace("QUELT_ADAPTER", std::nullopt);
    env.emplace("QUELT_SIM", std::nullopt);
    run.env = env;
    if (!cwd.empty()) run.argv.insert(run.argv.begin(), {"/usr/bin/env", "-C", cwd});
    ProcessResult result = RunProcess(run);
    result.out = Replace(result.out, "\r\n", "\n");
    result.err = Replace(result.err, "\r\n", "\n");
    return result;
  }
  ProcessResult Wine(std::vector<std::string> args,
                     std::map<std::string, std::optional<std::string>> env = {},
                     const std::string& cwd = "") {
    args.insert(args.begin(), wine_run_);
    return Run(std::move(args), std::move(env), cwd);
  }
  // The Windows command line on `way`, with `sim` as the emulator's options.
  ProcessResult Cli(Via way, const std::string& sim, const std::vector<std::string>& args,
                    std::map<std::string, std::optional<std::string>> env = {}) {
    std::vector<std::string> argv = {WinPath(cli_)};
    if (way == Via::Builtin) argv.insert(argv.end(), {"--adapter", "sim:" + sim});
    if (way == Via::CdeclPath) argv.insert(argv.end(), {"--adapter", WinPath(sim_cdecl_)});
    if (way == Via::StdcallPath) argv.insert(argv.end(), {"--adapter", WinPath(sim_stdcall_)});
    if (way == Via::CdeclDefault) argv[0] = WinPath(dir_ + "/default-cdecl/quelt-flasher-cli.exe");
    if (way == Via::StdcallDefault)
      argv[0] = WinPath(dir_ + "/default-stdcall/quelt-flasher-cli.exe");
    if (way != Via::Builtin) env["QUELT_SIM"] = sim;
    argv.insert(argv.end(), args.begin(), args.end());
    return Wine(argv, env);
  }
  std::vector<std::string> LogLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string dir_;
  int runs_ = 0;
  const std::string wine_run_ = Env("QUELT_WINE_RUN");
  const std::string cli_ = Env("QUELT_WIN_CLI");
  const std::string sim_cdecl_ = Env("QUELT_WIN_SIM_CDECL");
  const std::string sim_stdcall_ = Env("QUELT_WIN_SIM_STDCALL");
  const std::string record_ = Env("QUELT_WIN_RECORD");
};

TEST_F(WineCli, EveryRowOnEveryWayToTheEmulator) {
  for (const Via way : kEveryWay) {
    const std::string tag = std::to_string(static_cast<int>(way));
    for (const Row& row : Rows()) {
      SCOPED_TRACE(row.label + " [" + kWayNames[static_cast<int>(way)] + "]");
      std::string sim = row.sim;
      for (size_t at; (at = sim.find("{flash:")) != std::string::npos;)
        sim.replace(at, 9, WinPath(dir_ + "/flash-" + sim[at + 7] + "-" + tag + ".bin"));
      std::vector<std::string> args = row.args;
      for (std::string& arg : args) arg = Replace(arg, "{file}", WinPath(dir_ + "/" + row.file));
      const ProcessResult result = Cli(way, sim, args);
      EXPECT_EQ(row.exit, result.exit_status) << result.out << result.err;
      EXPECT_NE(std::string::npos, (row.err ? result.err : "\n" + result.out).find(row.message))
          << result.out << result.err;
    }
    // The image with 0x1A and CR LF bytes is in the chip whole.
    const std::vector<uint8_t> image = ReadFile(dir_ + "/ctrl.qlz");
    const std::vector<uint8_t> flash = ReadFile(dir_ + "/flash-b-" + tag + ".bin");
    ASSERT_EQ(0x200000u, flash.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  }
}

TEST_F(WineCli, AdapterLibrariesThatAreNotThere) {
  // A path that names no DLL; the default name with no QueltUSB.dll beside the exe, run from a
  // folder that holds one (the current folder is never searched); the FTDI adapter.
  const std::string lonely = dir_ + "/lonely";
  fs::create_directories(lonely);
  fs::copy_file(cli_, lonely + "/quelt-flasher-cli.exe");
  fs::copy_file(sim_cdecl_, dir_ + "/default-cdecl/QueltUSB-copy.dll");
  const struct {
    std::vector<std::string> argv;
    std::string cwd;
    std::string message;
  } cases[] = {
      {{WinPath(cli_), "--adapter", "Z:\\nonexistent\\QueltUSB.dll", "identify"},
       "",
       "cannot load Z:\\nonexistent\\QueltUSB.dll"},
      {{WinPath(lonely + "/quelt-flasher-cli.exe"), "identify"},
       dir_ + "/default-cdecl",
       "system32\\QueltUSB.dll"},
      {{WinPath(cli_), "--adapter", "ftdi:0403:6001", "identify"}, "", "not offered on Windows"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.argv[0]);
    const ProcessResult result = Wine(c.argv, {{"QUELT_SIM", "large"}}, c.cwd);
    EXPECT_EQ(3, result.exit_status) << result.err;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
    EXPECT_NE(std::string::npos, result.err.find("Quelt USB Adapter not found")) << result.err;
  }
}

TEST_F(WineCli, ImageFilesReadAsOnLinux) {
  // info: the size and SHA-256 (CNG here, libcrypto on Linux) of an image with 0x1A and CR LF.
  const ProcessResult windows = Wine({WinPath(cli_), "info", WinPath(dir_ + "/ctrl.qlz")});
  const ProcessResult linux = Run({QUELT_CLI, "info", dir_ + "/ctrl.qlz"});
  EXPECT_EQ(0, windows.exit_status) << windows.err;
  EXPECT_NE(std::string::npos, windows.out.find("Size:             120000 bytes"));
  EXPECT_EQ(linux.out.substr(linux.out.find("Name:")),
            windows.out.substr(windows.out.find("Name:")));
  // Refused: a folder, and a file of 3 GiB (sparse), which must read as too big, not unreadable.
  fs::create_directories(dir_ + "/folder.qlz");
  fs::resize_file((std::ofstream(dir_ + "/huge.qlz"), dir_ + "/huge.qlz"), 3ull << 30);
  for (const auto& [file, message] : {std::pair{"folder.qlz", "Error while reading file"},
                                      std::pair{"huge.qlz", "File too big"}}) {
    const ProcessResult result = Wine({WinPath(cli_), "info", WinPath(dir_ + "/" + file)});
    EXPECT_EQ(2, result.exit_status) << file;
    EXPECT_NE(std::string::npos, result.err.find(message)) << result.err;
  }
}

// The stored safe mode picks the speed (seen in the recording DLL's log); the command line never
// writes the key, whether it is there or not.
TEST_F(WineCli, SafeModeFromTheRegistry) {
  const std::string key = "HKCU\\Software\\Quelt JQ";
  for (const char* stored : {"01000000", "02000000", "00000000", ""}) {
    SCOPED_TRACE(stored);
    Wine({"reg", "delete", key, "/f"});
    if (*stored) {
      ASSERT_EQ(0, Wine({"reg", "add", key, "/v", "Mode", "/t", "REG_BINARY", "/d", stored, "/f"})
                       .exit_status);
    }
    const std::string log = dir_ + "/speed-" + stored + ".log";
    const ProcessResult result = Wine({WinPath(cli_), "--adapter", WinPath(record_), "identify"},
                                      {{"QUELT_SIM", "large"}, {"QUELT_RECORD_LOG", WinPath(log)}});
    EXPECT_EQ(0, result.exit_status) << result.err;
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::string(*stored && stored[1] != '0' ? "speed 3" : "speed 2"), lines[1]);
    const ProcessResult query = Wine({"reg", "query", key, "/v", "Mode"});
    EXPECT_EQ(*stored ? 0 : 1, query.exit_status) << query.out;
    if (*stored) {
      EXPECT_NE(std::string::npos, query.out.find(stored)) << query.out;
    }
  }
}

// Same chip, same image: the Windows build and the Linux build make the same adapter calls.
TEST_F(WineCli, AdapterCallsEqualThoseOnLinux) {
  const struct {
    std::string sim;
    std::vector<std::string> args;
  } cases[] = {
      {"large", {"write", "large.qlz", "--verify"}},
      {"large", {"verify", "large.qlz"}},
      {"base", {"write", "ctrl.qlz"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sim + " " + c.args[0]);
    std::vector<std::string> logs;
    for (const bool windows : {true, false}) {
      const std::string name = dir_ + "/calls-" + c.sim + (windows ? "-win" : "-linux");
      const std::string log = name + "-" + c.args[0] + ".log";
      const std::string flash = name + ".bin";
      std::vector<std::string> argv = {windows ? WinPath(cli_) : QUELT_CLI, "--adapter",
                                       windows ? WinPath(record_) : QUELT_RECORD_LIBRARY};
      for (const std::string& arg : c.args)
        argv.push_back(arg.ends_with(".qlz") ? (windows ? WinPath(dir_) + "\\" : dir_ + "/") + arg
                                             : arg);
      std::map<std::string, std::optional<std::string>> env = {
          {"QUELT_SIM", c.sim + ",flash=" + (windows ? WinPath(flash) : flash)},
          {"QUELT_RECORD_LOG", windows ? WinPath(log) : log},
          {"XDG_CONFIG_HOME", dir_ + "/no-settings"}};
      const ProcessResult result = windows ? Wine(argv, env) : Run(argv, env);
      EXPECT_EQ(0, result.exit_status) << result.err;
      logs.push_back(log);
    }
    const std::vector<std::string> windows = LogLines(logs[0]);
    EXPECT_GT(windows.size(), 100u);
    EXPECT_EQ(windows, LogLines(logs[1]));
  }
}

}  // namespace
}  // namespace quelt::testing
