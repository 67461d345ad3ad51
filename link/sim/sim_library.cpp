// The emulator as an adapter library, configured by the environment variable QUELT_SIM with the
// option string of "sim:" (empty or unset: a "large" chip). Options that are refused are told on
// standard error, and the library then behaves as a missing adapter. Built twice:
//   libquelt-sim.so     the emulator alone;
//   libquelt-record.so  (QUELT_RECORD_CALLS) the same, with every call appended to the file named
//                       by QUELT_RECORD_LOG (no log when unset), one line each in the format of
//                       link/sim/call_log.h, flushed at once, so the log is complete up to the
//                       last call of a process that is killed.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "link/library_adapter.h"
#include "link/sim/call_log.h"
#include "link/sim/sim_adapter.h"

namespace {

#ifdef QUELT_RECORD_CALLS
constexpr char kLibrary[] = "libquelt-record";
#else
constexpr char kLibrary[] = "libquelt-sim";
#endif

std::unique_ptr<quelt::Adapter> MakeEmulator() {
  const char* options = std::getenv("QUELT_SIM");
  std::string error;
  std::unique_ptr<quelt::Adapter> sim = quelt::SimAdapter::Create(options ? options : "", &error);
  if (sim) return sim;
  std::fprintf(stderr, "%s: QUELT_SIM refused: %s\n", kLibrary, error.c_str());
  return quelt::MakeMissingAdapter();
}

#ifdef QUELT_RECORD_CALLS
class CallLogFile {
 public:
  CallLogFile() {
    if (const char* path = std::getenv("QUELT_RECORD_LOG"); path && *path) {
      file_ = std::fopen(path, "a");
      if (!file_) std::fprintf(stderr, "%s: cannot open %s\n", kLibrary, path);
    }
  }
  // A log that could not be completed differs from its twin, which is how it is noticed.
  ~CallLogFile() {
    if (file_) (void)std::fclose(file_);
  }
  void Line(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!file_) return;
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    (void)std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
  std::mutex mutex_;
};
#endif

quelt::Adapter& Emulator() {
  static const std::unique_ptr<quelt::Adapter> sim = MakeEmulator();
#ifdef QUELT_RECORD_CALLS
  static CallLogFile log;
  static quelt::CallLoggingAdapter logging(*sim, [](const std::string& line) { log.Line(line); });
  return logging;
#else
  return *sim;
#endif
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
