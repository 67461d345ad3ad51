// The safe-mode setting as the window reads it at start, stores it when switched, and as the
// command line reads it.
#include "settings/safe_mode.h"

#include <sys/stat.h>

#include "settings/file_settings_store.h"
#include "tests/settings/settings_fixture.h"

namespace quelt::test {
namespace {

const Bytes kBinary0 = {0x03, 0, 0, 0, 0x00, 0x00, 0x00, 0x00};
const Bytes kBinary1 = {0x03, 0, 0, 0, 0x01, 0x00, 0x00, 0x00};

// The window's start: read, and store 0 when the setting counts as missing.
StoredSafeMode WindowStart() {
  const StoredSafeMode stored = ReadStoredSafeMode();
  if (stored == StoredSafeMode::Missing) SaveSafeMode(0);
  return stored;
}

enum class Before { NoKey, KeyOnly, File, Directory, Fifo };

struct StartCase {
  const char* label;
  Before before;
  Bytes file;  // for Before::File
  StoredSafeMode expected;
  bool command_line_safe;
  std::optional<Bytes> after;  // the value file after the window's start
};

class StartUp : public SettingsTest {
 protected:
  void Prepare(const StartCase& c) {
    std::filesystem::remove_all(ConfigFolder());
    switch (c.before) {
      case Before::NoKey:
        break;
      case Before::KeyOnly:
        std::filesystem::create_directories(KeyFolder());
        break;
      case Before::File:
        WriteMode(c.file);
        break;
      case Before::Directory:
        std::filesystem::create_directories(ModeFile());
        break;
      case Before::Fifo:
        std::filesystem::create_directories(KeyFolder());
        ASSERT_EQ(::mkfifo(ModeFile().c_str(), 0600), 0);
        break;
    }
  }
};

TEST_F(StartUp, ReadsTheStoredValue) {
  const Bytes k1Dword{0x04, 0, 0, 0, 0x01, 0, 0, 0};
  const Bytes k2{0x03, 0, 0, 0, 0x02, 0, 0, 0};
  const Bytes kMinus1{0x03, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  const Bytes kHighByte{0x03, 0, 0, 0, 0, 0, 0, 0x01};
  const Bytes kString1{0x01, 0, 0, 0, 0x01, 0, 0, 0};
  const Bytes k8Bytes{0x03, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
  const Bytes k5Bytes{0x03, 0, 0, 0, 1, 0, 0, 0, 0};
  const Bytes k1Byte{0x03, 0, 0, 0, 0x01};
  const Bytes k2Bytes{0x03, 0, 0, 0, 0x00, 0x01};
  const Bytes kNoData{0x03, 0, 0, 0};
  // clang-format off
  const StartCase cases[] = {
      {"first start, no key", Before::NoKey, {}, StoredSafeMode::Missing, false, kBinary0},
      {"key without the value", Before::KeyOnly, {}, StoredSafeMode::Missing, false, kBinary0},
      {"0 as binary", Before::File, kBinary0, StoredSafeMode::Off, false, kBinary0},
      {"1 as binary", Before::File, kBinary1, StoredSafeMode::On, true, kBinary1},
      {"1 as a DWORD", Before::File, k1Dword, StoredSafeMode::On, true, k1Dword},
      {"2 stays 2", Before::File, k2, StoredSafeMode::Unchanged, true, k2},
      {"-1", Before::File, kMinus1, StoredSafeMode::Unchanged, true, kMinus1},
      {"1 in the high byte only", Before::File, kHighByte, StoredSafeMode::Unchanged, true, kHighByte},
      {"a string type holding 1", Before::File, kString1, StoredSafeMode::On, true, kString1},
      // Longer than 4 bytes: the default 0, and the value is left as it is.
      {"8 bytes of data", Before::File, k8Bytes, StoredSafeMode::Off, false, k8Bytes},
      {"5 bytes of data", Before::File, k5Bytes, StoredSafeMode::Off, false, k5Bytes},
      // Shorter than 4 bytes: the low-order bytes, the rest 0.
      {"1 byte holding 1", Before::File, k1Byte, StoredSafeMode::On, true, k1Byte},
      {"2 bytes holding 0x0100", Before::File, k2Bytes, StoredSafeMode::Unchanged, true, k2Bytes},
      {"type and no data", Before::File, kNoData, StoredSafeMode::Off, false, kNoData},
      // Damaged: shorter than the type. Reads as absent and is replaced by 0.
      {"damaged, 3 bytes", Before::File, {0x03, 0, 0}, StoredSafeMode::Missing, false, kBinary0},
      {"damaged, empty", Before::File, {}, StoredSafeMode::Missing, false, kBinary0},
      // Not a file at all: absent, without waiting for a writer. A folder cannot be replaced by
      // the new value, a FIFO can.
      {"a folder named Mode", Before::Directory, {}, StoredSafeMode::Missing, false, std::nullopt},
      {"a FIFO named Mode", Before::Fifo, {}, StoredSafeMode::Missing, false, kBinary0},
  };
  // clang-format on
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.label);
    Prepare(c);
    EXPECT_EQ(StoredSafeModeForCommandLine(), c.command_line_safe);
    EXPECT_EQ(WindowStart(), c.expected);
    EXPECT_EQ(ReadMode(), c.after);
  }
}

TEST_F(StartUp, CommandLineReadingNeverWrites) {
  EXPECT_FALSE(StoredSafeModeForCommandLine());
  EXPECT_FALSE(std::filesystem::exists(ConfigFolder()));
  std::filesystem::create_directories(KeyFolder());
  EXPECT_FALSE(StoredSafeModeForCommandLine());
  EXPECT_TRUE(KeyFolderEntries().empty());
  WriteMode({0x03, 0, 0});
  EXPECT_FALSE(StoredSafeModeForCommandLine());
  EXPECT_EQ(ReadMode(), (Bytes{0x03, 0, 0}));
}

TEST_F(SettingsTest, SwitchingWritesBinaryWhateverWasThere) {
  const struct {
    const char* label;
    std::optional<Bytes> before;
    int value;
    Bytes after;
  } cases[] = {
      // clang-format off
      {"on, no key yet", std::nullopt, 1, kBinary1},
      {"on over 0", kBinary0, 1, kBinary1},
      {"off over 1", kBinary1, 0, kBinary0},
      {"on over a DWORD 0", Bytes{0x04, 0, 0, 0, 0, 0, 0, 0}, 1, kBinary1},
      {"off over a DWORD 2", Bytes{0x04, 0, 0, 0, 2, 0, 0, 0}, 0, kBinary0},
      {"on over 8 bytes", Bytes{0x03, 0, 0, 0, 9, 9, 9, 9, 9, 9, 9, 9}, 1, kBinary1},
      {"off over a damaged value", Bytes{0x03}, 0, kBinary0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove_all(ConfigFolder());
    if (c.before) WriteMode(*c.before);
    SaveSafeMode(c.value);
    EXPECT_EQ(ReadMode(), c.after);
    // The temporary file was renamed into place, not left beside it.
    EXPECT_EQ(KeyFolderEntries(), std::vector<std::string>{"Mode"});
  }
}

// A store in which the user may only read the setting's key (and the keys below it), as a
// registry key with a read-only ACL: opening it with full or write access fails, and so does
// creating it; reading works. Everything else, the root included, stays writable. Tests run as
// root, for whom the file store's own permission checks always pass.
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
    const bool read_only = path == key || path.starts_with(key + "\\");
    return !read_only || access == KeyAccess::Read;
  }
};

class ReadOnlyKey : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    SetSettingsStoreForTests(&store_);
  }
  void TearDown() override {
    SetSettingsStoreForTests(nullptr);
    SettingsTest::TearDown();
  }
  ReadOnlyKeyStore store_;
};

