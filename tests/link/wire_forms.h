// Adapter bytes of the chip's command frames, written out by hand from the command tables.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/link/link_test_util.h"

namespace quelt::test {

// 19 quiet symbols, the start unit 1F 0C 12, the short address phase of 0.
inline std::vector<uint8_t> ShortStartWire() {
  return Cat({Rep({0x00, 0x10}, 19),
              {0x2F, 0x3F, 0x0C, 0x1C, 0x22, 0x32, 0x21, 0x31},
              Rep({0x00, 0x10}, 4)});
}
// 19 quiet symbols, the start unit 1F 0D 12, the long address phase of 0.
inline std::vector<uint8_t> LongStartWire() {
  return Cat({Rep({0x00, 0x10}, 19),
              {0x2F, 0x3F, 0x0D, 0x1D, 0x22, 0x32, 0x01, 0x11},
              Rep({0x00, 0x10}, 5)});
}
inline std::vector<uint8_t> LongAddress0Wire() { return Cat({{0x01, 0x11}, Rep({0x00, 0x10}, 5)}); }
inline std::vector<uint8_t> ShortAddress0Wire() {
  return Cat({{0x21, 0x31}, Rep({0x00, 0x10}, 4)});
}
inline std::vector<uint8_t> AddressAAAWire() {
  return {0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x02, 0x12, 0x25, 0x35, 0x0A, 0x1A};
}
inline std::vector<uint8_t> Address555Wire() {
  return {0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x01, 0x11, 0x0A, 0x1A, 0x25, 0x35};
}
inline std::vector<uint8_t> ByteAAWire() { return {0x25, 0x35, 0x0A, 0x1A, 0x00, 0x10}; }
inline std::vector<uint8_t> Byte55Wire() { return {0x22, 0x32, 0x25, 0x35, 0x00, 0x10}; }
inline std::vector<uint8_t> Byte90Wire() { return {0x24, 0x34, 0x20, 0x30, 0x00, 0x10}; }
inline std::vector<uint8_t> Byte80Wire() { return {0x24, 0x34, 0x00, 0x10, 0x00, 0x10}; }
inline std::vector<uint8_t> Byte30Wire() { return {0x21, 0x31, 0x20, 0x30, 0x00, 0x10}; }

inline std::vector<uint8_t> BaseEnterWire() { return Rep({0x0E, 0x1E}, 7); }
inline std::vector<uint8_t> BaseLeaveWire() { return Rep({0x2B, 0x3B}, 3); }
inline std::vector<uint8_t> LargeEnterWire() {
  return Cat({AddressAAAWire(), ByteAAWire(), Address555Wire(), Byte55Wire(), AddressAAAWire(),
              Byte90Wire()});
}
inline std::vector<uint8_t> LargeLeaveWire() { return {0x27, 0x37, 0x20, 0x30, 0x00, 0x10}; }

}  // namespace quelt::test
