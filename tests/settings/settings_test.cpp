// The settings over their file store, on a configuration folder of their own: the safe-mode value
// as the window and the command line read it and the window stores it, and where keys lie.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <random>
#include <tuple>

#include "settings/file_settings_store.h"
#include "settings/registry_key.h"
#include "settings/safe_mode.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

namespace fs = std::filesystem;
const Bytes kBinary0 = {3, 0, 0, 0, 0, 0, 0, 0}, kBinary1 = {3, 0, 0, 0, 1, 0, 0, 0};

// Keys that may only be read, as with a read-only ACL (tests run as root, whom the store's own
// checks let through); values of the root itself may still be written, where a fault would put one.
class ReadOnlyKeyStore : public FileSettingsStore {
  bool OpenKey(RootKey r, const std::string& p, KeyAccess a) override {
    return a == KeyAccess::Read && FileSettingsStore::OpenKey(r, p, a);
  }
  bool CreateKey(RootKey, const std::string&) override { return false; }
  ValueInfo QueryValue(RootKey r, const std::string& p, KeyAccess a, const std::string& name,
                       void* data, std::size_t room) override {
    return a == KeyAccess::Read ? FileSettingsStore::QueryValue(r, p, a, name, data, room)
                                : ValueInfo{};
  }
  bool SetValue(RootKey r, const std::string& p, KeyAccess a, const std::string& name,
                uint32_t type, const void* data, std::size_t size) override {
    return p.empty() && FileSettingsStore::SetValue(r, p, a, name, type, data, size);
  }
};

class SettingsTest : public ::testing::Test {
 protected:
  std::optional<Bytes> ReadMode() const {  // a FIFO is not read: that would wait for a writer
    return fs::is_regular_file(key_ / "Mode") ? std::optional(ReadFile(key_ / "Mode"))
                                              : std::nullopt;
  }
  TempDir temp_;
  ScopedEnv config_{"XDG_CONFIG_HOME", temp_.path().string()};
  fs::path root_ = temp_.path() / "quelt-flasher", key_ = root_ / "Software" / "Quelt JQ";
};

enum Before { NoKey, KeyOnly, File, Folder, Fifo, ReadOnly };
using M = StoredSafeMode;
// What lies where the value goes, what the window reads, whether the command line's run is safe.
const std::tuple<Before, Bytes, StoredSafeMode, bool> kStarts[] = {
    {NoKey, {}, M::Missing, false},
    {KeyOnly, {}, M::Missing, false},
    {File, kBinary0, M::Off, false},
    {File, kBinary1, M::On, true},
    {File, {3, 0, 0, 0, 2, 0, 0, 0}, M::Unchanged, true},
    {File, {3, 0, 0, 0, 1, 0, 0, 0, 0}, M::Off, false},  // longer than 4 bytes: the default
    {File, {3, 0, 0, 0, 1}, M::On, true},                // shorter: the low-order bytes
    {File, {3, 0, 0, 0}, M::Off, false},                 // no data: 0
    {File, {3, 0, 0}, M::Missing, false},                // damaged: absent
    {Folder, {}, M::Missing, false},                     // cannot be replaced
    {Fifo, {}, M::Missing, false},                       // read without waiting for a writer
    {ReadOnly, {3, 0, 0, 0, 0x2A, 0, 0, 0}, M::Missing, false},  // stores fail quietly
};

// The window's start reads the value and stores 0 when it counts as missing; a switch stores 1.
TEST_F(SettingsTest, StartReadsTheStoredValueTheCommandLineNeverWritesSwitchingWritesBinary) {
  for (const auto& c : kStarts) {
    SCOPED_TRACE(&c - kStarts);
    const auto& [kind, file, window, command_line_safe] = c;
    fs::remove_all(root_);
    if (kind != NoKey) fs::create_directories(key_);
    ASSERT_TRUE(kind == File || kind == ReadOnly ? WriteFile(key_ / "Mode", file)
                : kind == Fifo                   ? ::mkfifo((key_ / "Mode").c_str(), 0600) == 0
                               : kind != Folder || fs::create_directories(key_ / "Mode"));
    ReadOnlyKeyStore read_only;
    if (kind == ReadOnly) SetSettingsStoreForTests(&read_only);
    const bool writable = kind != Folder && kind != ReadOnly;
    const std::optional<Bytes> before = ReadMode();
    EXPECT_EQ(StoredSafeModeForCommandLine(), command_line_safe);
    EXPECT_EQ(ReadMode(), before);
    EXPECT_EQ(fs::exists(root_), kind != NoKey);
    const StoredSafeMode stored = ReadStoredSafeMode();
    EXPECT_EQ(stored, window);
    if (stored == StoredSafeMode::Missing) SaveSafeMode(0);
    EXPECT_EQ(ReadMode(), window == M::Missing && writable ? kBinary0 : before);
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
  for (const char* path :
       {"..", "Software\\..\\..", "Software\\.", "Software\\\\Quelt", "Software\\", "a/b", "..\\x"})
    EXPECT_FALSE(RegistryKey().Open(path, true)) << path;  // would leave the folder
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
  std::mt19937 random(std::random_device{}());
  for (int round = 0, last = 1; round < 25; ++round) {
    SaveSafeMode(last + 1);  // then a child stores larger values until it is killed
    const pid_t child = ::fork();
    while (child == 0) SaveSafeMode(++last + 1);  // in the child, its own copy of last
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const Bytes file = ReadFile(key_ / "Mode");
    ASSERT_TRUE(file.size() == 8 && file[0] == 3 && file[1] == 0) << round;
    RegistryKey key;
    ASSERT_TRUE(key.Open("Software\\Quelt JQ", false));
    const int value = key.ReadInt("Mode", -1);
    EXPECT_GT(value, last) << "the value stored before the signal is kept";
    last = value;
  }
}

}  // namespace
}  // namespace quelt::test
