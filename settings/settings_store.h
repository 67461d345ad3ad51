// The layer below RegistryKey: keys and values as the registry keeps them, each operation opening
// the key afresh with the access it asks for. The registry on Windows, a folder of files elsewhere;
// tests put a store of their own in its place (one that refuses full access, for a key the user
// may only read).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/registry_key.h"

namespace quelt {

constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

// The access asked for when a key is opened (KEY_READ, KEY_WRITE, KEY_ALL_ACCESS).
enum class KeyAccess { Read, Write, Full };

enum class ValueStatus {
  Ok,        // the value exists; `size` bytes of data, copied when there was room
  NoKey,     // the key does not exist or cannot be opened with the access asked for
  NoValue,   // no such value, or a damaged one
  MoreData,  // the data is longer than the room offered; nothing was copied
};

struct ValueInfo {
  ValueStatus status = ValueStatus::NoKey;
  uint32_t type = 0;
  std::size_t size = 0;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Whether the key exists and can be opened with `access`.
  virtual bool OpenKey(RootKey root, const std::string& path, KeyAccess access) = 0;
  // Creates the key (and the keys above it) or opens it when it exists, with full access.
  virtual bool CreateKey(RootKey root, const std::string& path) = 0;
  // Opens the key with `access` and queries the value. With `data` null only whether it exists
  // is asked, and any size is Ok.
  virtual ValueInfo QueryValue(RootKey root, const std::string& path, KeyAccess access,
                               const std::string& name, void* data, std::size_t room) = 0;
  // Opens the key with `access` and sets the value, replacing it whole.
  virtual bool SetValue(RootKey root, const std::string& path, KeyAccess access,
                        const std::string& name, uint32_t type, const void* data,
                        std::size_t size) = 0;
};

// The store that RegistryKey uses: the platform's unless a test has put another in its place.
SettingsStore& CurrentSettingsStore();
// The registry on Windows, the file store elsewhere.
SettingsStore& PlatformSettingsStore();
// For tests only: uses `store` from now on; null returns to the platform's store.
void SetSettingsStoreForTests(SettingsStore* store);

}  // namespace quelt
