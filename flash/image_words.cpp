#include "flash/image_words.h"

#include "texts/user_texts.h"

namespace quelt {

const char* ReadFailureText(ReadFailure failure) {
  switch (failure) {
    case ReadFailure::TooBig:
      return kFileTooBigText;
    case ReadFailure::CannotOpen:
      return kCannotOpenText;
    case ReadFailure::None:
    case ReadFailure::NotRegularFile:
    case ReadFailure::ReadIncomplete:
      break;
  }
  return kReadErrorText;
}

}  // namespace quelt
