// The four commands. Each returns the process's exit status.
#pragma once

#include <string>

#include "cli/console.h"
#include "cli/options.h"

namespace quelt::cli {

// What every chip command needs: the options, where to speak, and why the adapter could not be
// made as named (empty when it could).
struct CommandContext {
  const Options& options;
  const Console& console;
  std::string adapter_error;
};

int RunIdentify(const CommandContext& context);
int RunInfo(const Options& options, const Console& console);
int RunWrite(const CommandContext& context);
// `image_loaded`: the image store already holds the checked image (after a write).
int RunVerify(const CommandContext& context, bool image_loaded = false);

}  // namespace quelt::cli
