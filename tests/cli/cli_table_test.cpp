// Runs the real quelt-flasher-cli, one process per step, on the built-in chip emulator ("sim:...")
// and on the stand-in libftdi1: its exit status, what it says and what the flash file holds after.
// A row's steps share one folder and flash file. small.qlz's SHA-256 was taken with sha256sum.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tests/cli/run_process.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

enum class Flash { Any, Erased, Holds, NotImage };  // the flash file after the step

struct Step {
  int exit = 0;
  // Lines on standard output when `exit` is 0, else on standard error ("2>" in front: there).
  std::string text = "";
  Flash flash = Flash::Any;
  std::string absent = "";       // nowhere in the output
  std::string args = "";         // after the adapter; the word "{file}" is `file`
  std::string file = "";         // an image of kImages, "missing.qlz" or a sample's path
  std::string flash_image = "";  // the image the flash check compares ("" = `file`)
  std::string interrupt = "";    // SIGINT once standard error shows each line of this
};

struct Scenario {
  std::string name;
  std::string sim;  // the emulator's options, or the stand-in libftdi1's devices and chip
  std::vector<Step> steps;
  std::string adapter = "-";    // "-": the emulator; "": none at all; else --adapter's value
  bool adapter_in_env = false;  // QUELT_ADAPTER instead of --adapter
  int stored_mode = -1;         // the window's stored "Mode" setting
  std::string flash = "";       // an image of kImages copied as the flash file first
};

const std::tuple<const char*, int32_t, const char*> kImages[] = {
    {"large.qlz", 300000, "QELT"},       {"full.qlz", 0x200000, "QELT"},
    {"base.qlz", 0x20000, "QELT"},       {"base-over.qlz", 0x20001, "QELT"},
    {"small.qlz", 1023, "QELT"},         {"wrong-magic.qlz", 4096, "QELX"},
    {"over-2mib.qlz", 0x200001, "QELT"}, {"empty.qlz", 0, "QELT"},
};

const char kNoChip[] = "can't communicate with a Quelt JQ or Quelt JQ Ombrix chip";
const char kWc[] = "Write complete!";
const char kOk[] = "Verify OK!";
const char kNotOnBase[] =
    "Verification is not available for the Quelt JQ, so nothing was erased or written";
const char kOnlyOmbrix[] = "This feature is only implemented for Quelt JQ Ombrix for now...";
const char kErase[] = "Erase error: The chip did not finish erasing. Nothing was programmed.";
const std::string kMismatch =
    "Verify Error!: Data mismatch in the 128 KiB chunk at flash addresses ";

// A fault-matrix row: a clean write of `prime` (if any), then identify, write, write --verify and
// verify of `image`, `fault` added to the options; the flash checks compare with `prime`.
Scenario Row(const std::string& name, const std::string& sim, const std::string& fault,
             const std::string& flags, const std::string& image, const std::string& prime,
             std::vector<Step> cells, const std::string& flash = "") {
  Scenario s{name, sim, {}, "-", false, -1, flash};
  if (!prime.empty()) s.steps.push_back({0, kWc, Flash::Holds, "", "--quiet write {file}", prime});
  const char* const commands[] = {"identify", "write {file}", "write {file} --verify",
                                  "verify {file}"};
  for (size_t i = 0; i < cells.size(); ++i) {
    cells[i].args = (fault.empty() ? "" : "--adapter sim:" + sim + fault + " ") + flags +
                    "--quiet " + commands[i];
    cells[i].file = i == 0 ? "" : image;
    cells[i].flash_image = prime.empty() ? flash : prime;
    s.steps.push_back(cells[i]);
  }
  return s;
}
std::vector<Step> All(const Step& cell) { return {cell, cell, cell, cell}; }

const Step kIdBase{0, "Quelt JQ", Flash::Any, "Ombrix", "identify"};
const Step kIdLarge{0, "Quelt JQ Ombrix", Flash::Any, "", "identify"};
const char kFt232r[] = "dev=0403:6001:A1:FT232R USB UART";

