// An adapter that keeps every call with its bytes, in order, and answers reads from a script.
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
  void ScriptReads(std::vector<uint8_t> inputs) {
    std::lock_guard lock(mutex_);
    reads_.assign(inputs.begin(), inputs.end());
  }
  void SetOpenResult(uint32_t result) {
    std::lock_guard lock(mutex_);
    open_result_ = result;
  }
  // When false, writes are counted but their bytes not kept (for very long streams).
  void KeepWriteBytes(bool keep) {
    std::lock_guard lock(mutex_);
    keep_bytes_ = keep;
  }
  std::vector<AdapterCall> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
  }

  uint32_t Open() override {
    Add({AdapterCall::Open, 0, 0, {}});
    std::lock_guard lock(mutex_);
    return open_result_;
  }
  uint32_t Speed(int32_t speed) override { return Add({AdapterCall::Speed, speed, 0, {}}); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    if (written) *written = count;
    std::lock_guard lock(mutex_);
    calls_.push_back({AdapterCall::Write, 0, count, {}});
    if (keep_bytes_) calls_.back().bytes.assign(bytes, bytes + count);
    return 0;
  }
  uint32_t Read(uint8_t* input) override {
    std::lock_guard lock(mutex_);
    *input = reads_.empty() ? 0 : reads_.front();
    if (!reads_.empty()) reads_.pop_front();
    calls_.push_back({AdapterCall::Read, 0, 0, {*input}});
    return 0;
  }

 private:
  uint32_t Add(AdapterCall call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    return 0;
  }
  mutable std::mutex mutex_;
  std::vector<AdapterCall> calls_;
  std::deque<uint8_t> reads_;
  uint32_t open_result_ = 0;
  bool keep_bytes_ = true;
};

}  // namespace quelt
