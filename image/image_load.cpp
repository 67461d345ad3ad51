#include "image/image_load.h"

#include <cstring>

#include "image/image_store.h"

namespace quelt {

ImageLoad LoadAndCheckImage(const std::string& path) {
  ImageLoad load;
  const ReadResult read = ReadImageFileChecked(path);
  if (read.failure != ReadFailure::None) {
    load.failure = read.failure;
    return load;
  }
  load.size = read.size;
  SetImageSize(load.size);
  // A file shorter than the magic cannot hold it, whatever an older image left in the buffer.
  const uint8_t* image = ImageBuffer();
  if (load.size == 0) {
    load.kind = ImageLoad::Empty;
  } else if (load.size < 4 || std::memcmp(image, kImageMagic, 4) != 0) {
    load.kind = ImageLoad::BadMagic;
  } else {
    load.kind = ImageLoad::Loaded;
    load.name = ImageName(image, load.size);
  }
  return load;
}

}  // namespace quelt
