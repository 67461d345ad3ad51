// The settings store on Windows: the registry itself.
#ifdef _WIN32

#include <windows.h>

#include "settings/settings_store.h"

namespace quelt {
namespace {

HKEY RootHandle(RootKey root) {
  switch (root) {
    case RootKey::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RootKey::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RootKey::Users:
      return HKEY_USERS;
    case RootKey::CurrentUser:
    case RootKey::Other:
      break;
  }
  return HKEY_CURRENT_USER;
}

REGSAM AccessMask(KeyAccess access) {
  switch (access) {
    case KeyAccess::Read:
      return KEY_READ;
    case KeyAccess::Write:
      return KEY_WRITE;
    case KeyAccess::Full:
      break;
  }
  return KEY_ALL_ACCESS;
}

// An open key, closed when it goes out of scope.
class OpenedKey {
 public:
  OpenedKey(RootKey root, const std::string& path, KeyAccess access) {
    if (RegOpenKeyExA(RootHandle(root), path.c_str(), 0, AccessMask(access), &key_) !=
        ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  ~OpenedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

class RegistryStore : public SettingsStore {
 public:
  bool OpenKey(RootKey root, const std::string& path, KeyAccess access) override {
    return OpenedKey(root, path, access).get() != nullptr;
  }

  bool CreateKey(RootKey root, const std::string& path) override {
    HKEY key = nullptr;
    if (RegCreateKeyExA(RootHandle(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  ValueInfo QueryValue(RootKey root, const std::string& path, KeyAccess access,
                       const std::string& name, void* data, std::size_t room) override {
    ValueInfo info;
    const OpenedKey key(root, path, access);
    if (key.get() == nullptr) return info;
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(room);
    const LONG result =
        RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, static_cast<BYTE*>(data),
                         data != nullptr ? &size : nullptr);
    info.type = type;
    info.size = size;
    info.status = result == ERROR_SUCCESS     ? ValueStatus::Ok
                  : result == ERROR_MORE_DATA ? ValueStatus::MoreData
                                              : ValueStatus::NoValue;
    return info;
  }

  bool SetValue(RootKey root, const std::string& path, KeyAccess access, const std::string& name,
                uint32_t type, const void* data, std::size_t size) override {
    const OpenedKey key(root, path, access);
    return key.get() != nullptr &&
           RegSetValueExA(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size)) == ERROR_SUCCESS;
  }
};

}  // namespace

SettingsStore& PlatformSettingsStore() {
  static RegistryStore store;
  return store;
}

}  // namespace quelt

#endif  // _WIN32
