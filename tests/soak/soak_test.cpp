// Write-and-check cycles through the chip link on the emulator, as the write and verify commands
// run them: random images on both chips, on half of the cycles a bad cell that corrupts the byte
// programmed there. The large chip is judged by its verify, the base chip (which has none) by its
// flash file. Every corrupted chunk must be caught at its place, and no good chip reported bad.
//   QUELT_SOAK_CYCLES (default 60; 1000 or more is the full run, with images up to the chip's
//   size), QUELT_SOAK_SEED (replays a run), QUELT_SOAK_MAX (the largest large-chip image).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "link/verify.h"
#include "tests/soak/soak_util.h"

namespace quelt::soak {
namespace {

struct Plan {
  Chip chip = Chip::Base;
  Bytes image;
  uint32_t cell = 0;
  uint8_t mask = 0;  // the bad cell's stuck-high bits, 0 for none
  bool corrupting = false;
  bool reopen = false;  // the verify runs as a later, separate command would
};

Plan MakePlan(uint64_t seed, uint64_t index, int32_t large_max) {
  std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ULL + index);
  Plan p;
  p.chip = index % 2 == 0 ? Chip::Base : Chip::Large;
  const int32_t max = p.chip == Chip::Large ? large_max : kBaseSize;
  // A quarter of the sizes log-uniform, so that one-block and one-chunk images come up often.
  const double log_size =
      std::uniform_real_distribution<double>(std::log(32.0), std::log(double(max)))(rng);
  const int32_t size = rng() % 4 == 0 ? static_cast<int32_t>(std::exp(log_size))
                                      : std::uniform_int_distribution<int32_t>(32, max)(rng);
  p.image = RandomBytes(static_cast<std::size_t>(std::clamp(size, 32, max)), rng());
  p.reopen = rng() & 1;
  p.cell = std::uniform_int_distribution<uint32_t>(0, uint32_t(p.image.size() - 1))(rng);
  uint8_t& byte = p.image[p.cell];
  if ((index / 2) % 2 == 1) {  // stuck high where the image wants at least one 0 bit
    if (byte == 0xFF) byte = 0x7F;
    uint8_t zero = 0;
    while (zero == 0) zero = static_cast<uint8_t>(~byte & (1u << rng() % 8));
    p.mask = static_cast<uint8_t>(zero | rng());
    p.corrupting = true;
  } else if (rng() % 4 == 0) {  // a weak cell under 1 bits only: harmless, must not be reported
    p.mask = static_cast<uint8_t>(byte & rng());
  }
  return p;
}

// Returns what went wrong, empty when nothing did.
std::string RunCycle(const Plan& p, const std::string& flash) {
  char bad[40] = "";
  if (p.mask) std::snprintf(bad, sizeof bad, ",bad=0x%X:0x%02X", p.cell, p.mask);
  std::unique_ptr<SimAdapter> sim;
  if (!OpenChip(p.chip, std::string(ChipName(p.chip)) + ",flash=" + flash + bad, &sim))
    return "the emulator did not open as the chip";
  const int32_t size = static_cast<int32_t>(p.image.size());
  if (EraseImageRange(size) != LinkStatus::Ok) return "erase did not finish";
  if (ProgramImage(p.image.data(), size, {}) != LinkStatus::Ok) return "program refused";
  if (p.chip == Chip::Large) {
    if (p.reopen) {
      SetAdapter(nullptr);
      sim.reset();
      if (!OpenChip(p.chip, std::string("large,flash=") + flash + bad, &sim)) return "reopen";
    }
    const VerifyOutcome v = VerifyImage(p.image.data(), size, {});
    const int32_t chunk = p.corrupting ? int32_t(p.cell) / kChunk * kChunk : -1;
    if (v.status != LinkStatus::Ok || v.result != (p.corrupting ? 0 : 1) ||
        v.failed_chunk_start != chunk)
      return "verify gave " + std::to_string(v.result) + " at chunk " +
             std::to_string(v.failed_chunk_start);
  }
  // The flash file as another process reads it: the image with the bad cell's bits raised, 0xFF
  // to the end of the last erased block, the chip's size.
  Bytes want = p.image;
  want[p.cell] |= p.mask;
  want.resize(static_cast<std::size_t>(ErasedEnd(p.chip, size)), 0xFF);
  const Bytes file = ReadFile(flash);
  if (file.size() != std::size_t(ChipSize(p.chip)) ||
      !std::equal(want.begin(), want.end(), file.begin()))
    return "the flash file is not the image with its bad cell, erased to the block's end";
  return {};
}

TEST(Soak, EveryCorruptedChunkCaughtAndNoFalseAlarm) {
  const uint64_t cycles = EnvNumber("QUELT_SOAK_CYCLES", 60);
  const uint64_t seed = EnvNumber("QUELT_SOAK_SEED", 0x51AC0FF5);
  const int32_t large_max = static_cast<int32_t>(std::clamp<uint64_t>(
      EnvNumber("QUELT_SOAK_MAX", cycles >= 1000 ? kLargeSize : 0x80000), 32, kLargeSize));
  TempDir folder;
  int failures = 0;
  uint64_t corrupted = 0;
  for (uint64_t index = 0; index < cycles; ++index) {
    const Plan p = MakePlan(seed, index, large_max);
    corrupted += p.corrupting;
    const std::string fault = RunCycle(p, folder.File(ChipName(p.chip)));
    SetAdapter(nullptr);
    if (!fault.empty() && failures++ < 10)
      ADD_FAILURE() << "cycle " << index << " (QUELT_SOAK_SEED=" << seed
                    << "): " << ChipName(p.chip) << ", " << p.image.size() << " bytes, bad cell 0x"
                    << std::hex << p.cell << ":0x" << int(p.mask) << ": " << fault;
  }
  std::printf("soak: %llu cycles (%llu corrupted), seed %llu, large images up to %d bytes\n",
              (unsigned long long)cycles, (unsigned long long)corrupted, (unsigned long long)seed,
              large_max);
}

}  // namespace
}  // namespace quelt::soak
