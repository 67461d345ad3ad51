#include "image/image_store.h"

#include <new>

namespace quelt {
namespace {
uint8_t* image_buffer = nullptr;
int32_t image_size = 0;
}  // namespace

bool AllocateImage() {
  if (image_buffer != nullptr) return true;
  // Zeroed so that nothing of an earlier use of the memory can reach the chip.
  image_buffer = new (std::nothrow) uint8_t[kImageBufferBytes]();
  return image_buffer != nullptr;
}

void FreeImage() {
  delete[] image_buffer;
  image_buffer = nullptr;
}

uint8_t* ImageBuffer() { return image_buffer; }
int32_t ImageSize() { return image_size; }
void SetImageSize(int32_t size) { image_size = size; }

void ResetImageStoreForTests() {
  FreeImage();
  image_size = 0;
}

}  // namespace quelt
