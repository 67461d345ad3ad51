// Ctrl-C on Windows: the console's control handler, with the meaning it has on Linux (see
// interrupt.h). Windows calls the handler on a thread of its own.
#include <windows.h>

#include "cli/interrupt.h"

namespace quelt::cli {
namespace {

BOOL WINAPI OnControl(DWORD event) {
  // Closing the console, logging off and shutting down end the process as they always do.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  HandleInterrupt();
  return TRUE;
}

}  // namespace

void InstallInterruptHandler() { SetConsoleCtrlHandler(OnControl, TRUE); }

// Windows has no SIGPIPE: a write to a pipe whose reader went away fails, and that is all.
void IgnoreBrokenPipe() {}

}  // namespace quelt::cli
