// SHA-256 of a run of bytes, as lower-case hex, so a user can compare an image with a published
// checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelt::cli {

// Empty when the digest could not be computed.
std::string Sha256Hex(const uint8_t* bytes, std::size_t count);

}  // namespace quelt::cli
