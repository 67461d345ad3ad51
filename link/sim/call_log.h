// An adapter that passes every call on to another and describes each in one line, once the call
// has returned. This is the log format of the recording adapter library (libquelt-record.so):
//
//   open RESULT                  e.g. "open 0"
//   speed VALUE                  e.g. "speed 2"
//   write COUNT HASH [BYTES]     COUNT decimal; HASH the 64-bit FNV-1a of the bytes, 16 hex
//                                digits; BYTES, for writes of at most 512 bytes, the bytes as
//                                two hex digits each, separated by spaces
//   read BYTE                    the byte delivered, two hex digits
//
// Two runs made the same adapter calls exactly when their logs are equal.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "link/adapter.h"

namespace quelt {

class CallLoggingAdapter final : public Adapter {
 public:
  using LineFn = std::function<void(const std::string& line)>;
  CallLoggingAdapter(Adapter& inner, LineFn line) : inner_(inner), line_(std::move(line)) {}

  uint32_t Open() override;
  uint32_t Speed(int32_t speed) override;
  uint32_t Write(const uint8_t* bytes, uint32_t count, uint32_t* written) override;
  uint32_t Read(uint8_t* input) override;

 private:
  Adapter& inner_;
  LineFn line_;
};

}  // namespace quelt
