// The settings over their file store, each test on its own configuration folder: the safe-mode
// value as the window reads it at start and stores it when switched, as the command line reads
// it, and where keys and values lie.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <random>

#include "settings/file_settings_store.h"
#include "settings/registry_key.h"
#include "settings/safe_mode.h"
#include "tests/support/test_files.h"

namespace quelt::test {
namespace {

namespace fs = std::filesystem;
const Bytes kBinary0 = {0x03, 0, 0, 0, 0, 0, 0, 0};
const Bytes kBinary1 = {0x03, 0, 0, 0, 1, 0, 0, 0};

class SettingsTest : public ::testing::Test {
 protected:
  fs::path Config() const { return temp_.path() / "quelt-flasher"; }
  fs::path Key() const { return Config() / "Software" / "Quelt JQ"; }
  void WriteMode(const Bytes& file) const {
    fs::create_directories(Key());
    ASSERT_TRUE(WriteFile(Key() / "Mode", file));
  }
  std::optional<Bytes> ReadMode() const {
    if (!fs::is_regular_file(Key() / "Mode")) return std::nullopt;
    return ReadFile(Key() / "Mode");
  }
  // The names in the key's folder, to see that no temporary file was left behind.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& e : fs::directory_iterator(Key(), error)) names.push_back(e.path().filename());
    return names;
  }
  // The window's start: read, and store 0 when the setting counts as missing.
  static StoredSafeMode WindowStart() {
    const StoredSafeMode stored = ReadStoredSafeMode();
    if (stored == StoredSafeMode::Missing) SaveSafeMode(0);
    return stored;
  }
  TempDir temp_;
  ScopedEnv config_{"XDG_CONFIG_HOME", temp_.path().string()};
};

enum Before { NoKey, KeyOnly, File, Folder, Fifo };
struct StartCase {
  const char* label;
  Before before;
  Bytes file;
  StoredSafeMode expected;
  bool command_line_safe;
  std::optional<Bytes> after;  // the value file after the window's start
};
using M = StoredSafeMode;
// clang-format off
const StartCase kStarts[] = {
    {"first start, no key", NoKey, {}, M::Missing, false, kBinary0},
    {"key without the value", KeyOnly, {}, M::Missing, false, kBinary0},
    {"0 as binary", File, kBinary0, M::Off, false, kBinary0},
    {"1 as binary", File, kBinary1, M::On, true, kBinary1},
    {"1 as a DWORD", File, {4, 0, 0, 0, 1, 0, 0, 0}, M::On, true, Bytes{4, 0, 0, 0, 1, 0, 0, 0}},
    {"2 stays 2", File, {3, 0, 0, 0, 2, 0, 0, 0}, M::Unchanged, true, Bytes{3, 0, 0, 0, 2, 0, 0, 0}},
    {"-1", File, {3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, M::Unchanged, true, Bytes{3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
    {"1 in the high byte", File, {3, 0, 0, 0, 0, 0, 0, 1}, M::Unchanged, true, Bytes{3, 0, 0, 0, 0, 0, 0, 1}},
    {"a string type holding 1", File, {1, 0, 0, 0, 1, 0, 0, 0}, M::On, true, Bytes{1, 0, 0, 0, 1, 0, 0, 0}},
    // Longer than 4 bytes: the default 0, left as it is; shorter: the low-order bytes.
    {"5 bytes of data", File, {3, 0, 0, 0, 1, 0, 0, 0, 0}, M::Off, false, Bytes{3, 0, 0, 0, 1, 0, 0, 0, 0}},
    {"1 byte holding 1", File, {3, 0, 0, 0, 1}, M::On, true, Bytes{3, 0, 0, 0, 1}},
    {"2 bytes holding 0x0100", File, {3, 0, 0, 0, 0, 1}, M::Unchanged, true, Bytes{3, 0, 0, 0, 0, 1}},
    {"type and no data", File, {3, 0, 0, 0}, M::Off, false, Bytes{3, 0, 0, 0}},
    // Shorter than the type: absent, replaced by 0; so is what is not a file, without waiting
    // for a writer (a folder cannot be replaced, a FIFO can).
    {"damaged, 3 bytes", File, {3, 0, 0}, M::Missing, false, kBinary0},
    {"damaged, empty", File, {}, M::Missing, false, kBinary0},
    {"a folder named Mode", Folder, {}, M::Missing, false, std::nullopt},
    {"a FIFO named Mode", Fifo, {}, M::Missing, false, kBinary0},
};
// clang-format on

TEST_F(SettingsTest, StartReadsTheStoredValueAndTheCommandLineNeverWrites) {
  for (const StartCase& c : kStarts) {
    SCOPED_TRACE(c.label);
    fs::remove_all(Config());
    if (c.before != NoKey) fs::create_directories(Key());
    if (c.before == File) WriteMode(c.file);
    if (c.before == Folder) fs::create_directories(Key() / "Mode");
    if (c.before == Fifo) {
      ASSERT_EQ(::mkfifo((Key() / "Mode").c_str(), 0600), 0);
    }
    const std::optional<Bytes> before = ReadMode();
    EXPECT_EQ(StoredSafeModeForCommandLine(), c.command_line_safe);
    EXPECT_EQ(ReadMode(), before);
    EXPECT_EQ(fs::exists(Config()), c.before != NoKey);
    EXPECT_EQ(WindowStart(), c.expected);
    EXPECT_EQ(ReadMode(), c.after);
  }
}

TEST_F(SettingsTest, SwitchingWritesBinaryWhateverWasThere) {
  const struct {
    std::optional<Bytes> before;
    int value;
  } cases[] = {{std::nullopt, 1},
               {kBinary0, 1},
               {kBinary1, 0},
               {Bytes{4, 0, 0, 0, 0, 0, 0, 0}, 1},
               {Bytes{3, 0, 0, 0, 9, 9, 9, 9, 9}, 0},
               {Bytes{3}, 0}};
  for (const auto& c : cases) {
    fs::remove_all(Config());
    if (c.before) WriteMode(*c.before);
    SaveSafeMode(c.value);
    EXPECT_EQ(ReadMode(), c.value ? kBinary1 : kBinary0);
    EXPECT_EQ(Entries(), std::vector<std::string>{"Mode"});  // renamed into place
  }
}

TEST_F(SettingsTest, KeysAreFoldersOfTheCurrentUsersRootOnly) {
  const struct {
    RootKey root;
    bool taken;
    RootKey after;
  } roots[] = {{RootKey::ClassesRoot, true, RootKey::ClassesRoot},
               {RootKey::CurrentUser, true, RootKey::CurrentUser},
               {RootKey::LocalMachine, true, RootKey::LocalMachine},
               {RootKey::Users, true, RootKey::Users},
               {RootKey::Other, false, RootKey::LocalMachine}};
  EXPECT_EQ(RegistryKey().m_hRootKey, RootKey::CurrentUser);
  for (const auto& c : roots) {
    RegistryKey k;
    k.SetRoot(RootKey::LocalMachine);
    EXPECT_EQ(k.SetRoot(c.root), c.taken);
    EXPECT_EQ(k.m_hRootKey, c.after);
    EXPECT_EQ(k.Open("Software\\Quelt JQ", true), c.after == RootKey::CurrentUser);
    EXPECT_EQ(k.WriteInt("Mode", 1), c.after == RootKey::CurrentUser);
  }
  fs::remove_all(Config());
  RegistryKey key;
  EXPECT_FALSE(key.Open("Software\\Quelt JQ", false));
  EXPECT_FALSE(fs::exists(Config()));
  EXPECT_TRUE(key.Open("Software\\Quelt JQ", true));
  EXPECT_FALSE(key.Open("Software\\Other", false));
  EXPECT_EQ(key.m_strKeyPath, "Software\\Quelt JQ");
  EXPECT_TRUE(key.WriteInt("Mode", 0x01020304));
  EXPECT_EQ(ReadMode(), (Bytes{0x03, 0, 0, 0, 0x04, 0x03, 0x02, 0x01}));
  EXPECT_TRUE(key.ValueExists("Mode"));
  EXPECT_FALSE(key.ValueExists("Other"));
  EXPECT_EQ(key.ReadInt("Mode", 5), 0x01020304);
  EXPECT_EQ(key.ReadInt("Other", 5), 5);
  // Paths and names that would leave the configuration folder are refused.
  for (const char* path : {"..", "Software\\..\\..", "Software\\.", "Software\\\\Quelt",
                           "Software\\", "a/b", "..\\x"}) {
    EXPECT_FALSE(RegistryKey().Open(path, true)) << path;
  }
  EXPECT_FALSE(key.WriteInt("../escape", 1));
  EXPECT_FALSE(key.WriteInt("", 1));
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path()), {}), 1);
  // Without an absolute XDG_CONFIG_HOME the folder is below HOME.
  ScopedEnv home("HOME", temp_.path().string());
  for (const std::optional<std::string>& config :
       {std::optional<std::string>("relative/config"), std::optional<std::string>(""),
        std::optional<std::string>()}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", config);
    EXPECT_EQ(FileSettingsStore::RootFolder(), temp_.path() / ".config" / "quelt-flasher");
  }
}

// A store in which the setting's key (and the keys below it) may only be read, as a registry
// key with a read-only ACL; the root stays writable. Tests run as root, for whom the file
// store's own permission checks always pass.
class ReadOnlyKeyStore : public FileSettingsStore {
 public:
  bool OpenKey(RootKey root, const std::string& path, KeyAccess access) override {
    return Allowed(path, access) && FileSettingsStore::OpenKey(root, path, access);
  }
  bool CreateKey(RootKey root, const std::string& path) override {
    return Allowed(path, KeyAccess::Full) && FileSettingsStore::CreateKey(root, path);
  }
  ValueInfo QueryValue(RootKey root, const std::string& path, KeyAccess access,
                       const std::string& name, void* data, std::size_t room) override {
    if (!Allowed(path, access)) return ValueInfo{};
    return FileSettingsStore::QueryValue(root, path, access, name, data, room);
  }
  bool SetValue(RootKey root, const std::string& path, KeyAccess access, const std::string& name,
                uint32_t type, const void* data, std::size_t size) override {
    return Allowed(path, access) &&
           FileSettingsStore::SetValue(root, path, access, name, type, data, size);
  }

