// Runs a program as a child process with a chosen environment, its output caught in files, and
// optionally interrupts it (SIGINT) once a text shows on its standard error.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quelt::testing {

struct ProcessRun {
  std::vector<std::string> argv;  // argv[0] is the program's path
  // Variables to set (a value) or remove (nullopt) on top of this process's environment.
  std::map<std::string, std::optional<std::string>> env;
  std::string work_dir;  // where stdout and stderr are caught; must exist
  // When not empty: once standard error shows this text, SIGINT is sent `interrupts` times,
  // 100 ms apart.
  std::string interrupt_after;
  int interrupts = 1;
  std::chrono::seconds timeout{120};
};

struct ProcessResult {
  int exit_status = -1;  // the exit status, or 128 + signal when killed by a signal
  bool timed_out = false;
  bool interrupted = false;  // at least one SIGINT was sent
  std::string out;
  std::string err;
};

ProcessResult RunProcess(const ProcessRun& run);

}  // namespace quelt::testing
