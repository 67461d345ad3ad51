// Temporary folders and image files for the image store's tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quelt::test {

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Writes the bytes to `path`, replacing the file.
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A FIFO named "pipe.qlz" in the folder, without a writer.
std::string MakeFifo(const TempDir& dir);

// `size` bytes: "QELT", 12 zero bytes, `name` (up to 16 bytes, the rest NUL), then `fill`.
std::vector<uint8_t> ImageBytes(int32_t size, const std::string& name, uint8_t fill = 0xA5);

}  // namespace quelt::test
