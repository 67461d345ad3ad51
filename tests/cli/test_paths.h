// The programs and files the command-line tests use: from the environment when set there, else
// the paths of this build.
#pragma once

#include <cstdlib>
#include <string>

namespace quelt::testing {

inline std::string PathOf(const char* variable, const char* built) {
  const char* value = std::getenv(variable);
  return value && *value ? value : built;
}

inline std::string CliPath() { return PathOf("QUELT_CLI", QUELT_CLI); }
inline std::string SimLibraryPath() { return PathOf("QUELT_SIM_LIBRARY", QUELT_SIM_LIBRARY); }
inline std::string SamplesDir() { return PathOf("QUELT_SAMPLES_DIR", QUELT_SAMPLES_DIR); }

}  // namespace quelt::testing
