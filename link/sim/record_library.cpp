// A recording adapter library (libquelt-record.so): the emulator configured by QUELT_SIM, with
// every call appended to the file named by QUELT_RECORD_LOG (no log when unset), one line each in
// the format of link/sim/call_log.h. The log is flushed after every line, so it is complete up to
// the last call of a process that is killed.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "link/library_adapter.h"
#include "link/sim/call_log.h"
#include "link/sim/sim_adapter.h"

namespace {

class Recorder {
 public:
  Recorder() {
    if (const char* log = std::getenv("QUELT_RECORD_LOG"); log && *log) {
      log_ = std::fopen(log, "a");
      if (!log_) std::fprintf(stderr, "libquelt-record: cannot open %s\n", log);
    }
  }
  ~Recorder() {
    // A log that could not be completed differs from its twin, which is how it is noticed.
    if (log_) (void)std::fclose(log_);
  }

  quelt::Adapter& adapter() { return logging_; }

 private:
  static std::unique_ptr<quelt::Adapter> MakeEmulator() {
    const char* options = std::getenv("QUELT_SIM");
    std::string error;
    std::unique_ptr<quelt::Adapter> sim = quelt::SimAdapter::Create(options ? options : "", &error);
    if (sim) return sim;
    std::fprintf(stderr, "libquelt-record: QUELT_SIM refused: %s\n", error.c_str());
    return quelt::MakeMissingAdapter();
  }

  void Line(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!log_) return;
    std::fputs(text.c_str(), log_);
    std::fputc('\n', log_);
    (void)std::fflush(log_);
  }

  std::unique_ptr<quelt::Adapter> adapter_ = MakeEmulator();
  quelt::CallLoggingAdapter logging_{*adapter_, [this](const std::string& line) { Line(line); }};
  std::FILE* log_ = nullptr;
  std::mutex mutex_;
};

Recorder& Instance() {
  static Recorder recorder;
  return recorder;
}

}  // namespace

#define QUELT_EXPORT extern "C" __attribute__((visibility("default")))

QUELT_EXPORT uint32_t QueltAdapterOpen(void) { return Instance().adapter().Open(); }

QUELT_EXPORT uint32_t QueltAdapterSpeed(int32_t speed) { return Instance().adapter().Speed(speed); }

QUELT_EXPORT uint32_t QueltProgrammerWrite(const uint8_t* bytes, uint32_t count,
                                           uint32_t* written) {
  return Instance().adapter().Write(bytes, count, written);
}

QUELT_EXPORT uint32_t QueltProgrammerRead(uint8_t* input) {
  return Instance().adapter().Read(input);
}
