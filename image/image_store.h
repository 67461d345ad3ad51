// The one process-wide image buffer and the image size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quelt {

constexpr std::size_t kImageBufferBytes = 0x200400;
constexpr int32_t kMaxImageBytes = 0x200000;    // the largest image file (2 MiB)
constexpr int32_t kBaseChipMaxBytes = 0x20000;  // the largest image for "Quelt JQ"

// Obtains the buffer; false when it cannot be obtained.
bool AllocateImage();
void FreeImage();
uint8_t* ImageBuffer();  // null while not allocated
int32_t ImageSize();
void SetImageSize(int32_t size);
// For tests only: frees the buffer and returns the size to 0.
void ResetImageStoreForTests();

}  // namespace quelt
