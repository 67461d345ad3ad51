#include <dlfcn.h>

#include "link/library_adapter.h"
#include "link/library_entries.h"

namespace quelt {

const char* PlatformAdapterLibrary() { return "libQueltUSB.so"; }

bool LoadLibraryEntries(const std::string& path, LibraryEntries* entries, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    *error = why ? why : ("cannot load " + path);
    return false;
  }
  auto find = [&](const char* name) -> void* {
    void* symbol = dlsym(handle, name);
    if (!symbol && error->empty()) *error = path + " lacks the entry point " + name;
    return symbol;
  };
  error->clear();
  entries->handle = handle;
  entries->open = reinterpret_cast<LibraryEntries::OpenFn>(find("QueltAdapterOpen"));
  entries->speed = reinterpret_cast<LibraryEntries::SpeedFn>(find("QueltAdapterSpeed"));
  entries->write = reinterpret_cast<LibraryEntries::WriteFn>(find("QueltProgrammerWrite"));
  entries->read = reinterpret_cast<LibraryEntries::ReadFn>(find("QueltProgrammerRead"));
  if (!entries->open || !entries->speed || !entries->write || !entries->read) {
    dlclose(handle);
    *entries = LibraryEntries{};
    return false;
  }
  return true;
}

void UnloadLibrary(void* handle) {
  if (handle) dlclose(handle);
}

}  // namespace quelt
