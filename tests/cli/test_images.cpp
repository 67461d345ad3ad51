#include "tests/cli/test_images.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quelt::testing {

std::vector<uint8_t> MakeImage(int32_t size, const std::string& name, uint32_t seed,
                               const std::string& magic) {
  std::vector<uint8_t> image(static_cast<size_t>(size));
  uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : image) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>((state >> 16) % 0xFF);  // never 0xFF
  }
  for (size_t i = 0; i < 4 && i < image.size(); ++i) image[i] = static_cast<uint8_t>(magic[i]);
  for (size_t i = 0; i < 16 && 16 + i < image.size(); ++i) {
    image[16 + i] = i < name.size() ? static_cast<uint8_t>(name[i]) : 0;
  }
  return image;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quelt::testing
