#include "tests/soak/soak_util.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace quelt::soak {

const char* ChipName(Chip chip) { return chip == Chip::Base ? "base" : "large"; }

int32_t ChipSize(Chip chip) { return chip == Chip::Base ? kBaseSize : kLargeSize; }

int32_t ErasedEnd(Chip chip, int32_t size) {
  if (size <= 0) return 0;
  if (chip == Chip::Base) return (size + 0xFFF) / 0x1000 * 0x1000;
  for (const int32_t end : {0x4000, 0x6000, 0x8000, 0x10000}) {
    if (size <= end) return end;
  }
  return (size + 0xFFFF) / 0x10000 * 0x10000;
}

uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  return *end == '\0' ? value : fallback;
}

std::vector<uint8_t> RandomBytes(std::mt19937_64& rng, std::size_t size) {
  std::vector<uint8_t> bytes(size);
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const uint64_t word = rng();
    std::memcpy(bytes.data() + i, &word, 8);
  }
  for (; i < size; ++i) bytes[i] = static_cast<uint8_t>(rng());
  return bytes;
}

ScratchFolder::ScratchFolder(const std::string& stem) {
  std::string pattern = ::testing::TempDir() + "quelt-" + stem + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a folder from " << pattern;
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace quelt::soak
