// Write-and-check cycles through the chip link on the emulator, and writers killed at random
// moments. QUELT_SOAK_CYCLES (60, with images up to 512 KiB; 1000 or more is the full run, with
// images up to the chip's size), QUELT_SOAK_SEED; QUELT_KILL_ROUNDS (12 per chip), QUELT_KILL_SEED.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/verify.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kSize[2] = {0x20000, 0x200000};  // "Quelt JQ", "Quelt JQ Ombrix"
constexpr const char* kName[2] = {"base", "large"};

// The end of the last erase block whose start lies below `size`: 4 KiB blocks on the base chip;
// 16, 8, 8 and 32 KiB, then 64 KiB blocks on the large one.
std::size_t ErasedEnd(int large, std::size_t size) {
  if (!large) return (size + 0xFFF) / 0x1000 * 0x1000;
  for (const std::size_t end : {0x4000, 0x6000, 0x8000, 0x10000})
    if (size <= end) return end;
  return (size + 0xFFFF) / 0x10000 * 0x10000;
}

// Opens the emulator as a command does, erases and programs `image`: "" or the fault.
std::string Write(int large, const std::string& options, const Bytes& image,
                  std::unique_ptr<SimAdapter>* sim) {
  std::string error;
  if (!(*sim = SimAdapter::Create(options, &error))) return error;
  SetAdapter(sim->get());
  ResetChipTypeForTests();
  AdapterOpen();
  AdapterSpeed(2);
  IdentifyChip();
  const int32_t size = int32_t(image.size());
  return CurrentChipType() != (large ? ChipLarge : ChipBase)      ? "not identified"
         : EraseImageRange(size) != LinkStatus::Ok                ? "erase did not finish"
         : ProgramImage(image.data(), size, {}) != LinkStatus::Ok ? "program refused"
                                                                  : "";
}

// Half of the cycles put a bad cell under a 0 bit of the image: verify (large chip) must name its
// chunk, and the flash file show its bits raised; a weak cell under 1 bits must not be reported.
TEST(Soak, EveryCorruptedChunkCaughtAndNoFalseAlarm) {
  const uint64_t cycles = EnvNumber("QUELT_SOAK_CYCLES", 60);
  const uint64_t seed = EnvNumber("QUELT_SOAK_SEED", 0x51AC0FF5);
  TempDir folder;
  for (uint64_t index = 0; index < cycles; ++index) {
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ULL + index);
    const int large = index % 2;
    const int32_t max = !large ? kSize[0] : cycles >= 1000 ? kSize[1] : 0x80000;
    const int32_t size =
        std::uniform_int_distribution<int32_t>(32, rng() % 4 ? max : std::min(max, 0x2000))(rng);
    Bytes image = RandomBytes(std::size_t(size), rng());  // a quarter of them small
    const bool corrupting = (index / 2) % 2 == 1;
    const uint32_t cell = uint32_t(rng() % image.size());
    uint8_t mask = 0;
    if (corrupting) {
      const uint8_t bit = uint8_t(1u << rng() % 8);  // a 0 bit of the image, whose cell is bad
      image[cell] &= uint8_t(~bit);
      mask = uint8_t(bit | rng());
    } else if (rng() % 4 == 0) {
      mask = uint8_t(image[cell] & rng());
    }
    const std::string flash = folder.File(kName[large]);
    char bad[40] = "";
    if (mask) std::snprintf(bad, sizeof bad, ",bad=0x%X:0x%02X", cell, mask);
    const std::string options = std::string(kName[large]) + ",flash=" + flash + bad;
    SCOPED_TRACE("cycle " + std::to_string(index) + " of QUELT_SOAK_SEED=" + std::to_string(seed));
    std::unique_ptr<SimAdapter> sim;
    EXPECT_EQ(Write(large, options, image, &sim), "");
    if (large) {
      const VerifyOutcome v = VerifyImage(image.data(), int32_t(image.size()), {});
      EXPECT_TRUE(v.status == LinkStatus::Ok && v.result == !corrupting) << v.result;
      EXPECT_EQ(v.failed_chunk_start, corrupting ? int32_t(cell) / 0x20000 * 0x20000 : -1);
    }
    SetAdapter(nullptr);
    Bytes want = image;
    want[cell] |= mask;
    want.resize(ErasedEnd(large, want.size()), 0xFF);  // earlier cycles' images lie beyond
    const Bytes file = ReadFile(flash);
    ASSERT_EQ(file.size(), std::size_t(kSize[large]));
    EXPECT_TRUE(std::equal(want.begin(), want.end(), file.begin()))
        << "the flash file is not the image with its bad cell, erased to the block's end";
  }
}

