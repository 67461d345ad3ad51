// The words for what an image load found, the same in the window's boxes and the command line's
// errors.
#pragma once

#include "image/image_file.h"

namespace quelt {

// The text of a read that failed (the caption is kReadErrorCaption).
const char* ReadFailureText(ReadFailure failure);

}  // namespace quelt
