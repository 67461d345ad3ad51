#include "settings/file_settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

namespace quelt {
namespace {

namespace fs = std::filesystem;

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// What the access means for the key's folder: reading values needs to list and read, writing
// needs to create and rename files in it.
int AccessMode(KeyAccess access) {
  switch (access) {
    case KeyAccess::Read:
      return R_OK | X_OK;
    case KeyAccess::Write:
      return W_OK | X_OK;
    case KeyAccess::Full:
      break;
  }
  return R_OK | W_OK | X_OK;
}

bool KeyOpens(const fs::path& folder, KeyAccess access) {
  struct stat info;
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         ::access(folder.c_str(), AccessMode(access)) == 0;
}

void StoreLittleEndian(uint32_t value, uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t LoadLittleEndian(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Close(); }
  int get() const { return fd_; }
  bool Close() {
    const bool closed = fd_ < 0 || ::close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

bool ReadExactly(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

fs::path FileSettingsStore::RootFolder() {
  // Only an absolute XDG_CONFIG_HOME counts, as the base directory rules have it.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return fs::path(config) / "quelt-flasher";
  const char* home = std::getenv("HOME");
  // The reentrant lookup: the store may be used from a worker thread while another thread
  // looks up users too.
  passwd entry{};
  std::vector<char> text(16384);
  if (home == nullptr || home[0] != '/') {
    passwd* user = nullptr;
    home = ::getpwuid_r(::getuid(), &entry, text.data(), text.size(), &user) == 0 && user != nullptr
               ? user->pw_dir
               : nullptr;
  }
  return fs::path(home != nullptr ? home : "/") / ".config" / "quelt-flasher";
}

std::optional<fs::path> FileSettingsStore::KeyFolder(RootKey root, const std::string& path) {
  if (root != RootKey::CurrentUser) return std::nullopt;
  fs::path folder = RootFolder();
  if (path.empty()) return folder;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('\\', start);
    const std::string component = path.substr(start, end - start);
    if (!IsPlainName(component)) return std::nullopt;
    folder /= component;
    if (end == std::string::npos) return folder;
    start = end + 1;
  }
}

bool FileSettingsStore::OpenKey(RootKey root, const std::string& path, KeyAccess access) {
  const auto folder = KeyFolder(root, path);
  return folder && KeyOpens(*folder, access);
}

bool FileSettingsStore::CreateKey(RootKey root, const std::string& path) {
  const auto folder = KeyFolder(root, path);
  if (!folder) return false;
  std::error_code error;
  fs::create_directories(*folder, error);
  return !error && KeyOpens(*folder, KeyAccess::Full);
}

ValueInfo FileSettingsStore::QueryValue(RootKey root, const std::string& path, KeyAccess access,
                                        const std::string& name, void* data, std::size_t room) {
  ValueInfo info;
  const auto folder = KeyFolder(root, path);
  if (!folder || !KeyOpens(*folder, access)) return info;
  info.status = ValueStatus::NoValue;
  if (!IsPlainName(name)) return info;

  // O_NONBLOCK: a FIFO put in place of a value must not hold the window.
  Descriptor file(::open((*folder / name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat stat_info;
  if (file.get() < 0 || ::fstat(file.get(), &stat_info) != 0 || !S_ISREG(stat_info.st_mode) ||
      stat_info.st_size < 4) {
    return info;  // missing, not a file, or damaged
  }
  uint8_t type[4];
  if (!ReadExactly(file.get(), type, 4)) return info;
  const auto size = static_cast<std::size_t>(stat_info.st_size - 4);
  if (data != nullptr) {
    if (size > room) {
      info.status = ValueStatus::MoreData;
      info.type = LoadLittleEndian(type);
      info.size = size;
      return info;
    }
    if (!ReadExactly(file.get(), data, size)) return info;  // shrank while read
  }
  info.status = ValueStatus::Ok;
  info.type = LoadLittleEndian(type);
  info.size = size;
  return info;
}

bool FileSettingsStore::SetValue(RootKey root, const std::string& path, KeyAccess access,
                                 const std::string& name, uint32_t type, const void* data,
                                 std::size_t size) {
  const auto folder = KeyFolder(root, path);
  if (!folder || !KeyOpens(*folder, access) || !IsPlainName(name)) return false;

  std::vector<uint8_t> contents(4 + size);
  StoreLittleEndian(type, contents.data());
  if (size > 0) std::memcpy(contents.data() + 4, data, size);

  // The old value stays whole until the new one is complete on disk: then one rename swaps them.
  std::string temp = (*folder / ("." + name + ".XXXXXX")).string();
  Descriptor file(::mkostemp(temp.data(), O_CLOEXEC));
  if (file.get() < 0) return false;
  const bool written = ::fchmod(file.get(), 0600) == 0 &&
                       WriteAll(file.get(), contents.data(), contents.size()) &&
                       ::fsync(file.get()) == 0;
  if (!file.Close() || !written || ::rename(temp.c_str(), (*folder / name).c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk with the folder.
  Descriptor dir(::open(folder->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

SettingsStore& PlatformSettingsStore() {
  static FileSettingsStore store;
  return store;
}

}  // namespace quelt
