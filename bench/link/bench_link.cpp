// Building the programming and verification streams, each next to memset of the same number of
// bytes into a buffer of the same size, so the two can be compared within one run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "link/adapter.h"
#include "link/chip_type.h"
#include "link/program.h"
#include "link/verify.h"

namespace quelt {
namespace {

// Takes every write and drops it, after touching it so the building cannot be left out.
class DiscardingAdapter : public Adapter {
 public:
  uint32_t Open() override { return 0; }
  uint32_t Speed(int32_t) override { return 0; }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    benchmark::DoNotOptimize(bytes);
    if (count > 0) benchmark::DoNotOptimize(bytes[count - 1]);
    if (written) *written = count;
    return 0;
  }
  uint32_t Read(uint8_t* input) override {
    *input = 0x80;  // every chunk passes, so a verify runs to its end
    return 0;
  }
};

std::vector<uint8_t> Image(std::size_t n) {
  std::vector<uint8_t> image(n);
  uint32_t x = 1;
  for (auto& b : image) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(x >> 24);
  }
  return image;
}

constexpr int32_t kLargeImage = 0x200000;
constexpr int32_t kBaseImage = 0x20000;

// memset of `total` bytes in writes of at most `chunk` bytes into one buffer of `chunk` bytes.
void MemsetChunks(benchmark::State& state, std::size_t total, std::size_t chunk) {
  std::vector<uint8_t> buffer(chunk + 256);
  uint8_t value = 0;
  for (auto _ : state) {
    for (std::size_t done = 0; done < total; done += chunk) {
      std::memset(buffer.data(), value, std::min(chunk, total - done));
      benchmark::DoNotOptimize(buffer.data());
      benchmark::ClobberMemory();
    }
    ++value;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * total);
}

void BM_ProgramLarge2MiB(benchmark::State& state) {
  DiscardingAdapter adapter;
  SetAdapter(&adapter);
  ResetChipTypeForTests();
  SetCurrentChipType(ChipLarge);
  const auto image = Image(kLargeImage);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ProgramImage(image.data(), kLargeImage, {}));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kProgramGroupBytes *
                          kLargeImage);
  SetAdapter(nullptr);
}
BENCHMARK(BM_ProgramLarge2MiB)->Unit(benchmark::kMillisecond);

void BM_MemsetProgramLarge2MiB(benchmark::State& state) {
  MemsetChunks(state, kProgramGroupBytes * kLargeImage, kProgramGroupBytes * kChunkBytes);
}
BENCHMARK(BM_MemsetProgramLarge2MiB)->Unit(benchmark::kMillisecond);

void BM_ProgramBase128KiB(benchmark::State& state) {
  DiscardingAdapter adapter;
  SetAdapter(&adapter);
  ResetChipTypeForTests();
  SetCurrentChipType(ChipBase);
  const auto image = Image(kBaseImage);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ProgramImage(image.data(), kBaseImage, {}));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kProgramGroupBytes *
                          kBaseImage);
  SetAdapter(nullptr);
}
BENCHMARK(BM_ProgramBase128KiB)->Unit(benchmark::kMillisecond);

void BM_MemsetProgramBase128KiB(benchmark::State& state) {
  MemsetChunks(state, kProgramGroupBytes * kBaseImage, kProgramGroupBytes * kBaseImage);
}
BENCHMARK(BM_MemsetProgramBase128KiB)->Unit(benchmark::kMillisecond);

void BM_Verify2MiB(benchmark::State& state) {
  DiscardingAdapter adapter;
  SetAdapter(&adapter);
  ResetChipTypeForTests();
  SetCurrentChipType(ChipLarge);
  const auto image = Image(kLargeImage);
  for (auto _ : state) {
    benchmark::DoNotOptimize(VerifyImage(image.data(), kLargeImage, {}).result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          (kCompareGroupBytes * kLargeImage + 2 * (kLargeImage / kChunkBytes)));
  SetAdapter(nullptr);
}
BENCHMARK(BM_Verify2MiB)->Unit(benchmark::kMillisecond);

void BM_MemsetVerify2MiB(benchmark::State& state) {
  MemsetChunks(state, (kCompareGroupBytes * kChunkBytes + 2) * (kLargeImage / kChunkBytes),
               kCompareGroupBytes * kChunkBytes + 2);
}
BENCHMARK(BM_MemsetVerify2MiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quelt

BENCHMARK_MAIN();
