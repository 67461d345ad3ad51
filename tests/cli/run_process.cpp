#include "tests/cli/run_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace quelt::testing {
namespace {

std::string ReadAll(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

}  // namespace

ProcessResult RunProcess(const ProcessRun& run) {
  ProcessResult result;
  const std::string out_path = run.work_dir + "/stdout.txt",
                    err_path = run.work_dir + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
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
    if (!run.env.count(std::string(*entry).substr(0, std::strcspn(*entry, "="))))
      env.push_back(*entry);
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
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timed_out = true;
      break;
    }
    if (!run.interrupt_after.empty() && sent < run.interrupts &&
        ReadAll(err_path).find(run.interrupt_after) != std::string::npos) {
      kill(pid, SIGINT);
      result.interrupted = ++sent > 0;
      // Give the child time to take one interrupt before the next.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadAll(out_path);
  result.err = ReadAll(err_path);
  return result;
}

}  // namespace quelt::testing
