// Ctrl-C during a chip command.
//
// The first interrupt is a cancel request with the window's meaning: before the erase it stops
// the command before anything is erased; during the erase it takes effect once the erase has
// finished; during programming it changes nothing. A second interrupt ends the process at once
// with a warning, since the chip may then hold a partial image. While a command only reads the
// chip (identify, verify), the first interrupt ends the process at once.
#pragma once

namespace quelt::cli {

enum class RunPhase : int { ReadOnly, Preparing, Erasing, Programming };

// Installs the handler for the rest of the process, in the ReadOnly phase.
void InstallInterruptHandler();
// A reader of standard output that goes away (a pipe into `head`) must not end the process in the
// middle of a chip operation: writes to it then fail quietly instead.
void IgnoreBrokenPipe();
void SetRunPhase(RunPhase phase);
bool CancelRequested();

// What the platform's handler (SIGINT, or the console's Ctrl-C event on Windows) does; it touches
// only lock-free atomics, writes with write() and ends the process with _exit().
void HandleInterrupt();

}  // namespace quelt::cli
