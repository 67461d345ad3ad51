#include "link/erase.h"

#include <atomic>
#include <cstdint>

#include "link/chip_type.h"

namespace quelt {
namespace {

constexpr std::chrono::milliseconds kDefaultEraseTimeout{30000};
std::atomic<int64_t> erase_timeout_ms{kDefaultEraseTimeout.count()};

// Block starts are walked in 64 bits so that a size near the top of int32 cannot overflow.
int64_t NextStart(int64_t start) {
  if (CurrentChipType() == ChipBase) return start + 0x1000;
  // Bottom boot layout: 16 KiB, 8 KiB, 8 KiB, 32 KiB, then 64 KiB blocks.
  switch (start) {
    case 0x0000:
      return 0x4000;
    case 0x4000:
      return 0x6000;
    case 0x6000:
      return 0x8000;
    case 0x8000:
      return 0x10000;
    default:
      return start + 0x10000;
  }
}

// One poll: address 0, then the status byte.
int PollStatus() {
  SendAddress(0);
  return ReadChipByte() & 0xFF;
}

}  // namespace

void SetEraseTimeout(std::chrono::milliseconds timeout) {
  erase_timeout_ms.store(timeout.count(), std::memory_order_relaxed);
}

std::chrono::milliseconds EraseTimeout() {
  return std::chrono::milliseconds(erase_timeout_ms.load(std::memory_order_relaxed));
}

int32_t NextBlockStart(int32_t start) {
  const int64_t next = NextStart(start);
  return next > INT32_MAX ? INT32_MAX : static_cast<int32_t>(next);
}

Frame EraseFrame(int32_t start) {
  if (CurrentChipType() == ChipBase) {
    Frame frame = ShortAddressPhase(start);
    for (int k = 0; k < 13; ++k) frame.Add(0x15);
    return frame;
  }
  // Sector erase: 0xAA to 0xAAA, 0x55 to 0x555, 0x80 to 0xAAA, 0xAA to 0xAAA, 0x55 to 0x555,
  // 0x30 to the block start.
  return Frame{}
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0xAA))
      .Add(LongAddressPhase(0x555))
      .Add(BytePhase(0x55))
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0x80))
      .Add(LongAddressPhase(0xAAA))
      .Add(BytePhase(0xAA))
      .Add(LongAddressPhase(0x555))
      .Add(BytePhase(0x55))
      .Add(LongAddressPhase(start))
      .Add(BytePhase(0x30));
}

void SendAddress(int32_t address) {
  if (CurrentChipType() == ChipBase) {
    ShortAddressPhase(address).Send();
  } else {
    LongAddressPhase(address).Send();
  }
}

LinkStatus WaitReady() {
  // While the chip erases, its status byte toggles from read to read; two equal reads in a row
  // mean it has finished. A chip that keeps toggling is given up on after the bound.
  const auto bound = EraseTimeout();
  const auto started = std::chrono::steady_clock::now();
  int previous = PollStatus();
  for (;;) {
    const int current = PollStatus();
    if (current == previous) break;
    previous = current;
    if (std::chrono::steady_clock::now() - started >= bound) return LinkStatus::EraseTimeout;
  }
  ReadChipByte();
  ReadChipByte();
  return LinkStatus::Ok;
}

LinkStatus EraseBlock(int32_t start) {
  EraseFrame(start).Send();
  return WaitReady();
}

LinkStatus EraseImageRange(int32_t size, const EraseBlockFn& on_block) {
  if (size <= 0) return LinkStatus::Ok;
  int total = 0;
  for (int64_t x = 0; x < size; x = NextStart(x)) ++total;
  int done = 0;
  for (int64_t x = 0; x < size; x = NextStart(x)) {
    const auto start = static_cast<int32_t>(x);
    const LinkStatus status = EraseBlock(start);
    if (status != LinkStatus::Ok) return status;
    ++done;
    if (on_block) on_block(start, done, total);
  }
  return LinkStatus::Ok;
}

}  // namespace quelt
