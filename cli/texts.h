// The texts the command line shows: the flasher's own texts, shared with the window, and the few
// that only the command line needs.
#pragma once

#include "texts/user_texts.h"

namespace quelt::cli {

constexpr char kVerifyAfterWriteUnavailable[] =
    "Verification is not available for the Quelt JQ; the image was written but not verified.";

}  // namespace quelt::cli
