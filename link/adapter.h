// The four calls of the USB programming adapter, behind one abstract interface.
//
// The chip link talks to whichever adapter is current: the loaded adapter library, the
// chip emulator, or a recording adapter in tests. The current adapter is process-wide and is
// chosen once at start, before any chip operation runs.
#pragma once

#include <cstdint>
#include <string>

namespace quelt {

class Adapter {
 public:
  virtual ~Adapter() = default;

  // Opens the adapter; 0 when it was found and opened, anything else when not.
  virtual uint32_t Open() = 0;
  // 2 for normal operation, 3 in safe mode. The result is not looked at.
  virtual uint32_t Speed(int32_t speed) = 0;
  // Puts the bytes on the output lines in order, one output state per byte, and returns only
  // when they have been put out. The result and the count written are not looked at.
  virtual uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) = 0;
  // Stores the state of the input lines in *input (bit 7: the chip's data line). The caller
  // presets *input to 0, so an adapter that delivers nothing reads as 0.
  virtual uint32_t Read(uint8_t* input) = 0;
  // Why the last open failed, for the user to act on (a device missing, no permission, several
  // to choose from); empty when it did not fail or the adapter cannot say.
  virtual std::string OpenError() const { return {}; }
};

// No adapter at all: open fails, writes do nothing, reads deliver nothing. Stands for an adapter
// library that is not there, and is current until an adapter is set.
class AbsentAdapter final : public Adapter {
 public:
  uint32_t Open() override { return 1; }
  uint32_t Speed(int32_t) override { return 0; }
  uint32_t Write(const uint8_t*, uint32_t, uint32_t* written) override {
    if (written) *written = 0;
    return 0;
  }
  uint32_t Read(uint8_t*) override { return 0; }
};

// The process-wide current adapter. Never null: before SetAdapter it is an absent adapter,
// whose open fails, whose writes do nothing and whose reads deliver nothing.
// Makes `adapter` current (nullptr returns to the absent adapter). The caller keeps ownership
// and keeps the adapter alive while it is current.
void SetAdapter(Adapter* adapter);

// The adapter library's four entry points as the chip link calls them, on the current adapter.
uint32_t AdapterOpen();
uint32_t AdapterSpeed(int32_t speed);
uint32_t QueltProgrammerWrite(const uint8_t* bytes, uint32_t count, uint32_t* written);
uint32_t QueltProgrammerRead(uint8_t* input);
// Why the last open of the current adapter failed, when the adapter can tell; else empty.
std::string AdapterOpenError();

}  // namespace quelt
