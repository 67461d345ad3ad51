// quelt-flasher-cli: the flashing core and the image store without a window.
#include <cmath>
#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/texts.h"
#include "image/image_store.h"
#include "link/adapter.h"
#include "link/adapter_choice.h"
#include "link/erase.h"

namespace quelt::cli {
namespace {

// --adapter, else QUELT_ADAPTER, else the platform's library (the empty name).
std::string AdapterName(const Options& options) {
  if (options.adapter) return *options.adapter;
  const char* env = std::getenv("QUELT_ADAPTER");
  return env ? env : "";
}

int RunChipCommand(const Options& options, const Console& console) {
  if (options.erase_timeout_seconds) {
    SetEraseTimeout(
        std::chrono::milliseconds(std::llround(*options.erase_timeout_seconds * 1000.0)));
  }
  const std::string name = AdapterName(options);
  AdapterChoice choice = ChooseAdapter(name);
  if (choice.emulator && choice.error.empty()) {
    console.Status("Using the chip emulator (" + name + "), not a real adapter");
  }
  SetAdapter(choice.adapter.get());
  InstallInterruptHandler();
  IgnoreBrokenPipe();

  const CommandContext context{options, console, choice.error};
  int status = kExitDone;
  switch (options.command) {
    case Options::Command::Identify:
      status = RunIdentify(context);
      break;
    case Options::Command::Write:
      status = RunWrite(context);
      break;
    case Options::Command::Verify:
      status = RunVerify(context);
      break;
    case Options::Command::Info:
      break;
  }
  SetAdapter(nullptr);
  return status;
}

int Run(int argc, char** argv) {
  const ParseOutcome parsed = ParseOptions(argc, argv);
  if (!parsed.options) return parsed.exit_status;
  const Options& options = *parsed.options;
  const Console console(options.quiet);

  if (!AllocateImage()) {
    console.Error(kErrorCaption, kNoMemoryText);
    return kExitFailure;
  }
  const int status = options.command == Options::Command::Info ? RunInfo(options, console)
                                                               : RunChipCommand(options, console);
  FreeImage();
  return status;
}

}  // namespace
}  // namespace quelt::cli

int main(int argc, char** argv) { return quelt::cli::Run(argc, argv); }
