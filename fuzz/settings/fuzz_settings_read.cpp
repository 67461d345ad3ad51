// Any bytes as the stored value file: reading must neither crash nor write, and must follow the
// value rules (damaged below 4 bytes, low-order bytes first, over 4 bytes of data the default).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings/registry_key.h"
#include "settings/safe_mode.h"

namespace {

// A plain array: it outlives the exit handlers that remove the folder.
char config_home[] = "/tmp/quelt-fuzz-settings-XXXXXX";

void RemoveConfigHome() {
  std::error_code ignored;
  std::filesystem::remove_all(config_home, ignored);
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string value_path = [] {
    if (::mkdtemp(config_home) == nullptr) std::abort();
    std::atexit(RemoveConfigHome);
    ::setenv("XDG_CONFIG_HOME", config_home, 1);
    const std::string folder = std::string(config_home) + "/quelt-flasher/Software/Quelt JQ";
    std::filesystem::create_directories(folder);
    return folder + "/Mode";
  }();

  std::FILE* file = std::fopen(value_path.c_str(), "wb");
  Check(file != nullptr);
  Check(std::fwrite(data, 1, size, file) == size);
  Check(std::fclose(file) == 0);

  quelt::RegistryKey key;
  Check(key.Open(quelt::kSettingsKeyPath, false));
  const bool exists = key.ValueExists(quelt::kSafeModeValue);
  const int value = key.ReadInt(quelt::kSafeModeValue, -77);
  const quelt::StoredSafeMode stored = quelt::ReadStoredSafeMode();
  const bool command_line = quelt::StoredSafeModeForCommandLine();

  Check(exists == (size >= 4));
  if (size < 4 || size > 8) {
    Check(value == -77);
  } else {
    uint32_t expected = 0;
    for (size_t i = 4; i < size; ++i) expected |= static_cast<uint32_t>(data[i]) << (8 * (i - 4));
    Check(value == static_cast<int>(expected));
  }
  Check((stored == quelt::StoredSafeMode::Missing) == !exists);
  Check(command_line == (exists && size <= 8 && value != 0));

  // Reading never replaced the file.
  Check(std::filesystem::file_size(value_path) == size);
  return 0;
}
