// An adapter that keeps every call with its bytes, in order, and answers reads from a script.
#pragma once

#include <deque>
#include <vector>

#include "link/adapter.h"

namespace quelt {

struct AdapterCall {
  enum Kind { Open, Speed, Write, Read } kind;
  uint32_t count = 0;               // Write: the count of bytes
  std::vector<uint8_t> bytes = {};  // Write: the bytes; Read: the one byte delivered
};

class RecordingAdapter : public Adapter {
 public:
  // Reads deliver these bytes in order, then 0 as an absent adapter does.
  void ScriptReads(std::vector<uint8_t> inputs) { reads_.assign(inputs.begin(), inputs.end()); }
  std::vector<AdapterCall> Calls() const { return calls_; }
  void Clear() { calls_.clear(); }

  uint32_t Open() override { return Add({AdapterCall::Open}); }
  uint32_t Speed(int32_t) override { return Add({AdapterCall::Speed}); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    if (written) *written = count;
    return Add({AdapterCall::Write, count, {bytes, bytes + count}});
  }
  uint32_t Read(uint8_t* input) override {
    *input = reads_.empty() ? 0 : reads_.front();
    if (!reads_.empty()) reads_.pop_front();
    return Add({AdapterCall::Read, 0, {*input}});
  }

 private:
  uint32_t Add(AdapterCall call) {
    calls_.push_back(std::move(call));
    return 0;
  }
  std::vector<AdapterCall> calls_;
  std::deque<uint8_t> reads_;
};

}  // namespace quelt
