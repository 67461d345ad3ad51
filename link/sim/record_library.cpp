// A recording adapter library (libquelt-record.so): the emulator configured by QUELT_SIM, with
// every call appended to the file named by QUELT_RECORD_LOG (no log when unset), one line each:
//
//   open RESULT                  e.g. "open 0"
//   speed VALUE                  e.g. "speed 2"
//   write COUNT HASH [BYTES]     COUNT decimal; HASH the 64-bit FNV-1a of the bytes, 16 hex
//                                digits; BYTES, for writes of at most 512 bytes, the bytes as
//                                two hex digits each, separated by spaces
//   read BYTE                    the byte delivered, two hex digits
//
// Two runs made the same adapter calls exactly when their logs are equal. The log is flushed
// after every line, so it is complete up to the last call of a process that is killed.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "link/library_adapter.h"
#include "link/sim/sim_adapter.h"

namespace {

class Recorder {
 public:
  Recorder() {
    const char* options = std::getenv("QUELT_SIM");
    std::string error;
    adapter_ = quelt::SimAdapter::Create(options ? options : "", &error);
    if (!adapter_) {
      std::fprintf(stderr, "libquelt-record: QUELT_SIM refused: %s\n", error.c_str());
      adapter_ = quelt::MakeMissingAdapter();
    }
    if (const char* log = std::getenv("QUELT_RECORD_LOG"); log && *log) {
      log_ = std::fopen(log, "a");
      if (!log_) std::fprintf(stderr, "libquelt-record: cannot open %s\n", log);
    }
  }
  ~Recorder() {
    // A log that could not be completed differs from its twin, which is how it is noticed.
    if (log_) (void)std::fclose(log_);
  }

  quelt::Adapter& adapter() { return *adapter_; }

  void Line(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!log_) return;
    std::fputs(text.c_str(), log_);
    std::fputc('\n', log_);
    (void)std::fflush(log_);
  }

 private:
  std::unique_ptr<quelt::Adapter> adapter_;
  std::FILE* log_ = nullptr;
  std::mutex mutex_;
};

Recorder& Instance() {
  static Recorder recorder;
  return recorder;
}

std::string Hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    text[static_cast<std::size_t>(i)] = kDigits[value & 15];
  return text;
}

}  // namespace

#define QUELT_EXPORT extern "C" __attribute__((visibility("default")))

QUELT_EXPORT uint32_t QueltAdapterOpen(void) {
  const uint32_t result = Instance().adapter().Open();
  Instance().Line("open " + std::to_string(result));
  return result;
}

QUELT_EXPORT uint32_t QueltAdapterSpeed(int32_t speed) {
  const uint32_t result = Instance().adapter().Speed(speed);
  Instance().Line("speed " + std::to_string(speed));
  return result;
}

QUELT_EXPORT uint32_t QueltProgrammerWrite(const uint8_t* bytes, uint32_t count,
                                           uint32_t* written) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (uint32_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3ull;
  std::string line = "write " + std::to_string(count) + " " + Hex(hash, 16);
  if (count <= 512) {
    for (uint32_t i = 0; i < count; ++i) line += " " + Hex(bytes[i], 2);
  }
  const uint32_t result = Instance().adapter().Write(bytes, count, written);
  Instance().Line(line);
  return result;
}

QUELT_EXPORT uint32_t QueltProgrammerRead(uint8_t* input) {
  const uint32_t result = Instance().adapter().Read(input);
  Instance().Line("read " + Hex(*input, 2));
  return result;
}
