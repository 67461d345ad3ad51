// The window's one run at a time, as a job object: Start, RequestCancel, Wait. It owns the worker
// thread, sets and clears the process-wide busy flag, holds the cancel request and knows whether
// the window waits for the run's end to close. All but Finish are called on the window thread.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

namespace quelt {

// The process-wide busy flag: set while a run lasts. While it is set only the worker uses the
// chip link.
std::atomic<bool>& BusyFlag();

class WindowRun {
 public:
  WindowRun() = default;
  WindowRun(const WindowRun&) = delete;
  WindowRun& operator=(const WindowRun&) = delete;
  ~WindowRun() { Wait(); }

  static bool Busy() { return BusyFlag().load(); }
  // Clears a cancel request left from before, sets the busy flag and runs `work` on a new thread,
  // which ends it with Finish(). False, with both flags clear, when no thread could be started.
  bool Start(std::function<void()> work);
  void RequestCancel() { cancel_request_ = true; }
  bool CancelRequested() const { return cancel_request_.load(); }
  // The worker's last act: clears the cancel request, then the busy flag.
  void Finish();
  // Waits for the worker thread's return (after Finish, or at shutdown).
  void Wait();

  // A close asked for with `result`: false when no run lasts (close now); else the run is asked
  // to stop and the close waits for its end.
  bool DeferClose(int result);
  // At a run's end: the result of a close that waited for it, when it may happen now.
  std::optional<int> TakeDeferredClose();

  // For tests only: the next Start fails as a thread start can.
  void FailNextStartForTests() { fail_next_start_ = true; }

 private:
  std::thread worker_;
  std::atomic<bool> cancel_request_{false};
  std::optional<int> deferred_close_;
  bool fail_next_start_ = false;
};

}  // namespace quelt
