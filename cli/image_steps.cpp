#include "cli/image_steps.h"

#include "cli/exit_status.h"
#include "cli/texts.h"
#include "flash/image_words.h"

namespace quelt::cli {

int LoadImage(const std::string& path, const Console& console, ImageLoad* load_out) {
  const ImageLoad load = LoadAndCheckImage(path);
  if (load_out) *load_out = load;
  switch (load.kind) {
    case ImageLoad::Loaded:
      return kExitDone;
    case ImageLoad::ReadFailed:
      console.Error(kReadErrorCaption, path + ": " + ReadFailureText(load.failure));
      break;
    case ImageLoad::Empty:
      console.Error("", path + ": " + kEmptyFileStatus);
      break;
    case ImageLoad::BadMagic:
      console.Error(kInvalidFileCaption, path + ": " + kInvalidFileText);
      break;
  }
  return kExitImageRefused;
}

}  // namespace quelt::cli
