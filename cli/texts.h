// The texts the command line shows: the flasher's own texts, shared with the window, and the few
// that only the command line needs.
#pragma once

#include "texts/user_texts.h"

namespace quelt::cli {

constexpr char kVerifyAfterWriteRefused[] =
    "Verification is not available for the Quelt JQ, so nothing was erased or written; write "
    "without --verify.";

}  // namespace quelt::cli
