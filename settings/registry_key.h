// A key of the settings store, named by its root and path, opened afresh for every operation.
//
// On Windows the registry; elsewhere a file store: HKEY_CURRENT_USER is the folder
// $XDG_CONFIG_HOME/quelt-flasher, each key path component a folder below it, each value a file
// holding a 4-byte little-endian type and the data bytes, replaced atomically.
#pragma once

#include <cstdint>
#include <string>

namespace quelt {

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine, Users, Other };

class RegistryKey {
 public:
  bool SetRoot(RootKey root);
  bool Open(const std::string& path, bool create);
  bool ValueExists(const std::string& name) const;
  int ReadInt(const std::string& name, int default_value) const;
  bool WriteInt(const std::string& name, int value) const;

  RootKey m_hRootKey = RootKey::CurrentUser;
  std::string m_strKeyPath;
};

}  // namespace quelt
