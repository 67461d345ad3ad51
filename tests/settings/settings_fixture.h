// Every settings test runs on its own configuration folder: XDG_CONFIG_HOME points at a fresh
// temporary folder for the test's length.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quelt::test {

using Bytes = std::vector<uint8_t>;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path ConfigFolder() const { return temp_ / "quelt-flasher"; }
  std::filesystem::path KeyFolder() const { return ConfigFolder() / "Software" / "Quelt JQ"; }
  std::filesystem::path ModeFile() const { return KeyFolder() / "Mode"; }

  // Writes a value file as it lies on disk (type and data), creating the key's folder.
  void WriteMode(const Bytes& file_bytes) const;
  // The bytes of the value file, or nothing when it does not exist.
  std::optional<Bytes> ReadMode() const;
  // The names in the key's folder, to see that no temporary file was left behind.
  std::vector<std::string> KeyFolderEntries() const;

  std::filesystem::path temp_;

 private:
  std::optional<std::string> saved_config_;
};

}  // namespace quelt::test
