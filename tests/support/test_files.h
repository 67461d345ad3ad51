// What every suite needs besides the recording adapter: a temporary folder, whole-file reads and
// writes, image files, seeded random bytes and environment values. Portable code only (no child
// processes), so that Windows builds of the suites can use it too.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quelt::test {

using Bytes = std::vector<uint8_t>;

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

// Replaces the file with `bytes`; false when it could not be written whole.
bool WriteFile(const std::filesystem::path& path, const Bytes& bytes);
// The whole file; empty when it cannot be read.
Bytes ReadFile(const std::filesystem::path& path);

// `size` bytes from a fixed sequence seeded by `seed`.
Bytes RandomBytes(std::size_t size, uint64_t seed);

// An image of `size` bytes: `magic`, 12 zero bytes, `name` (up to 16 bytes, the rest NUL), then
// random bytes seeded by `seed`, none of them 0xFF, so that every byte programs at least one bit.
Bytes ImageBytes(int32_t size, const std::string& name, uint64_t seed,
                 const std::string& magic = "QELT");

// Sets (or, with nullopt, removes) an environment variable for the object's life.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

// An environment variable as a number (decimal, 0x hex), `fallback` when unset or not a number.
uint64_t EnvNumber(const char* name, uint64_t fallback);

}  // namespace quelt::test
