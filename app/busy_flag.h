// The process-wide busy flag: set by the window thread just before a worker starts, cleared by
// the worker when its run has finished. While it is set only the worker uses the chip link.
#pragma once

#include <atomic>

namespace quelt {

std::atomic<bool>& BusyFlag();
// For tests only: clears the flag.
void ResetBusyFlagForTests();

}  // namespace quelt
