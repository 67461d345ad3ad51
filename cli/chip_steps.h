// The steps with which the window's Write and Verify commands start and end, on the current
// adapter: open, speed, identification, the connection report, loading the image, and the idle
// symbol that ends every command that got past the open.
#pragma once

#include <string>

#include "cli/console.h"
#include "cli/options.h"

namespace quelt::cli {

// 3 for --safe or a stored safe-mode setting, else 2. The setting is only read.
int SpeedFor(Options::Speed speed);

// Opens the adapter, sets the speed and identifies the chip. Returns kExitAdapterNotFound, with
// nothing sent to the chip, when the open fails (`adapter_error` says why, when known).
int ConnectChip(const Options& options, const Console& console, const std::string& adapter_error);

// The window's connection report: kExitDone for a chip that can be worked on, else
// kExitChipNotUsable after the window's message.
int ReportConnection(const Console& console);

// The name of a chip that can be worked on ("Quelt JQ", "Quelt JQ Ombrix"), else empty.
std::string ChipName();

// Sends the idle symbol and passes `status` on.
int IdleAndReturn(int status);

}  // namespace quelt::cli
