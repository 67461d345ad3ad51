// Runs the real quelt-flasher-cli, one process per case, against the built-in chip emulator
// ("sim:...") and against the emulator loaded as an adapter library (libquelt-sim.so configured
// by QUELT_SIM), and checks its exit status and what it says.
//
// Cases run in table order: rows that name the same flash file see the chip that the rows before
// them left (a write, then a verify in another process). A row with `via = Both` runs once on each
// emulator, each with its own flash files. To add a case, add a row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "run_process.h"
#include "test_images.h"
#include "test_paths.h"

namespace quelt::testing {
namespace {

namespace fs = std::filesystem;

enum class Via { Builtin, Library, Both };
enum class Where { Out, Err };
enum class FlashCheck { None, ErasedOverImage };

struct CliCase {
  std::string label = "";
  Via via = Via::Both;
  // The emulator options as after "sim:"; "{flash:NAME}" names a flash file of the case's run.
  std::string sim = "large";
  // Instead of the emulator: the adapter as given to --adapter ("" = no --adapter, no
  // QUELT_ADAPTER: the platform's library).
  std::optional<std::string> adapter = std::nullopt;
  bool adapter_in_env = false;         // pass the adapter in QUELT_ADAPTER instead of --adapter
  std::vector<std::string> args = {};  // after the adapter; "{file}" is the image file's path
  // One of the images made in SetUp, "missing.qlz", or "sample:NAME" for a sample image.
  std::string file = "";
  int exit = 0;
  std::string message = "";  // must appear in `where`
  Where where = Where::Err;
  std::string absent = "";                             // must appear nowhere in the output
  std::optional<int> stored_safe_mode = std::nullopt;  // the stored "Mode" value
  std::string interrupt_after = "";                    // SIGINT once standard error shows this
  int interrupts = 1;
  FlashCheck flash_check = FlashCheck::None;
};

// The image files made for the cases (name, size, magic).
struct ImageSpec {
  const char* name;
  int32_t size;
  const char* magic;
};
const ImageSpec kImages[] = {
    {"large.qlz", 300000, "QELT"},        // three 128 KiB chunks, the last one partial
    {"full.qlz", 0x200000, "QELT"},       // the largest image
    {"base.qlz", 0x20000, "QELT"},        // the largest image for "Quelt JQ"
    {"base-over.qlz", 0x20001, "QELT"},   // one byte too many for "Quelt JQ"
    {"small.qlz", 1023, "QELT"},          // under one KByte
    {"wrong-magic.qlz", 4096, "QELX"},    // not the magic
    {"over-2mib.qlz", 0x200001, "QELT"},  // one byte over 2 MiB
    {"empty.qlz", 0, "QELT"},             // nothing at all
};

// The SHA-256 of small.qlz as MakeImage makes it, taken with sha256sum.
const char kSmallSha256[] = "d148a531c6304dd9e4f87d10403eb8d1870642152622852f99a53eb278a46245";

const std::vector<CliCase>& Cases() {
  // clang-format off
  static const std::vector<CliCase> cases = {
      // Identification of each type, and the two chips that cannot be worked on.
      {.label = "identify large", .sim = "large", .args = {"identify"}, .message = "Quelt JQ Ombrix", .where = Where::Out},
      {.label = "identify base", .sim = "base", .args = {"identify"}, .message = "Quelt JQ", .where = Where::Out, .absent = "Ombrix"},
      {.label = "identify unknown version", .sim = "alt", .args = {"identify"}, .exit = 4, .message = "Unkown version of Quelt JQ detected."},
      {.label = "identify no chip", .sim = "none", .args = {"identify"}, .exit = 4, .message = "can't communicate with a Quelt JQ or Quelt JQ Ombrix chip"},
      {.label = "adapter from QUELT_ADAPTER", .via = Via::Builtin, .sim = "base", .adapter_in_env = true, .args = {"identify"}, .message = "Quelt JQ", .where = Where::Out, .absent = "Ombrix"},

      // A write, then verifies in later processes of the same flash file.
      {.label = "write large", .sim = "large,flash={flash:large}", .args = {"write", "{file}"}, .file = "large.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "verify large", .sim = "large,flash={flash:large}", .args = {"verify", "{file}"}, .file = "large.qlz", .message = "Verify OK!", .where = Where::Out},
      {.label = "verify another image", .sim = "large,flash={flash:large}", .args = {"verify", "{file}"}, .file = "base.qlz", .exit = 5, .message = "0x000000-0x01FFFF"},
      {.label = "write --verify 2 MiB", .via = Via::Builtin, .sim = "large,flash={flash:full}", .args = {"--quiet", "write", "{file}", "--verify"}, .file = "full.qlz", .message = "Verify OK!", .where = Where::Out},

      // The sample images: written, then verified by another process.
      {.label = "write sample 2 MiB", .sim = "large,flash={flash:sample}", .args = {"write", "{file}"}, .file = "sample:demo-2m.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "verify sample 2 MiB", .sim = "large,flash={flash:sample}", .args = {"verify", "{file}"}, .file = "sample:demo-2m.qlz", .message = "Verify OK!", .where = Where::Out},
      {.label = "write --verify sample 256 KiB", .sim = "large,flash={flash:sample}", .args = {"write", "{file}", "--verify"}, .file = "sample:demo-256k.qlz", .message = "Verify OK!", .where = Where::Out},
      {.label = "write sample 128 KiB on base", .sim = "base,flash={flash:sample-base}", .args = {"write", "{file}"}, .file = "sample:demo-128k.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "write base", .sim = "base,flash={flash:base}", .args = {"write", "{file}"}, .file = "base.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "verify on base", .sim = "base,flash={flash:base}", .args = {"verify", "{file}"}, .file = "base.qlz", .exit = 4, .message = "This feature is only implemented for Quelt JQ Ombrix for now..."},
      {.label = "write --verify on base", .via = Via::Builtin, .sim = "base", .args = {"write", "{file}", "--verify"}, .file = "base.qlz", .exit = 4, .message = "Verification is not available"},
      {.label = "image too big for base", .sim = "base", .args = {"write", "{file}"}, .file = "base-over.qlz", .exit = 4, .message = "File too big for Quelt JQ!"},

      // Cells that do not take what is programmed.
      {.label = "stuck cell in chunk 1", .sim = "large,bad=0x20010", .args = {"write", "{file}", "--verify"}, .file = "large.qlz", .exit = 5, .message = "0x020000-0x03FFFF"},
      {.label = "slow chip at normal speed", .sim = "large,slow", .args = {"--fast", "write", "{file}", "--verify"}, .file = "large.qlz", .exit = 5, .message = "0x000000-0x01FFFF"},
      {.label = "slow chip in safe mode", .sim = "large,slow", .args = {"--safe", "write", "{file}", "--verify"}, .file = "large.qlz", .message = "Verify OK!", .where = Where::Out},
      {.label = "slow chip, stored safe mode", .via = Via::Builtin, .sim = "large,slow", .args = {"write", "{file}", "--verify"}, .file = "large.qlz", .message = "Verify OK!", .where = Where::Out, .stored_safe_mode = 1},
      {.label = "slow chip, --fast over stored", .via = Via::Builtin, .sim = "large,slow", .args = {"--fast", "write", "{file}", "--verify"}, .file = "large.qlz", .exit = 5, .message = "Verify Error!", .stored_safe_mode = 1},

      // Images that are refused, after the chip was identified.
      {.label = "wrong magic", .args = {"write", "{file}"}, .file = "wrong-magic.qlz", .exit = 2, .message = "This is not a valid Quelt BIOS"},
      {.label = "missing file", .args = {"verify", "{file}"}, .file = "missing.qlz", .exit = 2, .message = "Error while trying to open file"},
      {.label = "file over 2 MiB", .args = {"write", "{file}"}, .file = "over-2mib.qlz", .exit = 2, .message = "File too big"},

      // Adapters that cannot be used.
      {.label = "missing adapter library", .via = Via::Builtin, .adapter = "/nonexistent/libQueltUSB.so", .args = {"identify"}, .exit = 3, .message = "Quelt USB Adapter not found"},
      {.label = "no adapter named", .via = Via::Builtin, .adapter = "", .args = {"identify"}, .exit = 3, .message = "Quelt USB Adapter not found"},
      {.label = "emulator option refused", .via = Via::Builtin, .adapter = "sim:large,colour=blue", .args = {"identify"}, .exit = 3, .message = "colour"},

      // An erase that never finishes.
      {.label = "erase never finishes", .sim = "large,erase-polls=1000000,rate=100000", .args = {"--erase-timeout", "0.3", "write", "{file}"}, .file = "small.qlz", .exit = 7, .message = "The chip did not finish erasing. Nothing was programmed."},

      // Ctrl-C during the erase: the erase completes, nothing is programmed. The chip is written
      // first so that the erase shows.
      {.label = "write before cancel", .sim = "large,flash={flash:cancel}", .args = {"--quiet", "write", "{file}"}, .file = "base.qlz", .message = "Write complete!", .where = Where::Out},
      {.label = "Ctrl-C during erase", .sim = "large,flash={flash:cancel},rate=20000,erase-polls=400", .args = {"write", "{file}"}, .file = "base.qlz", .exit = 6, .message = "Write operation cancelled", .absent = "Writing...", .interrupt_after = "Erasing the chip", .flash_check = FlashCheck::ErasedOverImage},
      {.label = "Ctrl-C while programming", .via = Via::Builtin, .sim = "large,rate=20000", .args = {"write", "{file}"}, .file = "small.qlz", .message = "programming cannot be cancelled", .interrupt_after = "Writing..."},
      {.label = "Ctrl-C twice during erase", .via = Via::Builtin, .sim = "large,rate=20000,erase-polls=400", .args = {"write", "{file}"}, .file = "base.qlz", .exit = 6, .message = "partial image", .interrupt_after = "Erasing the chip", .interrupts = 2},

      // Images checked without an adapter.
      {.label = "info", .via = Via::Builtin, .adapter = "/nonexistent/libQueltUSB.so", .args = {"info", "{file}"}, .file = "small.qlz", .message = std::string("SHA-256:          ") + kSmallSha256, .where = Where::Out},
      {.label = "info size", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "small.qlz", .message = "1023 bytes (0 KBytes)", .where = Where::Out},
      {.label = "info wrong magic", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "wrong-magic.qlz", .exit = 2, .message = "This is not a valid Quelt BIOS"},
      {.label = "info empty file", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "empty.qlz", .exit = 2, .message = "impossible to read or empty file"},
      {.label = "info of a folder", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = ".", .exit = 2, .message = "Error while reading file"},
      {.label = "info over 2 MiB", .via = Via::Builtin, .adapter = "", .args = {"info", "{file}"}, .file = "over-2mib.qlz", .exit = 2, .message = "File too big"},

      // Usage.
      {.label = "no command", .via = Via::Builtin, .adapter = "", .args = {}, .exit = 1},
      {.label = "--safe with --fast", .via = Via::Builtin, .args = {"--safe", "--fast", "identify"}, .exit = 1},
      {.label = "erase timeout above the default", .via = Via::Builtin, .args = {"--erase-timeout", "60", "identify"}, .exit = 1},
      {.label = "help", .via = Via::Builtin, .adapter = "", .args = {"--help"}, .message = "Exit status: 0 done, 1 usage, 2 image refused", .where = Where::Out},
      {.label = "version", .via = Via::Builtin, .adapter = "", .args = {"--version"}, .message = "quelt-flasher-cli 1.0", .where = Where::Out},
  };
  // clang-format on
  return cases;
}

struct Outcome {
  std::string label = "";
  int expected_exit;
  int exit;
  bool passed;
  std::string why;  // what was not as expected
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class CliTable : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quelt-cli-table-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    for (const ImageSpec& spec : kImages) {
      WriteFile(dir_ + "/" + spec.name,
                MakeImage(spec.size, "CLI TEST IMAGE", spec.size, spec.magic));
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs one case on one emulator ("sim" or "lib").
  Outcome Run(const CliCase& c, Via via, int index) {
    const std::string tag = via == Via::Library ? "lib" : "sim";
    Outcome outcome{c.adapter ? c.label : c.label + " [" + tag + "]", c.exit, -1, false, ""};
    const std::string run_dir = dir_ + "/run-" + std::to_string(index) + "-" + tag;
    fs::create_directories(run_dir + "/config");

    std::string sim = c.sim;
    for (size_t at; (at = sim.find("{flash:")) != std::string::npos;) {
      const size_t end = sim.find('}', at);
      const std::string name = sim.substr(at + 7, end - at - 7);
      sim.replace(at, end - at + 1, dir_ + "/flash-" + name + "-" + tag + ".bin");
    }
    const std::string file =
        c.file.starts_with("sample:") ? SamplesDir() + "/" + c.file.substr(7) : dir_ + "/" + c.file;

    ProcessRun run;
    run.argv = {cli_};
    run.work_dir = run_dir;
    run.env = {{"QUELT_ADAPTER", std::nullopt},
               {"QUELT_SIM", std::nullopt},
               {"XDG_CONFIG_HOME", run_dir + "/config"}};
    std::optional<std::string> adapter = c.adapter;
    if (!adapter) {
      if (via == Via::Library) {
        adapter = sim_library_;
        run.env["QUELT_SIM"] = sim;
      } else {
        adapter = "sim:" + sim;
      }
    }
    if (c.adapter_in_env) {
      run.env["QUELT_ADAPTER"] = *adapter;
    } else if (!adapter->empty()) {
      run.argv.insert(run.argv.end(), {"--adapter", *adapter});
    }
    for (const std::string& arg : c.args) run.argv.push_back(Replace(arg, "{file}", file));
    if (c.stored_safe_mode) StoreSafeMode(run_dir + "/config", *c.stored_safe_mode);
    run.interrupt_after = c.interrupt_after;
    run.interrupts = c.interrupts;

    const ProcessResult result = RunProcess(run);
    outcome.exit = result.exit_status;
    const std::string& where = c.where == Where::Out ? result.out : result.err;
    if (result.timed_out)
      outcome.why = "timed out";
    else if (result.exit_status != c.exit)
      outcome.why = "exit status";
    else if (where.find(c.message) == std::string::npos)
      outcome.why = "message missing";
    else if (!c.absent.empty() && (result.out + result.err).find(c.absent) != std::string::npos)
      outcome.why = "unexpected \"" + c.absent + "\"";
    else if (!c.interrupt_after.empty() && !result.interrupted)
      outcome.why = "never interrupted";
    else if (c.flash_check == FlashCheck::ErasedOverImage && !ErasedOverImage(sim, file))
      outcome.why = "flash not erased over the image";
    else if (result.out.find("Error while trying to open file") != std::string::npos ||
             result.out.find("File too big") != std::string::npos)
      outcome.why = "an image message on standard output";
    else if (!c.stored_safe_mode && !fs::is_empty(run_dir + "/config"))
      outcome.why = "the settings were written";
    outcome.passed = outcome.why.empty();
    if (!outcome.passed) {
      ADD_FAILURE() << outcome.label << ": " << outcome.why << " (exit " << result.exit_status
                    << ", expected " << c.exit << ", message \"" << c.message
                    << "\")\n--- stdout:\n"
                    << result.out << "--- stderr:\n"
                    << result.err;
    }
    return outcome;
  }

  static void StoreSafeMode(const std::string& config, int value) {
    const std::string key = config + "/quelt-flasher/Software/Quelt JQ";
    fs::create_directories(key);
    std::vector<uint8_t> bytes = {3, 0, 0, 0};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    WriteFile(key + "/Mode", bytes);
  }

  // Every byte of the flash under the image reads erased.
  static bool ErasedOverImage(const std::string& sim, const std::string& image_path) {
    const size_t at = sim.find("flash=");
    if (at == std::string::npos) return false;
    const std::string flash_path = sim.substr(at + 6, sim.find(',', at) - at - 6);
    const std::vector<uint8_t> flash = ReadFile(flash_path);
    const size_t size = ReadFile(image_path).size();
    if (flash.size() < size) return false;
    for (size_t i = 0; i < size; ++i) {
      if (flash[i] != 0xFF) return false;
    }
    return true;
  }

  std::string dir_;
  const std::string cli_ = CliPath();
  const std::string sim_library_ = SimLibraryPath();
};

void PrintSummary(const std::vector<Outcome>& outcomes) {
  int passed = 0;
  std::printf("\n%-3s %-44s %8s %5s  %s\n", "#", "case", "expected", "exit", "result");
  for (size_t i = 0; i < outcomes.size(); ++i) {
    const Outcome& o = outcomes[i];
    passed += o.passed ? 1 : 0;
    std::printf("%-3zu %-44s %8d %5d  %s\n", i + 1, o.label.c_str(), o.expected_exit, o.exit,
                o.passed ? "as expected" : ("NOT as expected: " + o.why).c_str());
  }
  std::printf("cases tried: %zu, as expected: %d\n\n", outcomes.size(), passed);
}

TEST_F(CliTable, EveryCaseEndsAsExpected) {
  std::vector<Outcome> outcomes;
  int index = 0;
  for (const CliCase& c : Cases()) {
    ++index;
    if (c.via != Via::Library) outcomes.push_back(Run(c, Via::Builtin, index));
    if (c.via != Via::Builtin) outcomes.push_back(Run(c, Via::Library, index));
  }
  PrintSummary(outcomes);
}

}  // namespace
}  // namespace quelt::testing
