// Progress of a long phase on standard error: a bar with percentage, bytes and elapsed time on a
// terminal, redrawn as the work moves and once a second in between (a chunk of programming can
// take a while on a real adapter); one plain line per tenth of the work when standard error is
// not a terminal; nothing when quiet.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace quelt::cli {

class Progress {
 public:
  enum class Style { Bar, Lines, Silent };
  // Bar when standard error is a terminal, Lines when it is not, Silent when quiet.
  static Style StyleFor(bool quiet);

  explicit Progress(Style style) : style_(style) {}
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  // Starts a phase ("Erasing") over `total` bytes.
  void Begin(const std::string& phase, int64_t total);
  void Update(int64_t done);
  // Closes the line of the current phase, if any.
  void End();

 private:
  void Draw();  // with mutex_ held
  void EndLocked();
  void Tick();

  const Style style_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread ticker_;
  bool stopping_ = false;
  bool open_ = false;
  std::string phase_;
  int64_t total_ = 0;
  int64_t done_ = 0;
  int last_tenth_ = -1;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace quelt::cli
