// Reading an image file into the image buffer, all or nothing.
#pragma once

#include <cstdint>
#include <string>

namespace quelt {

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

// Opens `path` for reading and closes it again: a test that a read can start. False when it
// cannot be opened or is not a regular file; never waits (a FIFO is refused, not opened).
bool TestOpenForReading(const std::string& path);

}  // namespace quelt
