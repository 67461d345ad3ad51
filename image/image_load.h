// Loading and validating an image for a front end: what to show and what to set, without any
// window. The window wraps it with its message boxes; the command line reuses it.
#pragma once

#include <cstdint>
#include <string>

#include "image/image_file.h"

namespace quelt {

constexpr char kImageMagic[] = "QELT";

struct MessageBoxText {
  std::string text;
  std::string caption;
  enum Icon { None, Error, Warning, Information } icon = None;
};

struct LoadOutcome {
  enum Kind {
    Loaded,      // title and status set, image-loaded flag set
    ReadFailed,  // a box; size, buffer and flag unchanged
    Empty,       // status only; size 0, flag cleared
    BadMagic,    // a box; size of the refused file kept, flag cleared
  } kind = ReadFailed;
  ReadFailure read_failure = ReadFailure::None;
  int32_t result = 0;  // what LoadImageFile returns: the size, or 0 when not usable
  bool show_box = false;
  MessageBoxText box;  // when show_box
  bool set_status = false;
  std::string status;  // set directly, without blanking the line
  bool set_title = false;
  std::string title;  // "%s - '%s' loaded"
  std::string name;   // the image name, non-printable bytes shown as '?'
};

// Reads `path` into the image store and checks it. `app_title` is the window's title text
// ("Quelt Flasher USB").
LoadOutcome LoadImageForDisplay(const std::string& path, const std::string& app_title);

// The image name of the buffer's header: up to 16 bytes at offset 16, cut at a NUL, every byte
// outside printable ASCII shown as '?'.
std::string ImageName(const uint8_t* image, int32_t size);

}  // namespace quelt
