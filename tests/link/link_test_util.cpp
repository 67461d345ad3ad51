#include "tests/link/link_test_util.h"

#include <cstdio>

#include "link/group_fill.h"
#include "link/link_status.h"

namespace quelt::test {

std::vector<uint8_t> Rep(std::initializer_list<uint8_t> pattern, int times) {
  std::vector<uint8_t> out;
  for (int k = 0; k < times; ++k) out.insert(out.end(), pattern.begin(), pattern.end());
  return out;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::string W(const std::vector<uint8_t>& bytes) {
  std::string s = "W";
  char hex[4];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    s += hex;
  }
  return s;
}

std::string WLen(uint32_t count) { return "W[" + std::to_string(count) + "]"; }
std::string R() { return "R"; }
std::string P(int32_t position) { return "P " + std::to_string(position); }

std::vector<std::string> ReadByteTrace() {
  std::vector<std::string> trace{W({0x0D, 0x1D})};
  for (int k = 0; k < 8; ++k) {
    trace.push_back(R());
    trace.push_back(W({0x00, 0x10}));
  }
  return trace;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

std::vector<uint8_t> ChipAnswers(std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> inputs;
  for (uint8_t b : bytes) {
    for (int bit = 0; bit < 8; ++bit) inputs.push_back((b >> bit) & 1 ? 0x80 : 0x00);
  }
  return inputs;
}

uint32_t TracingAdapter::Write(const uint8_t* bytes, uint32_t count, uint32_t* written) {
  ++calls_;
  return RecordingAdapter::Write(bytes, count, written);
}

uint32_t TracingAdapter::Read(uint8_t* input) {
  ++calls_;
  return RecordingAdapter::Read(input);
}

void LinkTest::SetUp() {
  ResetChipTypeForTests();
  SetAdapter(&adapter_);
}

void LinkTest::TearDown() {
  SetAdapter(nullptr);
  ResetChipTypeForTests();
  SetEraseTimeout(std::chrono::seconds(30));
  SetWorkBufferAllocatorForTests(nullptr);
  EnableVectorFillForTests(true);
}

ProgressFn LinkTest::Progress() {
  return [this](int32_t position) { progress_.emplace_back(adapter_.CallCount(), position); };
}

std::vector<std::string> LinkTest::Trace(std::size_t max_shown) const {
  const auto calls = adapter_.Calls();
  std::vector<std::string> trace;
  std::size_t next_progress = 0;
  for (std::size_t k = 0; k <= calls.size(); ++k) {
    while (next_progress < progress_.size() && progress_[next_progress].first == k) {
      trace.push_back(P(progress_[next_progress++].second));
    }
    if (k == calls.size()) break;
    const AdapterCall& call = calls[k];
    switch (call.kind) {
      case AdapterCall::Write:
        if (call.count > max_shown || call.bytes.size() != call.count) {
          trace.push_back(WLen(call.count));
        } else {
          trace.push_back(W(call.bytes));
        }
        break;
      case AdapterCall::Read:
        trace.push_back(R());
        break;
      case AdapterCall::Open:
        trace.push_back("Open");
        break;
      case AdapterCall::Speed:
        trace.push_back("Speed " + std::to_string(call.speed));
        break;
    }
  }
  return trace;
}

std::vector<std::vector<uint8_t>> LinkTest::Writes() const {
  std::vector<std::vector<uint8_t>> writes;
  for (const auto& call : adapter_.Calls()) {
    if (call.kind == AdapterCall::Write) writes.push_back(call.bytes);
  }
  return writes;
}

}  // namespace quelt::test
