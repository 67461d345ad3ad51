// The emulator's speed: a simulated write and verify of a 2 MiB image on a "large" chip, through
// the real chip link functions, and the emulator alone on prebuilt adapter streams (with and
// without its fast paths). Counters report adapter bytes per second.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "link/adapter.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/sim/sim_adapter.h"
#include "link/sim/sim_chip.h"
#include "link/verify.h"

namespace quelt {
namespace {

constexpr int32_t kImage = 0x200000;
constexpr double kWriteBytes = 40.0 * kImage;  // program groups
constexpr double kVerifyBytes = 6.0 * kImage;  // compare groups

std::vector<uint8_t> RandomImage() {
  std::vector<uint8_t> image(kImage);
  std::mt19937 rng(7);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  return image;
}

// A large chip that has been identified and erased, ready to be programmed.
std::unique_ptr<SimAdapter> ReadyChip(int32_t speed) {
  std::string error;
  auto sim = SimAdapter::Create("large,erase-polls=0", &error);
  SetAdapter(sim.get());
  ResetChipTypeForTests();
  AdapterOpen();
  AdapterSpeed(speed);
  IdentifyChip();
  if (EraseImageRange(kImage) != LinkStatus::Ok) return nullptr;
  return sim;
}

void BM_WriteAndVerify2MiB(benchmark::State& state) {
  const std::vector<uint8_t> image = RandomImage();
  for (auto _ : state) {
    state.PauseTiming();
    auto sim = ReadyChip(2);
    state.ResumeTiming();
    if (ProgramImage(image.data(), kImage, {}) != LinkStatus::Ok) state.SkipWithError("program");
    const VerifyOutcome outcome = VerifyImage(image.data(), kImage, {});
    if (outcome.result != 1) state.SkipWithError("verify failed");
    state.PauseTiming();
    SetAdapter(nullptr);
    sim.reset();
    state.ResumeTiming();
  }
  state.counters["adapter_bytes_per_s"] =
      benchmark::Counter((kWriteBytes + kVerifyBytes) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteAndVerify2MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

// The emulator alone: the program groups of the whole image, then its compare groups, fed in
// the chunk writes the link makes.
void FeedStreams(benchmark::State& state, bool fast) {
  const std::vector<uint8_t> image = RandomImage();
  std::vector<uint8_t> write(40u * kImage);
  for (int32_t i = 0; i < kImage; ++i) FillLargeProgramGroup(&write[40u * i], i, image[i]);
  std::vector<uint8_t> verify(6u * kImage);
  for (int32_t i = 0; i < kImage; ++i) FillCompareGroup(&verify[6u * i], image[i]);
  // Unlock bypass entry and address 0 as symbols' adapter bytes.
  const std::vector<uint8_t> preamble = {
      0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x02, 0x12, 0x25, 0x35, 0x0A, 0x1A, 0x25, 0x35,
      0x0A, 0x1A, 0x00, 0x10, 0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x01, 0x11, 0x0A, 0x1A,
      0x25, 0x35, 0x22, 0x32, 0x25, 0x35, 0x00, 0x10, 0x01, 0x11, 0x00, 0x10, 0x00, 0x10,
      0x02, 0x12, 0x25, 0x35, 0x0A, 0x1A, 0x21, 0x31, 0x00, 0x10, 0x00, 0x10, 0x01, 0x11,
      0x00, 0x10, 0x00, 0x10, 0x00, 0x10, 0x00, 0x10, 0x00, 0x10};
  const std::vector<uint8_t> address0 = {0x01, 0x11, 0x00, 0x10, 0x00, 0x10,
                                         0x00, 0x10, 0x00, 0x10, 0x00, 0x10};
  std::vector<uint8_t> flash(SimChipSize(SimChipType::Large), 0xFF);
  for (auto _ : state) {
    std::fill(flash.begin(), flash.end(), 0xFF);
    SimChipConfig config;
    config.type = SimChipType::Large;
    SimChip chip(config, flash.data());
    chip.EnableFastPaths(fast);
    // The long start unit: 0x1F, 0x0D, 0x12.
    const uint8_t start[] = {0x2F, 0x3F, 0x0D, 0x1D, 0x22, 0x32};
    chip.Feed(start, sizeof start);
    chip.Feed(preamble.data(), preamble.size());
    for (std::size_t at = 0; at < write.size(); at += 40u * kChunkBytes) {
      chip.Feed(&write[at], 40u * kChunkBytes);
    }
    chip.Feed(address0.data(), address0.size());
    for (std::size_t at = 0; at < verify.size(); at += 6u * kChunkBytes) {
      chip.Feed(&verify[at], 6u * kChunkBytes);
    }
    if (!chip.State().pass || flash[kImage - 1] != image[kImage - 1])
      state.SkipWithError("no match");
  }
  state.counters["adapter_bytes_per_s"] =
      benchmark::Counter((kWriteBytes + kVerifyBytes) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_EmulatorFastPaths(benchmark::State& state) { FeedStreams(state, true); }
void BM_EmulatorByteByByte(benchmark::State& state) { FeedStreams(state, false); }
BENCHMARK(BM_EmulatorFastPaths)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EmulatorByteByByte)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace quelt

BENCHMARK_MAIN();