const std::vector<Scenario>& Scenarios() {
  using F = Flash;
  // clang-format off
  static const std::vector<Scenario> table = {
    // Through an FTDI adapter in bit-bang mode: the simulated device of the stand-in libftdi1.
    {"ftdi_sample_2m", std::string(kFt232r) + ";chip=large,flash=flash.bin", {{0, "2>opened 0403:6001 \"FT232R USB UART\" serial \"A1\"", F::Holds, "", "write {file}", QUELT_SAMPLES_DIR "/demo-2m.qlz"}, {0, kOk, F::Any, "", "verify {file}", QUELT_SAMPLES_DIR "/demo-2m.qlz"}}, "ftdi"},
    {"ftdi_several_devices", std::string(kFt232r) + ";dev=0403:6001:A2:FT232R USB UART;chip=large", {{3, "index=1: 0403:6001 \"FT232R USB UART\" serial \"A2\"", F::Any, "", "identify"}}, "ftdi"},
    {"ftdi_no_permission", std::string(kFt232r) + ";denied;chip=large", {{3, "res/60-quelt-flasher-ftdi.rules", F::Any, "", "identify"}}, "ftdi"},
    {"adapter_from_env", "base", {kIdBase}, "sim:base", true},
    {"samples_base", "base,flash=flash.bin", {{0, kWc, F::Holds, "", "write {file}", QUELT_SAMPLES_DIR "/demo-128k.qlz"}, {0, kWc, F::Holds, "", "write {file}", "base.qlz"}, {4, "File too big for Quelt JQ!", F::Holds, "", "write {file}", "base-over.qlz", "base.qlz"}}},
    // The speed stored by the window, and --fast over it.
    {"stored_safe_mode", "large,slow", {{0, kOk, F::Any, "", "write {file} --verify", "large.qlz"}, {5, "Verify Error!", F::Any, "", "--fast write {file} --verify", "large.qlz"}}, "-", false, 1},
    {"images_refused", "large", {{2, "This is not a valid Quelt BIOS", F::Any, "", "write {file}", "wrong-magic.qlz"}, {2, "Error while trying to open file", F::Any, "", "verify {file}", "missing.qlz"}, {2, "File too big", F::Any, "", "write {file}", "over-2mib.qlz"}}},
    {"missing_adapter_library", "", {{3, "Quelt USB Adapter not found", F::Any, "", "identify"}}, "/nonexistent/libQueltUSB.so"},
    {"no_adapter", "", {{3, "Quelt USB Adapter not found", F::Any, "", "identify"}}, ""},
    {"emulator_option_refused", "", {{3, "emulator option \"colour=blue\" is unknown", F::Any, "", "identify"}}, "sim:large,colour=blue"},
    // Ctrl-C during the erase: the erase completes, nothing is programmed. The chip is written
    // first so that the erase shows.
    {"ctrl_c_during_erase", "large,flash=flash.bin", {{0, kWc, F::Any, "", "--quiet write {file}", "base.qlz"}, {6, "Write operation cancelled\nthe erase finishes first, then the write stops", F::Erased, "Writing...", "--adapter sim:large,flash=flash.bin,rate=20000,erase-polls=400 write {file}", "base.qlz", "", "Erasing the chip"}}},
    {"ctrl_c_while_programming", "large,rate=20000", {{0, "2>programming cannot be cancelled", F::Any, "", "write {file}", "small.qlz", "", "Writing..."}}},
    {"ctrl_c_twice_during_erase", "large,rate=20000,erase-polls=400", {{6, "partial image", F::Any, "", "write {file}", "base.qlz", "", "Erasing the chip\nPress Ctrl-C again"}}},
    {"info", "", {{0, "SHA-256:          ae2e0aa9b65957470dbaa7e9e73a92af0b99a8314a85c1e17cb8a8d1f81a1d29", F::Any, "", "info {file}", "small.qlz"}, {0, "1023 bytes (0 KBytes)", F::Any, "", "info {file}", "small.qlz"}, {0, "Name:             CLI TEST IMAGE\nQuelt JQ:         fits (at most 131072 bytes)\nQuelt JQ Ombrix:  fits (at most 2097152 bytes)", F::Any, "", "info {file}", "base.qlz"}}, "/nonexistent/libQueltUSB.so"},
    {"info_refused", "", {{2, "This is not a valid Quelt BIOS", F::Any, "", "info {file}", "wrong-magic.qlz"}, {2, "impossible to read or empty file", F::Any, "", "info {file}", "empty.qlz"}, {2, "Error while reading file", F::Any, "", "info {file}", "."}, {2, "File too big", F::Any, "", "info {file}", "over-2mib.qlz"}}, ""},
    {"usage", "large", {{1, "", F::Any, "", "--safe --fast identify"}, {1, "", F::Any, "", "--erase-timeout 60 identify"}, {1, "--erase-timeout", F::Any, "", "--erase-timeout nan identify"}}},
    {"usage_no_adapter", "", {{1, ""}, {0, "Exit status: 0 done, 1 usage, 2 image refused", F::Any, "", "--help"}, {0, "quelt-flasher-cli 1.0", F::Any, "", "--version"}}, ""},

    // The fault matrix: rows of faults, columns identify, write, write --verify, verify.
    Row("m_none", "none", "", "", "large.qlz", "", All({4, kNoChip})),
    Row("m_alt", "alt", "", "", "large.qlz", "", All({4, "Unkown version of Quelt JQ detected."})),
    Row("m_stuck_low_base", "base,flash=flash.bin", ",stuck=low", "", "base.qlz", "base.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_stuck_high_base", "base,flash=flash.bin", ",stuck=high", "", "base.qlz", "base.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_bad_first_base", "base,flash=flash.bin", ",bad=0x800", "", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_bad_middle_base", "base,flash=flash.bin", ",bad=0x10010", "", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_bad_last_base", "base,flash=flash.bin", ",bad=0x1FFFF", "", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_slow_fast_base", "base,flash=flash.bin", ",slow", "--fast ", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_slow_safe_base", "base,flash=flash.bin", ",slow", "--safe ", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::Holds}, {4, kNotOnBase, F::Holds, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_wrong_size_base", "base,flash=flash.bin", "", "", "base.qlz", "", All({3, "holds 2097152 bytes, the chip has 131072", F::Holds}), "full.qlz"),
    Row("m_erase_timeout_base", "base,flash=flash.bin", ",erase-polls=1000000,rate=100000", "--erase-timeout 0.3 ", "small.qlz", "base.qlz", {kIdBase, {7, kErase, F::Holds}, {4, kNotOnBase, F::Holds, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_stuck_low_large", "large,flash=flash.bin", ",stuck=low", "", "large.qlz", "large.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_stuck_high_large", "large,flash=flash.bin", ",stuck=high", "", "large.qlz", "large.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_bad_first_large", "large,flash=flash.bin", ",bad=0x800", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, kMismatch + "0x000000-0x01FFFF", F::NotImage}, {5, kMismatch + "0x000000-0x01FFFF"}}),
    Row("m_bad_middle_large", "large,flash=flash.bin", ",bad=0x20010", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, kMismatch + "0x020000-0x03FFFF", F::NotImage}, {5, kMismatch + "0x020000-0x03FFFF"}}),
    Row("m_bad_last_large", "large,flash=flash.bin", ",bad=0x493DF", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, kMismatch + "0x040000-0x0493DF", F::NotImage}, {5, kMismatch + "0x040000-0x0493DF"}}),
    Row("m_bad_chip_end_large", "large,flash=flash.bin", ",bad=0x1FFFFF", "", "full.qlz", "full.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, kMismatch + "0x1E0000-0x1FFFFF", F::NotImage}, {5, kMismatch + "0x1E0000-0x1FFFFF"}}),
    // Past the end of the image nothing is programmed or compared: no false alarm.
    Row("m_bad_past_image_large", "large,flash=flash.bin", ",bad=0x1F0000", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::Holds}, {0, kOk, F::Holds}, {0, kOk}}),
    Row("m_slow_fast_large", "large,flash=flash.bin", ",slow", "--fast ", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, kMismatch + "0x000000-0x01FFFF", F::NotImage}, {5, kMismatch + "0x000000-0x01FFFF"}}),
    Row("m_slow_safe_large", "large,flash=flash.bin", ",slow", "--safe ", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::Holds}, {0, kOk, F::Holds}, {0, kOk}}),
    Row("m_wrong_size_large", "large,flash=flash.bin", "", "", "large.qlz", "", All({3, "holds 131072 bytes, the chip has 2097152", F::Holds}), "base.qlz"),
    // The first block never finishes erasing: the image written before stays, and shows in a verify.
    Row("m_erase_timeout_large", "large,flash=flash.bin", ",erase-polls=1000000,rate=100000", "--erase-timeout 0.3 ", "small.qlz", "large.qlz", {kIdLarge, {7, kErase, F::Holds}, {7, kErase, F::Holds}, {5, kMismatch + "0x000000-0x0003FE"}}),
  };
  // clang-format on
  return table;
}

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }
class Cli : public ::testing::TestWithParam<Scenario> {};

