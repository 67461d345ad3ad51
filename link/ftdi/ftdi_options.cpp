#include "link/ftdi/ftdi_options.h"

#include <charconv>
#include <cstdio>
#include <set>
#include <string_view>

namespace quelt {
namespace {

bool ParseUnsigned(std::string_view text, int base, uint64_t* value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

// Four hexadecimal digits at most, "0x" optional.
bool ParseUsbHalf(std::string_view text, uint16_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  uint64_t number = 0;
  if (text.size() > 4 || !ParseUnsigned(text, 16, &number)) return false;
  *value = static_cast<uint16_t>(number);
  return true;
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted.append(text);
  quoted += '"';
  return quoted;
}

}  // namespace

bool IsFtdiAdapterName(const std::string& name) {
  return name == "ftdi" || name.starts_with("ftdi:") || name.starts_with("ftdi,");
}

std::string FormatUsbId(FtdiUsbId id) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", id.vendor, id.product);
  return text;
}

bool ParseFtdiOptions(const std::string& text, FtdiOptions* options, std::string* error) {
  *options = FtdiOptions{};
  auto refuse = [&](const std::string& why) {
    if (error) *error = "FTDI adapter option " + why;
    return false;
  };
  std::string_view rest = text;
  if (rest.starts_with(':')) {
    rest.remove_prefix(1);
    const std::string_view id = rest.substr(0, rest.find(','));
    const std::size_t colon = id.find(':');
    FtdiUsbId usb;
    if (colon == std::string_view::npos || !ParseUsbHalf(id.substr(0, colon), &usb.vendor) ||
        !ParseUsbHalf(id.substr(colon + 1), &usb.product)) {
      return refuse(Quoted(id) + " must be VID:PID in hexadecimal, such as 0403:6001");
    }
    options->ids = {usb};
    rest.remove_prefix(id.size());
  }
  if (rest.empty()) return true;
  if (!rest.starts_with(',')) return refuse(Quoted(rest) + " must follow a comma");
  rest.remove_prefix(1);

  std::set<std::string, std::less<>> seen;
  while (true) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const std::size_t eq = item.find('=');
    const std::string_view name = item.substr(0, eq);
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
    if (item.empty()) return refuse("\"\" is empty (stray comma?)");
    if (!seen.insert(std::string(name)).second) return refuse(Quoted(name) + " is given twice");
    uint64_t number = 0;
    if (name == "serial") {
      if (value.empty()) return refuse(Quoted(item) + " needs the device's serial number");
      options->serial = std::string(value);
    } else if (name == "index") {
      if (!ParseUnsigned(value, 10, &number) || number > 255) {
        return refuse(Quoted(item) + " needs a device number from 0 to 255");
      }
      options->index = static_cast<uint32_t>(number);
    } else if (name == "clock") {
      if (!ParseUnsigned(value, 10, &number) || number < 1000 || number > kFtdiMaxClock) {
        return refuse(Quoted(item) + " needs adapter bytes per second from 1000 to " +
                      std::to_string(kFtdiMaxClock));
      }
      options->clock = static_cast<uint32_t>(number);
    } else {
      return refuse(Quoted(item) + " is unknown");
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return true;
}

}  // namespace quelt
