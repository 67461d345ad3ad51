// Write-and-check cycles through the chip link on the emulator, as the write and verify commands
// run them: random image sizes and contents on both chip types, on half of the cycles one bad
// cell that corrupts the byte programmed there. The large chip is checked by its verify, the base
// chip (which has none) by comparing its flash file with the image. Every corrupted chunk must be
// caught, and no good chip may ever be reported bad.
//
//   QUELT_SOAK_CYCLES  cycles to run (default 60, the CI run; 1000 or more is the full run)
//   QUELT_SOAK_SEED    the seed (default fixed, so that a CI failure can be rerun)
//   QUELT_SOAK_MAX     the largest image size tried (default: the chip's size in full runs,
//                      capped in short runs so that the CI run stays short under sanitizers)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/verify.h"
#include "tests/soak/soak_util.h"

namespace quelt::soak {
namespace {

constexpr uint64_t kDefaultCycles = 60;
constexpr uint64_t kFullCycles = 1000;
constexpr uint64_t kDefaultSeed = 0x51AC0FF5;
constexpr int32_t kShortRunMax = 0x80000;  // large-chip images in short runs: up to 512 KiB

// One cycle's plan: the chip, the image, and the cell that is bad on the chip, if any.
struct Plan {
  Chip chip = Chip::Base;
  std::vector<uint8_t> image;
  bool has_cell = false;
  bool corrupting = false;  // the cell's mask meets a 0 bit of the image byte there
  uint32_t cell = 0;
  uint8_t mask = 0;
  bool verify_in_new_session = false;  // the verify as a later, separate command would run it
};

std::string Describe(const Plan& plan, uint64_t seed, uint64_t index) {
  char text[200];
  std::snprintf(text, sizeof text, "cycle %" PRIu64 " (QUELT_SOAK_SEED=%" PRIu64 "): %s, %zu bytes",
                index, seed, ChipName(plan.chip), plan.image.size());
  std::string out = text;
  if (plan.has_cell) {
    std::snprintf(text, sizeof text, ", bad=0x%X:0x%02X over 0x%02X (%s)", plan.cell, plan.mask,
                  plan.image[plan.cell], plan.corrupting ? "corrupting" : "harmless");
    out += text;
  }
  return out;
}

int32_t PickSize(std::mt19937_64& rng, int32_t max) {
  // Mostly uniform over the range; a quarter log-uniform, so that small images (one block, one
  // chunk) come up often too.
  if (std::uniform_int_distribution<int>(0, 3)(rng) == 0) {
    const double lo = std::log(32.0);
    const double hi = std::log(static_cast<double>(max));
    const double x = std::uniform_real_distribution<double>(lo, hi)(rng);
    return std::clamp(static_cast<int32_t>(std::exp(x)), int32_t{32}, max);
  }
  return std::uniform_int_distribution<int32_t>(32, max)(rng);
}

Plan MakePlan(uint64_t seed, uint64_t index, int32_t large_max) {
  std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ULL + index);
  Plan plan;
  plan.chip = index % 2 == 0 ? Chip::Base : Chip::Large;
  const int32_t max =
      std::min(ChipSize(plan.chip), plan.chip == Chip::Large ? large_max : kBaseSize);
  plan.image = RandomBytes(static_cast<std::size_t>(PickSize(rng, max)), rng());
  plan.verify_in_new_session = (rng() & 1) != 0;
  auto pick_address = [&] {
    return std::uniform_int_distribution<uint32_t>(
        0, static_cast<uint32_t>(plan.image.size() - 1))(rng);
  };

