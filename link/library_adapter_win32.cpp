// The adapter library on Windows: QueltUSB.dll, open and speed by export ordinals 1 and 2.
#include <windows.h>

#include "link/library_adapter.h"
#include "link/library_entries.h"

namespace quelt {

const char* PlatformAdapterLibrary() { return "QueltUSB.dll"; }

bool LoadLibraryEntries(const std::string& path, LibraryEntries* entries, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  FARPROC open = GetProcAddress(module, MAKEINTRESOURCEA(1));
  FARPROC speed = GetProcAddress(module, MAKEINTRESOURCEA(2));
  FARPROC write = GetProcAddress(module, "QueltProgrammerWrite");
  FARPROC read = GetProcAddress(module, "QueltProgrammerRead");
  if (!open || !speed || !write || !read) {
    *error = path + " lacks the entry point " +
             (!open    ? std::string("ordinal 1")
              : !speed ? std::string("ordinal 2")
              : !write ? std::string("QueltProgrammerWrite")
                       : std::string("QueltProgrammerRead"));
    FreeLibrary(module);
    return false;
  }
  entries->handle = reinterpret_cast<void*>(module);
  entries->open = reinterpret_cast<LibraryEntries::OpenFn>(reinterpret_cast<void*>(open));
  entries->speed = reinterpret_cast<LibraryEntries::SpeedFn>(reinterpret_cast<void*>(speed));
  entries->write = reinterpret_cast<LibraryEntries::WriteFn>(reinterpret_cast<void*>(write));
  entries->read = reinterpret_cast<LibraryEntries::ReadFn>(reinterpret_cast<void*>(read));
  return true;
}

void UnloadLibrary(void* handle) {
  if (handle) FreeLibrary(reinterpret_cast<HMODULE>(handle));
}

}  // namespace quelt
