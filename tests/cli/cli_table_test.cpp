// Runs the real quelt-flasher-cli, one process per step, against the built-in chip emulator
// ("sim:...") and against the emulator loaded as an adapter library (libquelt-sim.so configured by
// QUELT_SIM), and checks its exit status, what it says and what the flash file holds afterwards.
// small.qlz's SHA-256 below was taken with sha256sum. A scenario is one row: its steps run in order
// on one flash file in a folder of its own (a write, then a verify in another process); scenarios
// run in parallel under `ctest -j`.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/run_process.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

namespace fs = std::filesystem;

std::string PathOf(const char* variable, const char* built) {
  const char* value = std::getenv(variable);
  return value && *value ? value : built;
}

enum class Via { Builtin, Library, Both };
// What the flash file must hold after the step.
enum class Flash { Any, Erased, Holds, NotImage, Untouched };

struct Step {
  int exit = 0;
  // Must appear on standard output when `exit` is 0, else on standard error, each of its lines;
  // "2>" in front sends the check to standard error whatever the exit status.
  std::string text = "";
  Flash flash = Flash::Any;
  std::string absent = "";       // must appear nowhere in the output
  std::string args = "";         // words after the adapter; "{file}" is the image's path
  std::string file = "";         // an image made in SetUp, "missing.qlz" or "sample:NAME"
  std::string flash_image = "";  // the image the flash check compares ("" = `file`)
  std::string interrupt = "";    // SIGINT once standard error shows this
  int interrupts = 1;
};

struct Scenario {
  std::string name;
  Via via;
  // The emulator options after "sim:"; "{flash}" is the scenario's flash file, "{dir}" its folder.
  std::string sim;
  std::vector<Step> steps;
  std::string adapter = "-";    // "-": the emulator; "": no adapter at all; else --adapter's value
  bool adapter_in_env = false;  // QUELT_ADAPTER instead of --adapter
  std::string ftdi = "";        // the stand-in libftdi1's devices (QUELT_FAKE_FTDI), chip = `sim`
  int stored_mode = -1;         // the window's stored "Mode" setting
};

// The images made for every scenario: name, size, magic.
struct ImageFile {
  const char* name;
  int32_t size;
  const char* magic;
};
const ImageFile kImages[] = {
    {"large.qlz", 300000, "QELT"},       {"full.qlz", 0x200000, "QELT"},
    {"base.qlz", 0x20000, "QELT"},       {"base-over.qlz", 0x20001, "QELT"},
    {"small.qlz", 1023, "QELT"},         {"wrong-magic.qlz", 4096, "QELX"},
    {"over-2mib.qlz", 0x200001, "QELT"}, {"empty.qlz", 0, "QELT"},
};

const char kNoChip[] = "can't communicate with a Quelt JQ or Quelt JQ Ombrix chip";
const char kAlt[] = "Unkown version of Quelt JQ detected.";
const char kWc[] = "Write complete!";
const char kOk[] = "Verify OK!";
const char kNotOnBase[] =
    "Verification is not available for the Quelt JQ, so nothing was erased or written";
const char kOnlyOmbrix[] = "This feature is only implemented for Quelt JQ Ombrix for now...";
const char kErase[] = "Erase error: The chip did not finish erasing. Nothing was programmed.";
std::string Mismatch(const std::string& chunk) {
  return "Verify Error!: Data mismatch in the 128 KiB chunk at flash addresses " + chunk;
}

// A row of the fault matrix: an optional clean write of `prime` first (without the fault), then
// identify, write, write --verify and verify of `image` with the fault in place (`flags` before the
// command).
Scenario Row(const std::string& name, Via via, const std::string& sim, const std::string& fault,
             const std::string& flags, const std::string& image, const std::string& prime,
             std::vector<Step> cells) {
  Scenario s{name, via, sim, {}};
  if (!prime.empty()) s.steps.push_back({0, kWc, Flash::Holds, "", "--quiet write {file}", prime});
  const char* const commands[] = {"identify", "write {file}", "write {file} --verify",
                                  "verify {file}"};
  for (size_t i = 0; i < cells.size(); ++i) {
    // The clean write runs on the chip as `sim` says; the cells add the fault's options.
    cells[i].args = (fault.empty() ? "" : "--adapter sim:" + sim + fault + " ") + flags +
                    "--quiet " + commands[i];
    cells[i].file = i == 0 ? "" : image;
    s.steps.push_back(cells[i]);
  }
  return s;
}
std::vector<Step> All(const Step& cell) { return {cell, cell, cell, cell}; }

