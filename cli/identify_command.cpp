#include "cli/chip_steps.h"
#include "cli/commands.h"
#include "cli/exit_status.h"

namespace quelt::cli {

int RunIdentify(const CommandContext& context) {
  const int connected = ConnectChip(context.options, context.console, context.adapter_error);
  if (connected != kExitDone) return connected;
  const int reported = ReportConnection(context.console);
  if (reported != kExitDone) return IdleAndReturn(reported);
  context.console.Result(ChipName());
  return IdleAndReturn(kExitDone);
}

}  // namespace quelt::cli
