// The FTDI backend against the simulated device of the stand-in libftdi1 (tests/ftdi):
// - host time per adapter byte, the device going as fast as the host lets it;
// - a 2 MiB write (erase and program) and verify at each speed's byte clock, the device paced at
//   that clock with 1 ms of latency per read transfer (Paced, below), next to the floor: the
//   adapter bytes put out divided by the byte clock.
// The program starts itself again with the stand-in's folder first on LD_LIBRARY_PATH.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
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
constexpr char kDevice[] = "dev=0403:6001:A1:FT232R USB UART;chip=large";

// The FTDI adapter as the chip link drives it, counting the adapter bytes it puts out; paced, it
// takes as long as a device at the byte clock: the bytes of each write go out at that clock after
// the samples of the previous one are read, and a read transfer that ends on a packet not full
// (62 bytes) waits 1 ms for the device's latency timer.
class Paced final : public Adapter {
 public:
  explicit Paced(bool pace) : pace_(pace) {}
  uint32_t Open() override { return ftdi.Open(); }
  uint32_t Speed(int32_t speed) override { return ftdi.Speed(speed); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    if (count > 0) Out(count);
    return ftdi.Write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override {
    Out(1);
    std::this_thread::sleep_until(samples_read_);
    return ftdi.Read(input);
  }
  std::string OpenError() const override { return ftdi.OpenError(); }

  FtdiAdapter ftdi{FtdiOptions{}};
  uint64_t bytes_out = 0;

 private:
  void Out(uint32_t count) {
    bytes_out += count;
    if (!pace_) return;
    using namespace std::chrono;
    std::this_thread::sleep_until(samples_read_);
    last_out_ = std::max(last_out_, steady_clock::now()) +
                count * nanoseconds(1000000000 / std::max<uint32_t>(ftdi.ByteClock(), 1));
    std::this_thread::sleep_until(last_out_);
    samples_read_ = last_out_ + (count % 62 != 0 ? milliseconds(1) : milliseconds(0));
  }

  const bool pace_;
  std::chrono::steady_clock::time_point last_out_{}, samples_read_{};
};

std::vector<uint8_t> RandomImage(int32_t size) {
  std::vector<uint8_t> image(size);
  std::mt19937 rng(7);
  for (auto& b : image) b = static_cast<uint8_t>(rng());
  return image;
}

// An opened adapter on a large chip, identified at `speed`; null (and the state told) if not.
std::unique_ptr<Paced> Connect(benchmark::State& state, bool pace, int32_t speed) {
  setenv("QUELT_FAKE_FTDI", kDevice, 1);
  auto adapter = std::make_unique<Paced>(pace);
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
  auto adapter = Connect(state, false, 2);
  if (!adapter) return;
  const std::vector<uint8_t> image = RandomImage(0x8000);
  const uint64_t start = adapter->bytes_out;
  for (auto _ : state) {
    if (ProgramImage(image.data(), static_cast<int32_t>(image.size()), {}) != LinkStatus::Ok) {
      state.SkipWithError("programming failed");
    }
  }
  const double bytes = static_cast<double>(adapter->bytes_out - start);
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
  auto adapter = Connect(state, true, speed);
  if (!adapter) return;
  const double clock = adapter->ftdi.ByteClock();
  const std::vector<uint8_t> image = RandomImage(kImage);
  using Seconds = std::chrono::duration<double>;
  for (auto _ : state) {
    const uint64_t at_start = adapter->bytes_out;
    const auto t0 = std::chrono::steady_clock::now();
    if (EraseImageRange(kImage) != LinkStatus::Ok ||
        ProgramImage(image.data(), kImage, {}) != LinkStatus::Ok) {
      state.SkipWithError("the write failed");
    }
    const uint64_t at_verify = adapter->bytes_out;
    const auto t1 = std::chrono::steady_clock::now();
    const VerifyOutcome verify = VerifyImage(image.data(), kImage, {});
    const auto t2 = std::chrono::steady_clock::now();
    if (verify.status != LinkStatus::Ok || verify.result != 1) state.SkipWithError("mismatch");
    const double write_floor = (at_verify - at_start) / clock;
    const double verify_floor = (adapter->bytes_out - at_verify) / clock;
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
  if (!std::getenv("QUELT_BENCH_STARTED")) {
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
