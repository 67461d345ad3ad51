#include "link/sim/flash_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace quelt {
namespace {

// strerror shares one buffer between threads; this does not.
std::string ErrorText(int number) { return std::generic_category().message(number); }

// Writes `size` bytes of 0xFF to the start of the file.
bool FillErased(int fd, std::size_t size) {
  const std::vector<uint8_t> erased(std::size_t{64} * 1024, 0xFF);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n =
        pwrite(fd, erased.data(), std::min(erased.size(), size - done), static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A missing flash file is made whole before it appears under its name: erased in a temporary file
// beside it, then linked into place. A process killed while creating it leaves no flash file (at
// most a stray temporary one), never an empty or unerased one that a later run would take as the
// chip. When another process links its file first, that one is kept.
bool CreateErasedFile(const std::string& path, std::size_t size, std::string* why) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *why = ErrorText(errno);
    return false;
  }
  bool ok = FillErased(fd, size) && fsync(fd) == 0;
  if (!ok) *why = ErrorText(errno);
  close(fd);
  if (ok && link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST) {
    *why = ErrorText(errno);
    ok = false;
  }
  unlink(temp.c_str());
  return ok;
}

}  // namespace

FlashStore::~FlashStore() {
  if (mapped_) munmap(data_, size_);
}

void FlashStore::InMemory(std::size_t size) {
  memory_.assign(size, 0xFF);
  data_ = memory_.data();
  size_ = size;
}

bool FlashStore::MapFile(const std::string& path, std::size_t size, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = "flash file \"" + path + "\": " + why;
    return false;
  };
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    std::string why;
    if (!CreateErasedFile(path, size, &why)) return fail(why);
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) return fail(ErrorText(errno));

  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const std::string why = ErrorText(errno);
    close(fd);
    return fail(why);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return fail("not a regular file");
  }
  if (static_cast<std::size_t>(st.st_size) != size) {
    close(fd);
    return fail("holds " + std::to_string(st.st_size) + " bytes, the chip has " +
                std::to_string(size));
  }
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  const int map_errno = errno;
  close(fd);
  if (map == MAP_FAILED) return fail(ErrorText(map_errno));
  data_ = static_cast<uint8_t*>(map);
  size_ = size;
  mapped_ = true;
  return true;
}

}  // namespace quelt
