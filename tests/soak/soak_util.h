// Helpers of the soak and kill tests: seeded random data, a scratch folder, the chips' sizes and
// erase block layouts written out by hand, and whole-file reads.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quelt::soak {

constexpr int32_t kBaseSize = 0x20000;    // "Quelt JQ"
constexpr int32_t kLargeSize = 0x200000;  // "Quelt JQ Ombrix"
constexpr int32_t kChunk = 0x20000;       // one pass bit of the verify per chunk

enum class Chip { Base, Large };

const char* ChipName(Chip chip);
int32_t ChipSize(Chip chip);
// The end of the last erase block whose start lies below `size`: 4 KiB blocks on the base chip;
// 16, 8, 8 and 32 KiB, then 64 KiB blocks on the large one.
int32_t ErasedEnd(Chip chip, int32_t size);

// An environment variable as a number, `fallback` when unset or not a number.
uint64_t EnvNumber(const char* name, uint64_t fallback);

std::vector<uint8_t> RandomBytes(std::mt19937_64& rng, std::size_t size);

// A fresh folder under the test temp folder, removed with everything in it on destruction.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& stem);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace quelt::soak
