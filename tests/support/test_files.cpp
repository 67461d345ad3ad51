#include "tests/support/test_files.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace quelt::test {
namespace {

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
  _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
#endif
}

}  // namespace

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const auto base = std::filesystem::temp_directory_path();
  do {
    path_ = base / ("quelt-test-" + std::to_string(random()));
  } while (!std::filesystem::create_directory(path_));
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes RandomBytes(std::size_t size, uint64_t seed) {
  std::mt19937_64 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random() >> 24);
  return bytes;
}

Bytes ImageBytes(int32_t size, const std::string& name, uint64_t seed, const std::string& magic) {
  Bytes bytes = RandomBytes(static_cast<std::size_t>(size), seed);
  for (auto& b : bytes) b = b == 0xFF ? 0x7F : b;
  Bytes header(32, 0);
  std::copy(magic.begin(), magic.begin() + std::min<std::size_t>(magic.size(), 4), header.begin());
  std::copy(name.begin(), name.begin() + std::min<std::size_t>(name.size(), 16),
            header.begin() + 16);
  std::copy(header.begin(), header.begin() + std::min<std::size_t>(32, bytes.size()),
            bytes.begin());
  return bytes;
}

ScopedEnv::ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
  if (const char* old = std::getenv(name)) saved_ = old;
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, saved_); }

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  return *end == '\0' ? value : fallback;
}

}  // namespace quelt::test
