// Any bytes as an image file: reading, checking and naming must neither crash nor read out of
// bounds, and what they report must agree with the bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image_file.h"
#include "image/image_load.h"
#include "image/image_store.h"

namespace {

// One file for every input, removed at exit (a plain array: it outlives the exit handlers).
char image_path[] = "/tmp/quelt-fuzz-image-XXXXXX";

const char* ImagePath() {
  static const bool made = [] {
    const int fd = ::mkstemp(image_path);
    if (fd < 0) std::abort();
    ::close(fd);
    std::atexit([] { ::unlink(image_path); });
    return true;
  }();
  (void)made;
  return image_path;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = quelt::AllocateImage();
  Check(ready);
  if (size > static_cast<size_t>(quelt::kMaxImageBytes)) return 0;

  std::FILE* file = std::fopen(ImagePath(), "wb");
  Check(file != nullptr);
  Check(std::fwrite(data, 1, size, file) == size);
  Check(std::fclose(file) == 0);

  const quelt::ImageLoad load = quelt::LoadAndCheckImage(ImagePath());
  Check(load.kind != quelt::ImageLoad::ReadFailed);
  Check(quelt::ImageSize() == static_cast<int32_t>(size));
  Check(std::memcmp(quelt::ImageBuffer(), data, size) == 0);
  const bool magic = size >= 4 && std::memcmp(data, "QELT", 4) == 0;
  Check((load.kind == quelt::ImageLoad::Loaded) == magic);
  if (magic) {
    Check(load.name.size() <= 16);
    for (const char c : load.name) Check(c >= 0x20 && c < 0x7F);
  }

  // The name straight from the bytes, with the size the buffer really has.
  const std::string name = quelt::ImageName(data, static_cast<int32_t>(size));
  Check(name.size() <= 16);
  return 0;
}
