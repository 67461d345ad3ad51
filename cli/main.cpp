// quelt-flasher-cli: the chip link and the image store without a window.
#include <cstdlib>
#include <string>

#include "adapter.h"
#include "adapter_choice.h"
#include "commands.h"
#include "console.h"
#include "erase.h"
#include "exit_status.h"
#include "image_steps.h"
#include "image_store.h"
#include "interrupt.h"
#include "options.h"
#include "texts.h"

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
    SetEraseTimeout(std::chrono::milliseconds(
        static_cast<int64_t>(*options.erase_timeout_seconds * 1000.0 + 0.5)));
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
  RouteImageMessages();
  const int status = options.command == Options::Command::Info ? RunInfo(options, console)
                                                               : RunChipCommand(options, console);
  FreeImage();
  return status;
}

}  // namespace
}  // namespace quelt::cli

int main(int argc, char** argv) { return quelt::cli::Run(argc, argv); }
