// The settings over their file store, on a configuration folder of their own: the safe-mode value
// as the window and the command line read it and the window stores it, and where keys lie.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <random>

#include "settings/file_settings_store.h"
#include "settings/registry_key.h"
#include "settings/safe_mode.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

namespace fs = std::filesystem;
const Bytes kBinary0 = {3, 0, 0, 0, 0, 0, 0, 0}, kBinary1 = {3, 0, 0, 0, 1, 0, 0, 0};

// A store whose setting key may only be read, as a registry key with a read-only ACL (tests run
// as root, whom the file store's own permission checks always let through).
class ReadOnlyKeyStore : public FileSettingsStore {
  static bool Ok(const std::string& path, KeyAccess access) {
    return access == KeyAccess::Read || !path.starts_with(kSettingsKeyPath);
  }
  bool OpenKey(RootKey r, const std::string& p, KeyAccess a) override {
    return Ok(p, a) && FileSettingsStore::OpenKey(r, p, a);
  }
  bool CreateKey(RootKey r, const std::string& p) override {
    return Ok(p, KeyAccess::Full) && FileSettingsStore::CreateKey(r, p);
  }
  ValueInfo QueryValue(RootKey r, const std::string& p, KeyAccess a, const std::string& name,
                       void* data, std::size_t room) override {
    return Ok(p, a) ? FileSettingsStore::QueryValue(r, p, a, name, data, room) : ValueInfo{};
  }
  bool SetValue(RootKey r, const std::string& p, KeyAccess a, const std::string& name,
                uint32_t type, const void* data, std::size_t size) override {
    return Ok(p, a) && FileSettingsStore::SetValue(r, p, a, name, type, data, size);
  }
};

class SettingsTest : public ::testing::Test {
 protected:
  std::optional<Bytes> ReadMode() const {
    if (!fs::is_regular_file(key_ / "Mode")) return std::nullopt;
    return ReadFile(key_ / "Mode");
  }
  TempDir temp_;
  ScopedEnv config_{"XDG_CONFIG_HOME", temp_.path().string()};
  fs::path root_ = temp_.path() / "quelt-flasher", key_ = root_ / "Software" / "Quelt JQ";
};

enum Before { NoKey, KeyOnly, File, Folder, Fifo, ReadOnly };
struct StartCase {
  Before before;
  Bytes file;
  StoredSafeMode window;
  bool command_line_safe;
};
using M = StoredSafeMode;
const StartCase kStarts[] = {
    {NoKey, {}, M::Missing, false},
    {KeyOnly, {}, M::Missing, false},
    {File, kBinary0, M::Off, false},
    {File, kBinary1, M::On, true},
    {File, {4, 0, 0, 0, 1, 0, 0, 0}, M::On, true},  // a DWORD
    {File, {1, 0, 0, 0, 1, 0, 0, 0}, M::On, true},  // a string
    {File, {3, 0, 0, 0, 2, 0, 0, 0}, M::Unchanged, true},
    {File, {3, 0, 0, 0, 0, 0, 0, 1}, M::Unchanged, true},
    {File, {3, 0, 0, 0, 1, 0, 0, 0, 0}, M::Off, false},  // longer than 4 bytes: the default
    {File, {3, 0, 0, 0, 1}, M::On, true},                // shorter: the low-order bytes
    {File, {3, 0, 0, 0}, M::Off, false},
    {File, {3, 0, 0}, M::Missing, false},  // damaged: absent
    {File, {}, M::Missing, false},
    {Folder, {}, M::Missing, false},  // cannot be replaced
    {Fifo, {}, M::Missing, false},    // read without waiting for a writer
    {ReadOnly, {3, 0, 0, 0, 0x2A, 0, 0, 0}, M::Missing, false},  // stores fail quietly
};

// The window's start reads the value and stores 0 when it counts as missing; a switch stores 1.
TEST_F(SettingsTest, StartReadsTheStoredValueTheCommandLineNeverWritesSwitchingWritesBinary) {
  for (const StartCase& c : kStarts) {
    SCOPED_TRACE(&c - kStarts);
    fs::remove_all(root_);
    if (c.before != NoKey) fs::create_directories(key_);
    ASSERT_TRUE(c.before == File || c.before == ReadOnly ? WriteFile(key_ / "Mode", c.file)
                : c.before == Fifo ? ::mkfifo((key_ / "Mode").c_str(), 0600) == 0
                                   : c.before != Folder || fs::create_directories(key_ / "Mode"));
    ReadOnlyKeyStore read_only;
    if (c.before == ReadOnly) SetSettingsStoreForTests(&read_only);
    const bool writable = c.before != Folder && c.before != ReadOnly;
    const std::optional<Bytes> before = ReadMode();
    EXPECT_EQ(StoredSafeModeForCommandLine(), c.command_line_safe);
    EXPECT_EQ(ReadMode(), before);
    EXPECT_EQ(fs::exists(root_), c.before != NoKey);
    const StoredSafeMode stored = ReadStoredSafeMode();
    EXPECT_EQ(stored, c.window);
    if (stored == StoredSafeMode::Missing) SaveSafeMode(0);
    EXPECT_EQ(ReadMode(), c.window == M::Missing && writable ? kBinary0 : before);
    SaveSafeMode(1);
    SetSettingsStoreForTests(nullptr);
    EXPECT_EQ(ReadMode(), writable ? kBinary1 : before);
    EXPECT_FALSE(fs::exists(root_ / "Mode"));                       // nor in the root
    EXPECT_EQ(std::distance(fs::directory_iterator(key_), {}), 1);  // no temporary file left
  }
}

