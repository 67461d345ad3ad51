#include "tests/settings/settings_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace quelt::test {

void SettingsTest::SetUp() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME")) saved_config_ = config;
  std::string pattern = (std::filesystem::temp_directory_path() / "quelt-settings-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  temp_ = pattern;
  ::setenv("XDG_CONFIG_HOME", temp_.c_str(), 1);
}

void SettingsTest::TearDown() {
  if (saved_config_) {
    ::setenv("XDG_CONFIG_HOME", saved_config_->c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  std::error_code ignored;
  std::filesystem::remove_all(temp_, ignored);
}

void SettingsTest::WriteMode(const Bytes& file_bytes) const {
  std::filesystem::create_directories(KeyFolder());
  std::ofstream out(ModeFile(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file_bytes.data()),
            static_cast<std::streamsize>(file_bytes.size()));
  ASSERT_TRUE(out.good());
}

std::optional<Bytes> SettingsTest::ReadMode() const {
  if (!std::filesystem::is_regular_file(ModeFile())) return std::nullopt;
  std::ifstream in(ModeFile(), std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> SettingsTest::KeyFolderEntries() const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(KeyFolder(), error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quelt::test
