// An adapter library loaded at run time: the four C entry points of the platform's adapter
// library (QueltUSB.dll on Windows, libQueltUSB.so elsewhere) or of any library with them.
#pragma once

#include <memory>
#include <string>

#include "link/adapter.h"

namespace quelt {

// The platform's library name: "QueltUSB.dll" on Windows, "libQueltUSB.so" elsewhere.
const char* PlatformAdapterLibrary();

// Loads the library. One that cannot be loaded or lacks an entry point gives an adapter whose
// open fails (and `error`, when given, says why); it never falls back to anything else.
std::unique_ptr<Adapter> LoadAdapterLibrary(const std::string& path, std::string* error = nullptr);

// An adapter that is not there: open fails, writes do nothing, reads deliver nothing.
std::unique_ptr<Adapter> MakeMissingAdapter();

}  // namespace quelt
