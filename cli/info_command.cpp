#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/image_steps.h"
#include "cli/sha256.h"
#include "cli/texts.h"
#include "image/image_store.h"

namespace quelt::cli {
namespace {

std::string FitLine(const char* chip, int32_t size, int32_t limit) {
  char line[160];
  std::snprintf(line, sizeof line, "%-17s %s (at most %d bytes)", (std::string(chip) + ":").c_str(),
                size <= limit ? "fits" : "too big", static_cast<int>(limit));
  return line;
}

}  // namespace

int RunInfo(const Options& options, const Console& console) {
  ImageLoad load;
  const int loaded = LoadImage(options.file, console, &load);
  if (loaded != kExitDone) return loaded;
  const int32_t size = load.size;
  const std::string digest = Sha256Hex(ImageBuffer(), static_cast<std::size_t>(size));
  if (digest.empty()) {
    console.Error(kErrorCaption, kNoMemoryText);
    return kExitFailure;
  }
  console.Result("File:             " + options.file);
  console.Result("Name:             " + load.name);
  console.Result("Size:             " + std::to_string(size) + " bytes (" +
                 std::to_string(size / 1024) + " KBytes)");
  console.Result(FitLine(kBaseChipName, size, kBaseChipMaxBytes));
  console.Result(FitLine(kLargeChipName, size, kMaxImageBytes));
  console.Result("SHA-256:          " + digest);
  return kExitDone;
}

}  // namespace quelt::cli
