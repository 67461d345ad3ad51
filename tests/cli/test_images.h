// Image files for the command-line tests, made here so the tests need no file from elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt::testing {

// An image of `size` bytes: the magic "QELT" (unless `magic` says otherwise), `name` in the name
// field, then bytes from a fixed sequence seeded by `seed`. No byte past the header is 0xFF, so
// every byte programs at least one bit and a stuck cell anywhere shows in a verify.
std::vector<uint8_t> MakeImage(int32_t size, const std::string& name, uint32_t seed,
                               const std::string& magic = "QELT");

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace quelt::testing
