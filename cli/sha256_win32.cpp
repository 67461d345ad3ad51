// SHA-256 on Windows, through the system's own cryptography (CNG), so that no OpenSSL travels with
// the program.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "cli/sha256.h"

namespace quelt::cli {
namespace {

bool Ok(NTSTATUS status) { return status >= 0; }

// An algorithm provider and a hash object, released when they go out of scope.
class Sha256Hash {
 public:
  Sha256Hash() {
    if (!Ok(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      algorithm_ = nullptr;
      return;
    }
    if (!Ok(BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0))) hash_ = nullptr;
  }
  Sha256Hash(const Sha256Hash&) = delete;
  Sha256Hash& operator=(const Sha256Hash&) = delete;
  ~Sha256Hash() {
    if (hash_) BCryptDestroyHash(hash_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }

  bool Add(const uint8_t* bytes, std::size_t count) {
    // BCryptHashData takes at most 4 GiB at a time; the input is never changed.
    while (count > 0) {
      const ULONG part = static_cast<ULONG>(std::min<std::size_t>(count, 0x40000000));
      if (!hash_ || !Ok(BCryptHashData(hash_, const_cast<PUCHAR>(bytes), part, 0))) return false;
      bytes += part;
      count -= part;
    }
    return hash_ != nullptr;
  }

  bool Finish(std::vector<uint8_t>* digest) {
    digest->assign(32, 0);
    return hash_ && Ok(BCryptFinishHash(hash_, digest->data(), 32, 0));
  }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

}  // namespace

std::string Sha256Hex(const uint8_t* bytes, std::size_t count) {
  Sha256Hash hash;
  std::vector<uint8_t> digest;
  if (!hash.Add(bytes, count) || !hash.Finish(&digest)) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (const uint8_t byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0x0F];
  }
  return hex;
}

}  // namespace quelt::cli
