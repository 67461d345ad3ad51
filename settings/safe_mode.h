// The one stored setting: safe mode, as "Mode" under "Software\Quelt JQ".
#pragma once

namespace quelt {

constexpr char kSettingsKeyPath[] = "Software\\Quelt JQ";
constexpr char kSafeModeValue[] = "Mode";

// Stores the value (REG_BINARY, 4 bytes little-endian), creating the key when needed.
void SaveSafeMode(int value);

// The window's start-up reading.
enum class StoredSafeMode {
  Off,        // stored 0: safe mode off, item unchecked
  On,         // stored 1: safe mode on, item checked
  Unchanged,  // any other value: leave the window as it starts (safe mode on)
  Missing,    // no key or no value: safe mode off, and the window stores 0
};
StoredSafeMode ReadStoredSafeMode();

// The command line's reading, which never writes: true when a 4-byte value other than 0 is
// stored, false otherwise.
bool StoredSafeModeForCommandLine();

}  // namespace quelt
