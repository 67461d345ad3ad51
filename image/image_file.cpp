#include "image/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "image/image_read_layer.h"
#include "image/image_store.h"

namespace quelt {
namespace {

ImageReadCall read_call;

long ReadSome(int fd, void* buffer, std::size_t count) {
  if (read_call) return read_call(fd, buffer, count);
  for (;;) {
    const ssize_t n = ::read(fd, buffer, count);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

// Closes the descriptor when the read is over, whatever way it ends.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

ReadResult Failed(ReadFailure failure) { return ReadResult{-1, failure}; }

// Reads exactly `size` bytes and then checks that the file ends there, so that a file that
// shrank or grew while it was read is not taken as an image.
bool ReadWhole(int fd, uint8_t* staging, int32_t size) {
  std::size_t done = 0;
  while (done < static_cast<std::size_t>(size)) {
    const long n = ReadSome(fd, staging + done, static_cast<std::size_t>(size) - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  uint8_t extra;
  return ReadSome(fd, &extra, 1) == 0;
}

}  // namespace

void SetImageReadCallForTests(ImageReadCall call) { read_call = std::move(call); }

ReadResult ReadImageFileChecked(const std::string& path) {
  // A directory, a FIFO or a device is refused before it is opened: opening a FIFO for
  // reading would wait for a writer for ever.
  struct stat before;
  if (::stat(path.c_str(), &before) != 0) {
    return Failed(ReadFailure::CannotOpen);
  }
  if (!S_ISREG(before.st_mode)) return Failed(ReadFailure::NotRegularFile);

  // The path may have been replaced since; O_NONBLOCK keeps a FIFO put there from blocking, and
  // the open file is checked again.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    return Failed(ReadFailure::CannotOpen);
  }
  struct stat opened;
  if (::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
    return Failed(ReadFailure::NotRegularFile);
  }
  if (opened.st_size > kMaxImageBytes) {
    return Failed(ReadFailure::TooBig);
  }
  const auto size = static_cast<int32_t>(opened.st_size);

  uint8_t* image = ImageBuffer();
  if (image == nullptr) return Failed(ReadFailure::ReadIncomplete);
  std::unique_ptr<uint8_t[]> staging(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
  if (!staging || !ReadWhole(file.get(), staging.get(), size)) {
    return Failed(ReadFailure::ReadIncomplete);
  }
  std::memcpy(image, staging.get(), static_cast<std::size_t>(size));
  return ReadResult{size, ReadFailure::None};
}

bool TestOpenForReading(const std::string& path) {
  // As for a read: only a regular file is opened, and without waiting if the path has been
  // replaced by a FIFO since.
  struct stat before;
  if (::stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return false;
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat opened;
  return file.get() >= 0 && ::fstat(file.get(), &opened) == 0 && S_ISREG(opened.st_mode);
}

}  // namespace quelt
