#include "cli/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace quelt::cli {
namespace {

constexpr int kBarWidth = 30;

int Percent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return static_cast<int>(std::clamp<int64_t>(done * 100 / total, 0, 100));
}

std::string Elapsed(std::chrono::steady_clock::duration d) {
  auto s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60),
                static_cast<long long>(s % 60));
  return text;
}

}  // namespace

Progress::Style Progress::StyleFor(bool quiet) {
  if (quiet) return Style::Silent;
  return isatty(STDERR_FILENO) ? Style::Bar : Style::Lines;
}

Progress::~Progress() {
  {
    std::lock_guard lock(mutex_);
    EndLocked();
    stopping_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void Progress::Begin(const std::string& phase, int64_t total) {
  std::lock_guard lock(mutex_);
  EndLocked();
  phase_ = phase;
  total_ = total;
  done_ = 0;
  last_tenth_ = -1;
  start_ = std::chrono::steady_clock::now();
  open_ = true;
  Draw();
  if (style_ == Style::Bar && !ticker_.joinable()) {
    try {
      ticker_ = std::thread([this] { Tick(); });
    } catch (const std::system_error&) {
      // Without the ticker the bar still moves with the work; only the clock pauses.
    }
  }
}

void Progress::Update(int64_t done) {
  std::lock_guard lock(mutex_);
  done_ = std::clamp<int64_t>(done, 0, total_);
  if (open_) Draw();
}

void Progress::End() {
  std::lock_guard lock(mutex_);
  EndLocked();
}

void Progress::EndLocked() {
  if (!open_) return;
  open_ = false;
  if (style_ == Style::Bar) {
    std::fputc('\n', stderr);
    (void)std::fflush(stderr);  // progress is only shown; nothing to do when it cannot be
  }
}

void Progress::Tick() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::seconds(1));
    if (open_ && !stopping_) Draw();
  }
}

void Progress::Draw() {
  if (style_ == Style::Silent) return;
  const int percent = Percent(done_, total_);
  const std::string elapsed = Elapsed(std::chrono::steady_clock::now() - start_);
  if (style_ == Style::Bar) {
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r%-9s [%s] %3d%%  %lld/%lld bytes  %s", phase_.c_str(), bar.c_str(),
                 percent, static_cast<long long>(done_), static_cast<long long>(total_),
                 elapsed.c_str());
  } else {
    // One line per tenth reached, so a log shows the phase moving without a line per block.
    const int tenth = percent / 10;
    if (tenth == last_tenth_) return;
    last_tenth_ = tenth;
    std::fprintf(stderr, "%s: %d%% (%lld of %lld bytes, %s)\n", phase_.c_str(), percent,
                 static_cast<long long>(done_), static_cast<long long>(total_), elapsed.c_str());
  }
  (void)std::fflush(stderr);
}

}  // namespace quelt::cli