// The identify cells of each chip type.
const Step kIdBase{0, "Quelt JQ", Flash::Any, "Ombrix", "identify"};
const Step kIdLarge{0, "Quelt JQ Ombrix", Flash::Any, "", "identify"};

const char kFt232r[] = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;latency=20";

const std::vector<Scenario>& Scenarios() {
  using F = Flash;
  const Via B = Via::Builtin;
  const Via Both = Via::Both;
  const std::string two = std::string(kFt232r) + ";dev=0403:6001:A2:FT232R USB UART";
  // clang-format off
  static const std::vector<Scenario> table = {
    // Through an FTDI adapter in bit-bang mode: the simulated device of the stand-in libftdi1.
    {"ftdi_identify_large", B, "large", {{0, "Quelt JQ Ombrix", F::Any, "", "identify"}}, "-", false, kFt232r},
    {"ftdi_identify_base_ft232h", B, "base", {{0, "Quelt JQ", F::Any, "Ombrix", "identify"}}, "-", false, "dev=0403:6014:H1:Single RS232-HS"},
    {"ftdi_identify_alt", B, "alt", {{4, "Unkown version", F::Any, "", "identify"}}, "-", false, kFt232r},
    {"ftdi_identify_none", B, "none", {{4, "can't communicate", F::Any, "", "identify"}}, "-", false, kFt232r},
    {"ftdi_sample_2m", B, "large,flash={flash}", {{0, "2>opened 0403:6001 \"FT232R USB UART\" serial \"A1\"", F::Holds, "", "write {file}", "sample:demo-2m.qlz"}, {0, kOk, F::Any, "", "verify {file}", "sample:demo-2m.qlz"}}, "-", false, kFt232r},
    {"ftdi_sample_128k_base", B, "base,flash={flash}", {{0, kWc, F::Holds, "", "write {file}", "sample:demo-128k.qlz"}}, "-", false, kFt232r},
    {"ftdi_bad_middle", B, "large,bad=0x20123", {{5, "chunk at flash addresses 0x020000-0x03FFFF", F::Any, "", "write {file} --verify", "large.qlz"}}, "-", false, kFt232r},
    {"ftdi_slow", B, "large,slow", {{5, "Verify Error!", F::Any, "", "--fast write {file} --verify", "small.qlz"}, {0, kOk, F::Any, "", "--safe write {file} --verify", "small.qlz"}}, "-", false, kFt232r},
    {"ftdi_several_devices", B, "large", {{3, "index=1: 0403:6001 \"FT232R USB UART\" serial \"A2\"", F::Any, "", "identify"}}, "-", false, two},
    {"ftdi_by_serial", B, "large", {{0, "2>serial \"A2\"", F::Any, "", "identify"}}, "ftdi,serial=A2", true, two},
    {"ftdi_absent", B, "large", {{3, "no device found (0403:6001, 0403:6014, 0403:6010)", F::Any, "", "identify"}, {3, "Quelt USB Adapter not found", F::Any, "", "identify"}}, "-", false, "rx=128"},
    {"ftdi_no_permission", B, "large", {{3, "res/60-quelt-flasher-ftdi.rules", F::Any, "", "identify"}}, "-", false, std::string(kFt232r) + ";denied"},
    {"ftdi_option_refused", B, "large", {{3, "\"colour=blue\" is unknown", F::Any, "", "identify"}}, "ftdi,colour=blue", false, kFt232r},
    // Identification, writes and verifies in later processes of the same flash file.
    {"identify_large", Both, "large", {kIdLarge}},
    {"identify_base", Both, "base", {kIdBase}},
    {"adapter_from_env", B, "base", {kIdBase}, "sim:base", true},
    {"write_verify_large", Both, "large,flash={flash}", {{0, kWc, F::Any, "", "write {file}", "large.qlz"}, {0, kOk, F::Any, "", "verify {file}", "large.qlz"}, {5, "0x000000-0x01FFFF", F::Any, "", "verify {file}", "base.qlz"}}},
    {"write_verify_2m", B, "large,flash={flash}", {{0, kOk, F::Holds, "", "--quiet write {file} --verify", "full.qlz"}}},
    {"samples", Both, "large,flash={flash}", {{0, kWc, F::Any, "", "write {file}", "sample:demo-2m.qlz"}, {0, kOk, F::Any, "", "verify {file}", "sample:demo-2m.qlz"}, {0, kOk, F::Any, "", "write {file} --verify", "sample:demo-256k.qlz"}}},
    {"samples_base", Both, "base,flash={flash}", {{0, kWc, F::Holds, "", "write {file}", "sample:demo-128k.qlz"}, {0, kWc, F::Holds, "", "write {file}", "base.qlz"}, {4, "File too big for Quelt JQ!", F::Holds, "", "write {file}", "base-over.qlz", "base.qlz"}}},
    // The speed stored by the window, and --fast over it.
    {"stored_safe_mode", B, "large,slow", {{0, kOk, F::Any, "", "write {file} --verify", "large.qlz"}, {5, "Verify Error!", F::Any, "", "--fast write {file} --verify", "large.qlz"}}, "-", false, "", 1},
    // Images refused after the chip was identified.
    {"images_refused", Both, "large", {{2, "This is not a valid Quelt BIOS", F::Any, "", "write {file}", "wrong-magic.qlz"}, {2, "Error while trying to open file", F::Any, "", "verify {file}", "missing.qlz"}, {2, "File too big", F::Any, "", "write {file}", "over-2mib.qlz"}}},
    // Adapters that cannot be used.
    {"missing_adapter_library", B, "", {{3, "Quelt USB Adapter not found", F::Any, "", "identify"}}, "/nonexistent/libQueltUSB.so"},
    {"no_adapter", B, "", {{3, "Quelt USB Adapter not found", F::Any, "", "identify"}}, ""},
    {"emulator_option_refused", B, "", {{3, "colour", F::Any, "", "identify"}}, "sim:large,colour=blue"},
    // Ctrl-C during the erase: the erase completes, nothing is programmed. The chip is written
    // first so that the erase shows.
    {"ctrl_c_during_erase", Both, "large,flash={flash}", {{0, kWc, F::Any, "", "--quiet write {file}", "base.qlz"}, {6, "Write operation cancelled\nthe erase finishes first, then the write stops", F::Erased, "Writing...", "--adapter sim:large,flash={flash},rate=20000,erase-polls=400 write {file}", "base.qlz", "", "Erasing the chip"}}},
    {"ctrl_c_while_programming", B, "large,rate=20000", {{0, "2>programming cannot be cancelled", F::Any, "", "write {file}", "small.qlz", "", "Writing..."}}},
    {"ctrl_c_twice_during_erase", B, "large,rate=20000,erase-polls=400", {{6, "partial image", F::Any, "", "write {file}", "base.qlz", "", "Erasing the chip", 2}}},
    // Images checked without an adapter.
    {"info", B, "", {{0, "SHA-256:          ae2e0aa9b65957470dbaa7e9e73a92af0b99a8314a85c1e17cb8a8d1f81a1d29", F::Any, "", "info {file}", "small.qlz"}, {0, "1023 bytes (0 KBytes)", F::Any, "", "info {file}", "small.qlz"}}, "/nonexistent/libQueltUSB.so"},
    {"info_refused", B, "", {{2, "This is not a valid Quelt BIOS", F::Any, "", "info {file}", "wrong-magic.qlz"}, {2, "impossible to read or empty file", F::Any, "", "info {file}", "empty.qlz"}, {2, "Error while reading file", F::Any, "", "info {file}", "."}, {2, "File too big", F::Any, "", "info {file}", "over-2mib.qlz"}}, ""},
    // Usage.
    {"usage", B, "large", {{1, "", F::Any, "", "--safe --fast identify"}, {1, "", F::Any, "", "--erase-timeout 60 identify"}, {1, "--erase-timeout", F::Any, "", "--erase-timeout nan identify"}}},
    {"usage_no_adapter", B, "", {{1, ""}, {0, "Exit status: 0 done, 1 usage, 2 image refused", F::Any, "", "--help"}, {0, "quelt-flasher-cli 1.0", F::Any, "", "--version"}}, ""},

    // The fault matrix: rows of faults, columns identify, write, write --verify, verify.
    Row("m_none", Both, "none", "", "", "large.qlz", "", All({4, kNoChip})),
    Row("m_alt", B, "alt", "", "", "large.qlz", "", All({4, kAlt})),
    Row("m_stuck_low_base", B, "base,flash={flash}", ",stuck=low", "", "base.qlz", "base.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_stuck_high_base", B, "base,flash={flash}", ",stuck=high", "", "base.qlz", "base.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_bad_first_base", B, "base,flash={flash}", ",bad=0x800", "", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_bad_middle_base", B, "base,flash={flash}", ",bad=0x10010", "", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_bad_last_base", B, "base,flash={flash}", ",bad=0x1FFFF", "", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_slow_fast_base", Both, "base,flash={flash}", ",slow", "--fast ", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::NotImage}, {4, kNotOnBase, F::NotImage, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_slow_safe_base", B, "base,flash={flash}", ",slow", "--safe ", "base.qlz", "base.qlz", {kIdBase, {0, kWc, F::Holds}, {4, kNotOnBase, F::Holds, "Erasing"}, {4, kOnlyOmbrix}}),
    Row("m_wrong_size_base", B, "base,flash={dir}/flash-2097152.bin", "", "", "base.qlz", "", All({3, "holds 2097152 bytes, the chip has 131072", F::Untouched})),
    Row("m_erase_timeout_base", B, "base,flash={flash}", ",erase-polls=1000000,rate=100000", "--erase-timeout 0.3 ", "small.qlz", "base.qlz", {kIdBase, {7, kErase, F::Holds, "", "", "", "base.qlz"}, {4, kNotOnBase, F::Holds, "Erasing", "", "", "base.qlz"}, {4, kOnlyOmbrix}}),
    Row("m_stuck_low_large", B, "large,flash={flash}", ",stuck=low", "", "large.qlz", "large.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_stuck_high_large", Both, "large,flash={flash}", ",stuck=high", "", "large.qlz", "large.qlz", {{4, kNoChip}, {4, kNoChip, F::Holds}, {4, kNoChip, F::Holds}, {4, kNoChip}}),
    Row("m_bad_first_large", B, "large,flash={flash}", ",bad=0x800", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, Mismatch("0x000000-0x01FFFF"), F::NotImage}, {5, Mismatch("0x000000-0x01FFFF")}}),
    Row("m_bad_middle_large", Both, "large,flash={flash}", ",bad=0x20010", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, Mismatch("0x020000-0x03FFFF"), F::NotImage}, {5, Mismatch("0x020000-0x03FFFF")}}),
    Row("m_bad_last_large", B, "large,flash={flash}", ",bad=0x493DF", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, Mismatch("0x040000-0x0493DF"), F::NotImage}, {5, Mismatch("0x040000-0x0493DF")}}),
    Row("m_bad_chip_end_large", B, "large,flash={flash}", ",bad=0x1FFFFF", "", "full.qlz", "full.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, Mismatch("0x1E0000-0x1FFFFF"), F::NotImage}, {5, Mismatch("0x1E0000-0x1FFFFF")}}),
    // Past the end of the image nothing is programmed or compared: no false alarm.
    Row("m_bad_past_image_large", B, "large,flash={flash}", ",bad=0x1F0000", "", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::Holds}, {0, kOk, F::Holds}, {0, kOk}}),
    Row("m_slow_fast_large", B, "large,flash={flash}", ",slow", "--fast ", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::NotImage}, {5, Mismatch("0x000000-0x01FFFF"), F::NotImage}, {5, Mismatch("0x000000-0x01FFFF")}}),
    Row("m_slow_safe_large", B, "large,flash={flash}", ",slow", "--safe ", "large.qlz", "large.qlz", {kIdLarge, {0, kWc, F::Holds}, {0, kOk, F::Holds}, {0, kOk}}),
    Row("m_wrong_size_large", Both, "large,flash={dir}/flash-131072.bin", "", "", "large.qlz", "", All({3, "holds 131072 bytes, the chip has 2097152", F::Untouched})),
    // The first block never finishes erasing: the image written before stays, and shows in a verify.
    Row("m_erase_timeout_large", Both, "large,flash={flash}", ",erase-polls=1000000,rate=100000", "--erase-timeout 0.3 ", "small.qlz", "large.qlz", {kIdLarge, {7, kErase, F::Holds, "", "", "", "large.qlz"}, {7, kErase, F::Holds, "", "", "", "large.qlz"}, {5, Mismatch("0x000000-0x0003FE")}}),
  };
  // clang-format on
  return table;
}

