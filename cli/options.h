// The command line's options and commands.
#pragma once

#include <optional>
#include <string>

namespace quelt::cli {

struct Options {
  enum class Command { Identify, Info, Write, Verify };
  enum class Speed { Stored, Safe, Fast };

  Command command = Command::Identify;
  std::string file;                    // info, write, verify
  bool verify_after_write = false;     // write --verify
  std::optional<std::string> adapter;  // --adapter, when given
  Speed speed = Speed::Stored;
  bool quiet = false;
  std::optional<double> erase_timeout_seconds;
};

struct ParseOutcome {
  std::optional<Options> options;  // absent when the process should end with `exit_status`
  int exit_status = 0;             // 0 after --help or --version, 1 after a usage error
};

// Parses the arguments; help, version and usage errors are printed here.
ParseOutcome ParseOptions(int argc, char** argv);

}  // namespace quelt::cli
