// The adapter library on Windows: QueltUSB.dll, open and speed by export ordinals 1 and 2.
#include <windows.h>

#include <string>
#include <vector>

#include "link/library_adapter.h"
#include "link/library_entries.h"

static_assert(sizeof(void*) == 4, "the vendor's QueltUSB.dll is a 32-bit DLL: build for i686");

// Calls `entry` with `count` 32-bit arguments so that both conventions the vendor's DLL may use
// work: the arguments are pushed right to left as both cdecl and stdcall expect them, and the
// stack pointer is restored from the frame afterwards, whether the callee popped its arguments
// (stdcall) or left them for the caller (cdecl). The stack is 16-byte aligned at the call, which
// suits a callee built to assume either 4 or 16. Only the scratch registers eax, ecx and edx are
// used; the result comes back in eax under both conventions.
asm(R"(
    .text
    .p2align 4
quelt_call_either:
    pushl %ebp
    movl  %esp, %ebp
    movl  16(%ebp), %ecx
    movl  12(%ebp), %edx
    leal  0(,%ecx,4), %eax
    subl  %eax, %esp
    andl  $-16, %esp
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    movl  (%edx,%ecx,4), %eax
    movl  %eax, (%esp,%ecx,4)
    jmp   1b
2:  call  *8(%ebp)
    movl  %ebp, %esp
    popl  %ebp
    ret
)");

extern "C" uint32_t __attribute__((cdecl))
CallEither(void* entry, const uint32_t* args, uint32_t count) __asm__("quelt_call_either");

namespace quelt {
namespace {

uint32_t Arg(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }

// The full path of a file in the folder that `folder_of` fills in (GetModuleFileNameA's or
// GetSystemDirectoryA's way: the length written, or at least `size` when the buffer was short).
template <typename Fill>
std::string PathIn(Fill folder_of, bool strip_file_name, const char* name) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = folder_of(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::string folder(buffer.data(), length);
      if (strip_file_name) folder.erase(folder.find_last_of("\\/") + 1);
      if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
      return folder + name;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string PlatformAdapterLibrary() {
  const char* const name = "QueltUSB.dll";
  const std::string beside_program =
      PathIn([](char* buffer, DWORD size) { return GetModuleFileNameA(nullptr, buffer, size); },
             true, name);
  if (!beside_program.empty() &&
      GetFileAttributesA(beside_program.c_str()) != INVALID_FILE_ATTRIBUTES)
    return beside_program;
  const std::string in_system = PathIn(
      [](char* buffer, DWORD size) { return GetSystemDirectoryA(buffer, size); }, false, name);
  // Not found in either: the system folder's path, so that the failure names a full path.
  return in_system.empty() ? beside_program : in_system;
}

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

// The entries are kept as the cdecl pointers of LibraryEntries but never called as such.
uint32_t CallOpen(const LibraryEntries& entries) {
  return CallEither(reinterpret_cast<void*>(entries.open), nullptr, 0);
}

uint32_t CallSpeed(const LibraryEntries& entries, int32_t speed) {
  const uint32_t args[] = {static_cast<uint32_t>(speed)};
  return CallEither(reinterpret_cast<void*>(entries.speed), args, 1);
}

uint32_t CallWrite(const LibraryEntries& entries, const uint8_t* bytes, uint32_t count,
                   uint32_t* written) {
  const uint32_t args[] = {Arg(bytes), count, Arg(written)};
  return CallEither(reinterpret_cast<void*>(entries.write), args, 3);
}

uint32_t CallRead(const LibraryEntries& entries, uint8_t* input) {
  const uint32_t args[] = {Arg(input)};
  return CallEither(reinterpret_cast<void*>(entries.read), args, 1);
}

}  // namespace quelt