 private:
  static bool Allowed(const std::string& path, KeyAccess access) {
    const std::string key = kSettingsKeyPath;
    return access == KeyAccess::Read || (path != key && !path.starts_with(key + "\\"));
  }
};

TEST_F(SettingsTest, AReadOnlyKeyCountsAsMissingAndTheStoreFailsQuietly) {
  ReadOnlyKeyStore store;
  SetSettingsStoreForTests(&store);
  WriteMode({0x03, 0, 0, 0, 0x2A, 0, 0, 0});
  RegistryKey key;
  key.m_strKeyPath = kSettingsKeyPath;  // as a key object that was opened earlier
  EXPECT_EQ(key.ReadInt(kSafeModeValue, 7), 42);
  EXPECT_FALSE(key.ValueExists(kSafeModeValue));
  EXPECT_FALSE(key.WriteInt(kSafeModeValue, 0));
  EXPECT_FALSE(key.Open(kSettingsKeyPath, false));
  EXPECT_EQ(WindowStart(), StoredSafeMode::Missing);
  EXPECT_FALSE(StoredSafeModeForCommandLine());
  SaveSafeMode(1);
  SetSettingsStoreForTests(nullptr);
  EXPECT_EQ(ReadMode(), (Bytes{0x03, 0, 0, 0, 0x2A, 0, 0, 0}));
  EXPECT_FALSE(fs::exists(Config() / "Mode"));  // nor in the root, which is writable
  EXPECT_EQ(Entries(), std::vector<std::string>{"Mode"});
}

// A process killed while it stores the setting leaves the old or the new value, never a torn one.
TEST_F(SettingsTest, KilledWhileStoringLeavesOldOrNewValue) {
  SaveSafeMode(1);
  std::mt19937 random(std::random_device{}());
  int last = 1;
  for (int round = 0; round < 25; ++round) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {  // stores ever larger values; tells the parent once the first is in place
      for (int value = last + 1;; ++value) {
        SaveSafeMode(value);
        if (value == last + 1 && ::write(ready[1], "1", 1) != 1) ::_exit(1);
      }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 20000)(random));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::optional<Bytes> file = ReadMode();
    ASSERT_TRUE(file && file->size() == 8 && (*file)[0] == 3 && (*file)[1] == 0) << round;
    const int value = (*file)[4] | (*file)[5] << 8 | (*file)[6] << 16 | (*file)[7] << 24;
    EXPECT_GT(value, last) << "the value stored before the signal is kept";
    last = value;
    RegistryKey key;
    ASSERT_TRUE(key.Open("Software\\Quelt JQ", false));
    EXPECT_EQ(key.ReadInt("Mode", -1), value);
  }
}

}  // namespace
}  // namespace quelt::test
