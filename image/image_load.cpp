#include "image/image_load.h"

#include <cstring>

#include "image/image_store.h"

namespace quelt {
namespace {

constexpr char kReadCaption[] = "Error while reading file";

MessageBoxText ReadFailureBox(ReadFailure failure) {
  switch (failure) {
    case ReadFailure::TooBig:
      return {"File too big", kReadCaption, MessageBoxText::Error};
    case ReadFailure::CannotOpen:
      return {"Error while trying to open file", kReadCaption, MessageBoxText::Error};
    case ReadFailure::None:
    case ReadFailure::NotRegularFile:
    case ReadFailure::ReadIncomplete:
      break;
  }
  return {"Error while reading file", kReadCaption, MessageBoxText::Error};
}

bool HasMagic(const uint8_t* image, int32_t size) {
  // A file shorter than the magic cannot hold it, whatever an older image left in the buffer.
  return size >= 4 && std::memcmp(image, kImageMagic, 4) == 0;
}

}  // namespace

LoadOutcome LoadImageForDisplay(const std::string& path, const std::string& app_title) {
  LoadOutcome outcome;
  const ReadResult read = ReadImageFileChecked(path);
  if (read.failure != ReadFailure::None || read.size < 0) {
    outcome.kind = LoadOutcome::ReadFailed;
    outcome.read_failure = read.failure;
    outcome.show_box = true;
    outcome.box = ReadFailureBox(read.failure);
    return outcome;
  }

  const int32_t n = read.size;
  SetImageSize(n);
  if (n == 0) {
    outcome.kind = LoadOutcome::Empty;
    outcome.set_status = true;
    outcome.status = "Error with bios file : impossible to read or empty file";
    return outcome;
  }

  const std::string status =
      "The bios file has been loaded successfully - " + std::to_string(n / 1024) + " KBytes read";
  const uint8_t* image = ImageBuffer();
  if (!HasMagic(image, n)) {
    outcome.kind = LoadOutcome::BadMagic;
    outcome.show_box = true;
    outcome.box = {"This is not a valid Quelt BIOS", "Invalid File", MessageBoxText::Warning};
    return outcome;
  }

  outcome.kind = LoadOutcome::Loaded;
  outcome.result = n;
  outcome.name = ImageName(image, n);
  outcome.set_title = true;
  outcome.title = app_title + " - '" + outcome.name + "' loaded";
  outcome.set_status = true;
  outcome.status = status;
  return outcome;
}

}  // namespace quelt