TEST_P(Cli, EveryStepEndsAsExpected) {
  const Scenario* s = &GetParam();
  TempDir dir;
  const std::string folder = dir.path().string();
  for (const auto& [name, size, magic] : kImages)
    WriteFile(dir.File(name), ImageBytes(size, "CLI TEST IMAGE", size, magic));
  if (!s->flash.empty()) std::filesystem::copy_file(dir.File(s->flash), dir.File("flash.bin"));
  const std::string config = dir.File("config"), key = config + "/quelt-flasher/Software/Quelt JQ";
  std::filesystem::create_directories(s->stored_mode < 0 ? config : key);
  if (s->stored_mode >= 0) WriteFile(key + "/Mode", {3, 0, 0, 0, uint8_t(s->stored_mode), 0, 0, 0});
  for (const Step& step : s->steps) {
    SCOPED_TRACE(step.args);
    quelt::testing::ProcessRun run{
        {"/usr/bin/env", "-C", folder, QUELT_CLI}, {}, folder, step.interrupt};
    run.env["XDG_CONFIG_HOME"] = config;
    const std::string adapter = s->adapter == "-" ? "sim:" + s->sim : s->adapter;
    run.env["QUELT_ADAPTER"] = s->adapter_in_env ? std::optional(adapter) : std::nullopt;
    run.env["QUELT_FAKE_FTDI"] = s->sim;  // read only through the adapter "ftdi"
    run.env["LD_LIBRARY_PATH"] = QUELT_FAKE_FTDI_DIR;
    std::istringstream words(step.args);
    for (std::string word; words >> word;) run.argv.push_back(word == "{file}" ? step.file : word);
    const bool own = run.argv.size() > 5 && run.argv[4] == "--adapter";  // the step's adapter
    if (!s->adapter_in_env && !own && !adapter.empty())
      run.argv.insert(run.argv.begin() + 4, {"--adapter", adapter});
    const auto r = quelt::testing::RunProcess(run);
    EXPECT_EQ(r.exit_status, step.exit) << r.out << r.err;
    std::istringstream lines(step.text.substr(step.text.starts_with("2>") ? 2 : 0));
    const bool to_err = step.exit != 0 || step.text.starts_with("2>");
    for (std::string line; std::getline(lines, line);)
      EXPECT_NE((to_err ? r.err : r.out).find(line), std::string::npos) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find(step.absent.empty() ? "\x01" : step.absent), std::string::npos);
    EXPECT_TRUE(s->stored_mode >= 0 || std::filesystem::is_empty(config)) << "settings written";
    if (step.flash == Flash::Any) continue;
    const Bytes flash = ReadFile(dir.File("flash.bin"));
    Bytes image = ReadFile(dir.File(step.flash_image.empty() ? step.file : step.flash_image));
    if (step.flash == Flash::Erased) std::fill(image.begin(), image.end(), 0xFF);
    ASSERT_TRUE(!image.empty() && flash.size() >= image.size());
    EXPECT_EQ(std::equal(image.begin(), image.end(), flash.begin()), step.flash != Flash::NotImage)
        << "the flash after the step: " << int(step.flash);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, Cli, ::testing::ValuesIn(Scenarios()));

}  // namespace
}  // namespace quelt::test
