// Helpers of the emulator tests: an emulator installed as the current adapter, a pass-through
// adapter that counts calls, flash files and images.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/adapter.h"
#include "link/sim/sim_adapter.h"

namespace quelt::test {

// Passes every call on to `inner` and keeps the write sizes and the count of reads.
class CountingAdapter : public Adapter {
 public:
  explicit CountingAdapter(Adapter& inner) : inner_(inner) {}
  uint32_t Open() override { return inner_.Open(); }
  uint32_t Speed(int32_t speed) override { return inner_.Speed(speed); }
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    writes.push_back(count);
    return inner_.Write(bytes, count, written);
  }
  uint32_t Read(uint8_t* input) override {
    ++reads;
    return inner_.Read(input);
  }
  std::vector<uint32_t> writes;
  int reads = 0;

 private:
  Adapter& inner_;
};

std::vector<uint8_t> RandomBytes(std::size_t size, uint32_t seed);
std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// An emulator made from `options` is the current adapter, opened at `speed`; the chip type is
// ChipNone at the start of every test.
class SimTest : public ::testing::Test {
 protected:
  void TearDown() override;
  // Creates the emulator (failing the test when the options are refused), opens it, sets the
  // speed; returns it.
  SimAdapter& Use(const std::string& options, int32_t speed = 2);
  // IdentifyChip, EraseImageRange and ProgramImage, as the write command runs them.
  void WriteImage(const std::vector<uint8_t>& image);
  // VerifyImage's result.
  int VerifyResult(const std::vector<uint8_t>& image);
  std::vector<uint8_t> Flash() const;

  std::unique_ptr<SimAdapter> sim_;
};

}  // namespace quelt::test
