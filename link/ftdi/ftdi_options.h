// The FTDI adapter's options, as after "ftdi" in the adapter name:
// [:VID:PID][,serial=S][,index=N][,clock=N].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelt {

struct FtdiUsbId {
  uint16_t vendor = 0;
  uint16_t product = 0;
  bool operator==(const FtdiUsbId&) const = default;
};

// Searched in this order when the name gives no VID:PID: FT232R/FT245R, FT232H, FT2232H.
inline const std::vector<FtdiUsbId> kFtdiDefaultIds = {
    {0x0403, 0x6001}, {0x0403, 0x6014}, {0x0403, 0x6010}};

// Adapter bytes per second at speed 2 (speed 3 runs at half). The chip is assumed to finish a
// byte program within 20 us. A program's hold at speed 2 is 24 adapter bytes (short protocol) or
// 30 (long protocol) before the next symbol is latched, so at 1,000,000 bytes/s the hold lasts
// 24 us or 30 us and outlasts the program; speed 3 doubles it for chips up to 40 us.
inline constexpr uint32_t kFtdiDefaultClock = 1000000;
// The fastest clock accepted: the FT232H's synchronous bit-bang limit is well below this, and a
// typing slip of a few zeros should be refused rather than tried.
inline constexpr uint32_t kFtdiMaxClock = 10000000;

struct FtdiOptions {
  std::vector<FtdiUsbId> ids = kFtdiDefaultIds;
  std::optional<std::string> serial;
  std::optional<uint32_t> index;
  uint32_t clock = kFtdiDefaultClock;
};

// True when `name` selects the FTDI backend: "ftdi", "ftdi:..." or "ftdi,...".
bool IsFtdiAdapterName(const std::string& name);

// Parses the text after "ftdi". A malformed, unknown or repeated option is refused: false, with
// `error` naming it.
bool ParseFtdiOptions(const std::string& text, FtdiOptions* options, std::string* error);

// "0403:6001"
std::string FormatUsbId(FtdiUsbId id);

}  // namespace quelt
