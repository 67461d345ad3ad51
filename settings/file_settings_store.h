// The settings store as files: HKEY_CURRENT_USER is the folder $XDG_CONFIG_HOME/quelt-flasher
// (~/.config/quelt-flasher when the variable is unset), each component of a key path a folder
// below it, each value a file named after it that holds a 4-byte little-endian type followed by
// the data. Values are replaced atomically: a temporary file in the same folder, written and
// synced, then renamed over the old one. A file shorter than 4 bytes is damaged and reads as
// absent. The other roots have no folder: their keys cannot be opened.
#pragma once

#include <filesystem>
#include <optional>

#include "settings/settings_store.h"

namespace quelt {

class FileSettingsStore : public SettingsStore {
 public:
  bool OpenKey(RootKey root, const std::string& path, KeyAccess access) override;
  bool CreateKey(RootKey root, const std::string& path) override;
  ValueInfo QueryValue(RootKey root, const std::string& path, KeyAccess access,
                       const std::string& name, void* data, std::size_t room) override;
  bool SetValue(RootKey root, const std::string& path, KeyAccess access, const std::string& name,
                uint32_t type, const void* data, std::size_t size) override;

  // The folder of HKEY_CURRENT_USER, looked up afresh each time.
  static std::filesystem::path RootFolder();
  // The folder of a key, or nothing when the root has no folder or the path is not a plain
  // list of names ("", "." and ".." or a '/' in a component).
  static std::optional<std::filesystem::path> KeyFolder(RootKey root, const std::string& path);
};

}  // namespace quelt