// Forks `work`, kills it `delay` after the fork when given; its exit status, or -SIGKILL.
template <typename Work>
int RunChild(Work work, std::optional<Clock::duration> delay, Clock::duration* took = nullptr) {
  std::fflush(nullptr);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(work());
  if (delay) std::this_thread::sleep_until(start + *delay);
  if (delay) kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  if (took) *took = Clock::now() - start;
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

// A writer killed at a random moment leaves a prefix of its work in the flash file, as a chip
// after a power cut: image[0..p) | 0xFF ... | the old contents, where p = 0 or the erase is done.
TEST(FlashKill, KilledWriterLeavesAPrefixOfItsWork) {
  const uint64_t rounds = std::max<uint64_t>(3, EnvNumber("QUELT_KILL_ROUNDS", 12));
  std::mt19937_64 rng(EnvNumber("QUELT_KILL_SEED", 0xF1A5));
  TempDir folder;
  for (const int large : {0, 1}) {
    const std::string flash = folder.File(kName[large]);
    for (uint64_t k = 0; k < rounds; ++k) {
      const int32_t size =
          k == 0 ? kSize[large] : std::uniform_int_distribution<int32_t>(32, kSize[large])(rng);
      Bytes old = RandomBytes(std::size_t(kSize[large]), rng());
      Bytes image = RandomBytes(std::size_t(size), rng());
      old[0] = 0xA5;  // programmed, byte 0 differs from the old contents and from erased
      image[0] = 0x00;
      // Every other base round paced, so that the base chip's short programming is hit too.
      const std::string options =
          std::string(kName[large]) + ",flash=" + flash + (!large && k % 2 ? ",rate=20000000" : "");
      SCOPED_TRACE(options + ", round " + std::to_string(k) + ", " + std::to_string(size));
      auto write = [&] {
        std::unique_ptr<SimAdapter> sim;
        return Write(large, options, image, &sim).empty() ? 0 : 4;
      };
      Clock::duration took{};
      ASSERT_TRUE(WriteFile(flash, old));
      ASSERT_EQ(0, RunChild(write, std::nullopt, &took));
      const std::size_t end = ErasedEnd(large, image.size());
      Bytes done = image;  // then 0xFF to the end of the last erased block, then the old contents
      done.resize(end, 0xFF);
      done.insert(done.end(), old.begin() + std::ptrdiff_t(done.size()), old.end());
      ASSERT_EQ(done, ReadFile(flash));

      ASSERT_TRUE(WriteFile(flash, old));
      const int status = RunChild(write, std::chrono::duration_cast<Clock::duration>(
                                             took * std::uniform_real_distribution<>(0, 1)(rng)));
      ASSERT_TRUE(status == 0 || status == -SIGKILL) << status;
      const Bytes file = ReadFile(flash);
      ASSERT_EQ(file.size(), old.size());
      std::size_t p = 0, f = 0;
      while (p < image.size() && file[p] == image[p]) ++p;
      for (f = p; f < file.size() && file[f] == 0xFF;) ++f;
      const std::size_t rest = std::min(f, end);
      EXPECT_TRUE(std::equal(file.begin() + std::ptrdiff_t(rest), file.end(),
                             old.begin() + std::ptrdiff_t(rest)))
          << "from byte " << rest << " on, neither erased nor the old contents";
      EXPECT_FALSE(p > 0 && f < end) << "programmed up to " << p << ", erased only to " << f;
      EXPECT_EQ(status == 0 ? done : file, file);
      std::string error;  // the chip stays usable: a later command maps the file again
      EXPECT_NE(nullptr, SimAdapter::Create(std::string(kName[large]) + ",flash=" + flash, &error));
    }
  }
}

// A command killed while it creates a missing flash file leaves none or an erased one of the
// chip's size, never an empty or unerased file that a later command would take as the chip.
TEST(FlashKill, KilledWhileCreatingLeavesNoFileOrAnErasedOne) {
  const uint64_t rounds = std::max<uint64_t>(10, EnvNumber("QUELT_KILL_ROUNDS", 12) * 3);
  std::mt19937_64 rng(EnvNumber("QUELT_KILL_SEED", 0xC4EA));
  TempDir folder;
  const std::string flash = folder.File("new.flash");
  std::string error;
  auto create = [&] { return SimAdapter::Create("large,flash=" + flash, &error) ? 0 : 3; };
  Clock::duration took{};
  ASSERT_EQ(0, RunChild(create, std::nullopt, &took));
  for (uint64_t k = 0; k <= rounds; ++k) {  // round 0: the file of the run that was not killed
    const bool kept = access(flash.c_str(), F_OK) == 0;
    EXPECT_TRUE(!kept || Bytes(std::size_t(kSize[1]), 0xFF) == ReadFile(flash)) << "round " << k;
    std::remove(flash.c_str());
    RunChild(create, std::chrono::duration_cast<Clock::duration>(
                         took * std::uniform_real_distribution<>(0, 1.2)(rng)));
  }
}

}  // namespace
}  // namespace quelt::test
