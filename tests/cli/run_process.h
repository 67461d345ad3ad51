// Runs a program as a child process with a chosen environment, its output caught in files, and
// optionally interrupts it (SIGINT) once a text shows on its standard error.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quelt::testing {

struct ProcessRun {
  std::vector<std::string> argv;  // argv[0] is the program's path
  // Variables to set (a value) or remove (nullopt) on top of this process's environment.
  std::map<std::string, std::optional<std::string>> env;
  std::string work_dir;  // where stdout and stderr are caught; must exist
  // Once standard error shows this text (if not empty), SIGINT `interrupts` times, 100 ms apart.
  std::string interrupt_after;
  int interrupts = 1;
  std::chrono::seconds timeout{120};  // then SIGKILL
};

struct ProcessResult {
  int exit_status = -1;      // the exit status, or 128 + signal when killed by a signal
  bool interrupted = false;  // at least one SIGINT was sent
  std::string out;
  std::string err;
};

inline std::string ReadText(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

inline ProcessResult RunProcess(const ProcessRun& run) {
  ProcessResult result;
  const std::string out = run.work_dir + "/stdout.txt", err = run.work_dir + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The child starts with SIGINT at its default, whatever this process does with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> args = run.argv, env;
  for (char** entry = environ; *entry; ++entry) {
    if (!run.env.count(std::string(*entry, std::strcspn(*entry, "=")))) env.push_back(*entry);
  }
  for (const auto& [name, value] : run.env) {
    if (value) env.push_back(name + "=" + *value);
  }
  std::vector<char*> arg_pointers, env_pointers;
  for (std::string& s : args) arg_pointers.push_back(s.data());
  for (std::string& s : env) env_pointers.push_back(s.data());
  arg_pointers.push_back(nullptr);
  env_pointers.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0].c_str(), &actions, &attributes, arg_pointers.data(),
                                  env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    result.err = std::string("spawn failed: ") + std::strerror(spawned);
    return result;
  }
  const auto deadline = std::chrono::steady_clock::now() + run.timeout;
  int status = 0;
  for (int sent = 0; waitpid(pid, &status, WNOHANG) != pid;) {
    if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
    if (!run.interrupt_after.empty() && sent < run.interrupts &&
        ReadText(err).find(run.interrupt_after) != std::string::npos) {
      kill(pid, SIGINT);
      result.interrupted = ++sent > 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // one interrupt at a time
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadText(out);
  result.err = ReadText(err);
  return result;
}

}  // namespace quelt::testing
