// The safe-mode setting in the real registry, HKEY_CURRENT_USER\Software\Quelt JQ, value "Mode".
// ctest runs this under the resource lock "wine_registry", never beside the command-line rows.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "settings/safe_mode.h"

namespace quelt {
namespace {

// The value's type (0: none) and bytes.
using Stored = std::pair<DWORD, std::vector<uint8_t>>;
Stored Load() {
  DWORD type = 0, size = 16;
  std::vector<uint8_t> data(size);
  if (RegGetValueA(HKEY_CURRENT_USER, kSettingsKeyPath, kSafeModeValue, RRF_RT_ANY, &type,
                   data.data(), &size) != ERROR_SUCCESS)
    return {0, {}};
  data.resize(size);
  return {type, data};
}

TEST(Registry, ReadAsTheWindowAndTheCommandLineReadItAndSavedAsBinary) {
  const struct {
    Stored stored;
    StoredSafeMode window;
    bool command_line;
  } cases[] = {
      {{0, {}}, StoredSafeMode::Missing, false},
      {{REG_BINARY, {1, 0, 0, 0}}, StoredSafeMode::On, true},
      {{REG_DWORD, {1, 0, 0, 0}}, StoredSafeMode::On, true},
      {{REG_BINARY, {2, 0, 0, 0}}, StoredSafeMode::Unchanged, true},
      {{REG_BINARY, {1, 0, 0, 0, 0, 0, 0, 0}}, StoredSafeMode::Off, false},  // too long
      {{REG_BINARY, {1}}, StoredSafeMode::On, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKeyPath);
    if (c.stored.first) {
      ASSERT_EQ(ERROR_SUCCESS,
                RegSetKeyValueA(HKEY_CURRENT_USER, kSettingsKeyPath, kSafeModeValue, c.stored.first,
                                c.stored.second.data(), DWORD(c.stored.second.size())));
    }
    EXPECT_EQ(c.window, ReadStoredSafeMode());
    EXPECT_EQ(c.command_line, StoredSafeModeForCommandLine());
    EXPECT_EQ(c.stored, Load());  // reading never writes
    SaveSafeMode(0x01020304);
    EXPECT_EQ((Stored{REG_BINARY, {4, 3, 2, 1}}), Load());
  }
}

}  // namespace
}  // namespace quelt
