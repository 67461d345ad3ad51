#include "settings/registry_key.h"

#include <cstring>

#include "settings/settings_store.h"

namespace quelt {

bool RegistryKey::SetRoot(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot:
    case RootKey::CurrentUser:
    case RootKey::LocalMachine:
    case RootKey::Users:
      m_hRootKey = root;
      return true;
    case RootKey::Other:
      break;
  }
  return false;
}

bool RegistryKey::Open(const std::string& path, bool create) {
  SettingsStore& store = CurrentSettingsStore();
  const bool opened =
      create ? store.CreateKey(m_hRootKey, path) : store.OpenKey(m_hRootKey, path, KeyAccess::Full);
  if (opened) m_strKeyPath = path;
  return opened;
}

bool RegistryKey::ValueExists(const std::string& name) const {
  return CurrentSettingsStore()
             .QueryValue(m_hRootKey, m_strKeyPath, KeyAccess::Full, name, nullptr, 0)
             .status == ValueStatus::Ok;
}

int RegistryKey::ReadInt(const std::string& name, int default_value) const {
  // Whatever the type: data of up to 4 bytes fills the int from its low-order byte, the bytes it
  // does not reach stay 0; longer data gives the default.
  uint8_t data[4] = {0, 0, 0, 0};
  const ValueInfo info =
      CurrentSettingsStore().QueryValue(m_hRootKey, m_strKeyPath, KeyAccess::Read, name, data, 4);
  if (info.status != ValueStatus::Ok || info.size > 4) return default_value;
  const uint32_t value = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                         static_cast<uint32_t>(data[2]) << 16 |
                         static_cast<uint32_t>(data[3]) << 24;
  return static_cast<int>(value);
}

bool RegistryKey::WriteInt(const std::string& name, int value) const {
  const auto bits = static_cast<uint32_t>(value);
  const uint8_t data[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                           static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
  return CurrentSettingsStore().SetValue(m_hRootKey, m_strKeyPath, KeyAccess::Write, name,
                                         kRegBinary, data, sizeof data);
}

}  // namespace quelt
