#include "link/sim/sim_adapter.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "link/sim/flash_store.h"
#include "link/sim/sim_chip.h"
#include "link/sim/sim_options.h"

namespace quelt {

struct SimAdapter::Impl {
  enum class Hold { Idle, Armed, Pending, Holding };

  SimOptions options;
  FlashStore flash;
  std::vector<uint8_t> bad_masks;
  std::unique_ptr<SimChip> chip;  // null for type none
  bool opened = false;
  std::chrono::steady_clock::time_point paced_until{};

  std::mutex hold_mutex;
  std::condition_variable hold_changed;
  Hold hold = Hold::Idle;

  void Feed(const uint8_t* bytes, std::size_t count) {
    if (options.rate == 0) {
      chip->Feed(bytes, count);
      return;
    }
    // Paced: slices of about 10 ms each, so that a long write shows its progress as it goes.
    using namespace std::chrono;
    const std::size_t slice = static_cast<std::size_t>(
        std::max<uint64_t>(1, std::min<uint64_t>(options.rate / 100, 1 << 20)));
    for (std::size_t done = 0; done < count; done += slice) {
      const std::size_t n = std::min(slice, count - done);
      chip->Feed(bytes + done, n);
      const auto span = duration_cast<steady_clock::duration>(
          duration<double>(static_cast<double>(n) / static_cast<double>(options.rate)));
      paced_until = std::max(paced_until, steady_clock::now()) + span;
      std::this_thread::sleep_until(paced_until);
    }
  }
};

SimAdapter::SimAdapter() : impl_(std::make_unique<Impl>()) {}
SimAdapter::~SimAdapter() = default;

std::unique_ptr<SimAdapter> SimAdapter::Create(const std::string& options, std::string* error) {
  std::unique_ptr<SimAdapter> sim(new SimAdapter());
  Impl& impl = *sim->impl_;
  if (!ParseSimOptions(options, &impl.options, error)) return nullptr;
  const SimOptions& o = impl.options;
  if (o.type == SimChipType::None) return sim;

  const uint32_t size = SimChipSize(o.type);
  if (o.flash_file.empty()) {
    impl.flash.InMemory(size);
  } else if (!impl.flash.MapFile(o.flash_file, size, error)) {
    return nullptr;
  }
  SimChipConfig config;
  config.type = o.type;
  config.erase_polls = o.erase_polls;
  config.program_ticks = o.slow ? 40 : 20;
  if (!o.bad.empty()) {
    impl.bad_masks.assign(size, 0);
    for (const SimBadCell& cell : o.bad) impl.bad_masks[cell.address] |= cell.mask;
    config.bad_masks = impl.bad_masks.data();
  }
  impl.chip = std::make_unique<SimChip>(config, impl.flash.data());
  impl.chip->OnStatusLoad([&impl] {
    std::lock_guard lock(impl.hold_mutex);
    if (impl.hold == Impl::Hold::Armed) impl.hold = Impl::Hold::Pending;
  });
  return sim;
}

uint32_t SimAdapter::Open() {
  impl_->opened = true;
  return 0;
}

uint32_t SimAdapter::Speed(int32_t speed) {
  if (impl_->chip) impl_->chip->SetSpeed(speed);
  return 0;
}

uint32_t SimAdapter::Write(const uint8_t* bytes, uint32_t count, uint32_t* written) {
  if (impl_->opened && impl_->chip && count > 0) impl_->Feed(bytes, count);
  if (written) *written = count;
  return 0;
}

uint32_t SimAdapter::Read(uint8_t* input) {
  Impl& impl = *impl_;
  if (!impl.opened || !impl.chip) {
    *input = 0;
    return 0;
  }
  {
    std::unique_lock lock(impl.hold_mutex);
    if (impl.hold == Impl::Hold::Pending) {
      impl.hold = Impl::Hold::Holding;
      impl.hold_changed.notify_all();
      impl.hold_changed.wait(lock, [&] { return impl.hold != Impl::Hold::Holding; });
    }
  }
  bool line = impl.chip->DataLine();
  if (impl.options.stuck != SimOptions::Stuck::No) {
    line = impl.options.stuck == SimOptions::Stuck::High;
  }
  *input = line ? 0x80 : 0x00;
  return 0;
}

void SimAdapter::HoldNextStatusRead() {
  std::lock_guard lock(impl_->hold_mutex);
  impl_->hold = Impl::Hold::Armed;
}

bool SimAdapter::WaitForHeldRead(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->hold_mutex);
  return impl_->hold_changed.wait_for(lock, timeout,
                                      [&] { return impl_->hold == Impl::Hold::Holding; });
}

void SimAdapter::ReleaseHeldRead() {
  std::lock_guard lock(impl_->hold_mutex);
  impl_->hold = Impl::Hold::Idle;
  impl_->hold_changed.notify_all();
}

void SimAdapter::EnableFastPaths(bool enable) {
  if (impl_->chip) impl_->chip->EnableFastPaths(enable);
}

std::string SimAdapter::FlashContents() const {
  const FlashStore& flash = impl_->flash;
  if (!flash.data()) return {};
  return std::string(reinterpret_cast<const char*>(flash.data()), flash.size());
}

}  // namespace quelt
