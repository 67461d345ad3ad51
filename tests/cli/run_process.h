// Runs a program as a child process with a chosen environment, its output caught in files, and
// optionally interrupts it (SIGINT) once texts show on its standard error.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/support/test_files.h"

namespace quelt::testing {

using test::ReadText;

struct ProcessRun {
  std::vector<std::string> argv;  // argv[0] is the program's path
  // Variables to set (a value) or remove (nullopt) on top of this process's environment.
  std::map<std::string, std::optional<std::string>> env;
  std::string work_dir;         // where stdout and stderr are caught; must exist
  std::string interrupt_after;  // a SIGINT for each line, once standard error shows it, in order
};

struct ProcessResult {
  int exit_status = -1;      // the exit status, or 128 + signal when killed by a signal
  bool interrupted = false;  // at least one SIGINT was sent
  std::string out, err;
};

inline ProcessResult RunProcess(const ProcessRun& run) {
  ProcessResult result;
  const std::string out = run.work_dir + "/stdout.txt", err = run.work_dir + "/stderr.txt";
  std::vector<char*> args;
  for (const std::string& arg : run.argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {  // the child: SIGINT at its default, whatever this process does with it
    signal(SIGINT, SIG_DFL);
    dup2(open("/dev/null", O_RDONLY), 0);
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    for (const auto& [name, value] : run.env)
      value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    execv(args[0], args.data());
    std::perror(args[0]);  // in the run's standard error, where the test looks
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(8);  // then SIGKILL
  std::istringstream texts(run.interrupt_after);
  std::string text;
  int status = 0;
  for (std::getline(texts, text); waitpid(pid, &status, WNOHANG) != pid;) {
    if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
    if (!text.empty() && ReadText(err).find(text) != std::string::npos) {
      result.interrupted = kill(pid, SIGINT) == 0;
      if (!std::getline(texts, text)) text.clear();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadText(out);
  result.err = ReadText(err);
  return result;
}

}  // namespace quelt::testing
