// Sample images of our own: the magic, a name, and a reproducible pattern of bytes, for the
// README's examples, the tests and the emulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt {

struct SampleImage {
  const char* file_name;
  const char* image_name;
  int32_t size;
};

// The samples that quelt-make-samples writes.
inline constexpr SampleImage kSampleImages[] = {
    {"demo-256k.qlz", "Demo BIOS", 256 * 1024},
    {"demo-2m.qlz", "Demo BIOS Large", 2 * 1024 * 1024},
    {"demo-128k.qlz", "Demo BIOS Small", 128 * 1024},
};

// An image of `size` bytes (at least 32): "QELT", 12 zero bytes, the name NUL-padded to 16 bytes
// (cut at 16), then a pattern that depends only on the offset and is never all 0xFF.
std::vector<uint8_t> MakeSampleImage(const std::string& name, int32_t size);

// Writes the image to `path`; false when the file cannot be written whole.
bool WriteSampleImage(const std::string& path, const std::vector<uint8_t>& image);

}  // namespace quelt
