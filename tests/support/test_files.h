// What every suite needs: a temporary folder, whole files, images, seeded random bytes and
// environment values. No child processes, so that Windows builds of the suites can use it too.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace quelt::test {

using Bytes = std::vector<uint8_t>;

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::mt19937_64 random(std::random_device{}());
    do path_ = std::filesystem::temp_directory_path() / ("quelt-test-" + std::to_string(random()));
    while (!std::filesystem::create_directory(path_));
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Replaces the file with `bytes`; false when it could not be written whole.
inline bool WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  return bool(out);
}
// The whole file; empty when it cannot be read.
inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline Bytes RandomBytes(std::size_t size, uint64_t seed) {
  std::mt19937_64 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random() >> 24);
  return bytes;
}

// An image of `size` bytes: `magic`, 12 zero bytes, `name` (up to 16 bytes, the rest NUL), then
// random bytes seeded by `seed`, none of them 0xFF, so that every byte programs at least one bit.
inline Bytes ImageBytes(int32_t size, const std::string& name, uint64_t seed,
                        const std::string& magic = "QELT") {
  Bytes bytes = RandomBytes(static_cast<std::size_t>(size), seed), header(32, 0);
  std::replace(bytes.begin(), bytes.end(), uint8_t{0xFF}, uint8_t{0x7F});
  std::copy_n(magic.begin(), std::min<std::size_t>(magic.size(), 4), header.begin());
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 16), header.begin() + 16);
  std::copy_n(header.begin(), std::min<std::size_t>(32, bytes.size()), bytes.begin());
  return bytes;
}

// Sets (or, with nullopt, removes) an environment variable for the object's life.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(saved_); }

 private:
  void Set(const std::optional<std::string>& value) const {
#ifdef _WIN32
    _putenv_s(name_.c_str(), value ? value->c_str() : "");
#else
    value ? setenv(name_.c_str(), value->c_str(), 1) : unsetenv(name_.c_str());
#endif
  }
  std::string name_;
  std::optional<std::string> saved_;
};

// An environment variable as a number (decimal, 0x hex), `fallback` when unset or not a number.
inline uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  char* end = nullptr;
  const uint64_t value = text ? std::strtoull(text, &end, 0) : 0;
  return text && *text && *end == '\0' ? value : fallback;
}

}  // namespace quelt::test
