#include "tests/image/image_test_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace quelt::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quelt-image-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string MakeFifo(const TempDir& dir) {
  const std::string path = dir.File("pipe.qlz");
  EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
  return path;
}

std::vector<uint8_t> ImageBytes(int32_t size, const std::string& name, uint8_t fill) {
  std::vector<uint8_t> bytes(static_cast<std::size_t>(size), fill);
  const uint8_t header[4] = {'Q', 'E', 'L', 'T'};
  std::copy_n(header, std::min<std::size_t>(4, bytes.size()), bytes.begin());
  for (std::size_t i = 4; i < 32 && i < bytes.size(); ++i) bytes[i] = 0;
  for (std::size_t i = 0; i < name.size() && i < 16 && 16 + i < bytes.size(); ++i) {
    bytes[16 + i] = static_cast<uint8_t>(name[i]);
  }
  return bytes;
}

}  // namespace quelt::test
