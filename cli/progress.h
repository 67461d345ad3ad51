// Progress of a long phase on standard error: a redrawn bar with percentage, bytes and elapsed
// time on a terminal, one plain line per tenth of the work otherwise, nothing when quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quelt::cli {

class Progress {
 public:
  enum class Style { Bar, Lines, Silent };
  // Bar when standard error is a terminal, Lines when it is not, Silent when quiet.
  static Style StyleFor(bool quiet);

  explicit Progress(Style style) : style_(style) {}
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() { End(); }

  // Starts a phase ("Erasing") over `total` bytes.
  void Begin(const std::string& phase, int64_t total);
  void Update(int64_t done);
  // Closes the bar line of the current phase, if any.
  void End();

 private:
  void Draw(int64_t done);

  Style style_;
  std::string phase_;
  int64_t total_ = 0;
  int last_tenth_ = -1;
  bool open_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace quelt::cli
