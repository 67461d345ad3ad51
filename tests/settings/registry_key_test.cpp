// RegistryKey over the file store: roots, opening and creating keys, where values lie.
#include "settings/registry_key.h"

#include "settings/file_settings_store.h"
#include "tests/settings/settings_fixture.h"

namespace quelt::test {
namespace {

// Only the predefined roots are taken, and only the current user's has a folder.
TEST_F(SettingsTest, RootsAndTheirFolders) {
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
    if (c.after != RootKey::CurrentUser) {
      EXPECT_FALSE(k.Open("Software\\Quelt JQ", true));
      EXPECT_FALSE(k.WriteInt("Mode", 1));
    }
  }
  EXPECT_FALSE(std::filesystem::exists(ConfigFolder()));
}

TEST_F(SettingsTest, OpenCreatesKeysAsFoldersAndKeepsThePathOnFailure) {
  RegistryKey key;
  EXPECT_FALSE(key.Open("Software\\Quelt JQ", false));
  EXPECT_EQ(key.m_strKeyPath, "");
  EXPECT_FALSE(std::filesystem::exists(ConfigFolder()));

  EXPECT_TRUE(key.Open("Software\\Quelt JQ", true));
  EXPECT_EQ(key.m_strKeyPath, "Software\\Quelt JQ");
  EXPECT_TRUE(std::filesystem::is_directory(KeyFolder()));
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
  for (const char* path : {"..", "Software\\..\\..", "Software\\.", "Software\\\\Quelt",
                           "Software\\", "a/b", "..\\x"}) {
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
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp_.path()), {}), 1);
}

TEST_F(SettingsTest, WithoutAnAbsoluteConfigHomeTheFolderIsBelowHome) {
  ScopedEnv home("HOME", temp_.path().string());
  for (const std::optional<std::string>& config :
       {std::optional<std::string>(""), std::optional<std::string>("relative/config"),
        std::optional<std::string>()}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", config);
    EXPECT_EQ(FileSettingsStore::RootFolder(), temp_.path() / ".config" / "quelt-flasher");
  }
}

}  // namespace
}  // namespace quelt::test
