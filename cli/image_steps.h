// Loading an image file into the image store, with what happened said as the command line's
// errors.
#pragma once

#include <string>

#include "cli/console.h"
#include "image/image_load.h"

namespace quelt::cli {

// Loads and checks the image as the window does. Returns kExitDone, or kExitImageRefused after
// saying why.
int LoadImage(const std::string& path, const Console& console, ImageLoad* load = nullptr);

}  // namespace quelt::cli
