// The emulated chip's flash on Windows: a file mapping, shared by every process that maps the same
// file, so that a write and a later verify in another process see the same chip.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "link/sim/flash_store.h"

namespace quelt {
namespace {

std::string ErrorText(DWORD number) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, number, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length ? std::string(text, length) : "error " + std::to_string(number);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

// A handle closed when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Other processes may map, read and write the file while it is open here: they are the same chip.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool FillErased(HANDLE file, std::size_t size) {
  const std::vector<uint8_t> erased(std::size_t{64} * 1024, 0xFF);
  for (std::size_t done = 0; done < size;) {
    const DWORD chunk = static_cast<DWORD>(std::min(erased.size(), size - done));
    DWORD written = 0;
    if (!WriteFile(file, erased.data(), chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return FlushFileBuffers(file) != 0;
}

// As on POSIX: a missing flash file is made whole and erased under a temporary name beside it,
// then moved into place without replacing anything, so that a process killed meanwhile never
// leaves a partial flash file under the real name. When another process moved its file first,
// that one is kept.
bool CreateErasedFile(const std::string& path, std::size_t size, std::string* why) {
  const std::string temp = path + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  bool ok;
  {
    const Handle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      *why = ErrorText(GetLastError());
      return false;
    }
    ok = FillErased(file.get(), size);
    if (!ok) *why = ErrorText(GetLastError());
  }
  if (ok && !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
      *why = ErrorText(error);
      ok = false;
    }
  }
  DeleteFileA(temp.c_str());
  return ok;
}

HANDLE OpenFlashFile(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FlashStore::~FlashStore() {
  if (mapped_) UnmapViewOfFile(data_);
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
  HANDLE opened = OpenFlashFile(path);
  if (opened == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    std::string why;
    if (!CreateErasedFile(path, size, &why)) return fail(why);
    opened = OpenFlashFile(path);
  }
  const Handle file(opened);
  if (!file.valid()) return fail(ErrorText(GetLastError()));
  if (GetFileType(file.get()) != FILE_TYPE_DISK) return fail("not a regular file");
  LARGE_INTEGER file_size{};
  if (!GetFileSizeEx(file.get(), &file_size)) return fail(ErrorText(GetLastError()));
  if (static_cast<uint64_t>(file_size.QuadPart) != size) {
    return fail("holds " + std::to_string(file_size.QuadPart) + " bytes, the chip has " +
                std::to_string(size));
  }
  // The view keeps the mapping, and the mapping the file, for as long as it is there.
  const Handle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READWRITE, 0, 0, nullptr));
  if (!mapping.valid()) return fail(ErrorText(GetLastError()));
  void* view = MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, size);
  if (view == nullptr) return fail(ErrorText(GetLastError()));
  data_ = static_cast<uint8_t*>(view);
  size_ = size;
  mapped_ = true;
  return true;
}

}  // namespace quelt
