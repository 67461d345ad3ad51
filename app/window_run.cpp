#include "app/window_run.h"

#include <system_error>
#include <utility>

namespace quelt {
namespace {
std::atomic<bool> busy{false};
}  // namespace

std::atomic<bool>& BusyFlag() { return busy; }

bool WindowRun::Start(std::function<void()> work) {
  // A press that landed as the previous run ended, after it cleared the request but before it
  // cleared the busy flag, left a request behind: it must not stop this run.
  cancel_request_ = false;
  busy = true;
  Wait();  // a previous worker has finished its run; only its return is left
  const bool fail = std::exchange(fail_next_start_, false);
  if (!fail) {
    try {
      worker_ = std::thread(std::move(work));
      return true;
    } catch (const std::system_error&) {
    }
  }
  busy = false;
  cancel_request_ = false;
  return false;
}

void WindowRun::Finish() {
  cancel_request_ = false;
  busy = false;
}

void WindowRun::Wait() {
  if (worker_.joinable()) worker_.join();
}

bool WindowRun::DeferClose(int result) {
  if (!Busy()) return false;
  // The run must not lose its window or its buffer: ask it to stop, and close when it has.
  cancel_request_ = true;
  deferred_close_ = result;
  return true;
}

std::optional<int> WindowRun::TakeDeferredClose() {
  if (!deferred_close_) return std::nullopt;
  if (Busy()) {
    // A new run started before the end of the last one was seen; it ends the window in turn.
    cancel_request_ = true;
    return std::nullopt;
  }
  return std::exchange(deferred_close_, std::nullopt);
}

}  // namespace quelt
