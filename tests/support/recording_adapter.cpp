#include "tests/support/recording_adapter.h"

namespace quelt {

void RecordingAdapter::ScriptReads(std::vector<uint8_t> inputs) {
  std::lock_guard lock(mutex_);
  reads_.assign(inputs.begin(), inputs.end());
}

void RecordingAdapter::SetOpenResult(uint32_t result) {
  std::lock_guard lock(mutex_);
  open_result_ = result;
}

void RecordingAdapter::KeepWriteBytes(bool keep) {
  std::lock_guard lock(mutex_);
  keep_bytes_ = keep;
}

std::vector<AdapterCall> RecordingAdapter::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void RecordingAdapter::Clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

uint32_t RecordingAdapter::Open() {
  std::lock_guard lock(mutex_);
  calls_.push_back({AdapterCall::Open, 0, 0, {}});
  return open_result_;
}

uint32_t RecordingAdapter::Speed(int32_t speed) {
  std::lock_guard lock(mutex_);
  calls_.push_back({AdapterCall::Speed, speed, 0, {}});
  return 0;
}

uint32_t RecordingAdapter::Write(const uint8_t* bytes, uint32_t count, uint32_t* written) {
  std::lock_guard lock(mutex_);
  AdapterCall call{AdapterCall::Write, 0, count, {}};
  if (keep_bytes_ && count > 0) call.bytes.assign(bytes, bytes + count);
  calls_.push_back(std::move(call));
  if (written) *written = count;
  return 0;
}

uint32_t RecordingAdapter::Read(uint8_t* input) {
  std::lock_guard lock(mutex_);
  uint8_t value = 0;
  if (!reads_.empty()) {
    value = reads_.front();
    reads_.pop_front();
  }
  *input = value;
  calls_.push_back({AdapterCall::Read, 0, 0, {value}});
  return 0;
}

}  // namespace quelt
