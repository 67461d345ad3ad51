// A writer killed at a random moment leaves the emulator's flash file as a chip would be after a
// power cut: the file keeps the chip's size and holds a prefix of the work done. The work is the
// erase of the blocks under the image, in order, then the programming of the image from address
// 0 on; so the file must read as
//
//   image[0..p) | 0xFF ... | the old contents from some point on
//
// where either nothing was programmed yet (p = 0, the erase got as far as the 0xFF bytes go) or
// the erase was done (every byte from p to the end of the last erased block is 0xFF).
//
//   QUELT_KILL_ROUNDS  rounds per chip type (default 12); QUELT_KILL_SEED the seed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "tests/soak/soak_util.h"

namespace quelt::soak {
namespace {

using Clock = std::chrono::steady_clock;

// In the child: writes the image as the write command does, then leaves without any clean-up.
[[noreturn]] void WriteAndExit(Chip chip, const std::string& options,
                               const std::vector<uint8_t>& image) {
  std::string error;
  auto sim = SimAdapter::Create(options, &error);
  if (!sim) _exit(3);
  SetAdapter(sim.get());
  ResetChipTypeForTests();
  AdapterOpen();
  AdapterSpeed(2);
  IdentifyChip();
  if (CurrentChipType() != (chip == Chip::Base ? ChipBase : ChipLarge)) _exit(4);
  const int32_t size = static_cast<int32_t>(image.size());
  if (EraseImageRange(size) != LinkStatus::Ok) _exit(5);
  if (ProgramImage(image.data(), size, {}) != LinkStatus::Ok) _exit(6);
  _exit(0);
}

enum Stage { Untouched, Erasing, Programming, Done, kStages };
const char* const kStageNames[kStages] = {"untouched", "erasing", "programming", "done"};

// Where the work stood when the file was left as it is; an empty `fault` when the file is a
// state the work can leave behind.
struct Reading {
  Stage stage = Untouched;
  std::string fault;
};

Reading ReadState(Chip chip, const std::vector<uint8_t>& file, const std::vector<uint8_t>& old,
                  const std::vector<uint8_t>& image) {
  Reading r;
  if (file.size() != old.size()) {
    r.fault = "the file holds " + std::to_string(file.size()) + " bytes, not " +
              std::to_string(old.size());
    return r;
  }
  const std::size_t size = image.size();
  const std::size_t erased_end =
      static_cast<std::size_t>(ErasedEnd(chip, static_cast<int32_t>(size)));
  std::size_t p = 0;
  while (p < size && file[p] == image[p]) ++p;
  std::size_t f = p;
  while (f < file.size() && file[f] == 0xFF) ++f;
  // From where the 0xFF bytes stop (or the erased blocks end, if earlier) the old contents.
  const std::size_t rest = std::min(f, erased_end);
  if (!std::equal(file.begin() + static_cast<std::ptrdiff_t>(rest), file.end(),
                  old.begin() + static_cast<std::ptrdiff_t>(rest))) {
    r.fault = "from byte " + std::to_string(rest) + " on, neither erased nor the old contents";
    return r;
  }
  if (p > 0 && f < erased_end) {
    r.fault = "programmed up to " + std::to_string(p) + " while the erase stopped at " +
              std::to_string(f);
    return r;
  }
  if (p == size && f >= erased_end) {
    r.stage = Done;
  } else if (p > 0) {
    r.stage = Programming;
  } else {
    r.stage = f > 0 ? Erasing : Untouched;
  }
  return r;
}

struct Round {
  std::vector<uint8_t> old;
  std::vector<uint8_t> image;
};

Round MakeRound(std::mt19937_64& rng, Chip chip, int32_t size) {
  Round round;
  round.old = RandomBytes(static_cast<std::size_t>(ChipSize(chip)), rng());
  round.image = RandomBytes(static_cast<std::size_t>(size), rng());
  // The first bytes tell the stages apart: programming has begun exactly when byte 0 reads as
  // the image's (neither the old byte nor erased).
  round.old[0] = 0xA5;
  round.image[0] = 0x00;
  return round;
}

// When a writer left alone reached each stage, seen from byte 0 of its file (the old 0xA5, then
// erased, then the image's 0x00), counted from the fork.
struct Timeline {
  Clock::duration erase{};
  Clock::duration program{};
  Clock::duration end{};
};

// Forks a writer and waits for it. With `delay`, kills it that long after the fork; without,
// lets it finish and fills `timeline`. Returns the exit status when it ended by itself, -SIGKILL
// when killed.
int RunWriter(Chip chip, const std::string& flash, const std::string& options,
              const std::vector<uint8_t>& image, std::optional<Clock::duration> delay,
              Timeline* timeline) {
  const int fd = open(flash.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1002;
  std::fflush(nullptr);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) WriteAndExit(chip, options, image);
  int status = 0;
  if (pid < 0) {
    status = -1000;
  } else if (delay) {
    std::this_thread::sleep_until(start + *delay);
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0) {
    }
  } else {
    bool erased = false;
    bool programmed = false;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      uint8_t first = 0xA5;
      if (pread(fd, &first, 1, 0) == 1) {
        const auto now = Clock::now() - start;
        if (!erased && first != 0xA5) timeline->erase = now, erased = true;
        if (!programmed && first == 0x00) timeline->program = now, programmed = true;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    timeline->end = Clock::now() - start;
    if (!erased) timeline->erase = timeline->end;
    if (!programmed) timeline->program = timeline->end;
  }
  close(fd);
  if (pid < 0) return status;
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1001;
}

std::string Seconds(Clock::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f s", std::chrono::duration<double>(d).count());
  return text;
}

TEST(FlashKill, KilledWriterLeavesAPrefixOfItsWork) {
  const uint64_t rounds = std::max<uint64_t>(3, EnvNumber("QUELT_KILL_ROUNDS", 12));
  const uint64_t seed = EnvNumber("QUELT_KILL_SEED", 0xF1A5);
  std::mt19937_64 rng(seed);
  TempDir folder;

  for (const Chip chip : {Chip::Base, Chip::Large}) {
    SCOPED_TRACE(ChipName(chip));
    const std::string flash = folder.File(std::string(ChipName(chip)) + ".flash");
    int stages[kStages] = {};
    for (uint64_t k = 0; k < rounds; ++k) {
      const int32_t size =
          k == 0 ? ChipSize(chip) : std::uniform_int_distribution<int32_t>(32, ChipSize(chip))(rng);
      const Round round = MakeRound(rng, chip, size);
      SCOPED_TRACE("round " + std::to_string(k) + ", " + std::to_string(size) + " bytes");

      // Every other base round paced, so that the base chip's short programming is also hit.
      std::string options = std::string(ChipName(chip)) + ",flash=" + flash;
      if (chip == Chip::Base && k % 2 == 1) options += ",rate=20000000";

      // First left to finish, to learn when this write erases and programs here.
      Timeline t;
      ASSERT_TRUE(WriteFile(flash, round.old));
      ASSERT_EQ(0, RunWriter(chip, flash, options, round.image, std::nullopt, &t));
      Reading reading = ReadState(chip, ReadFile(flash), round.old, round.image);
      ASSERT_EQ("", reading.fault);
      ASSERT_EQ(Done, reading.stage);

      // Then killed at a random moment: in turn anywhere, while erasing, while programming.
      Clock::duration from{}, to = t.end;
      if (k % 3 == 1) from = t.erase, to = t.program;
      if (k % 3 == 2) from = t.program;
      const auto delay =
          from + std::chrono::duration_cast<Clock::duration>(
                     (to - from) * std::uniform_real_distribution<double>(0, 1)(rng));
      ASSERT_TRUE(WriteFile(flash, round.old));
      const int status = RunWriter(chip, flash, options, round.image, delay, nullptr);
      ASSERT_TRUE(status == 0 || status == -SIGKILL) << "writer ended with " << status;

      reading = ReadState(chip, ReadFile(flash), round.old, round.image);
      EXPECT_EQ("", reading.fault)
          << "killed after " << Seconds(delay) << " of " << Seconds(t.end) << " (erase from "
          << Seconds(t.erase) << ", program from " << Seconds(t.program) << ")";
      if (status == 0) {
        EXPECT_EQ(Done, reading.stage);
      }
      ++stages[reading.stage];

      // The chip stays usable: a later command maps the file again.
      std::string error;
      EXPECT_NE(nullptr,
                SimAdapter::Create(std::string(ChipName(chip)) + ",flash=" + flash, &error))
          << error;
    }
    std::printf("kill %s: %" PRIu64 " writers killed; files found %s %d, %s %d, %s %d, %s %d\n",
                ChipName(chip), rounds, kStageNames[0], stages[0], kStageNames[1], stages[1],
                kStageNames[2], stages[2], kStageNames[3], stages[3]);
    std::fflush(stdout);
  }
}

// A command killed while it creates a missing flash file leaves no flash file, or an erased one of
// the chip's size: never an empty or unerased file that a later command would take as the chip.
TEST(FlashKill, KilledWhileCreatingLeavesNoFileOrAnErasedOne) {
  const uint64_t rounds = std::max<uint64_t>(10, EnvNumber("QUELT_KILL_ROUNDS", 12) * 3);
  std::mt19937_64 rng(EnvNumber("QUELT_KILL_SEED", 0xC4EA));
  TempDir folder;
  const std::string flash = folder.File("new.flash");
  const std::string options = "large,flash=" + flash;
  const auto create = [&](std::optional<Clock::duration> delay) {
    std::fflush(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
      std::string error;
      _exit(SimAdapter::Create(options, &error) ? 0 : 3);
    }
    if (delay) {
      std::this_thread::sleep_until(start + *delay);
      kill(pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return Clock::now() - start;
  };

  const Clock::duration whole = create(std::nullopt);
  ASSERT_EQ(static_cast<std::size_t>(ChipSize(Chip::Large)), ReadFile(flash).size());
  int missing = 0, erased = 0;
  for (uint64_t k = 0; k < rounds; ++k) {
    ASSERT_EQ(0, std::remove(flash.c_str()));
    const auto delay = std::chrono::duration_cast<Clock::duration>(
        whole * std::uniform_real_distribution<double>(0, 1.2)(rng));
    create(delay);
    if (access(flash.c_str(), F_OK) != 0) {
      ++missing;
      ASSERT_TRUE(WriteFile(flash, {}));  // something for the next round to remove
      continue;
    }
    const std::vector<uint8_t> file = ReadFile(flash);
    ASSERT_EQ(static_cast<std::size_t>(ChipSize(Chip::Large)), file.size())
        << "killed after " << Seconds(delay) << " of " << Seconds(whole);
    ASSERT_TRUE(std::all_of(file.begin(), file.end(), [](uint8_t b) { return b == 0xFF; }))
        << "killed after " << Seconds(delay) << " of " << Seconds(whole);
    ++erased;
  }
  std::printf("create: %" PRIu64 " creators killed; no file %d, erased file %d\n", rounds, missing,
              erased);
  std::fflush(stdout);
}

}  // namespace
}  // namespace quelt::soak
