// Image files for the Wine rows, by the names they call: the shared support's.
#pragma once

#include "tests/support/test_files.h"

namespace quelt::testing {

inline std::vector<uint8_t> MakeImage(int32_t size, const std::string& name, uint32_t seed,
                                      const std::string& magic = "QELT") {
  return test::ImageBytes(size, name, seed, magic);
}
using test::ReadFile;
using test::WriteFile;

}  // namespace quelt::testing