TEST_F(ReadOnlyKey, CountsAsMissingAndTheStoreFailsQuietly) {
  WriteMode(kBinary1);
  EXPECT_EQ(WindowStart(), StoredSafeMode::Missing);
  EXPECT_FALSE(StoredSafeModeForCommandLine());
  EXPECT_EQ(ReadMode(), kBinary1);
  SaveSafeMode(1);
  EXPECT_EQ(ReadMode(), kBinary1);
  // Nothing landed anywhere else either, such as in the root, which is writable.
  EXPECT_FALSE(std::filesystem::exists(ConfigFolder() / "Mode"));
  EXPECT_EQ(KeyFolderEntries(), std::vector<std::string>{"Mode"});
}

TEST_F(ReadOnlyKey, ValueIsStillReadableWithReadAccess) {
  WriteMode({0x03, 0, 0, 0, 0x2A, 0, 0, 0});
  RegistryKey key;
  key.m_strKeyPath = kSettingsKeyPath;  // as a key object that was opened earlier
  EXPECT_EQ(key.ReadInt(kSafeModeValue, 7), 42);
  EXPECT_FALSE(key.ValueExists(kSafeModeValue));
  EXPECT_FALSE(key.WriteInt(kSafeModeValue, 0));
  EXPECT_FALSE(key.Open(kSettingsKeyPath, false));
  EXPECT_FALSE(key.Open(kSettingsKeyPath, true));
}

}  // namespace
}  // namespace quelt::test
