#include "settings/safe_mode.h"

#include "settings/registry_key.h"

namespace quelt {
namespace {

// The key of the setting when it and the value can be used, as the window opens it.
bool OpenSettingKey(RegistryKey& key) {
  key.SetRoot(RootKey::CurrentUser);
  return key.Open(kSettingsKeyPath, false) && key.ValueExists(kSafeModeValue);
}

}  // namespace

void SaveSafeMode(int value) {
  RegistryKey key;
  // A key that can be neither opened nor created is not written at all: the key object would
  // still name the root itself, and the value would land beside the key instead of in it.
  if (!OpenSettingKey(key) && !key.Open(kSettingsKeyPath, true)) return;
  // Nothing is reported: a failed store leaves the setting as it was.
  key.WriteInt(kSafeModeValue, value);
}

StoredSafeMode ReadStoredSafeMode() {
  RegistryKey key;
  if (!OpenSettingKey(key)) return StoredSafeMode::Missing;
  switch (key.ReadInt(kSafeModeValue, 0)) {
    case 0:
      return StoredSafeMode::Off;
    case 1:
      return StoredSafeMode::On;
    default:
      return StoredSafeMode::Unchanged;
  }
}

bool StoredSafeModeForCommandLine() {
  const StoredSafeMode stored = ReadStoredSafeMode();
  return stored == StoredSafeMode::On || stored == StoredSafeMode::Unchanged;
}

}  // namespace quelt
