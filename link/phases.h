// Address phases, the byte phase and symbol frames: the groups of bus symbols with which every
// chip command carries an address or a byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "link/bus.h"

namespace quelt {

// A symbol frame built in place: at most kMaxFrameSymbols symbols, sent with one adapter write.
class Frame {
 public:
  Frame() = default;
  Frame(std::initializer_list<uint8_t> symbols) {
    for (uint8_t s : symbols) Add(s);
  }
  Frame& Add(uint8_t symbol) {
    if (size_ < symbols_.size()) symbols_[size_++] = symbol;
    return *this;
  }
  Frame& Add(const Frame& other) {
    for (std::size_t i = 0; i < other.size(); ++i) Add(other.data()[i]);
    return *this;
  }
  const uint8_t* data() const { return symbols_.data(); }
  std::size_t size() const { return size_; }
  uint32_t Send() const { return SendFrame(data(), size()); }

 private:
  std::array<uint8_t, kMaxFrameSymbols> symbols_{};
  std::size_t size_ = 0;
};

// 0x11, then address bits 19..15, 14..10, 9..5, 4..0 (the ChipBase form).
Frame ShortAddressPhase(int32_t address);
// 0x01, then address bits 24..20, 19..15, 14..10, 9..5, 4..0 (every other chip type).
Frame LongAddressPhase(int32_t address);
// 0x10 | bits 7..5 of d, bits 4..0 of d, 0x00.
Frame BytePhase(uint8_t d);

}  // namespace quelt
