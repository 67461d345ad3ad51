// Reading an image file into the image buffer, all or nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quelt {

// Where the image store's two messages of image reading go ("Error while trying to open
// file\n", "File too big"). Standard output unless the caller chooses otherwise.
using MessageSink = std::function<void(std::string_view)>;
void SetImageMessageSink(MessageSink sink);

enum class ReadFailure {
  None,
  CannotOpen,
  TooBig,          // over 2 MiB
  NotRegularFile,  // a directory, a FIFO, a device: refused before anything is read
  ReadIncomplete,  // the file failed or shrank while being read
};

struct ReadResult {
  int32_t size = -1;  // the bytes read, -1 on failure
  ReadFailure failure = ReadFailure::None;
};

// Reads the whole file into a staging buffer and only then into the image buffer; on failure the
// image buffer and size stay as they were. Does not change the image size.
ReadResult ReadImageFileChecked(const std::string& path);
// The classic form: the size, or -1 on failure.
int32_t ReadImageFile(const std::string& path);

// Opens `path` for reading and closes it again: a test that a read can start. False when it
// cannot be opened or is not a regular file; never waits (a FIFO is refused, not opened).
bool TestOpenForReading(const std::string& path);

}  // namespace quelt