  if ((index / 2) % 2 == 1) {
    // A bad cell under a byte with at least one 0 bit; the mask holds one of those 0 bits and
    // any others.
    plan.has_cell = plan.corrupting = true;
    plan.cell = pick_address();
    for (int tries = 0; plan.image[plan.cell] == 0xFF && tries < 64; ++tries) {
      plan.cell = pick_address();
    }
    if (plan.image[plan.cell] == 0xFF) plan.image[plan.cell] = 0x7F;
    const uint8_t zeros = static_cast<uint8_t>(~plan.image[plan.cell]);
    uint8_t one_zero = 0;
    while (one_zero == 0) one_zero = zeros & static_cast<uint8_t>(1u << (rng() % 8));
    plan.mask = static_cast<uint8_t>(one_zero | static_cast<uint8_t>(rng()));
  } else if (rng() % 4 == 0) {
    // A good chip may still have a weak cell where the image wants only 1 bits: harmless, and
    // it must not be reported.
    plan.cell = pick_address();
    const uint8_t mask = plan.image[plan.cell] & static_cast<uint8_t>(rng());
    if (mask != 0) {
      plan.has_cell = true;
      plan.mask = mask;
    }
  }
  return plan;
}

struct Figures {
  uint64_t cycles = 0;
  uint64_t clean = 0;         // cycles without a corrupting cell
  uint64_t false_alarms = 0;  // clean cycles reported bad
  uint64_t corrupted = 0;     // cycles with a corrupting cell
  uint64_t caught = 0;        // corrupted cycles reported bad at exactly the right chunk
  uint64_t bytes = 0;         // image bytes written
};

// Opens an emulator for the plan's chip on the flash file, as a command starts.
std::unique_ptr<SimAdapter> OpenChip(const Plan& plan, const std::string& flash, std::string* why) {
  char cell[40] = "";
  if (plan.has_cell) std::snprintf(cell, sizeof cell, ",bad=0x%X:0x%02X", plan.cell, plan.mask);
  const std::string options = std::string(ChipName(plan.chip)) + ",flash=" + flash + cell;
  std::string error;
  std::unique_ptr<SimAdapter> sim = SimAdapter::Create(options, &error);
  if (!sim) {
    *why = "emulator refused \"" + options + "\": " + error;
    return nullptr;
  }
  SetAdapter(sim.get());
  ResetChipTypeForTests();
  AdapterOpen();
  AdapterSpeed(2);
  IdentifyChip();
  const ChipType expected = plan.chip == Chip::Base ? ChipBase : ChipLarge;
  if (CurrentChipType() != expected) {
    *why = "identified as type " + std::to_string(CurrentChipType());
    SetAdapter(nullptr);
    return nullptr;
  }
  return sim;
}

// Runs one cycle and adds it to the figures; returns what went wrong, empty when nothing did.
std::string RunCycle(const Plan& plan, const std::string& flash, Figures* figures) {
  std::string why;
  std::unique_ptr<SimAdapter> sim = OpenChip(plan, flash, &why);
  if (!sim) return why;
  const int32_t size = static_cast<int32_t>(plan.image.size());
  if (EraseImageRange(size) != LinkStatus::Ok) return "erase did not finish";
  if (ProgramImage(plan.image.data(), size, {}) != LinkStatus::Ok) return "program refused";

  ++figures->cycles;
  figures->bytes += plan.image.size();
  plan.corrupting ? ++figures->corrupted : ++figures->clean;

  bool alarm = false;
  bool placed = false;  // the alarm points at the bad cell and nothing else
  if (plan.chip == Chip::Large) {
    if (plan.verify_in_new_session) {
      SetAdapter(nullptr);
      sim.reset();
      sim = OpenChip(plan, flash, &why);
      if (!sim) return why;
    }
    const VerifyOutcome outcome = VerifyImage(plan.image.data(), size, {});
    if (outcome.status != LinkStatus::Ok) return "verify could not run";
    alarm = outcome.result == 0;
    placed =
        alarm && outcome.failed_chunk_start == static_cast<int32_t>(plan.cell) / kChunk * kChunk;
    if (!alarm && outcome.failed_chunk_start != -1) return "a passing verify names a chunk";
  }

  // The flash file as another process reads it. For the base chip this is the check; for the
  // large one it shows that what the verify judged is really on the chip.
  const std::vector<uint8_t> file = ReadFile(flash);
  if (file.size() != static_cast<std::size_t>(ChipSize(plan.chip))) return "flash file resized";
  std::vector<uint32_t> differ;
  for (std::size_t i = 0; i < plan.image.size(); ++i) {
    if (file[i] != plan.image[i]) differ.push_back(static_cast<uint32_t>(i));
  }
  const int32_t erased_end = ErasedEnd(plan.chip, size);
  if (!std::all_of(file.begin() + size, file.begin() + erased_end,
                   [](uint8_t b) { return b == 0xFF; })) {
    return "erased blocks hold data past the image";
  }
  const bool only_the_cell = differ.size() == 1 && differ[0] == plan.cell &&
                             file[plan.cell] == (plan.image[plan.cell] | plan.mask);
  if (plan.chip == Chip::Base) {
    alarm = !differ.empty();
    placed = only_the_cell;
  } else if (plan.corrupting ? !only_the_cell : !differ.empty()) {
    return "the flash does not hold what the emulator was asked to program";
  }

  if (plan.corrupting) {
    if (placed) ++figures->caught;
    if (!placed) return alarm ? "corruption reported at the wrong place" : "corruption missed";
  } else if (alarm) {
    ++figures->false_alarms;
    return "false alarm on a good chip";
  }
  return {};
}

TEST(Soak, EveryCorruptedChunkCaughtAndNoFalseAlarm) {
  const uint64_t cycles = EnvNumber("QUELT_SOAK_CYCLES", kDefaultCycles);
  const uint64_t seed = EnvNumber("QUELT_SOAK_SEED", kDefaultSeed);
  const int32_t large_max = static_cast<int32_t>(std::clamp<uint64_t>(
      EnvNumber("QUELT_SOAK_MAX", cycles >= kFullCycles ? kLargeSize : kShortRunMax), 32,
      kLargeSize));

  TempDir folder;
  const std::string flash[2] = {folder.File("base.flash"), folder.File("large.flash")};
  Figures figures[2];
  int reported = 0;
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t index = 0; index < cycles; ++index) {
    const Plan plan = MakePlan(seed, index, large_max);
    const int k = plan.chip == Chip::Base ? 0 : 1;
    const std::string fault = RunCycle(plan, flash[k], &figures[k]);
    SetAdapter(nullptr);
    ResetChipTypeForTests();
    if (!fault.empty() && reported++ < 10)
      ADD_FAILURE() << Describe(plan, seed, index) << ": " << fault;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf("soak: %" PRIu64 " cycles, seed %" PRIu64 ", large images up to %d bytes, %.1f s\n",
              cycles, seed, large_max, seconds);
  std::printf("  chip   cycles  clean  false alarms  corrupted  caught  image MiB\n");
  for (int k = 0; k < 2; ++k) {
    const Figures& f = figures[k];
    std::printf("  %-5s  %6" PRIu64 "  %5" PRIu64 "  %12" PRIu64 "  %9" PRIu64 "  %6" PRIu64
                "  %9.1f\n",
                k == 0 ? "base" : "large", f.cycles, f.clean, f.false_alarms, f.corrupted, f.caught,
                static_cast<double>(f.bytes) / (1 << 20));
    EXPECT_EQ(0u, f.false_alarms);
    EXPECT_EQ(f.corrupted, f.caught);
    if (cycles >= 4) {
      EXPECT_GT(f.corrupted, 0u);
      EXPECT_GT(f.clean, 0u);
    }
  }
  EXPECT_EQ(cycles, figures[0].cycles + figures[1].cycles) << "cycles that did not complete";
  std::fflush(stdout);
}

}  // namespace
}  // namespace quelt::soak
