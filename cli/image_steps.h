// Loading an image file into the image store, with the image store's messages routed into the
// command line's error reporting.
#pragma once

#include <string>

#include "cli/console.h"
#include "image/image_load.h"

namespace quelt::cli {

// Holds the image store's messages for LoadImage, which reports them as errors (never on
// standard output).
void RouteImageMessages();

// Loads and checks the image as the window does. Returns kExitDone, or kExitImageRefused after
// saying why.
int LoadImage(const std::string& path, const Console& console, LoadOutcome* outcome = nullptr);

}  // namespace quelt::cli