TEST_F(SettingsTest, KeysAreFoldersOfTheCurrentUsersRootOnly) {
  for (const RootKey root : {RootKey::ClassesRoot, RootKey::LocalMachine, RootKey::Users,
                             RootKey::CurrentUser, RootKey::Other}) {
    RegistryKey k;
    k.SetRoot(RootKey::LocalMachine);  // Other leaves it as it was
    EXPECT_EQ(k.SetRoot(root), root != RootKey::Other);
    EXPECT_EQ(k.m_hRootKey, root == RootKey::Other ? RootKey::LocalMachine : root);
    EXPECT_EQ(k.Open("Software\\Quelt JQ", true) && k.WriteInt("Mode", 1),
              root == RootKey::CurrentUser);
  }
  fs::remove_all(root_);
  RegistryKey key;
  EXPECT_FALSE(key.Open("Software\\Quelt JQ", false) || fs::exists(root_));
  EXPECT_TRUE(key.Open("Software\\Quelt JQ", true) && !key.Open("Software\\Other", false));
  EXPECT_EQ(key.m_strKeyPath, "Software\\Quelt JQ");
  EXPECT_TRUE(key.WriteInt("Mode", 0x01020304));
  EXPECT_EQ(ReadMode(), (Bytes{0x03, 0, 0, 0, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_TRUE(key.ValueExists("Mode") && !key.ValueExists("Other"));
  EXPECT_EQ(key.ReadInt("Mode", 5), 0x01020304);
  EXPECT_EQ(key.ReadInt("Other", 5), 5);
  ReadOnlyKeyStore read_only;  // values are read with read access, checked and written with more
  SetSettingsStoreForTests(&read_only);
  EXPECT_EQ(key.ReadInt("Mode", 5), 0x01020304);
  EXPECT_FALSE(key.ValueExists("Mode") || key.WriteInt("Mode", 1) ||
               key.Open("Software\\Quelt JQ", false));
  SetSettingsStoreForTests(nullptr);
  for (const char* path : {"..", "Software\\..\\..", "Software\\.", "Software\\\\Quelt",
                           "Software\\", "a/b", "..\\x"}) {
    EXPECT_FALSE(RegistryKey().Open(path, true)) << path;  // would leave the folder
  }
  EXPECT_FALSE(key.WriteInt("../escape", 1) || key.WriteInt("", 1) || key.WriteInt(".", 1));
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path()), {}), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(key_), {}), 1);
  ScopedEnv home("HOME", temp_.path().string());  // without an absolute XDG_CONFIG_HOME
  for (const char* config : {"relative/config", ""}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", config);
    EXPECT_EQ(FileSettingsStore::RootFolder(), temp_.path() / ".config" / "quelt-flasher");
  }
}

// A process killed while it stores the setting leaves the old or the new value, never a torn one.
TEST_F(SettingsTest, KilledWhileStoringLeavesOldOrNewValue) {
  SaveSafeMode(1);
  std::mt19937 random(std::random_device{}());
  for (int round = 0, last = 1; round < 25; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    for (int value = last + 1; child == 0; ++value) {  // tells the parent once one is in place
      SaveSafeMode(value);
      if (value == last + 1 && ::write(ready[1], "1", 1) != 1) break;
    }
    if (child == 0) ::_exit(1);
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const Bytes file = ReadFile(key_ / "Mode");
    ASSERT_TRUE(file.size() == 8 && file[0] == 3 && file[1] == 0) << round;
    const int value = file[4] | file[5] << 8 | file[6] << 16 | file[7] << 24;
    EXPECT_GT(value, last) << "the value stored before the signal is kept";
    RegistryKey key;
    EXPECT_EQ(key.ReadInt("Mode", -1), -1);  // the key object is not open yet
    ASSERT_TRUE(key.Open("Software\\Quelt JQ", false));
    EXPECT_EQ(key.ReadInt("Mode", -1), last = value);
  }
}

}  // namespace
}  // namespace quelt::test
