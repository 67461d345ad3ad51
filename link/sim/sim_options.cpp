#include "link/sim/sim_options.h"

#include <charconv>
#include <set>
#include <string_view>

namespace quelt {
namespace {

// A decimal number, or a hexadecimal one with a 0x prefix; the whole text must be the number.
bool ParseNumber(std::string_view text, uint64_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseType(std::string_view text, SimChipType* type) {
  if (text == "large") {
    *type = SimChipType::Large;
  } else if (text == "base") {
    *type = SimChipType::Base;
  } else if (text == "alt") {
    *type = SimChipType::Alt;
  } else if (text == "none") {
    *type = SimChipType::None;
  } else {
    return false;
  }
  return true;
}

// Built by appends: GCC 12 at -O2 takes the concatenation form for an overlapping copy.
std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '"';
  quoted.append(text);
  quoted += '"';
  return quoted;
}

}  // namespace

bool ParseSimOptions(const std::string& text, SimOptions* options, std::string* error) {
  *options = SimOptions{};
  std::vector<std::string_view> items;
  std::string_view rest = text;
  if (!rest.empty()) {
    while (true) {
      const std::size_t comma = rest.find(',');
      items.push_back(rest.substr(0, comma));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  auto refuse = [&](const std::string& why) {
    if (error) *error = "emulator option " + why;
    return false;
  };

  std::size_t first = 0;
  if (!items.empty() && ParseType(items[0], &options->type)) first = 1;

  std::set<std::string> seen;
  std::vector<std::pair<uint64_t, uint64_t>> bad;
  for (std::size_t i = first; i < items.size(); ++i) {
    const std::string_view item = items[i];
    if (item.empty()) return refuse("\"\" is empty (stray comma?)");
    const std::size_t eq = item.find('=');
    const std::string_view name = item.substr(0, eq);
    const bool has_value = eq != std::string_view::npos;
    const std::string_view value = has_value ? item.substr(eq + 1) : std::string_view{};
    if (name != "bad" && !seen.insert(std::string(name)).second) {
      return refuse(Quoted(name) + " is given twice");
    }
    uint64_t number = 0;
    if (name == "flash") {
      if (!has_value || value.empty()) return refuse(Quoted(item) + " needs a file name");
      options->flash_file = std::string(value);
    } else if (name == "erase-polls") {
      if (!has_value || !ParseNumber(value, &number) || number > 1000000) {
        return refuse(Quoted(item) + " needs a count from 0 to 1000000");
      }
      options->erase_polls = static_cast<uint32_t>(number);
    } else if (name == "stuck") {
      if (value == "low" && has_value) {
        options->stuck = SimOptions::Stuck::Low;
      } else if (value == "high") {
        options->stuck = SimOptions::Stuck::High;
      } else {
        return refuse(Quoted(item) + " must be stuck=low or stuck=high");
      }
    } else if (name == "bad") {
      const std::size_t colon = value.find(':');
      uint64_t address = 0;
      uint64_t mask = 0xFF;
      if (!has_value || !ParseNumber(value.substr(0, colon), &address) ||
          (colon != std::string_view::npos &&
           (!ParseNumber(value.substr(colon + 1), &mask) || mask > 0xFF))) {
        return refuse(Quoted(item) + " must be bad=ADDR or bad=ADDR:MASK (MASK at most 0xFF)");
      }
      bad.emplace_back(address, mask);
      options->bad.push_back(
          SimBadCell{static_cast<uint32_t>(address & 0xFFFFFFFFu), static_cast<uint8_t>(mask)});
    } else if (name == "slow") {
      if (has_value) return refuse(Quoted(item) + " takes no value");
      options->slow = true;
    } else if (name == "rate") {
      if (!has_value || !ParseNumber(value, &number)) {
        return refuse(Quoted(item) + " needs a number of adapter bytes per second");
      }
      options->rate = number;
    } else if (ParseType(name, &options->type) && !has_value) {
      return refuse(Quoted(item) + ": the chip type must come first");
    } else {
      return refuse(Quoted(item) + " is unknown");
    }
  }

  const uint64_t size = SimChipSize(options->type);
  for (const auto& [address, mask] : bad) {
    if (address >= size) {
      return refuse("\"bad=" + std::to_string(address) + "\" lies outside the chip's " +
                    std::to_string(size) + " bytes");
    }
  }
  if (options->type == SimChipType::None && !options->flash_file.empty()) {
    return refuse("\"flash=" + options->flash_file + "\" needs a chip (type none has no flash)");
  }
  return true;
}

}  // namespace quelt