// Runs the command line with `env` ("NAME=value") on top of this environment, less any adapter
// chosen there; a hang fails the step (the simulated FTDI device decodes byte by byte: 2 MiB under
// the sanitizers takes minutes).
quelt::testing::ProcessResult Spawn(std::vector<std::string> argv,
                                    const std::vector<std::string>& env, const std::string& dir,
                                    const std::string& interrupt, int interrupts) {
  quelt::testing::ProcessRun run{std::move(argv), {},         dir,
                                 interrupt,       interrupts, std::chrono::seconds(480)};
  run.env["QUELT_ADAPTER"] = std::nullopt;
  run.env["QUELT_SIM"] = std::nullopt;
  for (const std::string& v : env) run.env[v.substr(0, v.find('='))] = v.substr(v.find('=') + 1);
  return quelt::testing::RunProcess(run);
}

std::string Fill(std::string text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  return text;
}

using Param = std::pair<const Scenario*, Via>;
void PrintTo(const Param& p, std::ostream* out) { *out << p.first->name; }

class Cli : public ::testing::TestWithParam<Param> {
 protected:
  std::string FilePath(const std::string& file) const {
    if (file.starts_with("sample:"))
      return PathOf("QUELT_SAMPLES_DIR", QUELT_SAMPLES_DIR) + "/" + file.substr(7);
    return dir_.File(file);
  }
  TempDir dir_;
};

