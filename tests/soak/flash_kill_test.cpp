// A writer killed at a random moment leaves the emulator's flash file as a chip would be after a
// power cut: the chip's size, and a prefix of the work (the erase of the blocks under the image,
// in order, then the programming from address 0 on):
//   image[0..p) | 0xFF ... | the old contents from some point on
// where either nothing was programmed yet (p = 0) or the erase was done (0xFF from p to the end
// of the last erased block).   QUELT_KILL_ROUNDS rounds per chip (default 12), QUELT_KILL_SEED.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "tests/soak/soak_util.h"

namespace quelt::soak {
namespace {

using Clock = std::chrono::steady_clock;

// An empty text when `file` is a state the work can leave behind.
std::string Fault(Chip chip, const Bytes& file, const Bytes& old, const Bytes& image) {
  if (file.size() != old.size()) return "the file holds " + std::to_string(file.size()) + " bytes";
  const std::size_t erased_end = std::size_t(ErasedEnd(chip, int32_t(image.size())));
  std::size_t p = 0, f = 0;
  while (p < image.size() && file[p] == image[p]) ++p;
  for (f = p; f < file.size() && file[f] == 0xFF;) ++f;
  const std::size_t rest = std::min(f, erased_end);
  if (!std::equal(file.begin() + std::ptrdiff_t(rest), file.end(),
                  old.begin() + std::ptrdiff_t(rest)))
    return "from byte " + std::to_string(rest) + " on, neither erased nor the old contents";
  if (p > 0 && f < erased_end)
    return "programmed up to " + std::to_string(p) + ", erased only to " + std::to_string(f);
  return {};
}

// Forks `work` and, with `delay`, kills it that long after the fork. Without, waits for it and
// notes when byte 0 of `flash` left the old 0xA5 (erase) and became the image's 0x00 (program).
// Returns the exit status, or -SIGKILL.
int RunChild(void (*work)(const std::string&, const Bytes&), const std::string& options,
             const Bytes& image, const std::string& flash, std::optional<Clock::duration> delay,
             Clock::duration times[3] = nullptr) {
  const int fd = open(flash.c_str(), O_RDONLY | O_CLOEXEC);
  std::fflush(nullptr);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) work(options, image);
  int status = 0;
  if (delay) {
    std::this_thread::sleep_until(start + *delay);
    kill(pid, SIGKILL);
  }
  while (times && waitpid(pid, &status, WNOHANG) == 0) {
    uint8_t first = 0xA5;
    if (pread(fd, &first, 1, 0) == 1 && first != 0xA5 && times[0] == Clock::duration{})
      times[0] = Clock::now() - start;
    if (first == 0x00 && times[1] == Clock::duration{}) times[1] = Clock::now() - start;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  if (!times) waitpid(pid, &status, 0);
  if (times) times[2] = Clock::now() - start;
  if (fd >= 0) close(fd);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

// In the child: writes the image as the write command does, then leaves without any clean-up.
void Write(const std::string& options, const Bytes& image) {
  std::unique_ptr<SimAdapter> sim;
  const int32_t size = int32_t(image.size());
  _exit(!OpenChip(options[0] == 'b' ? Chip::Base : Chip::Large, options, &sim) ? 4
        : EraseImageRange(size) != LinkStatus::Ok                ? 5
        : ProgramImage(image.data(), size, {}) != LinkStatus::Ok ? 6
                                                                 : 0);
}
void Create(const std::string& options, const Bytes&) {
  std::string error;
  _exit(SimAdapter::Create(options, &error) ? 0 : 3);
}

TEST(FlashKill, KilledWriterLeavesAPrefixOfItsWork) {
  const uint64_t rounds = std::max<uint64_t>(3, EnvNumber("QUELT_KILL_ROUNDS", 12));
  std::mt19937_64 rng(EnvNumber("QUELT_KILL_SEED", 0xF1A5));
  TempDir folder;
  for (const Chip chip : {Chip::Base, Chip::Large}) {
    const std::string flash = folder.File(ChipName(chip));
    for (uint64_t k = 0; k < rounds; ++k) {
      const int32_t size =
          k == 0 ? ChipSize(chip) : std::uniform_int_distribution<int32_t>(32, ChipSize(chip))(rng);
      Bytes old = RandomBytes(std::size_t(ChipSize(chip)), rng());
      Bytes image = RandomBytes(std::size_t(size), rng());
      old[0] = 0xA5;  // byte 0 tells the stages apart
      image[0] = 0x00;
      // Every other base round paced, so that the base chip's short programming is hit too.
      std::string options = std::string(ChipName(chip)) + ",flash=" + flash;
      if (chip == Chip::Base && k % 2 == 1) options += ",rate=20000000";
      SCOPED_TRACE(options + ", round " + std::to_string(k) + ", " + std::to_string(size) +
                   " bytes");

      // Left to finish first, to learn when this write erases and programs here.
      Clock::duration t[3] = {};
      ASSERT_TRUE(WriteFile(flash, old));
      ASSERT_EQ(0, RunChild(Write, options, image, flash, std::nullopt, t));
      Bytes done = image;
      done.resize(std::size_t(ErasedEnd(chip, size)), 0xFF);
      done.insert(done.end(), old.begin() + std::ptrdiff_t(done.size()), old.end());
      ASSERT_EQ(done, ReadFile(flash));

      // Then killed at a random moment: in turn anywhere, while erasing, while programming.
      const Clock::duration from = k % 3 == 0 ? Clock::duration{} : t[k % 3 - 1];
      const Clock::duration to = k % 3 == 1 ? t[1] : t[2];
      const auto delay =
          from + std::chrono::duration_cast<Clock::duration>(
                     (to - from) * std::uniform_real_distribution<double>(0, 1)(rng));
      ASSERT_TRUE(WriteFile(flash, old));
      const int status = RunChild(Write, options, image, flash, delay);
      ASSERT_TRUE(status == 0 || status == -SIGKILL) << "writer ended with " << status;
      const Bytes file = ReadFile(flash);
      EXPECT_EQ("", Fault(chip, file, old, image));
      if (status == 0) {
        EXPECT_EQ(done, file);
      }
      std::string error;  // the chip stays usable: a later command maps the file again
      EXPECT_NE(nullptr,
                SimAdapter::Create(std::string(ChipName(chip)) + ",flash=" + flash, &error));
    }
  }
}

// A command killed while it creates a missing flash file leaves no file or an erased one of the
// chip's size: never an empty or unerased file that a later command would take as the chip.
TEST(FlashKill, KilledWhileCreatingLeavesNoFileOrAnErasedOne) {
  const uint64_t rounds = std::max<uint64_t>(10, EnvNumber("QUELT_KILL_ROUNDS", 12) * 3);
  std::mt19937_64 rng(EnvNumber("QUELT_KILL_SEED", 0xC4EA));
  TempDir folder;
  const std::string flash = folder.File("new.flash");
  Clock::duration t[3] = {};
  RunChild(Create, "large,flash=" + flash, {}, flash, std::nullopt, t);
  ASSERT_EQ(Bytes(std::size_t(kLargeSize), 0xFF), ReadFile(flash));
  for (uint64_t k = 0; k < rounds; ++k) {
    ASSERT_EQ(0, std::remove(flash.c_str()));
    RunChild(Create, "large,flash=" + flash, {}, flash,
             std::chrono::duration_cast<Clock::duration>(
                 t[2] * std::uniform_real_distribution<double>(0, 1.2)(rng)));
    if (access(flash.c_str(), F_OK) == 0) {
      ASSERT_EQ(Bytes(std::size_t(kLargeSize), 0xFF), ReadFile(flash)) << "round " << k;
    } else {
      ASSERT_TRUE(WriteFile(flash, {}));  // something for the next round to remove
    }
  }
}

}  // namespace
}  // namespace quelt::soak
