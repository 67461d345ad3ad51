// Arbitrary adapter streams and reads against the emulator: fed to a chip with fast paths and to
// one decoding byte by byte, which must agree on state, data line and flash, with no fault.
//
// Input: a configuration byte, then operations: the low two bits of an operation byte choose raw
// adapter bytes, bus symbols (two adapter bytes each), a read, or whole program / compare groups
// made from the bytes that follow, so that the fuzzer reaches the fast paths' states.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/sim/sim_chip.h"

namespace {

using quelt::SimChip;
using quelt::SimChipConfig;
using quelt::SimChipType;

void Sym(std::vector<uint8_t>& out, uint8_t s) {
  const uint8_t e = static_cast<uint8_t>((s & 0x0F) | ((s & 0x10) ? 0x20 : 0));
  out.push_back(e);
  out.push_back(static_cast<uint8_t>(e | 0x10));
}

void Groups(std::vector<uint8_t>& out, uint8_t kind, const uint8_t* bytes, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) {
    const uint8_t b = bytes[k];
    switch (kind % 3) {
      case 0:  // ChipLarge program group
        Sym(out, (k == 0 && (kind & 4)) ? 0x15 : 0x1D);
        Sym(out, 0);
        Sym(out, 0);
        Sym(out, static_cast<uint8_t>(0x10 | (b >> 5)));
        Sym(out, b & 0x1F);
        Sym(out, 0);
        out.insert(out.end(), 28, 0x10);
        break;
      case 1: {  // ChipBase program group at address b * 257
        const uint32_t a = b * 257u;
        Sym(out, 0x05);
        Sym(out, static_cast<uint8_t>(((b >> 3) & 0x1C) | (a >> 15)));
        Sym(out, (a >> 10) & 0x1F);
        Sym(out, (a >> 5) & 0x1F);
        Sym(out, a & 0x1F);
        const uint8_t e = static_cast<uint8_t>((b & 0x0F) | ((b & 0x10) ? 0x20 : 0));
        for (int i = 0; i < 3; ++i) Sym(out, b & 0x1F);
        out.push_back(e);
        out.insert(out.end(), 23, static_cast<uint8_t>(e | 0x10));
        break;
      }
      default:  // compare group
        Sym(out, 0x0D);
        Sym(out, b >> 4);
        Sym(out, static_cast<uint8_t>(0x10 | (b & 0x0F)));
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static std::vector<uint8_t> flash_fast(0x200000), flash_slow(0x200000), bad(0x200000);
  const uint8_t setup = data[0];
  SimChipConfig config;
  const SimChipType types[] = {SimChipType::Large, SimChipType::Base, SimChipType::Alt,
                               SimChipType::Large};
  config.type = types[setup & 3];
  config.erase_polls = (setup >> 2) & 3;
  config.program_ticks = (setup & 0x10) ? 40 : 20;
  const uint32_t chip = quelt::SimChipSize(config.type);
  std::memset(flash_fast.data(), 0xFF, chip);
  std::memset(flash_slow.data(), 0xFF, chip);
  if (setup & 0x20) {
    std::memset(bad.data(), 0, 64);
    bad[1] = 0x81;
    bad[7] = 0x10;
    config.bad_masks = bad.data();
  }
  SimChip fast(config, flash_fast.data());
  SimChip slow(config, flash_slow.data());
  slow.EnableFastPaths(false);
  const int speed = (setup & 0x40) ? 3 : 2;
  fast.SetSpeed(speed);
  slow.SetSpeed(speed);

  std::vector<uint8_t> stream;
  std::size_t at = 1;
  while (at < size) {
    const uint8_t op = data[at++];
    const std::size_t n = std::min<std::size_t>(op >> 2, size - at);
    stream.clear();
    switch (op & 3) {
      case 0:
        stream.assign(data + at, data + at + n);
        break;
      case 1:
        for (std::size_t k = 0; k < n; ++k) Sym(stream, data[at + k] & 0x1F);
        break;
      case 2:
        if (fast.DataLine() != slow.DataLine()) std::abort();
        continue;
      default:
        if (n == 0) continue;
        Groups(stream, data[at], data + at + 1, n - 1);
        break;
    }
    at += n;
    fast.Feed(stream.data(), stream.size());
    slow.Feed(stream.data(), stream.size());
    if (!(fast.State() == slow.State()) || fast.DataLine() != slow.DataLine()) std::abort();
  }
  if (std::memcmp(flash_fast.data(), flash_slow.data(), chip) != 0) std::abort();
  return 0;
}
