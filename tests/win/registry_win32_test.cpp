// The safe-mode setting in the real registry, HKEY_CURRENT_USER\Software\Quelt JQ, value "Mode".
// These tests change the key: ctest runs them under the resource lock "wine_registry", never beside
// the command-line rows that use it too.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <vector>

#include "settings/safe_mode.h"

namespace quelt {
namespace {

struct Stored {
  DWORD type;
  std::vector<uint8_t> data;
};

void Store(const std::optional<Stored>& value) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKeyPath);
  if (!value) return;
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, kSafeModeValue, 0, value->type, value->data.data(),
                                          static_cast<DWORD>(value->data.size())));
  RegCloseKey(key);
}

std::optional<Stored> Load() {
  Stored value{0, std::vector<uint8_t>(16)};
  DWORD size = static_cast<DWORD>(value.data.size());
  if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKeyPath, kSafeModeValue, RRF_RT_ANY, &value.type,
                   value.data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

TEST(Registry, ReadAsTheWindowAndTheCommandLineReadItAndSavedAsBinary) {
  const struct {
    std::optional<Stored> stored;
    StoredSafeMode window;
    bool command_line;
  } cases[] = {
      {std::nullopt, StoredSafeMode::Missing, false},
      {Stored{REG_BINARY, {0, 0, 0, 0}}, StoredSafeMode::Off, false},
      {Stored{REG_BINARY, {1, 0, 0, 0}}, StoredSafeMode::On, true},
      {Stored{REG_DWORD, {1, 0, 0, 0}}, StoredSafeMode::On, true},
      {Stored{REG_BINARY, {2, 0, 0, 0}}, StoredSafeMode::Unchanged, true},
      {Stored{REG_BINARY, {0, 0, 0, 1}}, StoredSafeMode::Unchanged, true},
      {Stored{REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}}, StoredSafeMode::Off, false},  // too long
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored->data.size() * 256 + c.stored->data[0] : 0);
    Store(c.stored);
    EXPECT_EQ(c.window, ReadStoredSafeMode());
    EXPECT_EQ(c.command_line, StoredSafeModeForCommandLine());
    // Reading never writes: what was there is still there, and nothing appears.
    const std::optional<Stored> after = Load();
    ASSERT_EQ(c.stored.has_value(), after.has_value());
    if (after) {
      EXPECT_EQ(c.stored->type, after->type);
      EXPECT_EQ(c.stored->data, after->data);
    }
    // Saving writes four bytes of REG_BINARY whatever was there, creating the key when missing.
    SaveSafeMode(0x01020304);
    ASSERT_TRUE(Load());
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), Load()->type);
    EXPECT_EQ((std::vector<uint8_t>{4, 3, 2, 1}), Load()->data);
  }
  Store(std::nullopt);
}

}  // namespace
}  // namespace quelt
