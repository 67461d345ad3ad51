// Loading and checking an image file: what happened, never what to say. Each front end words it.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_file.h"

namespace quelt {

constexpr char kImageMagic[] = "QELT";

struct ImageLoad {
  enum Kind {
    Loaded,      // the image is in the buffer and its size set
    ReadFailed,  // `failure` says why; buffer and size unchanged
    Empty,       // size 0
    BadMagic,    // the file's bytes are in the buffer and its size set, but it is not an image
  } kind = ReadFailed;
  ReadFailure failure = ReadFailure::None;
  int32_t size = 0;  // the bytes the file held (0 after a failed read)
  std::string name;  // Loaded: the image name, non-printable bytes shown as '?'
};

// Reads `path` into the image store and checks it.
ImageLoad LoadAndCheckImage(const std::string& path);

// The image name of the buffer's header: up to 16 bytes at offset 16, cut at a NUL, every byte
// outside printable ASCII shown as '?'.
std::string ImageName(const uint8_t* image, int32_t size);

}  // namespace quelt
