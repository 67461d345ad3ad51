// An FTDI USB chip (FT232R, FT245R, FT232H, FT2232H and kin) in synchronous bit-bang mode as the
// adapter, through libftdi1. Bits 0 to 5 drive D0 to D3, the strobe and D4 as the adapter byte
// lays them out; bit 7 reads the chip's data line and bit 6 is an input as well.
//
// In synchronous bit-bang mode the device samples the pins, then puts out the byte it was sent,
// and queues the sample for the host; it puts out a byte only while there is room for its sample.
// So every write here reads back as many samples as it sends, with the read in flight while the
// bytes go out, and a read sends one more copy of the last output byte, whose sample is the pin
// state after everything written so far. A write returns once the device has taken its bytes
// (a buffer's worth at most still to go out, in order, before anything sent later) and leaves
// the read of its samples to the next call, so that a run of writes costs no round trip each.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/adapter.h"
#include "link/ftdi/ftdi_options.h"

struct ftdi_context;
struct ftdi_transfer_control;

namespace quelt {

class FtdiAdapter final : public Adapter {
 public:
  explicit FtdiAdapter(const FtdiOptions& options);
  ~FtdiAdapter() override;
  FtdiAdapter(const FtdiAdapter&) = delete;
  FtdiAdapter& operator=(const FtdiAdapter&) = delete;

  // Finds and claims the device on the first success; later calls reuse it.
  uint32_t Open() override;
  // Sets the byte clock: the clock option at speed 2, half of it at speed 3.
  uint32_t Speed(int32_t speed) override;
  // Before a successful open, writes do nothing and reads leave *input at 0.
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override;
  uint32_t Read(uint8_t* input) override;
  std::string OpenError() const override { return open_error_; }

  // The adapter bytes per second the device was set to (0 before the open).
  uint32_t ByteClock() const { return byte_clock_; }

 private:
  bool Claim();
  bool SetByteClock(uint32_t bytes_per_second);
  // Sends `count` bytes, returning once the device has taken them, with the read of their
  // samples into samples_ left in flight.
  bool Send(const uint8_t* bytes, uint32_t count);
  // Waits for the read in flight, if any: then samples_ holds the samples of the last Send.
  bool FinishRead();
  void ReportTransferFailure(const char* what);

  FtdiOptions options_;
  ftdi_context* ftdi_ = nullptr;
  bool claimed_ = false;
  bool transfer_failed_ = false;
  uint32_t byte_clock_ = 0;
  uint8_t last_output_ = 0;
  std::vector<uint8_t> samples_;
  ftdi_transfer_control* read_ = nullptr;
  uint32_t read_count_ = 0;
  std::string open_error_;
};

}  // namespace quelt
