// The chip link tests' fixture: a recording adapter installed as the current adapter, a readable
// trace of what reached it, scripting of the chip's answers, and the command frames' adapter
// bytes written out by hand from the command tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "link/adapter.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/group_fill.h"
#include "link/work_buffer.h"
#include "tests/support/recording_adapter.h"

namespace quelt::test {

using Bytes = std::vector<uint8_t>;
using Trace = std::vector<std::string>;

// `Rep({0x00, 0x10}, 19)` is the pair nineteen times; `Cat` joins byte runs or traces.
inline Bytes Rep(std::initializer_list<uint8_t> pattern, int times) {
  Bytes out;
  for (int k = 0; k < times; ++k) out.insert(out.end(), pattern.begin(), pattern.end());
  return out;
}
template <typename T>
std::vector<T> Cat(std::initializer_list<std::vector<T>> parts) {
  std::vector<T> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Trace entries: a write with its bytes, a write known only by its length, a read, a progress
// position.
inline std::string W(const Bytes& bytes) {
  std::string s = "W";
  char hex[4];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    s += hex;
  }
  return s;
}
inline std::string WLen(uint32_t count) { return "W[" + std::to_string(count) + "]"; }
inline std::string R() { return "R"; }
inline std::string P(int32_t position) { return "P " + std::to_string(position); }

// The trace of one ReadChipByte: symbol 13, then eight times a read and symbol 0.
inline Trace ReadByteTrace() {
  Trace trace{W({0x0D, 0x1D})};
  for (int k = 0; k < 8; ++k) trace.insert(trace.end(), {R(), W({0x00, 0x10})});
  return trace;
}

// The input bytes that make ReadChipByte return each of `bytes`: eight reads per byte, least
// significant bit first, each bit on the data line (bit 7 of the input byte).
inline Bytes ChipAnswers(std::initializer_list<uint8_t> bytes) {
  Bytes inputs;
  for (uint8_t b : bytes) {
    for (int bit = 0; bit < 8; ++bit) inputs.push_back((b >> bit) & 1 ? 0x80 : 0x00);
  }
  return inputs;
}

// Frames: 19 quiet symbols and the start unit 1F 0C 12 (short) or 1F 0D 12 (long) with the
// address phase of 0; address phases of 0xAAA, 0x555, 0; byte phases.
const Bytes kShortAddress0 = Cat<uint8_t>({{0x21, 0x31}, Rep({0x00, 0x10}, 4)});
const Bytes kLongAddress0 = Cat<uint8_t>({{0x01, 0x11}, Rep({0x00, 0x10}, 5)});
const Bytes kShortStart =
    Cat<uint8_t>({Rep({0x00, 0x10}, 19), {0x2F, 0x3F, 0x0C, 0x1C, 0x22, 0x32}, kShortAddress0});
const Bytes kLongStart =
    Cat<uint8_t>({Rep({0x00, 0x10}, 19), {0x2F, 0x3F, 0x0D, 0x1D, 0x22, 0x32}, kLongAddress0});
const Bytes kAtAAA = {0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x02, 0x12, 0x25, 0x35, 0x0A, 0x1A};
const Bytes kAt555 = {0x01, 0x11, 0x00, 0x10, 0x00, 0x10, 0x01, 0x11, 0x0A, 0x1A, 0x25, 0x35};
const Bytes kByteAA = {0x25, 0x35, 0x0A, 0x1A, 0x00, 0x10};
const Bytes kByte55 = {0x22, 0x32, 0x25, 0x35, 0x00, 0x10};
const Bytes kByte90 = {0x24, 0x34, 0x20, 0x30, 0x00, 0x10};
const Bytes kByte80 = {0x24, 0x34, 0x00, 0x10, 0x00, 0x10};
const Bytes kByte30 = {0x21, 0x31, 0x20, 0x30, 0x00, 0x10};
const Bytes kBaseEnter = Rep({0x0E, 0x1E}, 7);
const Bytes kBaseLeave = Rep({0x2B, 0x3B}, 3);
const Bytes kLargeEnter = Cat<uint8_t>({kAtAAA, kByteAA, kAt555, kByte55, kAtAAA, kByte90});
const Bytes kLargeLeave = {0x27, 0x37, 0x20, 0x30, 0x00, 0x10};

// Installs a fresh recording adapter, starts from ChipNone, and puts the erase bound, the
// working-buffer allocator and the fill back afterwards.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetChipTypeForTests();
    SetAdapter(&adapter_);
  }
  void TearDown() override {
    SetAdapter(nullptr);
    ResetChipTypeForTests();
    SetEraseTimeout(std::chrono::seconds(30));
    SetWorkBufferAllocatorForTests(nullptr);
    EnableVectorFillForTests(true);
  }
  // Clears the calls, reads and progress and sets the chip type, for the next row of a table.
  void Fresh(ChipType type) {
    adapter_.Clear();
    adapter_.ScriptReads({});
    progress_.clear();
    ResetChipTypeForTests();
    SetCurrentChipType(type);
  }

  // A progress callback that notes its positions in the trace.
  ProgressFn Progress() {
    return [this](int32_t position) { progress_.emplace_back(adapter_.Calls().size(), position); };
  }
  // Writes of more than `max_shown` bytes (or whose bytes were not kept) appear as WLen.
  Trace Calls(std::size_t max_shown = 1024) const {
    const auto calls = adapter_.Calls();
    Trace trace;
    std::size_t next = 0;
    for (std::size_t k = 0; k <= calls.size(); ++k) {
      while (next < progress_.size() && progress_[next].first == k) {
        trace.push_back(P(progress_[next++].second));
      }
      if (k == calls.size()) break;
      const AdapterCall& call = calls[k];
      if (call.kind == AdapterCall::Read) {
        trace.push_back(R());
      } else if (call.count > max_shown || call.bytes.size() != call.count) {
        trace.push_back(WLen(call.count));
      } else {
        trace.push_back(W(call.bytes));
      }
    }
    return trace;
  }
  // The bytes of every write, in order.
  std::vector<Bytes> Writes() const {
    std::vector<Bytes> writes;
    for (const auto& call : adapter_.Calls()) {
      if (call.kind == AdapterCall::Write) writes.push_back(call.bytes);
    }
    return writes;
  }

  RecordingAdapter adapter_;
  std::vector<std::pair<std::size_t, int32_t>> progress_;
};

}  // namespace quelt::test