TEST_P(Cli, EveryStepEndsAsExpected) {
  const Scenario& s = *GetParam().first;
  const bool lib = GetParam().second == Via::Library;
  for (const ImageFile& image : kImages)
    WriteFile(dir_.File(image.name),
              ImageBytes(image.size, "CLI TEST IMAGE", image.size, image.magic));
  for (const char* flash : {"flash-131072.bin", "flash-2097152.bin"}) {
    const Bytes bytes(std::string(flash) == "flash-131072.bin" ? 0x20000 : 0x200000, 0x5A);
    WriteFile(dir_.File(flash), bytes);
  }
  const std::string config = dir_.File("config");
  fs::create_directories(config);
  if (s.stored_mode >= 0) {
    const std::string key = config + "/quelt-flasher/Software/Quelt JQ";
    fs::create_directories(key);
    WriteFile(key + "/Mode", {3, 0, 0, 0, static_cast<uint8_t>(s.stored_mode), 0, 0, 0});
  }
  auto fill = [&](const std::string& text) {
    return Fill(Fill(text, "{flash}", dir_.File("flash.bin")), "{dir}", dir_.path().string());
  };
  const std::string sim = fill(s.sim);
  const std::string flash_path =
      sim.find("flash=") == std::string::npos
          ? ""
          : sim.substr(sim.find("flash=") + 6,
                       sim.find(',', sim.find("flash=")) - sim.find("flash=") - 6);
  int number = 0;
  for (const Step& step : s.steps) {
    SCOPED_TRACE("step " + std::to_string(++number) + ": " + step.args);
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config};
    std::string adapter = s.adapter == "-" ? "sim:" + sim : s.adapter;
    if (!s.ftdi.empty()) {
      env.push_back("QUELT_FAKE_FTDI=" + s.ftdi + ";chip=" + sim);
#ifdef QUELT_FAKE_FTDI_DIR
      env.push_back(std::string("LD_LIBRARY_PATH=") + QUELT_FAKE_FTDI_DIR);
#endif
      if (s.adapter == "-") adapter = "ftdi";
    } else if (lib && s.adapter == "-") {
      adapter = PathOf("QUELT_SIM_LIBRARY", QUELT_SIM_LIBRARY);
      env.push_back("QUELT_SIM=" + sim);
    }
    std::vector<std::string> argv = {PathOf("QUELT_CLI", QUELT_CLI)};
    if (s.adapter_in_env)
      env.push_back("QUELT_ADAPTER=" + adapter);
    else if (!adapter.empty() && step.args.find("--adapter") == std::string::npos)
      argv.insert(argv.end(), {"--adapter", adapter});
    std::istringstream words(fill(step.args));
    for (std::string word; words >> word;)
      argv.push_back(Fill(word, "{file}", FilePath(step.file)));
    if (lib && argv.size() > 2 && argv[1] == "--adapter" && argv[2].starts_with("sim:")) {
      std::erase_if(env, [](const std::string& v) { return v.starts_with("QUELT_SIM="); });
      env.push_back("QUELT_SIM=" + argv[2].substr(4));  // a step's own options, on the library
      argv[2] = PathOf("QUELT_SIM_LIBRARY", QUELT_SIM_LIBRARY);
    }
    const auto r = Spawn(argv, env, dir_.path().string(), step.interrupt, step.interrupts);
    const bool to_err = step.exit != 0 || step.text.starts_with("2>");
    const std::string texts = step.text.starts_with("2>") ? step.text.substr(2) : step.text;
    EXPECT_EQ(r.exit_status, step.exit) << r.out << r.err;
    for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
      end = texts.find('\n', at);
      EXPECT_NE((to_err ? r.err : r.out).find(texts.substr(at, end - at)), std::string::npos)
          << r.out << r.err;
    }
    if (!step.absent.empty()) {
      EXPECT_EQ((r.out + r.err).find(step.absent), std::string::npos);
    }
    EXPECT_EQ(r.interrupted, !step.interrupt.empty());
    for (const char* image_text : {"Error while trying to open file", "File too big"}) {
      EXPECT_EQ(r.out.find(image_text), std::string::npos) << "an image message on standard output";
    }
    if (s.stored_mode < 0) {
      EXPECT_TRUE(fs::is_empty(config)) << "the settings were written";
    }
    if (step.flash == Flash::Any) continue;
    const Bytes flash = ReadFile(flash_path);
    if (step.flash == Flash::Untouched) {
      EXPECT_EQ(flash, Bytes(flash.size(), 0x5A));
      EXPECT_EQ(flash.size(), flash_path.ends_with("131072.bin") ? 0x20000u : 0x200000u);
      continue;
    }
    const Bytes image = ReadFile(FilePath(step.flash_image.empty() ? step.file : step.flash_image));
    ASSERT_FALSE(image.empty());
    ASSERT_GE(flash.size(), image.size());
    const bool holds = std::equal(image.begin(), image.end(), flash.begin());
    if (step.flash == Flash::Holds) {
      EXPECT_TRUE(holds) << "the flash does not hold the image";
    }
    if (step.flash == Flash::NotImage) {
      EXPECT_FALSE(holds) << "the write took";
    }
    if (step.flash == Flash::Erased) {
      EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + static_cast<ptrdiff_t>(image.size()),
                              [](uint8_t b) { return b == 0xFF; }));
    }
  }
}

std::vector<Param> Params() {
  std::vector<Param> params;
  for (const Scenario& s : Scenarios()) {
    if (s.via != Via::Library) params.push_back({&s, Via::Builtin});
    if (s.via != Via::Builtin) params.push_back({&s, Via::Library});
  }
  return params;
}

INSTANTIATE_TEST_SUITE_P(Rows, Cli, ::testing::ValuesIn(Params()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                           return info.param.first->name +
                                  (info.param.second == Via::Library ? "_lib" : "_sim");
                         });

}  // namespace
}  // namespace quelt::test
