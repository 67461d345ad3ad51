// RegistryKey over the file store: roots, opening and creating keys, where values lie.
#include "settings/registry_key.h"

#include <cstdlib>

#include "settings/file_settings_store.h"
#include "settings/settings_store.h"
#include "tests/settings/settings_fixture.h"

namespace quelt::test {
namespace {

TEST(RegistryKeyRoot, TakesOnlyThePredefinedRoots) {
  const struct {
    RootKey root;
    bool taken;
    RootKey after;
  } cases[] = {
      {RootKey::ClassesRoot, true, RootKey::ClassesRoot},
      {RootKey::CurrentUser, true, RootKey::CurrentUser},
      {RootKey::LocalMachine, true, RootKey::LocalMachine},
      {RootKey::Users, true, RootKey::Users},
      {RootKey::Other, false, RootKey::LocalMachine},
  };
  const RegistryKey fresh;
  EXPECT_EQ(fresh.m_hRootKey, RootKey::CurrentUser);
  EXPECT_EQ(fresh.m_strKeyPath, "");
  for (const auto& c : cases) {
    RegistryKey k;
    k.SetRoot(RootKey::LocalMachine);
    EXPECT_EQ(k.SetRoot(c.root), c.taken);
    EXPECT_EQ(k.m_hRootKey, c.after);
  }
}

TEST_F(SettingsTest, OpenCreatesKeysAsFoldersAndKeepsThePathOnFailure) {
  RegistryKey key;
  EXPECT_FALSE(key.Open("Software\\Quelt JQ", false));
  EXPECT_EQ(key.m_strKeyPath, "");
  EXPECT_FALSE(std::filesystem::exists(ConfigFolder()));

  EXPECT_TRUE(key.Open("Software\\Quelt JQ", true));
  EXPECT_EQ(key.m_strKeyPath, "Software\\Quelt JQ");
  EXPECT_TRUE(std::filesystem::is_directory(temp_ / "quelt-flasher" / "Software" / "Quelt JQ"));
  EXPECT_TRUE(key.Open("Software\\Quelt JQ", false));

  EXPECT_FALSE(key.Open("Software\\Other", false));
  EXPECT_EQ(key.m_strKeyPath, "Software\\Quelt JQ");

  EXPECT_TRUE(key.WriteInt("Mode", 0x01020304));
  EXPECT_EQ(ReadMode(), (Bytes{0x03, 0, 0, 0, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_TRUE(key.ValueExists("Mode"));
  EXPECT_FALSE(key.ValueExists("Other"));
  EXPECT_EQ(key.ReadInt("Mode", 5), 0x01020304);
  EXPECT_EQ(key.ReadInt("Other", 5), 5);
}

TEST_F(SettingsTest, PathsThatWouldLeaveTheConfigFolderAreRefused) {
  const char* paths[] = {
      "..", "Software\\..\\..", "Software\\.", "Software\\\\Quelt", "Software\\", "a/b", "..\\x"};
  for (const char* path : paths) {
    SCOPED_TRACE(path);
    RegistryKey key;
    EXPECT_FALSE(key.Open(path, true));
    EXPECT_FALSE(key.Open(path, false));
  }
  RegistryKey key;
  ASSERT_TRUE(key.Open("Software", true));
  EXPECT_FALSE(key.WriteInt("../escape", 1));
  EXPECT_FALSE(key.WriteInt("", 1));
  EXPECT_FALSE(std::filesystem::exists(ConfigFolder() / "escape"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp_), {}), 1);
}

TEST_F(SettingsTest, OnlyTheCurrentUserRootHasAFolder) {
  for (const RootKey root : {RootKey::ClassesRoot, RootKey::LocalMachine, RootKey::Users}) {
    RegistryKey key;
    ASSERT_TRUE(key.SetRoot(root));
    EXPECT_FALSE(key.Open("Software\\Quelt JQ", true));
    EXPECT_FALSE(key.WriteInt("Mode", 1));
  }
  EXPECT_FALSE(std::filesystem::exists(ConfigFolder()));
}

TEST_F(SettingsTest, WithoutAnAbsoluteConfigHomeTheFolderIsBelowHome) {
  const char* home = std::getenv("HOME");
  const std::string saved_home = home != nullptr ? home : "";
  ::setenv("HOME", temp_.c_str(), 1);
  for (const char* config : {"", "relative/config"}) {
    ::setenv("XDG_CONFIG_HOME", config, 1);
    EXPECT_EQ(FileSettingsStore::RootFolder(), temp_ / ".config" / "quelt-flasher");
  }
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(FileSettingsStore::RootFolder(), temp_ / ".config" / "quelt-flasher");
  ::setenv("HOME", saved_home.c_str(), 1);
}

}  // namespace
}  // namespace quelt::test
