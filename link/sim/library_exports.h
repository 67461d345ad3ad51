// How the emulator's adapter libraries export the four entry points.
//
// POSIX: by name, with default visibility. Windows: as the vendor's QueltUSB.dll does, open and
// speed by ordinals 1 and 2 and the other two by name, all listed in the library's .def file; the
// calling convention is cdecl, or stdcall in a build with QUELT_DLL_STDCALL, so that the loader is
// shown to work with either.
#pragma once

#ifdef _WIN32
#define QUELT_EXPORT extern "C"
#ifdef QUELT_DLL_STDCALL
#define QUELT_CALL __stdcall
#else
#define QUELT_CALL __cdecl
#endif
#else
#define QUELT_EXPORT extern "C" __attribute__((visibility("default")))
#define QUELT_CALL
#endif
