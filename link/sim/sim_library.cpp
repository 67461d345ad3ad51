// The emulator as an adapter library (libquelt-sim.so), configured by the environment variable
// QUELT_SIM with the option string of "sim:" (empty or unset: a "large" chip). Options that are
// refused are told on standard error, and the library then behaves as a missing adapter.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "link/library_adapter.h"
#include "link/sim/sim_adapter.h"

namespace {

quelt::Adapter& Emulator() {
  static const std::unique_ptr<quelt::Adapter> adapter = [] {
    const char* options = std::getenv("QUELT_SIM");
    std::string error;
    std::unique_ptr<quelt::Adapter> sim = quelt::SimAdapter::Create(options ? options : "", &error);
    if (sim) return sim;
    std::fprintf(stderr, "libquelt-sim: QUELT_SIM refused: %s\n", error.c_str());
    return quelt::MakeMissingAdapter();
  }();
  return *adapter;
}

}  // namespace

#define QUELT_EXPORT extern "C" __attribute__((visibility("default")))

QUELT_EXPORT uint32_t QueltAdapterOpen(void) { return Emulator().Open(); }
QUELT_EXPORT uint32_t QueltAdapterSpeed(int32_t speed) { return Emulator().Speed(speed); }
QUELT_EXPORT uint32_t QueltProgrammerWrite(const uint8_t* bytes, uint32_t count,
                                           uint32_t* written) {
  return Emulator().Write(bytes, count, written);
}
QUELT_EXPORT uint32_t QueltProgrammerRead(uint8_t* input) { return Emulator().Read(input); }
