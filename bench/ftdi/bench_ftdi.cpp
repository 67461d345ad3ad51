// The FTDI backend against the simulated device of the stand-in libftdi1 (tests/ftdi):
// - host time per adapter byte, the device going as fast as the host lets it;
// - a 2 MiB write (erase and program) and verify at each speed's byte clock, the device paced at
//   that clock with 1 ms of latency per read transfer, next to the floor: the adapter bytes put
//   out divided by the byte clock.
// Started without the stand-in, the program starts itself again with the stand-in's folder first
// on LD_LIBRARY_PATH.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "link/adapter.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/ftdi/ftdi_adapter.h"
#include "link/identify.h"
#include "link/program.h"
#include "link/verify.h"

namespace quelt {
namespace {

constexpr int32_t kImage = 0x200000;
constexpr char kDevice[] = "dev=0403:6001:A1:FT232R USB UART;rx=128;tx=384;packet=62;";

uint64_t BytesOut() {
  auto count = reinterpret_cast<uint64_t (*)()>(dlsym(RTLD_DEFAULT, "quelt_fake_ftdi_bytes_out"));
  return count ? count() : 0;
}

std::vector<uint8_t> RandomImage(int32_t size) {
  std::vector<uint8_t> image(size);
  std::mt19937 rng(7);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  return image;
}

// An opened adapter on a large chip, identified at `speed`; null (and the state told) if not.
std::unique_ptr<FtdiAdapter> Connect(benchmark::State& state, const std::string& fake,
                                     int32_t speed) {
  setenv("QUELT_FAKE_FTDI", fake.c_str(), 1);
  auto adapter = std::make_unique<FtdiAdapter>(FtdiOptions{});
  SetAdapter(adapter.get());
  ResetChipTypeForTests();
  if (AdapterOpen() != 0) {
    state.SkipWithError(adapter->OpenError().c_str());
    return nullptr;
  }
  AdapterSpeed(speed);
  IdentifyChip();
  if (CurrentChipType() != ChipLarge) {
    state.SkipWithError("the chip was not identified");
    return nullptr;
  }
  return adapter;
}

void BM_HostTimePerAdapterByte(benchmark::State& state) {
  auto adapter = Connect(state, std::string(kDevice) + "chip=large", 2);
  if (!adapter) return;
  const std::vector<uint8_t> image = RandomImage(0x8000);
  const uint64_t start = BytesOut();
  for (auto _ : state) {
    if (ProgramImage(image.data(), static_cast<int32_t>(image.size()), {}) != LinkStatus::Ok) {
      state.SkipWithError("programming failed");
    }
  }
  const double bytes = static_cast<double>(BytesOut() - start);
  state.counters["adapter_bytes"] = bytes;
  state.counters["host_time_per_byte"] =
      benchmark::Counter(bytes, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  SetAdapter(nullptr);
}
// CPU time: the host's own work (backend and simulated device) per adapter byte, whatever else
// the machine runs.
BENCHMARK(BM_HostTimePerAdapterByte)->Unit(benchmark::kMillisecond);

void BM_WriteAndVerify2MiBPaced(benchmark::State& state) {
  const int32_t speed = static_cast<int32_t>(state.range(0));
  auto adapter = Connect(state, std::string(kDevice) + "chip=large;pace;latency=1000", speed);
  if (!adapter) return;
  const double clock = adapter->ByteClock();
  const std::vector<uint8_t> image = RandomImage(kImage);
  using Seconds = std::chrono::duration<double>;
  for (auto _ : state) {
    const uint64_t at_start = BytesOut();
    const auto t0 = std::chrono::steady_clock::now();
    if (EraseImageRange(kImage) != LinkStatus::Ok ||
        ProgramImage(image.data(), kImage, {}) != LinkStatus::Ok) {
      state.SkipWithError("the write failed");
    }
    const uint64_t at_verify = BytesOut();
    const auto t1 = std::chrono::steady_clock::now();
    const VerifyOutcome verify = VerifyImage(image.data(), kImage, {});
    const auto t2 = std::chrono::steady_clock::now();
    if (verify.status != LinkStatus::Ok || verify.result != 1) state.SkipWithError("mismatch");
    const double write_floor = (at_verify - at_start) / clock;
    const double verify_floor = (BytesOut() - at_verify) / clock;
    state.counters["byte_clock"] = clock;
    state.counters["write_s"] = Seconds(t1 - t0).count();
    state.counters["write_floor_s"] = write_floor;
    state.counters["verify_s"] = Seconds(t2 - t1).count();
    state.counters["verify_floor_s"] = verify_floor;
    state.counters["over_floor_pct"] =
        100.0 * (Seconds(t2 - t0).count() / (write_floor + verify_floor) - 1.0);
  }
  SetAdapter(nullptr);
}
BENCHMARK(BM_WriteAndVerify2MiBPaced)
    ->ArgName("speed")
    ->Arg(2)
    ->Arg(3)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace quelt

int main(int argc, char** argv) {
  if (!dlsym(RTLD_DEFAULT, "quelt_fake_ftdi_bytes_out") && !std::getenv("QUELT_BENCH_STARTED")) {
    const char* path = std::getenv("LD_LIBRARY_PATH");
    const std::string dirs =
        std::string(QUELT_FAKE_FTDI_DIR) + (path ? std::string(":") + path : "");
    setenv("LD_LIBRARY_PATH", dirs.c_str(), 1);
    setenv("QUELT_BENCH_STARTED", "1", 1);
    execv("/proc/self/exe", argv);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
