#include "link/sim/call_log.h"

namespace quelt {
namespace {

std::string Hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return text;
}

}  // namespace

uint32_t CallLoggingAdapter::Open() {
  const uint32_t result = inner_.Open();
  line_("open " + std::to_string(result));
  return result;
}

uint32_t CallLoggingAdapter::Speed(int32_t speed) {
  const uint32_t result = inner_.Speed(speed);
  line_("speed " + std::to_string(speed));
  return result;
}

uint32_t CallLoggingAdapter::Write(const uint8_t* bytes, uint32_t count, uint32_t* written) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint32_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
  std::string line = "write " + std::to_string(count) + " " + Hex(hash, 16);
  if (count <= 512) {
    for (uint32_t i = 0; i < count; ++i) line += " " + Hex(bytes[i], 2);
  }
  const uint32_t result = inner_.Write(bytes, count, written);
  line_(line);
  return result;
}

uint32_t CallLoggingAdapter::Read(uint8_t* input) {
  const uint32_t result = inner_.Read(input);
  line_("read " + Hex(*input, 2));
  return result;
}

}  // namespace quelt
