#include "cli/options.h"

#include <CLI/CLI.hpp>

#include "cli/exit_status.h"

#ifndef QUELT_VERSION
#define QUELT_VERSION "unknown"
#endif

namespace quelt::cli {

ParseOutcome ParseOptions(int argc, char** argv) {
  CLI::App app{
      "Writes a BIOS image into a Quelt JQ or Quelt JQ Ombrix chip through the Quelt USB "
      "adapter, verifies it, identifies the chip, or checks an image file.",
      "quelt-flasher-cli"};
  app.set_version_flag("--version", std::string("quelt-flasher-cli ") + QUELT_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(
      "ADAPTER: 'sim' or 'sim:TYPE[,OPTION...]' for the built-in chip emulator, or the path of "
      "an adapter library. Without --adapter, QUELT_ADAPTER is used, else libQueltUSB.so.\n"
      "Exit status: 0 done, 1 usage, 2 image refused, 3 adapter not found, 4 chip not usable "
      "for the command, 5 verify mismatch, 6 cancelled, 7 any other failure.");

  Options options;
  std::string adapter;
  auto* adapter_option =
      app.add_option("--adapter", adapter, "Adapter: sim[:TYPE[,OPTION...]] or a library path");
  auto* safe = app.add_flag("--safe")->description("Slower adapter speed (safe mode)");
  auto* fast = app.add_flag("--fast")->description("Normal adapter speed");
  safe->excludes(fast);
  app.add_flag("-q,--quiet", options.quiet, "No progress and no status texts");
  double timeout = 0;
  auto* timeout_option =
      app.add_option("--erase-timeout", timeout,
                     "Bound on each block's erase wait in seconds, below the default 30")
          ->check(CLI::Range(0.001, 30.0));

  auto* identify = app.add_subcommand("identify", "Identify the attached chip");
  auto* info = app.add_subcommand("info", "Check an image file (no adapter needed)");
  info->add_option("FILE", options.file, "Image file")->required();
  auto* write = app.add_subcommand("write", "Erase the chip and write an image");
  write->add_option("FILE", options.file, "Image file")->required();
  write->add_flag("--verify", options.verify_after_write, "Verify after writing");
  auto* verify = app.add_subcommand("verify", "Compare the chip's flash with an image");
  verify->add_option("FILE", options.file, "Image file")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return {std::nullopt, code == 0 ? kExitDone : kExitUsage};
  }

  if (*adapter_option) options.adapter = adapter;
  if (*safe) options.speed = Options::Speed::Safe;
  if (*fast) options.speed = Options::Speed::Fast;
  // A range check lets NaN through: every comparison with it is false.
  if (*timeout_option && !(timeout >= 0.001 && timeout <= 30.0)) {
    (void)app.exit(CLI::ValidationError("--erase-timeout", "must be 0.001 to 30 seconds"));
    return {std::nullopt, kExitUsage};
  }
  if (*timeout_option) options.erase_timeout_seconds = timeout;
  if (*identify) options.command = Options::Command::Identify;
  if (*info) options.command = Options::Command::Info;
  if (*write) options.command = Options::Command::Write;
  if (*verify) options.command = Options::Command::Verify;
  return {options, kExitDone};
}

}  // namespace quelt::cli
