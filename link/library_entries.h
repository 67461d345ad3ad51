// The four entry points of a loaded adapter library, and the platform's loader for them
// (library_adapter_posix.cpp with dlopen, library_adapter_win32.cpp with LoadLibraryA).
#pragma once

#include <cstdint>
#include <string>

namespace quelt {

struct LibraryEntries {
  using OpenFn = uint32_t (*)();
  using SpeedFn = uint32_t (*)(int32_t);
  using WriteFn = uint32_t (*)(const uint8_t*, uint32_t, uint32_t*);
  using ReadFn = uint32_t (*)(uint8_t*);

  void* handle = nullptr;
  OpenFn open = nullptr;
  SpeedFn speed = nullptr;
  WriteFn write = nullptr;
  ReadFn read = nullptr;
};

// Loads the library and finds all four entry points; on failure nothing stays loaded and
// `error` says why.
bool LoadLibraryEntries(const std::string& path, LibraryEntries* entries, std::string* error);
void UnloadLibrary(void* handle);

// The calls into the library. On Windows the vendor's calling convention is not known, so these
// call in a way that suits both cdecl and stdcall; elsewhere they are plain calls.
uint32_t CallOpen(const LibraryEntries& entries);
uint32_t CallSpeed(const LibraryEntries& entries, int32_t speed);
uint32_t CallWrite(const LibraryEntries& entries, const uint8_t* bytes, uint32_t count,
                   uint32_t* written);
uint32_t CallRead(const LibraryEntries& entries, uint8_t* input);

}  // namespace quelt
