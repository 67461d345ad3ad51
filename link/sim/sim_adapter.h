// The chip emulator: a simulated adapter with a behavioural model of the chip types, decoding the
// adapter byte stream as a chip does (symbols latched at rising strobe edges, time in ticks).
//
// Options string, as after "sim:": TYPE[,OPTION...], TYPE one of large (default), base, alt,
// none; options flash=FILE, erase-polls=N, stuck=low|high, bad=ADDR[:MASK], slow, rate=N.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "link/adapter.h"

namespace quelt {

class SimAdapter : public Adapter {
 public:
  // Returns nullptr and sets `error` (naming the offending option) when the options are refused.
  static std::unique_ptr<SimAdapter> Create(const std::string& options, std::string* error);
  ~SimAdapter() override;

  uint32_t Open() override;
  uint32_t Speed(int32_t speed) override;
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override;
  uint32_t Read(uint8_t* input) override;

  // Test hook: the next read of a busy erase's status blocks until ReleaseHeldRead(), so that a
  // test can act (press Cancel) at a known point of the erase.
  void HoldNextStatusRead();
  // Waits until a read is being held; false when none was within the timeout.
  bool WaitForHeldRead(std::chrono::milliseconds timeout);
  void ReleaseHeldRead();

  // A copy of the flash contents (for tests); empty for type none.
  std::string FlashContents() const;
  // For tests: off decodes every byte one by one, as the reference for the fast paths.
  void EnableFastPaths(bool enable);

 private:
  SimAdapter();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quelt
