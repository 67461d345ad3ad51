#include "flash_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quelt {

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
  bool created = false;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    created = true;
  } else if (errno == EEXIST) {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) return fail(std::strerror(errno));

  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const std::string why = std::strerror(errno);
    close(fd);
    return fail(why);
  }
  if (!created && !S_ISREG(st.st_mode)) {
    close(fd);
    return fail("not a regular file");
  }
  if (!created && static_cast<std::size_t>(st.st_size) != size) {
    close(fd);
    return fail("holds " + std::to_string(st.st_size) + " bytes, the chip has " +
                std::to_string(size));
  }
  if (created && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    const std::string why = std::strerror(errno);
    close(fd);
    unlink(path.c_str());
    return fail(why);
  }
  void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  const int map_errno = errno;
  close(fd);
  if (map == MAP_FAILED) {
    if (created) unlink(path.c_str());
    return fail(std::strerror(map_errno));
  }
  data_ = static_cast<uint8_t*>(map);
  size_ = size;
  mapped_ = true;
  if (created) std::memset(data_, 0xFF, size);
  return true;
}

}  // namespace quelt
