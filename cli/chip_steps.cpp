#include "cli/chip_steps.h"

#include "cli/exit_status.h"
#include "cli/texts.h"
#include "link/adapter.h"
#include "link/bus.h"
#include "link/chip_type.h"
#include "link/identify.h"
#include "settings/safe_mode.h"

namespace quelt::cli {

int SpeedFor(Options::Speed speed) {
  switch (speed) {
    case Options::Speed::Safe:
      return 3;
    case Options::Speed::Fast:
      return 2;
    case Options::Speed::Stored:
      break;
  }
  return StoredSafeModeForCommandLine() ? 3 : 2;
}

int ConnectChip(const Options& options, const Console& console, const std::string& adapter_error) {
  if (AdapterOpen() != 0) {
    if (!adapter_error.empty()) console.Error("", adapter_error);
    const std::string why = CurrentAdapter().OpenError();
    if (!why.empty()) console.Error("", why);
    console.Error(kAdapterNotFoundCaption, kAdapterNotFoundText);
    return kExitAdapterNotFound;
  }
  AdapterSpeed(SpeedFor(options.speed));
  IdentifyChip();
  return kExitDone;
}

int ReportConnection(const Console& console) {
  switch (CurrentChipType()) {
    case ChipNone:
      console.Error(kConnectionErrorCaption, kNoChipText);
      return kExitChipNotUsable;
    case ChipBase:
      console.Status(kConnectedBase);
      return kExitDone;
    case ChipLarge:
      console.Status(kConnectedLarge);
      return kExitDone;
    case ChipAlt:
      break;
  }
  console.Error(kConnectionErrorCaption, kUnknownVersionText);
  return kExitChipNotUsable;
}

std::string ChipName() {
  switch (CurrentChipType()) {
    case ChipBase:
      return kBaseChipName;
    case ChipLarge:
      return kLargeChipName;
    default:
      return {};
  }
}

int IdleAndReturn(int status) {
  IdleBus();
  return status;
}

}  // namespace quelt::cli
