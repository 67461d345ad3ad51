// Every settings test runs on its own configuration folder: XDG_CONFIG_HOME points at a fresh
// temporary folder for the test's length.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace quelt::test {

class SettingsTest : public ::testing::Test {
 protected:
  std::filesystem::path ConfigFolder() const { return temp_.path() / "quelt-flasher"; }
  std::filesystem::path KeyFolder() const { return ConfigFolder() / "Software" / "Quelt JQ"; }
  std::filesystem::path ModeFile() const { return KeyFolder() / "Mode"; }

  // Writes a value file as it lies on disk (type and data), creating the key's folder.
  void WriteMode(const Bytes& file_bytes) const {
    std::filesystem::create_directories(KeyFolder());
    ASSERT_TRUE(WriteFile(ModeFile(), file_bytes));
  }
  // The bytes of the value file, or nothing when it is not a file.
  std::optional<Bytes> ReadMode() const {
    if (!std::filesystem::is_regular_file(ModeFile())) return std::nullopt;
    return ReadFile(ModeFile());
  }
  // The names in the key's folder, to see that no temporary file was left behind.
  std::vector<std::string> KeyFolderEntries() const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(KeyFolder(), error)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir temp_;
  ScopedEnv config_{"XDG_CONFIG_HOME", temp_.path().string()};
};

}  // namespace quelt::test
