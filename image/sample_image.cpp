#include "image/sample_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/image_load.h"

namespace quelt {

std::vector<uint8_t> MakeSampleImage(const std::string& name, int32_t size) {
  std::vector<uint8_t> image(static_cast<std::size_t>(std::max(size, 32)), 0);
  std::memcpy(image.data(), kImageMagic, 4);
  std::memcpy(image.data() + 16, name.data(), std::min<std::size_t>(name.size(), 16));
  // A mix of the offset's bytes: every block of the flash gets different contents, so a
  // block written to the wrong place or skipped shows in a verify.
  for (std::size_t i = 32; i < image.size(); ++i) {
    const uint32_t x = static_cast<uint32_t>(i);
    image[i] = static_cast<uint8_t>((x ^ (x >> 8) * 7 ^ (x >> 16) * 13) * 0x9D + 0x35);
  }
  return image;
}

bool WriteSampleImage(const std::string& path, const std::vector<uint8_t>& image) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace quelt
