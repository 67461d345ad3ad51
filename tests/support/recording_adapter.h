// An adapter that keeps every call with its bytes, in order, and answers reads from a script.
// Used by tests, and by the recording adapter library.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "link/adapter.h"

namespace quelt {

struct AdapterCall {
  enum Kind { Open, Speed, Write, Read } kind;
  int32_t speed = 0;           // Speed: the value passed
  uint32_t count = 0;          // Write: the count of bytes, also when they are not kept
  std::vector<uint8_t> bytes;  // Write: the bytes; Read: the one byte delivered
};

class RecordingAdapter : public Adapter {
 public:
  // Reads deliver these bytes in order, then 0 as an absent adapter does.
  void ScriptReads(std::vector<uint8_t> inputs);
  void SetOpenResult(uint32_t result);
  // When false, writes are counted but their bytes not kept (for very long streams).
  void KeepWriteBytes(bool keep);

  std::vector<AdapterCall> Calls() const;
  void Clear();

  uint32_t Open() override;
  uint32_t Speed(int32_t speed) override;
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override;
  uint32_t Read(uint8_t* input) override;

 private:
  mutable std::mutex mutex_;
  std::vector<AdapterCall> calls_;
  std::deque<uint8_t> reads_;
  uint32_t open_result_ = 0;
  bool keep_bytes_ = true;
};

}  // namespace quelt
