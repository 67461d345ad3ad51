// Helpers shared by the chip link tests: a recording adapter installed as the current adapter,
// a readable trace of what reached it, and scripting of the chip's answers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "link/adapter.h"
#include "link/chip_type.h"
#include "link/erase.h"
#include "link/work_buffer.h"
#include "tests/support/recording_adapter.h"

namespace quelt::test {

// Byte sequences written out by hand: `Rep({0x00, 0x10}, 19)` is the pair nineteen times.
std::vector<uint8_t> Rep(std::initializer_list<uint8_t> pattern, int times);
std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts);

// Trace entries: a write with its bytes, a write known only by its length, a read, a progress
// position.
std::string W(const std::vector<uint8_t>& bytes);
std::string WLen(uint32_t count);
std::string R();
std::string P(int32_t position);
// The trace of one ReadChipByte: symbol 13, then eight times a read and symbol 0.
std::vector<std::string> ReadByteTrace();
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts);

// The input bytes that make ReadChipByte return each of `bytes`: eight reads per byte, least
// significant bit first, each bit on the data line (bit 7 of the input byte).
std::vector<uint8_t> ChipAnswers(std::initializer_list<uint8_t> bytes);

// Counts calls so that progress positions can be placed among them.
class TracingAdapter : public RecordingAdapter {
 public:
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override;
  uint32_t Read(uint8_t* input) override;
  std::size_t CallCount() const { return calls_; }
  void Clear() {
    RecordingAdapter::Clear();
    calls_ = 0;
  }

 private:
  std::size_t calls_ = 0;
};

// Installs a fresh tracing adapter, starts from ChipNone, and puts the erase bound and the
// working-buffer allocator back afterwards.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A progress callback that notes its positions in the trace.
  ProgressFn Progress();
  // Writes of more than `max_shown` bytes (or whose bytes were not kept) appear as WLen.
  std::vector<std::string> Trace(std::size_t max_shown = 1024) const;
  // The bytes of every write, in order.
  std::vector<std::vector<uint8_t>> Writes() const;

  TracingAdapter adapter_;
  std::vector<std::pair<std::size_t, int32_t>> progress_;
};

}  // namespace quelt::test
