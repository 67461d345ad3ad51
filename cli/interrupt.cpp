#include "cli/interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "cli/exit_status.h"

namespace quelt::cli {
namespace {

// Shared with the signal handler: lock-free atomics are the only state it may touch.
std::atomic<int> g_interrupts{0};
std::atomic<int> g_phase{static_cast<int>(RunPhase::ReadOnly)};
static_assert(std::atomic<int>::is_always_lock_free);

void Say(const char* text) {
  // write() is async-signal-safe; a short or failed write of a warning cannot be helped here.
  ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void OnInterrupt(int) {
  const int count = g_interrupts.fetch_add(1) + 1;
  const auto phase = static_cast<RunPhase>(g_phase.load());
  if (phase == RunPhase::ReadOnly) {
    Say("\nquelt-flasher-cli: interrupted; the flash was not being changed.\n");
    _exit(kExitCancelled);
  }
  if (count >= 2) {
    Say("\nquelt-flasher-cli: stopped at once. The chip may hold a partial image: "
        "write the image again before using it.\n");
    _exit(kExitCancelled);
  }
  switch (phase) {
    case RunPhase::Preparing:
      Say("\nquelt-flasher-cli: cancel requested; stopping before the chip is erased.\n");
      break;
    case RunPhase::Erasing:
      Say("\nquelt-flasher-cli: cancel requested; the erase finishes first, then the write "
          "stops. Press Ctrl-C again to stop at once.\n");
      break;
    case RunPhase::Programming:
      Say("\nquelt-flasher-cli: programming cannot be cancelled. Press Ctrl-C again to stop at "
          "once (the chip may then hold a partial image).\n");
      break;
    case RunPhase::ReadOnly:
      break;
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void IgnoreBrokenPipe() { (void)signal(SIGPIPE, SIG_IGN); }  // fails only for a bad number

void SetRunPhase(RunPhase phase) { g_phase.store(static_cast<int>(phase)); }

bool CancelRequested() { return g_interrupts.load() > 0; }

}  // namespace quelt::cli
