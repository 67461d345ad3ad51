#include <string>

#include "image/image_load.h"

namespace quelt {

namespace {
constexpr int32_t kNameOffset = 16;
constexpr int32_t kNameBytes = 16;
}  // namespace

std::string ImageName(const uint8_t* image, int32_t size) {
  std::string name;
  if (image == nullptr) return name;
  // Only bytes the file held count: what lies beyond its end in the buffer is an older image.
  for (int32_t i = kNameOffset; i < kNameOffset + kNameBytes && i < size; ++i) {
    const uint8_t byte = image[i];
    if (byte == 0) break;
    // Control characters and bytes of 0x80 and above would reach the title or a terminal as
    // they are; they are shown as '?'.
    name.push_back(byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '?');
  }
  return name;
}

}  // namespace quelt
